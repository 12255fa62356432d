// A running card takes the levels of a mixer write at once, not only at its next poll.

#include <gtest/gtest.h>

#include "mixer/AMixer.h"
#include "platform/softcard/Softcard.h"
#include "tests/platform/softcard/mixer/MixerTestEnv.h"

using namespace platform;
using platform::softcard::Card;
using platform::softcard::Levels;
using platform::softcard::TaperGain;

TEST(AudioMixerCard, WritesReachTheRunningCardAtOnce) {
  mixertest::ScopedMixerEnv env;  // before the card starts, which reads the state at its start
  Card& card = Card::Instance();
  EXPECT_EQ(card.CurrentCardLevels(), Levels{});

  TAudioMixer mixer(nullptr);
  ASSERT_TRUE(mixer.SetVolume(0, -1, -1, -1, 1));  // mute the speakers
  EXPECT_EQ(card.CurrentCardLevels().speakerMaster, 0.0f);
  ASSERT_TRUE(mixer.SetVolume(1, 1, 32768, 32768, 1));  // record "SW Synth" at half
  Levels now = card.CurrentCardLevels();
  EXPECT_EQ(now.recordSource, Levels::RecordSource::Synth);
  EXPECT_FLOAT_EQ(now.recordLine, TaperGain(0.5, 0.75));
}
