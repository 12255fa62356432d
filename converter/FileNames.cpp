#include "converter/FileNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/runtime/WholeFile.h"

namespace tw {

std::string WithExtension(const std::string& name, const std::string& extension) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot < fileStart) return name + extension;
  const std::size_t length = name.size() - dot - 1;
  if (length < 1 || length > 4) return name + extension;
  for (std::size_t i = dot + 1; i < name.size(); ++i) {
    const char c = name[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return name + extension;
  }
  return name.substr(0, dot) + extension;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string DroppedOutputName(const std::string& directory, const std::string& droppedPath,
                              const std::string& extension, const std::string& programFolder) {
  const std::string folder = directory.empty() ? programFolder : directory;
  return folder + "/" + WithExtension(FileNameOf(droppedPath), extension);
}

int CompareBytes(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string FileIdentity(const std::string& name) {
  namespace fs = std::filesystem;
  // Present: the file system knows which file it is (through links and hard links).
  if (name.empty()) return {};
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0)
    return "#" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  // Still to be written: the name the writer would create, with the folders' links resolved. It is
  // absolute, so it never looks like the identity of a present file. Opening a name for writing
  // follows a final link even when its target does not exist yet, and creates that target: a
  // dangling link is the file it leads to, not a file of its own.
  std::error_code ec;
  const fs::path absolute = fs::absolute(platform::FinalLinkTarget(name), ec);
  if (ec) return {};
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  if (ec) return {};
  return canonical.string();
}

bool SameFile(const std::string& a, const std::string& b) {
  const std::string left = FileIdentity(a);
  return !left.empty() && left == FileIdentity(b);
}

void ListFiles::AddIdentities(const std::string& in, const std::string& out) {
  // A name whose identity cannot be told is compared with nothing.
  if (!in.empty()) inputs_.insert(in);
  if (!out.empty()) outputs_.insert(out);
}

void ListFiles::Add(const std::string& input, const std::string& output) {
  AddIdentities(FileIdentity(input), FileIdentity(output));
}

bool ListFiles::Admit(const std::string& input, const std::string& output) {
  const std::string in = FileIdentity(input), out = FileIdentity(output);
  if (!out.empty() && (outputs_.contains(out) || inputs_.contains(out))) return false;
  if (!in.empty() && outputs_.contains(in)) return false;
  AddIdentities(in, out);
  return true;
}

}  // namespace tw
