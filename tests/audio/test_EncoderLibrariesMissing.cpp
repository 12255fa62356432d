// What the writers say when an encoder library is missing. The Ogg Vorbis libraries are loaded when
// the program starts, so each case runs in a process of its own, started by CTest with
// TW_REFUSE_LIBRARIES (or TW_REFUSE_SYMBOLS) naming what is missing; a case skips itself when run
// without its environment.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "audio/ACS_LAME.h"
#include "audio/ACS_Vorbis.h"
#include "audio/MAD.h"
#include "audio/VorbisFile.h"
#include "tests/support/EncodedAudio.h"
#include "tests/audio/EncoderTestSupport.h"
#include "tests/audio/TestSupport.h"

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// True when this process was started for the case that refuses `libraries` (and `symbols`).
bool startedFor(const std::string& libraries, const std::string& symbols = "") {
  return env("TW_REFUSE_LIBRARIES") == libraries && env("TW_REFUSE_SYMBOLS") == symbols;
}

#define REQUIRE_CASE(...) \
  if (!startedFor(__VA_ARGS__)) GTEST_SKIP() << "run by CTest with its own environment"

// The message the writer's construction raises, or "" when it constructs.
template <typename Writer>
std::string constructionMessage() {
  platform::TComponent owner(nullptr);
  try {
    new Writer(&owner);
  } catch (const EACSException& e) {
    return e.what();
  }
  return "";
}

// Encodes half a second with the Ogg Vorbis writer; the failure text, or "" when it worked.
std::string encodeOgg(const std::string& path) {
  platform::TComponent owner(nullptr);
  auto* ogg = new TVorbisOut(&owner);
  tw_test::SinkEvents ev;
  tw_test::Wire(*ogg, ev);
  ogg->SetInput(
      new tw_test::MemSource(&owner, enctest::TonePcm(44100, 2, 16, 0.5, 440, 1000), 16, 2, 44100));
  if (!enctest::RunToEnd(*ogg, ev, path)) return "the run did not end";
  if (ev.failures > 0) return ev.Failure();
  return enctest::DecodeOgg(path).Frames() == 22050 ? "" : "the file does not decode";
}

TEST(MissingLibrary, LameMissingStopsOnlyTheMp3Writer) {
  REQUIRE_CASE("lame_enc.dll");
  EXPECT_EQ(constructionMessage<TMP3Out>(), "lame_enc.dll library could not be loaded.");
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "");
}

TEST(MissingLibrary, OggMissing) {
  REQUIRE_CASE("ogg.dll");
  EXPECT_FALSE(acs::LiboggLoaded);
  EXPECT_TRUE(acs::LibvorbisLoaded) << "each library is loaded on its own";
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "ogg.dll library could not be loaded.");
  EXPECT_EQ(constructionMessage<TMP3Out>(), "");
}

TEST(MissingLibrary, VorbisMissing) {
  REQUIRE_CASE("vorbis.dll");
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "vorbis.dll library could not be loaded.");
}

TEST(MissingLibrary, VorbisfileMissingAlthoughNothingCallsIt) {
  REQUIRE_CASE("vorbisfile.dll");
  EXPECT_FALSE(acs::LibvorbisfileLoaded);
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "vorbisfile.dll library could not be loaded.");
}

TEST(MissingLibrary, VorbisencMissing) {
  REQUIRE_CASE("vorbisenc.dll");
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "vorbisenc.dll library could not be loaded.");
}

TEST(MissingLibrary, TheFirstMissingOggLibraryIsTheOneReported) {
  REQUIRE_CASE("vorbisenc.dll,vorbisfile.dll");
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "vorbisfile.dll library could not be loaded.");
}

TEST(MissingLibrary, EveryLibraryMissing) {
  REQUIRE_CASE("lame_enc.dll,ogg.dll,vorbis.dll,vorbisenc.dll,vorbisfile.dll,MADLib.dll");
  EXPECT_EQ(constructionMessage<TMP3Out>(), "lame_enc.dll library could not be loaded.");
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "ogg.dll library could not be loaded.");
}

TEST(MissingLibrary, MadMissingChangesNothing) {
  REQUIRE_CASE("MADLib.dll");
  EXPECT_FALSE(acs::LibMADLoaded);
  EXPECT_EQ(constructionMessage<TMP3Out>(), "");
  tw_test::TempDir dir;
  EXPECT_EQ(encodeOgg(dir / "mad.ogg"), "");
}

TEST(MissingLibrary, AnEntryPointTheOggWriterCallsMissingRefusesTheRun) {
  REQUIRE_CASE("", "vorbis_analysis_blockout");
  EXPECT_TRUE(acs::LibvorbisLoaded);
  EXPECT_EQ(acs::vorbis_analysis_blockout, nullptr);
  EXPECT_EQ(constructionMessage<TVorbisOut>(), "") << "construction only checks the libraries";
  tw_test::TempDir dir;
  const std::string failure = encodeOgg(dir / "x.ogg");
  EXPECT_NE(failure.find("vorbis.dll"), std::string::npos) << failure;
  EXPECT_NE(failure.find("vorbis_analysis_blockout"), std::string::npos) << failure;
}

}  // namespace
