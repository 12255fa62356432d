// The run-time bindings of the encoder libraries: what is loaded when, which entry points are
// looked up, and what a missing library or entry point leaves behind.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "audio/Codec.h"
#include "audio/MAD.h"
#include "audio/VorbisEnc.h"
#include "audio/VorbisFile.h"
#include "audio/lame.h"
#include "audio/ogg.h"

namespace {

struct Entry {
  std::string name;
  void* pointer;
};

// The entry points of one binding (its list macro) as the binding holds them right now.
#define TW_COLLECT(name, type) entries.push_back({#name, reinterpret_cast<void*>(acs::name)});
#define TW_ENTRIES(list)             \
  [] {                               \
    std::vector<Entry> entries;      \
    list(TW_COLLECT) return entries; \
  }()

bool resident(const char* soname) {
  void* h = ::dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  ::dlclose(h);
  return true;
}

// Each pointer must be exactly what the library exports under that name (null where it exports
// nothing), and the names must be distinct.
void expectEntriesMatchLibrary(const std::vector<Entry>& entries, const char* soname,
                               std::size_t expectedCount) {
  SCOPED_TRACE(soname);
  EXPECT_EQ(entries.size(), expectedCount);
  std::set<std::string> names;
  for (const auto& e : entries) names.insert(e.name);
  EXPECT_EQ(names.size(), entries.size()) << "a name is looked up twice";
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  int found = 0;
  for (const auto& e : entries) {
    EXPECT_EQ(e.pointer, ::dlsym(library, e.name.c_str())) << e.name;
    found += e.pointer != nullptr;
  }
  EXPECT_GT(found, 0);
  ::dlclose(library);
}

class LameBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    while (acs::LameLoaded) acs::UnloadLameLibrary();
    platform::SetRefusedLibraries({});
    platform::SetRefusedSymbols({});
  }
};

TEST(StartUpBindings, EveryOggVorbisLibraryAndMadIsLoadedBeforeMainRuns) {
  EXPECT_TRUE(acs::LiboggLoaded);
  EXPECT_TRUE(acs::LibvorbisLoaded);
  EXPECT_TRUE(acs::LibvorbisencLoaded);
  EXPECT_TRUE(acs::LibvorbisfileLoaded);
  EXPECT_TRUE(acs::LibMADLoaded);
  for (const char* soname :
       {"libogg.so.0", "libvorbis.so.0", "libvorbisenc.so.2", "libvorbisfile.so.3", "libmad.so.0"})
    EXPECT_TRUE(resident(soname)) << soname;
}

TEST(StartUpBindings, EachUnitLooksUpItsWholeListAndHoldsTheLibrarysOwnEntryPoints) {
  expectEntriesMatchLibrary(TW_ENTRIES(TW_OGG_ENTRY_POINTS), "libogg.so.0", 45);
  expectEntriesMatchLibrary(TW_ENTRIES(TW_CODEC_ENTRY_POINTS), "libvorbis.so.0", 28);
  expectEntriesMatchLibrary(TW_ENTRIES(TW_VORBISENC_ENTRY_POINTS), "libvorbisenc.so.2", 6);
  expectEntriesMatchLibrary(TW_ENTRIES(TW_VORBISFILE_ENTRY_POINTS), "libvorbisfile.so.3", 24);
  expectEntriesMatchLibrary(TW_ENTRIES(TW_MAD_ENTRY_POINTS), "libmad.so.0", 7);
}

TEST(StartUpBindings, EveryEntryPointTheOggVorbisWriterCallsIsThere) {
  EXPECT_NE(acs::ogg_stream_init, nullptr);
  EXPECT_NE(acs::ogg_stream_packetin, nullptr);
  EXPECT_NE(acs::ogg_stream_flush, nullptr);
  EXPECT_NE(acs::ogg_stream_pageout, nullptr);
  EXPECT_NE(acs::ogg_page_eos, nullptr);
  EXPECT_NE(acs::ogg_stream_clear, nullptr);
  EXPECT_NE(acs::vorbis_info_init, nullptr);
  EXPECT_NE(acs::vorbis_comment_add_tag, nullptr);
  EXPECT_NE(acs::vorbis_analysis_buffer, nullptr);
  EXPECT_NE(acs::vorbis_bitrate_flushpacket, nullptr);
  EXPECT_NE(acs::vorbis_encode_init, nullptr);
  EXPECT_NE(acs::vorbis_encode_setup_vbr, nullptr);
  EXPECT_NE(acs::vorbis_encode_setup_init, nullptr);
}

TEST(StartUpBindings, AnExtraStartUpOfAUnitIsCountedAndKeepsTheLibrary) {
  acs::InitializeCodecUnit();
  acs::FinalizeCodecUnit();
  EXPECT_TRUE(acs::LibvorbisLoaded);
  EXPECT_TRUE(acs::LiboggLoaded);
  EXPECT_NE(acs::vorbis_analysis, nullptr);
  EXPECT_NE(acs::ogg_stream_init, nullptr);
}

TEST_F(LameBinding, NothingIsLoadedUntilTheFirstLoad) {
  EXPECT_FALSE(acs::LameLoaded);
  EXPECT_EQ(acs::lame_init, nullptr);
  EXPECT_FALSE(resident("libmp3lame.so.0"));
}

TEST_F(LameBinding, LoadLooksUpAll112NamesAsTheLibraryExportsThem) {
  acs::LoadLameLibrary();
  ASSERT_TRUE(acs::LameLoaded);
  expectEntriesMatchLibrary(TW_ENTRIES(TW_LAME_ENTRY_POINTS), "libmp3lame.so.0", 112);
  EXPECT_NE(acs::lame_get_lametag_frame, nullptr);
}

TEST_F(LameBinding, TheLastUnloadFreesTheLibraryAndTheNextLoadLoadsItAgain) {
  acs::LoadLameLibrary();
  acs::LoadLameLibrary();
  ASSERT_TRUE(acs::LameLoaded);
  acs::UnloadLameLibrary();
  EXPECT_TRUE(acs::LameLoaded) << "a second user still holds the library";
  EXPECT_NE(acs::lame_encode_buffer, nullptr);
  EXPECT_TRUE(resident("libmp3lame.so.0"));
  acs::UnloadLameLibrary();
  EXPECT_FALSE(acs::LameLoaded);
  EXPECT_EQ(acs::lame_encode_buffer, nullptr);
  EXPECT_FALSE(resident("libmp3lame.so.0"));
  acs::UnloadLameLibrary();  // one more does no harm
  EXPECT_FALSE(acs::LameLoaded);

  acs::LoadLameLibrary();
  EXPECT_TRUE(acs::LameLoaded);
  EXPECT_NE(acs::lame_encode_buffer, nullptr);
  EXPECT_TRUE(resident("libmp3lame.so.0"));
}

TEST_F(LameBinding, AMissingLibraryLeavesTheFlagClearAndNoPointer) {
  platform::SetRefusedLibraries({"lame_enc.dll"});
  acs::LoadLameLibrary();
  EXPECT_FALSE(acs::LameLoaded);
  EXPECT_EQ(acs::lame_init, nullptr);
  acs::UnloadLameLibrary();
  platform::SetRefusedLibraries({});
  acs::LoadLameLibrary();
  EXPECT_TRUE(acs::LameLoaded) << "a failed load is retried by the next one";
}

TEST_F(LameBinding, AMissingNameLeavesOnlyThatPointerNull) {
  platform::SetRefusedSymbols({"lame_encode_flush"});
  acs::LoadLameLibrary();
  ASSERT_TRUE(acs::LameLoaded);
  EXPECT_EQ(acs::lame_encode_flush, nullptr);
  EXPECT_NE(acs::lame_encode_buffer, nullptr);
  EXPECT_NE(acs::lame_close, nullptr);
}

#undef TW_ENTRIES
#undef TW_COLLECT

}  // namespace
