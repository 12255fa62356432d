#pragma once
// Running an encoder sink in a test: a run to the end on the GUI thread, and a fixture that gives
// a writer its events, its sources and a folder for its files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "audio/ACS_Classes.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/EncodedAudio.h"
#include "tests/support/FileSizeLimit.h"

namespace enctest {

// Runs the sink and pumps GUI messages until its run has ended with OnDone or a failure (and the
// sink is idle). False when that does not happen in time.
inline bool RunToEnd(TACSFileOut& sink, tw_test::SinkEvents& ev, const std::string& fileName) {
  const int done = ev.done, failures = ev.failures;
  sink.SetFileName(fileName);
  sink.Run();
  return tw_test::PumpUntil(
      [&] { return (ev.done > done || ev.failures > failures) && sink.Status() == 2; },
      std::chrono::milliseconds(60000));
}

// A Writer with its events wired, in a folder of its own. Its sources are made with the writer's
// owner; Tone plays a sine pair: kLeftHz on the left and kRightHz on the right channel (both mixed
// on a mono one), each at kAmplitude.
template <typename Writer>
class WriterTest : public ::testing::Test {
 protected:
  static constexpr double kLeftHz = 440;
  static constexpr double kRightHz = 1000;
  static constexpr double kAmplitude = 0.3;

  void SetUp() override {
    writer = new Writer(&owner);
    tw_test::Wire(*writer, ev);
  }

  // A source of `pcm` in the given format, made the writer's Input.
  tw_test::MemSource* Source(std::vector<std::uint8_t> pcm, int bits, int channels, int rate) {
    auto* src = new tw_test::MemSource(&owner, std::move(pcm), bits, channels, rate);
    writer->SetInput(src);
    return src;
  }
  // A source of `seconds` of the sine pair, made the writer's Input.
  tw_test::MemSource* Tone(int rate, int channels, double seconds, int bits = 16) {
    return Source(TonePcm(rate, channels, bits, seconds, kLeftHz, kRightHz, kAmplitude), bits,
                  channels, rate);
  }
  // Runs the writer into the file `name` of the folder (then `path`) until the run has ended.
  bool Run(const std::string& name) {
    path = dir / name;
    return RunToEnd(*writer, ev, path);
  }

  // Failed runs leave no empty output: on a full disk an output that got nothing is removed and
  // one that got data stays; a run refused before it creates its output leaves an empty file of
  // that name alone. `refused` makes an input the writer refuses.
  void CheckFailedRunsLeaveNoEmptyOutput(const std::function<void()>& refused) {
    for (const rlim_t room : {rlim_t{0}, rlim_t{3000}}) {
      Tone(44100, 2, 3.0);
      const int failures = ev.failures;
      {
        FileSizeLimit full(room);
        ASSERT_TRUE(full.ok());
        ASSERT_TRUE(Run("full-" + std::to_string(room)));
      }
      EXPECT_EQ(ev.failures, failures + 1) << room;
      EXPECT_EQ(ev.done, 0) << room;
      if (room == 0)
        EXPECT_FALSE(std::filesystem::exists(path));
      else
        EXPECT_EQ(std::filesystem::file_size(path), room);
    }
    dir.Write("there.out", "");
    refused();
    ASSERT_TRUE(Run("there.out"));
    EXPECT_EQ(ev.done, 0);
    EXPECT_TRUE(std::filesystem::exists(path));
  }

  tw_test::SinkEvents ev;
  tw_test::TempDir dir;
  platform::TComponent owner{nullptr};
  Writer* writer = nullptr;  // owned by owner
  std::string path;
};

}  // namespace enctest
