// Pacing arithmetic of the card clock and the SOFTCARD_SPEED syntax.
#include <gtest/gtest.h>

#include "platform/softcard/CardClock.h"
#include "platform/softcard/Softcard.h"

using namespace platform::softcard;
using namespace std::chrono_literals;
using Wall = CardClock::Wall;

TEST(ParseSpeed, AcceptsAutoMaxAndNumbersFromTheSlowestSpeedOnly) {
  EXPECT_EQ(ParseSpeed(nullptr), kSpeedAuto);
  EXPECT_EQ(ParseSpeed(""), kSpeedAuto);
  EXPECT_EQ(ParseSpeed("auto"), kSpeedAuto);
  EXPECT_EQ(ParseSpeed("AUTO"), kSpeedAuto);
  EXPECT_EQ(ParseSpeed("1"), 1.0);
  EXPECT_EQ(ParseSpeed("20"), 20.0);
  EXPECT_EQ(ParseSpeed("0.5"), 0.5);
  EXPECT_EQ(ParseSpeed("0.1"), kMinSpeed);
  // Slower speeds would make card-time waits last for hours of wall time.
  EXPECT_FALSE(ParseSpeed("0.09").has_value());
  EXPECT_FALSE(ParseSpeed("1e-300").has_value());
  EXPECT_FALSE(ParseSpeed("autox").has_value());
  EXPECT_EQ(ParseSpeed("max"), kSpeedMax);
  EXPECT_EQ(ParseSpeed("MAX"), kSpeedMax);
  EXPECT_EQ(ParseSpeed("Max"), kSpeedMax);
  EXPECT_FALSE(ParseSpeed("0").has_value());
  EXPECT_FALSE(ParseSpeed("-3").has_value());
  EXPECT_FALSE(ParseSpeed("fast").has_value());
  EXPECT_FALSE(ParseSpeed("20x").has_value());
  EXPECT_FALSE(ParseSpeed("inf").has_value());
  EXPECT_FALSE(ParseSpeed("nan").has_value());
  EXPECT_FALSE(ParseSpeed("maxi").has_value());
}

TEST(CardClock, DueTimeFollowsSpeed) {
  const Wall::time_point t0{};
  CardClock realTime(1.0, 0, t0);
  EXPECT_TRUE(realTime.Paced());
  EXPECT_EQ(realTime.DueTime(0), t0);
  EXPECT_EQ(realTime.DueTime(kCardRate), t0 + 1s);
  EXPECT_EQ(realTime.FramesAt(t0 + 1s), static_cast<std::uint64_t>(kCardRate));
  EXPECT_EQ(realTime.FramesAt(t0 - 1s), 0u);
  EXPECT_EQ(realTime.DueTime(kCardRate / 2), t0 + 500ms);

  CardClock fast(20.0, 1000, t0);
  EXPECT_EQ(fast.DueTime(1000 + 20 * kCardRate), t0 + 1s);
  // Frames before the origin are due at once.
  EXPECT_EQ(fast.DueTime(10), t0);
}

TEST(CardClock, MaxIsNotPaced) {
  CardClock c(kSpeedMax, 0, Wall::time_point{});
  EXPECT_FALSE(c.Paced());
  EXPECT_FALSE(c.CatchUp(1'000'000, Wall::time_point{} + 1h));
}

TEST(CardClock, FallingBehindSlowsCardTimeInsteadOfBursting) {
  const Wall::time_point t0{};
  CardClock c(1.0, 0, t0);
  // A little late: keep the schedule, the next periods catch up.
  EXPECT_FALSE(c.CatchUp(kCardRate, t0 + 1s + CardClock::kSlack));
  EXPECT_EQ(c.DueTime(2 * kCardRate), t0 + 2s);
  // Far behind: card time continues from now, one card second per wall second from here.
  EXPECT_TRUE(c.CatchUp(kCardRate, t0 + 5s));
  EXPECT_EQ(c.DueTime(kCardRate), t0 + 5s);
  EXPECT_EQ(c.DueTime(2 * kCardRate), t0 + 6s);
}

TEST(CardClock, SpeedChangeAppliesFromNow) {
  const Wall::time_point t0{};
  CardClock c(1.0, 0, t0);
  c.SetSpeed(10.0, kCardRate, t0 + 1s);
  EXPECT_EQ(c.Speed(), 10.0);
  EXPECT_EQ(c.DueTime(kCardRate), t0 + 1s);
  EXPECT_EQ(c.DueTime(11 * kCardRate), t0 + 2s);
  c.SetSpeed(kSpeedMax, 11 * kCardRate, t0 + 2s);
  EXPECT_FALSE(c.Paced());
}

// An idle card's time runs without its render thread: readers get what wall time allows, in whole
// periods, never less than before; stopped, it stands still where it was last given out.
TEST(IdleClock, FollowsWallTimeWithoutTheRenderThreadAndNeverGoesBack) {
  const Wall::time_point t0{};
  const std::uint64_t f0 = 5 * kCardPeriod;
  IdleClock idle;
  EXPECT_EQ(idle.Read(f0, t0 + 1s), f0);  // not started: where the render thread is
  idle.Start(CardClock(2.0, f0, t0));
  const std::uint64_t oneCardSecond = (f0 + kCardRate) / kCardPeriod * kCardPeriod;
  EXPECT_EQ(idle.Read(f0, t0 + 500ms), oneCardSecond);
  EXPECT_EQ(idle.Read(f0, t0 + 100ms), oneCardSecond);  // a reader late with its time
  const std::uint64_t at = idle.Stop(t0 + 1s);
  EXPECT_EQ(at, (f0 + 2 * kCardRate) / kCardPeriod * kCardPeriod);
  EXPECT_EQ(idle.Read(f0, t0 + 1h), at);  // stands still
  EXPECT_EQ(idle.Stop(t0 + 1h), at);
  EXPECT_EQ(idle.Read(at + kCardPeriod, t0 + 1h), at + kCardPeriod);  // rendering moves it on
}
