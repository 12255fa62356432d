#pragma once
// Running an encoder sink in a test: a run to the end on the GUI thread, and a fixture that gives
// a writer its events, its sources and a folder for its files, with the checks every writer passes.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "audio/ACS_Classes.h"
#include "audio/ACS_Wave.h"
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
  // A WAV file of `seconds` of the sine pair, read through a TWaveIn made the writer's Input.
  void WavTone(int rate, int channels, int bits, double seconds) {
    const std::string wav = dir / "in put.wav";
    WriteToneWav(wav, rate, channels, bits, seconds, kLeftHz, kRightHz, kAmplitude);
    auto* wave = new TWaveIn(&owner);
    wave->SetFileName(wav);
    writer->SetInput(wave);
  }
  // Runs the writer into the file `name` of the folder (then `path`) until the run has ended.
  bool Run(const std::string& name) {
    path = dir / name;
    return RunToEnd(*writer, ev, path);
  }
  // Runs the writer into `name` from an endless source and stops it once the source has delivered
  // `blocks` blocks; the source, or null when the run did not then end with OnDone in time.
  tw_test::MemSource* RunAndStop(const std::string& name, int blocks) {
    auto* src = Source({}, 16, 2, 44100);
    src->endless = true;
    path = dir / name;
    writer->SetFileName(path);
    writer->Run();
    if (!tw_test::PumpUntil([&] { return src->requests > blocks; })) return nullptr;
    writer->Stop();
    const bool ended = tw_test::PumpUntil([&] { return ev.done == 1 && writer->Status() == 2; });
    return ended ? src : nullptr;
  }

  // The sine pair as decoded: with `separate` channels each tone on its own channel (the left one
  // on 0, the right one on 1) and not on the other, else both tones on every channel.
  void ExpectTones(const Pcm& pcm, bool separate) {
    ASSERT_GT(pcm.channels, 0) << "nothing decoded";
    if (separate) {
      EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
      EXPECT_NEAR(ToneAmplitude(pcm, 1, kRightHz), kAmplitude, 0.05);
      EXPECT_LT(ToneAmplitude(pcm, 0, kRightHz), 0.02) << "right tone leaked into the left channel";
      EXPECT_LT(ToneAmplitude(pcm, 1, kLeftHz), 0.02) << "left tone leaked into the right channel";
      return;
    }
    for (int c = 0; c < pcm.channels; ++c) {
      EXPECT_NEAR(ToneAmplitude(pcm, c, kLeftHz), kAmplitude, 0.05) << "channel " << c;
      EXPECT_NEAR(ToneAmplitude(pcm, c, kRightHz), kAmplitude, 0.05) << "channel " << c;
    }
  }

  // A run of `seconds` of the sine pair into `name`: progress climbs to 100 in at least `steps`
  // steps (one a block), OnDone comes once and stays alone, and the source is opened and closed
  // once.
  void CheckProgressClimbsTo100AndDoneComesOnce(const std::string& name, double seconds,
                                                std::size_t steps) {
    auto* src = Tone(44100, 2, seconds);
    ASSERT_TRUE(Run(name));
    EXPECT_EQ(ev.done, 1);
    EXPECT_EQ(ev.failures, 0);
    ASSERT_FALSE(ev.progress.empty());
    EXPECT_EQ(ev.progress.back(), 100);
    for (std::size_t i = 1; i < ev.progress.size(); ++i)
      EXPECT_GT(ev.progress[i], ev.progress[i - 1]);
    EXPECT_GE(ev.progress.size(), steps);
    EXPECT_EQ(src->inits, 1);
    EXPECT_EQ(src->flushes, 1);
    EXPECT_FALSE(src->Busy());
    tw_test::PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(ev.done, 1);
  }

  // A run without a file name fails before the source is opened, and leaves the writer idle.
  void CheckAnEmptyFileNameIsRefused() {
    auto* src = Tone(44100, 2, 1.0);
    ASSERT_TRUE(RunToEnd(*writer, ev, ""));
    EXPECT_EQ(ev.Failure(), "File name is not assigned.");
    EXPECT_EQ(ev.done, 0);
    EXPECT_EQ(src->inits, 0);
    EXPECT_EQ(writer->Status(), 2);
  }

  // A run from 3000 bytes in a format the writer cannot encode fails with a message holding `why`,
  // without opening the source or creating the file.
  void ExpectFormatRefused(int bits, int channels, int rate, const std::string& why) {
    SCOPED_TRACE(why);
    auto* src = Source(std::vector<std::uint8_t>(3000), bits, channels, rate);
    const int done = ev.done;
    ASSERT_TRUE(Run(why));
    EXPECT_NE(ev.Failure().find(why), std::string::npos) << ev.Failure();
    EXPECT_EQ(src->inits, 0);
    EXPECT_EQ(ev.done, done);
    EXPECT_FALSE(std::filesystem::exists(path));
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
