// The message-pumping wait: at least one pass, strictly more than N ms of card time, and no harm
// from a wrap of the 32-bit tick counter.

#include <gtest/gtest.h>

#include <cstdint>

#include "converter/Pause.h"
#include "platform/runtime/GuiThread.h"
#include "platform/softcard/Softcard.h"

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t fakeStep = 1;
std::uint32_t FakeTicks() {
  const std::uint32_t now = fakeNow;
  fakeNow += fakeStep;
  return now;
}

// Counts the message-processing passes a wait makes: a queued call that queues itself again runs
// once per pass.
struct PassCounter {
  int passes = 0;
  bool running = true;
  void Arm() {
    platform::PostToGui([this] {
      if (!running) return;
      ++passes;
      Arm();
    });
  }
  ~PassCounter() {
    running = false;
    platform::ProcessMessages();  // drain the last queued call
  }
};

int PassesFor(int n, std::uint32_t start, std::uint32_t step) {
  fakeNow = start;
  fakeStep = step;
  tw::SetPauseTickSource(&FakeTicks);
  PassCounter counter;
  counter.Arm();
  tw::pause(n);
  tw::SetPauseTickSource(nullptr);
  return counter.passes;
}

}  // namespace

TEST(Pause, ZeroPumpsOnceAndEndsAfterOneTick) {
  EXPECT_EQ(PassesFor(0, 1000, 1), 1);
  // A clock that moves only at every third read: passes go on until it has moved.
  static int reads = 0;
  reads = 0;
  tw::SetPauseTickSource(
      +[]() -> std::uint32_t { return 1000u + static_cast<std::uint32_t>(reads++ / 3); });
  PassCounter counter;
  counter.Arm();
  tw::pause(0);
  tw::SetPauseTickSource(nullptr);
  EXPECT_EQ(counter.passes, 3);  // reads 1 and 2 see 1000, read 3 sees 1001
}

TEST(Pause, WaitsStrictlyLongerThanN) {
  // 10 ms per pass: after 30 passes 300 ms have passed, which is not more than 300.
  EXPECT_EQ(PassesFor(300, 5000, 10), 31);
  EXPECT_EQ(PassesFor(299, 5000, 10), 30);
}

TEST(Pause, TickCounterWrapNeitherLengthensNorShortens) {
  EXPECT_EQ(PassesFor(300, 0xFFFFFF00u, 10), 31);
  EXPECT_EQ(PassesFor(300, 0xFFFFFFFFu, 10), 31);
  EXPECT_EQ(PassesFor(300, 0, 10), 31);
}

TEST(Pause, NegativeNEndsAfterOnePass) {
  EXPECT_EQ(PassesFor(-1, 77, 0), 1);
  EXPECT_EQ(PassesFor(-2147483647 - 1, 77, 0), 1);
}

TEST(Pause, RunsOnTheCardClock) {
  const std::uint32_t start = platform::GetTickCount();
  tw::pause(200);
  EXPECT_GT(platform::GetTickCount() - start, 200u);
}
