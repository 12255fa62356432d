// The card without a SoundFont: it keeps time and records, the synthesiser is silent.
#include <gtest/gtest.h>

#include "CardTestSupport.h"

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
  // Only the wave line: 0.5 x 0.75^4 of full scale, constant.
  for (std::size_t i = 0; i < s.size(); i += 997) EXPECT_EQ(s[i], 5184) << i;
  EXPECT_GE(GetTickCount(), 1000u);
}
