// The card without a SoundFont: it keeps time and records, the synthesiser is silent, and the
// sequencer refuses MIDI files instead of playing silence.
#include <gtest/gtest.h>

#include "CardTestSupport.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/SmfBuilder.h"
#include "tests/support/TempDir.h"

using namespace platform;
using namespace platform::softcard;
using namespace cardtest;

TEST(NoSoundFont, CardRunsAndTheSynthIsSilent) {
  Card& card = Card::Instance();
  EXPECT_EQ(card.SoundFont(), "");
  card.SetSpeed(kSpeedMax);
  auto dc = std::make_shared<DcClient>(0.5f, 0.5f);
  card.AddWaveClient(dc);
  const Played played = RecordWhilePlaying({{300, 0, 60, 127}, {300, 9, 38, 127}}, kCardRate * 4);
  card.RemoveWaveClient(dc.get());
  EXPECT_EQ(played.dispatched.size(), 2u);
  const auto s = Samples16(played.data);
  // Only the wave line, at the factory state's unity gain: constant.
  for (std::size_t i = 0; i < s.size(); i += 997) EXPECT_NEAR(s[i], 16384, 1) << i;
  EXPECT_GE(GetTickCount(), 1000u);
}

TEST(NoSoundFont, TheSequencerRefusesMidiFilesAndTheWavePlayerStillOpens) {
  tw_test::TempDir dir;
  smftest::Track t;
  t.On(0, 0, 60).Off(480, 0, 60).End();
  // Whether the sequencer knows it by its extension or by its content.
  for (const char* name : {"song.mid", "song.kar"}) {
    const std::string midi = dir / name;
    tw_test::WriteFile(midi, smftest::File(0, 480, {t}));
    EXPECT_EQ(mciSendStringA(("open " + midi + " alias song").c_str(), nullptr, 0, nullptr),
              MCIERR_SEQ_NOMIDIPRESENT)
        << name;
  }
  char reply[32] = "x";
  EXPECT_EQ(mciSendStringA("status song length", reply, sizeof reply, nullptr),
            MCIERR_INVALID_DEVICE_NAME);
  EXPECT_STREQ(reply, "");
  const std::string wave = dir / "tone.wav";
  tw_test::WriteFile(wave, tw_test::PcmFile(tw_test::Bytes(4410 * 4, 0)));
  EXPECT_EQ(mciSendStringA(("open " + wave + " alias tone").c_str(), nullptr, 0, nullptr), 0u);
  EXPECT_EQ(mciSendStringA("close tone", nullptr, 0, nullptr), 0u);
}
