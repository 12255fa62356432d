// SoundFont search and the synthesiser wrapper.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/softcard/Synth.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using platform::softcard::FindSoundFont;
using platform::softcard::Synth;

namespace {

class SoundFontDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b" / "deep");
  }
  std::string Touch(const fs::path& rel) {
    std::ofstream(root_ / rel) << "x";
    return (root_ / rel).string();
  }
  std::string Dir(const char* rel) { return (root_ / rel).string(); }
  const tw_test::TempDir temp_{"sf-search-"};
  const fs::path root_ = temp_.Path();
};

double Rms(const std::vector<float>& v) {
  double e = 0;
  for (float x : v) e += x * x;
  return std::sqrt(e / v.size());
}

const char* kTimGM = "/usr/share/sounds/sf2/TimGM6mb.sf2";

}  // namespace

TEST_F(SoundFontDirs, ExplicitPathIsUsedAloneEvenWhenMissing) {
  const std::string def = Touch("default.sf2");
  const std::string mine = Touch("a/mine.sf2");
  EXPECT_EQ(FindSoundFont(mine.c_str(), def, {Dir("b")}), mine);
  EXPECT_EQ(FindSoundFont((root_ / "nope.sf2").c_str(), def, {Dir("a")}), "");
}

TEST_F(SoundFontDirs, DefaultBeforeFolders) {
  const std::string def = Touch("default.sf2");
  Touch("a/other.sf2");
  EXPECT_EQ(FindSoundFont(nullptr, def, {Dir("a")}), def);
  EXPECT_EQ(FindSoundFont("", def, {Dir("a")}), def);
}

TEST_F(SoundFontDirs, FirstSoundFontByNameInTheFirstFolderThatHasOne) {
  Touch("a/readme.txt");
  Touch("b/deep/zeta.SF3");
  const std::string alpha = Touch("b/deep/alpha.sf2");
  Touch("b/zz.sf2");
  EXPECT_EQ(FindSoundFont(nullptr, Dir("missing.sf2"), {Dir("missing-dir"), Dir("a"), Dir("b")}),
            alpha);
  const std::string upper = Touch("a/UPPER.SF3");
  EXPECT_EQ(FindSoundFont(nullptr, "", {Dir("a"), Dir("b")}), upper);
}

TEST_F(SoundFontDirs, NothingFoundIsEmpty) {
  Touch("a/notes.txt");
  EXPECT_EQ(FindSoundFont(nullptr, Dir("missing.sf2"), {Dir("a"), Dir("nowhere")}), "");
}

// Why the synthesiser has no SoundFont: none installed, the one named missing, one it cannot load
// (a folder named, or a file found that fails).
TEST_F(SoundFontDirs, StatusTellsNoneInstalledFromNamedMissingFromUnloadable) {
  using Kind = platform::softcard::SoundFontStatus::Kind;
  using platform::softcard::SoundFontStatusOf;
  const std::string text = Touch("a/notes.sf2");
  EXPECT_EQ(SoundFontStatusOf("", "", false).kind, Kind::NoneInstalled);
  EXPECT_EQ(SoundFontStatusOf(Dir("nope.sf2").c_str(), "", false).kind, Kind::NamedMissing);
  EXPECT_EQ(SoundFontStatusOf(Dir("a").c_str(), "", false).kind, Kind::Unloadable);
  EXPECT_EQ(SoundFontStatusOf(nullptr, text, false).file, text);
}

TEST(Synth, PlaysANoteWithAGeneralMidiSoundFont) {
  if (!fs::exists(kTimGM)) GTEST_SKIP() << "TimGM6mb is not installed";
  Synth synth(kTimGM);
  EXPECT_EQ(synth.SoundFont(), kTimGM);
  std::vector<float> l(4410), r(4410);
  synth.Render(l.data(), r.data(), 4410);
  EXPECT_LT(Rms(l), 1e-6);  // no note yet: silence (FluidSynth's effects leave a trace of 1e-8)
  synth.Send(0x90, 60, 100);
  synth.Render(l.data(), r.data(), 4410);
  EXPECT_GT(Rms(l), 0.005);
  EXPECT_GT(Rms(r), 0.005);
}

TEST(Synth, WithoutASoundFontItIsSilent) {
  Synth synth("/nonexistent/none.sf2");
  EXPECT_EQ(synth.SoundFont(), "");
  synth.Send(0x90, 60, 100);
  std::vector<float> l(4410, 1.0f), r(4410, 1.0f);
  synth.Render(l.data(), r.data(), 4410);
  EXPECT_LT(Rms(l), 1e-6);
  EXPECT_LT(Rms(r), 1e-6);
}
