// The card's mixer used from several threads at once, as the card's render thread and the GUI do.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/runtime/GuiThread.h"
#include "platform/runtime/NotifyWindow.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "tests/platform/softcard/mixer/MixerTestEnv.h"

using namespace platform;
using namespace mixertest;

TEST(MixerThreads, NotificationsOfWorkerWritesArriveOnTheGuiThread) {
  ScopedMixerEnv env;
  const auto gui = std::this_thread::get_id();
  int count = 0;
  bool elsewhere = false;
  HWND wnd = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == MM_MIXM_CONTROL_CHANGE) ++count;
    if (std::this_thread::get_id() != gui) elsewhere = true;
  });
  HMIXER h = 0;
  ASSERT_EQ(mixerOpen(&h, 0, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  DWORD volume = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;

  constexpr int kThreads = 4, kWrites = 25;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([h, volume, t] {
      for (int i = 0; i < kWrites; ++i) Write(h, volume, 1, {t * 1000 + i});
    });
  }
  for (auto& w : writers) w.join();
  ProcessMessages();
  EXPECT_EQ(count, kThreads * kWrites);
  EXPECT_FALSE(elsewhere);
  auto last = Read(h, volume, 2);
  EXPECT_EQ(last[0], last[1]);
  EXPECT_EQ(last[0] % 1000, kWrites - 1);  // some thread's last write, never a mix
  mixerClose(h);
  DeallocateHWnd(wnd);
}

TEST(MixerThreads, LevelsPolledWhileTheMixerChanges) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD mute = ControlOfType(h, Destination(h, 0), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID;
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread poller([&] {
    while (!stop) {
      float m = mixerGetLevels().speakerMaster;
      if (m != 0.0f && m != 1.0f) seen = -1000000;  // never a torn value
      ++seen;
    }
  });
  // Writes go on until the poller has seen many of them (a write costs less than a poll).
  for (int i = 0; seen < 100 && i < 10000000; ++i) {
    ASSERT_EQ(Write(h, mute, 1, {i % 2}), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(Write(h, mute, 1, {1}), MMSYSERR_NOERROR);
  stop = true;
  poller.join();
  EXPECT_GT(seen.load(), 0);
  EXPECT_EQ(mixerGetLevels().speakerMaster, 0.0f);
  mixerClose(h);
}
