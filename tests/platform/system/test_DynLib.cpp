#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/system/DynLib.h"

namespace {

using platform::FARPROC;
using platform::HMODULE;

std::string programFolder() {
  char path[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string p(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return p.substr(0, p.find_last_of('/'));
}

bool isLoaded(const char* soname) {
  void* h = ::dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  ::dlclose(h);
  return true;
}

// Every test starts and ends with nothing refused.
class DynLib : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    platform::SetRefusedLibraries({});
    platform::SetRefusedSymbols({});
    ::unsetenv("TW_REFUSE_LIBRARIES");
    ::unsetenv("TW_REFUSE_SYMBOLS");
  }
};

TEST_F(DynLib, WindowsNamesMapToDebianSonamesWhateverTheirCase) {
  EXPECT_EQ(platform::LibraryFileName("lame_enc.dll"), "libmp3lame.so.0");
  EXPECT_EQ(platform::LibraryFileName("LAME_ENC.DLL"), "libmp3lame.so.0");
  EXPECT_EQ(platform::LibraryFileName("ogg.dll"), "libogg.so.0");
  EXPECT_EQ(platform::LibraryFileName("vorbis.dll"), "libvorbis.so.0");
  EXPECT_EQ(platform::LibraryFileName("vorbisenc.dll"), "libvorbisenc.so.2");
  EXPECT_EQ(platform::LibraryFileName("vorbisfile.dll"), "libvorbisfile.so.3");
  EXPECT_EQ(platform::LibraryFileName("madlib.dll"), "libmad.so.0");
  EXPECT_EQ(platform::LibraryFileName("libfoo.so.1"), "libfoo.so.1");
  EXPECT_EQ(platform::LibraryFileName("ogg.dll.bak"), "ogg.dll.bak");
}

TEST_F(DynLib, LoadsTheEncoderUnderItsWindowsNameAndItsEntryPointsWork) {
  HMODULE lame = platform::LoadLibraryExA("lame_enc.dll", nullptr, 0);
  ASSERT_NE(lame, nullptr);
  using Init = void* (*)();
  using Get = int (*)(void*);
  using Close = int (*)(void*);
  auto init = reinterpret_cast<Init>(platform::GetProcAddress(lame, "lame_init"));
  auto channels = reinterpret_cast<Get>(platform::GetProcAddress(lame, "lame_get_num_channels"));
  auto close = reinterpret_cast<Close>(platform::GetProcAddress(lame, "lame_close"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(channels, nullptr);
  ASSERT_NE(close, nullptr);
  void* handle = init();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(channels(handle), 2) << "a fresh encoder handle starts with two channels";
  close(handle);
  EXPECT_EQ(platform::GetProcAddress(lame, "no_such_entry_point"), nullptr);
  EXPECT_TRUE(platform::FreeLibrary(lame));
}

TEST_F(DynLib, BadArgumentsGiveNoModuleAndNoEntryPoint) {
  EXPECT_EQ(platform::LoadLibraryExA(nullptr), nullptr);
  EXPECT_EQ(platform::LoadLibraryExA(""), nullptr);
  EXPECT_EQ(platform::LoadLibraryExA("no_such_library.dll"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(nullptr, "lame_init"), nullptr);
  EXPECT_FALSE(platform::FreeLibrary(nullptr));
}

TEST_F(DynLib, ALibraryInTheProgramFolderIsFoundByItsBareName) {
  HMODULE probe = platform::LoadLibraryExA("libtw_probe.so");
  ASSERT_NE(probe, nullptr) << "the probe library is built beside the test executable";
  link_map* map = nullptr;
  ASSERT_EQ(::dlinfo(probe, RTLD_DI_LINKMAP, &map), 0);
  EXPECT_EQ(std::string(map->l_name), programFolder() + "/libtw_probe.so");
  auto value = reinterpret_cast<int (*)()>(platform::GetProcAddress(probe, "tw_probe_value"));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 4242);
  EXPECT_TRUE(platform::FreeLibrary(probe));
}

TEST_F(DynLib, LoadsAreCountedUntilTheLastFree) {
  HMODULE first = platform::LoadLibraryExA("libtw_probe.so");
  HMODULE second = platform::LoadLibraryExA("libtw_probe.so");
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first, second);
  const std::string path = programFolder() + "/libtw_probe.so";
  EXPECT_TRUE(platform::FreeLibrary(first));
  EXPECT_TRUE(isLoaded(path.c_str()));
  EXPECT_TRUE(platform::FreeLibrary(second));
  EXPECT_FALSE(isLoaded(path.c_str()));
}

TEST_F(DynLib, RefusedLibrariesAreMissingUnderEitherName) {
  platform::SetRefusedLibraries({"ogg.dll"});
  EXPECT_EQ(platform::LoadLibraryExA("ogg.dll"), nullptr);
  EXPECT_EQ(platform::LoadLibraryExA("OGG.DLL"), nullptr);
  EXPECT_EQ(platform::LoadLibraryExA("libogg.so.0"), nullptr);
  HMODULE vorbis = platform::LoadLibraryExA("vorbis.dll");
  EXPECT_NE(vorbis, nullptr) << "only the named library is refused";
  platform::FreeLibrary(vorbis);

  platform::SetRefusedLibraries({"libvorbisenc.so.2"});
  EXPECT_EQ(platform::LoadLibraryExA("vorbisenc.dll"), nullptr);
  HMODULE ogg = platform::LoadLibraryExA("ogg.dll");
  EXPECT_NE(ogg, nullptr) << "a new list replaces the old one";
  platform::FreeLibrary(ogg);
}

TEST_F(DynLib, TheEnvironmentRefusesLibrariesAndEntryPoints) {
  ::setenv("TW_REFUSE_LIBRARIES", "vorbisfile.dll, MADLib.dll", 1);
  EXPECT_EQ(platform::LoadLibraryExA("vorbisfile.dll"), nullptr);
  EXPECT_EQ(platform::LoadLibraryExA("MADLib.dll"), nullptr);
  HMODULE lame = platform::LoadLibraryExA("lame_enc.dll");
  ASSERT_NE(lame, nullptr);

  ::setenv("TW_REFUSE_SYMBOLS", "lame_encode_flush,id3tag_init", 1);
  EXPECT_EQ(platform::GetProcAddress(lame, "lame_encode_flush"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(lame, "id3tag_init"), nullptr);
  EXPECT_NE(platform::GetProcAddress(lame, "lame_init"), nullptr);
  ::unsetenv("TW_REFUSE_SYMBOLS");
  EXPECT_NE(platform::GetProcAddress(lame, "lame_encode_flush"), nullptr)
      << "the environment is read at every call";
  platform::FreeLibrary(lame);
}

TEST_F(DynLib, RefusedEntryPointsFromCode) {
  HMODULE lame = platform::LoadLibraryExA("lame_enc.dll");
  ASSERT_NE(lame, nullptr);
  platform::SetRefusedSymbols({"lame_close"});
  EXPECT_EQ(platform::GetProcAddress(lame, "lame_close"), nullptr);
  EXPECT_NE(platform::GetProcAddress(lame, "lame_init"), nullptr);
  platform::FreeLibrary(lame);
}

}  // namespace
