// Changes made on another thread reach TAudioMixer's events on the GUI thread only.

#include <gtest/gtest.h>

#include <thread>

#include "mixer/AMixer.h"
#include "platform/runtime/GuiThread.h"
#include "tests/platform/softcard/mixer/MixerTestEnv.h"

using namespace platform;
using namespace mixertest;

TEST(AudioMixerThreads, ChangesFromAWorkerAreRaisedOnTheGuiThread) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  std::vector<std::thread::id> threads;
  std::vector<std::int32_t> ids;
  mixer.OnControlChange = [&](TComponent*, std::int32_t, std::int32_t id) {
    threads.push_back(std::this_thread::get_id());
    ids.push_back(id);
  };
  const DWORD mute = mixer.Destinations->Get(0)->Connections->Get(1)->Controls->Get(1)->dwControlID;
  std::thread worker([mute] {
    HMIXER h = OpenPlain(0);
    Write(h, mute, 1, {1});
    mixerClose(h);
  });
  worker.join();
  EXPECT_TRUE(ids.empty());
  ProcessMessages();
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0], static_cast<std::int32_t>(mute));
  EXPECT_EQ(threads[0], std::this_thread::get_id());
  std::int32_t l, r, m;
  bool stereo, volDisabled, muteDisabled, isSelect;
  EXPECT_TRUE(mixer.GetVolume(0, 1, l, r, m, stereo, volDisabled, muteDisabled, isSelect));
  EXPECT_EQ(m, 1);
}
