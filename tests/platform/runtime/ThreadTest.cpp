#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/runtime/GuiThread.h"
#include "platform/runtime/Thread.h"

using namespace std::chrono_literals;

namespace {

// Waits (without pumping) until pred holds or two seconds have passed.
bool WaitUntil(const std::function<bool()>& pred) {
  auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Counts its passes and suspends itself after each, until terminated.
class Looper : public platform::TThread {
 public:
  ~Looper() override {
    Terminate();
    WaitFor();
  }
  std::atomic<int> passes{0};
  std::atomic<bool> ended{false};
  std::atomic<bool> stayAwake{false};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++passes;
      SuspendUnless([this] { return stayAwake.exchange(false); });
    }
    ended = true;
    if (endedOut) *endedOut = true;
  }

 public:
  std::atomic<bool>* endedOut = nullptr;
};

TEST(Thread, CreatedSuspendedRunsNothingUntilResumed) {
  Looper t;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(t.passes, 0);
  EXPECT_TRUE(t.Suspended());
  t.Resume();
  ASSERT_TRUE(WaitUntil([&] { return t.passes == 1 && t.Suspended(); }));
}

TEST(Thread, EachResumeOfASelfSuspendedThreadRunsOnePass) {
  Looper t;
  for (int i = 1; i <= 5; ++i) {
    ASSERT_TRUE(WaitUntil([&] { return i == 1 || t.Suspended(); }));
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return t.passes == i; })) << "pass " << i;
  }
}

TEST(Thread, DestroyingASuspendedThreadWakesAndEndsIt) {
  std::atomic<bool> ended{false};
  auto t = std::make_unique<Looper>();
  t->endedOut = &ended;
  t->Resume();
  ASSERT_TRUE(WaitUntil([&] { return t->passes == 1 && t->Suspended(); }));
  t.reset();  // a hang here is the fault this test is about
  EXPECT_TRUE(ended);
}

TEST(Thread, ANeverStartedThreadIsDestroyedAtOnce) {
  auto start = std::chrono::steady_clock::now();
  { Looper t; }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(Thread, SuspendUnlessStaysAwakeWhenAskedAndLosesNoResume) {
  // The worker is told to stay awake by a flag that another thread sets just before Resume: however
  // the two interleave, every round must run a pass (a lost wake-up would hang the loop).
  Looper t;
  t.Resume();
  for (int i = 2; i <= 2000; ++i) {
    t.stayAwake = true;
    t.Resume();
    ASSERT_TRUE(WaitUntil([&] { return t.passes >= i; })) << "round " << i;
  }
}

class Synchroniser : public platform::TThread {
 public:
  ~Synchroniser() override {
    Terminate();
    WaitFor();
  }
  std::atomic<bool> ranOnGui{false};
  std::atomic<bool> gotError{false};

 protected:
  void Execute() override {
    Synchronize([this] { ranOnGui = platform::IsGuiThread(); });
    try {
      Synchronize([] { throw std::runtime_error("from the GUI thread"); });
    } catch (const std::runtime_error&) {
      gotError = true;
    }
  }
};

TEST(Thread, WaitForOnTheGuiThreadServesTheThreadsSynchronisedCalls) {
  ASSERT_TRUE(platform::IsGuiThread());
  Synchroniser t;
  t.Resume();
  t.WaitFor();  // would deadlock if it did not run the queued calls
  EXPECT_TRUE(t.ranOnGui);
  EXPECT_TRUE(t.gotError);
}

}  // namespace
