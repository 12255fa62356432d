// Settings files against the virtual card's mixer: the writer walks every source line of every
// destination, and applying a file written earlier gives every line its volumes and selection back.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "converter/Errors.h"
#include "converter/MixerSettings.h"
#include "converter/ProgramFolder.h"
#include "mixer/AMixer.h"
#include "tests/support/TempDir.h"

namespace {

struct LineState {
  std::int32_t left = -1, right = -1, mute = -1;
  bool operator==(const LineState&) const = default;
};

LineState Read(TAudioMixer& mixer, int dest, int conn) {
  LineState s;
  bool stereo, volDisabled, muteDisabled, isSelect;
  mixer.GetVolume(dest, conn, s.left, s.right, s.mute, stereo, volDisabled, muteDisabled, isSelect);
  return s;
}

class MixerSettingsTest : public testing::Test {
 protected:
  void SetUp() override { tw::SetProgramFolder(folder.Path().string()); }
  void TearDown() override { tw::SetProgramFolder(""); }
  tw_test::TempDir folder;
};

}  // namespace

TEST_F(MixerSettingsTest, WriterListsEverySourceLineInOrder) {
  tw::savmixsettoxml("all.set");
  std::vector<tw::MixerSettingsLine> lines;
  tw::ApplySettingsFile((folder / "all.set"),
                        [&](const tw::MixerSettingsLine& l) { lines.push_back(l); });
  TAudioMixer mixer(nullptr);
  std::size_t expected = 0;
  for (int d = 0; d < mixer.Destinations->Count(); ++d)
    expected += static_cast<std::size_t>(mixer.Destinations->Get(d)->Connections->Count());
  ASSERT_EQ(lines.size(), expected);
  ASSERT_GT(expected, 0u);
  // Device 0, destination by destination, source line by source line; values as read.
  std::size_t i = 0;
  for (int d = 0; d < mixer.Destinations->Count(); ++d) {
    for (int c = 0; c < mixer.Destinations->Get(d)->Connections->Count(); ++c, ++i) {
      EXPECT_EQ(lines[i].A, 0);
      EXPECT_EQ(lines[i].B, d);
      EXPECT_EQ(lines[i].C, c);
      const LineState s = Read(mixer, d, c);
      EXPECT_EQ(lines[i].L, s.left);
      EXPECT_EQ(lines[i].R, s.right);
      EXPECT_EQ(lines[i].M, s.mute);
    }
  }
  // The file ends every line with CR LF.
  const std::string text = folder.Read("all.set");
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(MixerSettingsTest, ApplyingAFileBringsTheSavedStateBack) {
  TAudioMixer mixer(nullptr);
  const LineState synthBefore = Read(mixer, 0, 0);
  ASSERT_NE(synthBefore.left, -1);
  tw::savmixsettoxml("saved.set");

  // Change a playback line and the recording selection.
  mixer.SetVolume(0, 0, 1000, 2000, 1);
  mixer.SetVolume(1, 3, -1, -1, 1);  // select the fourth recording source
  ASSERT_NE(Read(mixer, 0, 0), synthBefore);

  std::vector<int> applied;
  tw::ApplySettingsFileToMixer((folder / "saved.set"), mixer,
                               [&](const tw::MixerSettingsLine& l) { applied.push_back(l.C); });
  EXPECT_FALSE(applied.empty());
  EXPECT_EQ(Read(mixer, 0, 0), synthBefore);
  TAudioMixer fresh(nullptr);  // a second view of the same card sees the same state
  EXPECT_EQ(Read(fresh, 0, 0), synthBefore);
  EXPECT_EQ(Read(fresh, 1, 0).mute, 1);  // "Stereo Mix" selected again, as saved
  EXPECT_EQ(Read(fresh, 1, 3).mute, 0);
}

TEST_F(MixerSettingsTest, LinesBeforeAMalformedLineStayApplied) {
  TAudioMixer mixer(nullptr);
  const LineState original = Read(mixer, 0, 1);
  folder.Write("bad.set",
               "<A>0</A><B>0</B><C>1</C><L>1234</L><R>1234</R><M>0</M>\r\n"
               "<A>0</A><B>0</B><C>2</C><L>oops</L><R>1</R><M>0</M>\r\n");
  EXPECT_THROW(tw::ApplySettingsFileToMixer((folder / "bad.set"), mixer), tw::EConvertError);
  EXPECT_EQ(Read(mixer, 0, 1).left, 1234);
  mixer.SetVolume(0, 1, original.left, original.right, original.mute);
}

TEST_F(MixerSettingsTest, LineOfADeviceThatDoesNotExistIsSkipped) {
  TAudioMixer mixer(nullptr);
  ASSERT_EQ(mixer.MixerCount, 1);
  const LineState before = Read(mixer, 0, 1);
  folder.Write("other.set",
               "<A>1</A><B>0</B><C>1</C><L>111</L><R>111</R><M>0</M>\r\n"
               "<A>-1</A><B>0</B><C>1</C><L>222</L><R>222</R><M>0</M>\r\n"
               "<A>0</A><B>0</B><C>2</C><L>333</L><R>333</R><M>0</M>\r\n");
  std::vector<int> applied;
  tw::ApplySettingsFileToMixer((folder / "other.set"), mixer,
                               [&](const tw::MixerSettingsLine& l) { applied.push_back(l.L); });
  EXPECT_EQ(applied, std::vector<int>{333});
  EXPECT_EQ(Read(mixer, 0, 1), before);
  EXPECT_EQ(Read(mixer, 0, 2).left, 333);
}

TEST_F(MixerSettingsTest, UnwritableFileThrows) {
  tw::SetProgramFolder((folder / "missing"));
  EXPECT_THROW(tw::savmixsettoxml("x.set"), tw::EInOutError);
}

int main(int argc, char** argv) {
  tw_test::TempDir state;
  ::setenv("SOFTCARD_STATE_DIR", state.Path().string().c_str(), 1);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
