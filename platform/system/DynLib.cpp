#include "platform/system/DynLib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

namespace platform {
namespace {

struct Mapping {
  std::string_view windowsName;
  std::string_view soname;
};

// The Debian packages install the libraries under their sonames only; the unversioned .so names
// exist only where the -dev packages are installed, so the versioned names are the ones to load.
constexpr std::array<Mapping, 6> kMappings{{
    {"lame_enc.dll", "libmp3lame.so.0"},
    {"ogg.dll", "libogg.so.0"},
    {"vorbis.dll", "libvorbis.so.0"},
    {"vorbisenc.dll", "libvorbisenc.so.2"},
    {"vorbisfile.dll", "libvorbisfile.so.3"},
    {"MADLib.dll", "libmad.so.0"},
}};

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view baseName(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> splitList(std::string_view text) {
  std::vector<std::string> items;
  std::string current;
  for (char c : text) {
    if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      if (!current.empty()) items.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) items.push_back(std::move(current));
  return items;
}

struct Refusals {
  std::mutex mutex;  // guards libraries and symbols
  std::vector<std::string> libraries;
  std::vector<std::string> symbols;
};

// Reached through a function so that binding units loading their libraries during static
// initialisation find it constructed.
Refusals& refusals() {
  static Refusals r;
  return r;
}

std::vector<std::string> refusedFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? splitList(value) : std::vector<std::string>{};
}

bool libraryRefused(const std::string& fileName) {
  const std::string wanted = LibraryFileName(std::string(baseName(fileName)));
  auto matches = [&](const std::string& name) {
    return equalNoCase(LibraryFileName(std::string(baseName(name))), wanted);
  };
  const auto fromEnv = refusedFromEnvironment("TW_REFUSE_LIBRARIES");
  if (std::any_of(fromEnv.begin(), fromEnv.end(), matches)) return true;
  std::lock_guard lock(refusals().mutex);
  return std::any_of(refusals().libraries.begin(), refusals().libraries.end(), matches);
}

bool symbolRefused(std::string_view name) {
  auto matches = [&](const std::string& s) { return s == name; };
  const auto fromEnv = refusedFromEnvironment("TW_REFUSE_SYMBOLS");
  if (std::any_of(fromEnv.begin(), fromEnv.end(), matches)) return true;
  std::lock_guard lock(refusals().mutex);
  return std::any_of(refusals().symbols.begin(), refusals().symbols.end(), matches);
}

std::string programFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

}  // namespace

std::string LibraryFileName(const std::string& fileName) {
  for (const auto& m : kMappings) {
    if (equalNoCase(fileName, m.windowsName)) return std::string(m.soname);
  }
  return fileName;
}

HMODULE LoadLibraryExA(const char* fileName, void* /*file*/, std::uint32_t /*flags*/) {
  if (fileName == nullptr || *fileName == '\0') return nullptr;
  if (libraryRefused(fileName)) return nullptr;
  const std::string name = LibraryFileName(fileName);
  void* handle = nullptr;
  if (name.find('/') == std::string::npos) {
    // A copy beside the program wins over the system's, as the program folder does on Windows.
    const std::string local = programFolder() + "/" + name;
    if (::access(local.c_str(), F_OK) == 0) handle = ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == nullptr || procName == nullptr) return nullptr;
  if (symbolRefused(procName)) return nullptr;
  void* symbol = ::dlsym(module, procName);
  // dlsym hands functions back as data pointers; POSIX guarantees the conversion.
  return reinterpret_cast<FARPROC>(symbol);
}

bool FreeLibrary(HMODULE module) {
  if (module == nullptr) return false;
  return ::dlclose(module) == 0;
}

void SetRefusedLibraries(std::vector<std::string> names) {
  std::lock_guard lock(refusals().mutex);
  refusals().libraries = std::move(names);
}

void SetRefusedSymbols(std::vector<std::string> names) {
  std::lock_guard lock(refusals().mutex);
  refusals().symbols = std::move(names);
}

}  // namespace platform
