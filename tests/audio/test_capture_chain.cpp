// Whole recordings through the chain the converter uses, capture -> indicator -> WAV writer, on the
// virtual card: sizes, progress, content, stopping, and a worker that falls behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "CaptureSupport.h"
#include "TestSupport.h"
#include "audio/ACS_Audio.h"
#include "audio/ACS_Indicator.h"
#include "audio/ACS_Wave.h"

using platform::softcard::Card;
using platform::softcard::kCardRate;
using tw_test::CounterOnCard;
using tw_test::FirstBreak;
using tw_test::ReadWav;
using tw_test::SlowLink;
using tw_test::WavFile;

using CaptureChain = tw_test::CaptureTest;

namespace {

struct Recorder {
  explicit Recorder(platform::TComponent* owner)
      : in(new TAudioIn(owner)), indicator(new TSoundIndicator(owner)), out(new TWaveOut(owner)) {
    indicator->SetInput(in);
    out->SetInput(indicator);
    out->OnDone = [this](platform::TComponent*) { ++done; };
    out->OnProgress = [this](platform::TComponent*) { progress.push_back(out->Progress()); };
    out->OnThreadException = [this](platform::TComponent*, const std::exception& e) {
      failure = e.what();
    };
  }
  // Runs the sink and waits (pumping GUI-thread messages) for its OnDone or a failure.
  ::testing::AssertionResult RunToEnd(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const int before = done;
    out->Run();
    if (!tw_test::PumpUntil([&] { return done > before || !failure.empty(); }, limit))
      return ::testing::AssertionFailure() << "no OnDone";
    if (!failure.empty()) return ::testing::AssertionFailure() << failure;
    return ::testing::AssertionSuccess();
  }

  // Owned by the owner passed in.
  TAudioIn* in;
  TSoundIndicator* indicator;
  TWaveOut* out;
  int done = 0;
  std::vector<int> progress;
  std::string failure;
};

}  // namespace

TEST_F(CaptureChain, ThirtySecondRecordingThroughTheChain) {
  tw_test::TempDir dir;
  CounterOnCard counter;
  Recorder r(&owner_);
  Configure(*r.in, 16, 2, 44100, 30);
  r.out->SetFileName(dir / "rec.wav");
  ASSERT_TRUE(r.RunToEnd());
  EXPECT_EQ(r.done, 1);
  EXPECT_EQ(r.out->Status(), 2);
  ASSERT_FALSE(r.progress.empty());
  EXPECT_EQ(r.progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(r.progress.begin(), r.progress.end()));
  EXPECT_FALSE(r.in->Busy());
  EXPECT_FALSE(r.indicator->Busy());

  WavFile wav;
  ASSERT_TRUE(ReadWav(dir / "rec.wav", wav));
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.bits, 16);
  EXPECT_EQ(wav.data.size(), 5292032u);
  EXPECT_EQ(FirstBreak(wav.data, 2), std::string::npos);
  EXPECT_GT(r.indicator->Levels()[0], 0.0);  // the indicator saw the recording
}

TEST_F(CaptureChain, StopInTheMiddleEndsWithAValidFileAndCanRunAgain) {
  tw_test::TempDir dir;
  Recorder r(&owner_);
  Configure(*r.in, 16, 2, 44100, 600);
  r.out->SetFileName(dir / "stopped.wav");
  r.out->Run();
  ASSERT_TRUE(tw_test::PumpUntil([&] { return r.in->Position() > 1000000 || !r.failure.empty(); },
                                 std::chrono::seconds(60)));
  r.out->Stop();
  ASSERT_TRUE(tw_test::PumpUntil([&] { return r.done == 1; }, std::chrono::seconds(30)));
  EXPECT_EQ(r.out->Status(), 2);
  EXPECT_FALSE(r.in->Busy());
  WavFile wav;
  ASSERT_TRUE(ReadWav(dir / "stopped.wav", wav));
  EXPECT_GT(wav.data.size(), 1000000u);
  EXPECT_LT(wav.data.size(), 600u * 176400u);
  EXPECT_EQ(wav.data.size() % 16384, 0u);

  r.in->SetRecTime(2);
  r.out->SetFileName(dir / "again.wav");
  ASSERT_TRUE(r.RunToEnd());
  EXPECT_EQ(r.done, 2);
  ASSERT_TRUE(ReadWav(dir / "again.wav", wav));
  EXPECT_EQ(wav.data.size(), 22u * 16384u);  // 352800 planned
}

TEST_F(CaptureChain, ASlowWorkerLosesNothing) {
  // Paced, so that the card records whether or not a buffer is waiting, as a real card does: what
  // the worker does not take in time is lost. After each request the worker waits 200 ms of card
  // time, longer than one buffer lasts (186 ms at 16-bit mono 44100 Hz), so filled buffers pile up
  // in the done queue while the GUI thread reads the indicator; the four buffers with the device
  // give it 743 ms, so nothing may be lost. (Unpaced, the card would fill the four at once and then
  // hold its clock, and a worker waiting for card time would wait for ever.)
  Card::Instance().SetSpeed(4);
  tw_test::TempDir dir;
  CounterOnCard counter;
  TAudioIn* in = new TAudioIn(&owner_);
  SlowLink* slow = new SlowLink(&owner_);
  TSoundIndicator* indicator = new TSoundIndicator(&owner_);
  TWaveOut* out = new TWaveOut(&owner_);
  Configure(*in, 16, 1, 44100, 4);
  slow->SetInput(in);
  slow->everyCall = kCardRate / 5;
  indicator->SetInput(slow);
  out->SetInput(indicator);
  out->SetFileName(dir / "slow.wav");
  std::atomic<bool> done{false};
  out->OnDone = [&](platform::TComponent*) { done = true; };
  out->Run();
  // Meanwhile the GUI thread reads the levels the worker writes.
  double seen = 0;
  ASSERT_TRUE(tw_test::PumpUntil(
      [&] {
        seen = std::max(seen, indicator->Levels()[0]);
        return done.load();
      },
      std::chrono::seconds(60)));
  EXPECT_GT(seen, 0.0);
  WavFile wav;
  ASSERT_TRUE(ReadWav(dir / "slow.wav", wav));
  EXPECT_EQ(wav.data.size(), 22u * 16384u);  // 352800 planned
  EXPECT_EQ(FirstBreak(wav.data, 1), std::string::npos);
}

TEST_F(CaptureChain, ABusyCaptureInputRefusesTheRunWithoutOnDone) {
  tw_test::TempDir dir;
  Recorder r(&owner_);
  Configure(*r.in, 16, 2, 44100, 1);
  r.out->SetFileName(dir / "busy.wav");
  r.in->Init();  // left busy, as by a run that never reached its Flush
  r.out->Run();  // the failure goes to OnThreadException, not to the caller
  EXPECT_EQ(r.failure, "The component is busy");
  EXPECT_EQ(r.out->Status(), 2);
  for (int i = 0; i < 20; ++i) platform::ProcessMessages();
  EXPECT_EQ(r.done, 0);
  r.in->Flush();
  r.failure.clear();
  ASSERT_TRUE(r.RunToEnd());  // and runs once it is free again
  WavFile wav;
  ASSERT_TRUE(ReadWav(dir / "busy.wav", wav));
  EXPECT_EQ(wav.data.size(), 11u * 16384u);
}
