// Sound-card capture on the virtual card: planned sizes, deliveries, failures and content.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CaptureSupport.h"
#include "audio/ACS_Audio.h"

using platform::softcard::Card;
using platform::softcard::kCardRate;
using tw_test::CaptureTest;
using tw_test::CounterOnCard;
using tw_test::FirstBreak;
using tw_test::MessageOf;
using tw_test::SlowLink;

TEST_F(CaptureTest, Defaults) {
  TAudioIn in(&owner_);
  EXPECT_EQ(in.BaseChannel(), 0);
  EXPECT_EQ(in.GetBitsPerSample(), 8);
  EXPECT_EQ(in.GetChannels(), 1);
  EXPECT_EQ(in.GetSampleRate(), 8000);
  EXPECT_EQ(in.RecTime(), 600);
  EXPECT_EQ(in.GetTotalTime(), 600);
  EXPECT_EQ(in.Size(), -1);
  EXPECT_FALSE(in.Busy());
}

TEST_F(CaptureTest, BaseChannelChecksTheDeviceNumber) {
  TAudioIn in(&owner_);
  EXPECT_EQ(MessageOf([&] { in.SetBaseChannel(1); }), "Channel 1 is not available");
  EXPECT_EQ(MessageOf([&] { in.SetBaseChannel(-1); }), "Channel -1 is not available");
  EXPECT_EQ(in.BaseChannel(), 0);
  EXPECT_NO_THROW(in.SetBaseChannel(0));
  in.SetRecTime(1);
  in.Init();
  EXPECT_EQ(MessageOf([&] { in.SetBaseChannel(0); }), "Component is buisy");
  in.Flush();
}

TEST_F(CaptureTest, ThirtySecondsOfCdAudioIsDeliveredInWholeBuffers) {
  TAudioIn in(&owner_);
  Start(in, 16, 2, 44100, 30);
  EXPECT_EQ(in.Size(), 5292000);
  const auto sizes = PullAll(in, 16384);
  EXPECT_EQ(sizes.size(), 323u);
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 16384), 323);
  EXPECT_EQ(in.Position(), 5292032);
  char buf[16];
  EXPECT_EQ(in.GetData(buf, 16), 0);  // stays at the end
  in.Flush();
  EXPECT_FALSE(in.Busy());
}

TEST_F(CaptureTest, WizardTestRecordingAt44000Hz) {
  TAudioIn in(&owner_);
  Start(in, 16, 2, 44000, 6);
  EXPECT_EQ(in.Size(), 1056000);
  const auto sizes = PullAll(in, 16384);
  EXPECT_EQ(sizes.size(), 65u);
  EXPECT_EQ(in.Position(), 1064960);
  in.Flush();
}

TEST_F(CaptureTest, ZeroRecTimeIsAnEmptyRecordingWithoutWaiting) {
  TAudioIn in(&owner_);
  Start(in, 16, 2, 44100, 0);
  EXPECT_EQ(in.Size(), 0);
  char buf[16];
  EXPECT_EQ(in.GetData(buf, 16), 0);
  const auto start = std::chrono::steady_clock::now();
  in.Flush();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(in.Busy());
  EXPECT_EQ(in.Position(), 0);
}

TEST_F(CaptureTest, SmallRequestsTakeTheBufferInPiecesAndStopAtThePlan) {
  TAudioIn in(&owner_);
  Start(in, 8, 1, 8000, 1);  // plans 8000 bytes, less than one 16384-byte buffer
  const auto sizes = PullAll(in, 1000);
  EXPECT_EQ(sizes, std::vector<int>(8, 1000));
  EXPECT_EQ(in.Position(), 8000);
  in.Flush();

  Start(in, 8, 1, 8000, 2);  // 16000: the second buffer is started, 3000 + 384 + ...
  const auto more = PullAll(in, 3000);
  std::vector<int> expected = {3000, 3000, 3000, 3000, 3000, 1384};
  EXPECT_EQ(more, expected);
  EXPECT_EQ(in.Position(), 16384);
  in.Flush();
}

TEST_F(CaptureTest, RecordsTheCardContinuously) {
  CounterOnCard counter;
  TAudioIn in(&owner_);
  for (int channels : {1, 2}) {
    Start(in, 16, channels, 44100, 3);
    std::vector<std::uint8_t> bytes;
    PullAll(in, 16384, &bytes);
    in.Flush();
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(in.Position()));
    EXPECT_EQ(FirstBreak(bytes, channels), std::string::npos) << channels << " channels";
  }
}

TEST_F(CaptureTest, MessagesForMisuse) {
  TAudioIn in(&owner_);
  char buf[16];
  EXPECT_EQ(MessageOf([&] { in.GetData(buf, 16); }), "The Stream is not opened");
  in.SetRecTime(1);
  in.Init();
  EXPECT_EQ(MessageOf([&] { in.Init(); }), "The component is busy");
  in.Flush();
  EXPECT_EQ(MessageOf([&] { in.GetData(buf, 16); }), "The Stream is not opened");
}

TEST_F(CaptureTest, AFormatTheCardCannotRecordFailsInitAndLeavesItIdle) {
  TAudioIn in(&owner_);
  Configure(in, 12, 2, 44100, 1);
  EXPECT_EQ(
      MessageOf([&] { in.Init(); }),
      "Cannot record from wave-in device 0: it cannot record 12-bit stereo audio at 44100 Hz");
  EXPECT_FALSE(in.Busy());
  Configure(in, 16, 2, 1000000, 1);
  EXPECT_EQ(
      MessageOf([&] { in.Init(); }),
      "Cannot record from wave-in device 0: it cannot record 16-bit stereo audio at 1000000 Hz");
  Configure(in, 16, 0, 44100, 1);
  EXPECT_NE(MessageOf([&] { in.Init(); }).find("cannot record"), std::string::npos);
  EXPECT_FALSE(in.Busy());
  Start(in, 16, 2, 44100, 1);  // not stuck busy
  EXPECT_EQ(PullAll(in, 16384).size(), 11u);
  in.Flush();
}

TEST_F(CaptureTest, ARecordingTooLongForAWavFileIsRefused) {
  TAudioIn in(&owner_);
  Configure(in, 16, 2, 44100, 20000);
  EXPECT_EQ(MessageOf([&] { in.Init(); }),
            "A recording of 20000 seconds of 16-bit stereo audio at 44100 Hz is too long for a WAV "
            "file; the longest is 12173 seconds");
  EXPECT_FALSE(in.Busy());
  in.SetRecTime(12173);  // the longest still fits, with room for the last buffer's overrun
  in.Init();
  EXPECT_EQ(in.Size(), 2147317200);
  in.Flush();
}

TEST_F(CaptureTest, NegativeRecTimeNeverEndsBySize) {
  TAudioIn in(&owner_);
  Start(in, 16, 2, 44100, -1);
  EXPECT_EQ(in.Size(), -176400);
  char buf[16384];
  for (int i = 0; i < 40; ++i) ASSERT_EQ(in.GetData(buf, 16384), 16384) << i;
  in.Flush();
  EXPECT_FALSE(in.Busy());
}

TEST_F(CaptureTest, RunsAgainAfterFlushAndSurvivesDestructionMidRun) {
  TAudioIn in(&owner_);
  Configure(in, 16, 2, 22050, 1);
  for (int run = 0; run < 3; ++run) {
    in.Init();
    EXPECT_EQ(PullAll(in, 16384).size(), 6u) << run;  // 88200 bytes: 6 buffers
    in.Flush();
  }
  auto doomed = std::make_unique<TAudioIn>(&owner_);
  Start(*doomed, 16, 2, 44100, 10);
  char buf[16384];
  ASSERT_EQ(doomed->GetData(buf, 16384), 16384);
  doomed.reset();  // buffers still with the device
  in.Init();       // the card is usable afterwards
  EXPECT_EQ(PullAll(in, 16384).size(), 6u);
  in.Flush();
}

TEST_F(CaptureTest, AWorkerStalledBeyondTheQueueLosesAudioAndTheCheckSeesIt) {
  // Shows that the continuity check the capture tests rely on does see a loss. Paced, so that the
  // card records whether or not a buffer is waiting, as a real card does.
  Card::Instance().SetSpeed(8);
  CounterOnCard counter;
  TAudioIn in(&owner_);
  SlowLink slow(&owner_);
  Configure(in, 16, 1, 44100, 4);
  slow.SetInput(&in);
  slow.stallAtCall = 8;
  slow.stall = 3 * kCardRate / 2;  // 1.5 s: the four buffers last 0.74 s
  slow.Init();
  std::vector<std::uint8_t> bytes, buf(16384);
  for (int n; (n = slow.GetData(buf.data(), 16384)) > 0;)
    bytes.insert(bytes.end(), buf.begin(), buf.begin() + n);
  slow.Flush();
  const std::size_t at = FirstBreak(bytes, 1);
  EXPECT_NE(at, std::string::npos);
}

namespace {

// Ends the test program with a failure when it is still alive after `limit` of wall time, so that a
// hang fails the run instead of blocking it.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mu_);
          if (cv_.wait_for(lock, limit, [this] { return done_; })) return;
          std::fprintf(stderr, "Hung: still waiting after %lld s of wall time\n",
                       static_cast<long long>(limit.count()));
          std::_Exit(EXIT_FAILURE);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mu_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

TEST_F(CaptureTest, FlushEndsWhenTheCardStopsOrCrawls) {
  Watchdog watchdog(std::chrono::seconds(60));
  char buf[16];
  {
    // Unpaced, a started capture that is never given a buffer holds the card's clock: the other
    // recording's buffers never fill. Both the request and Flush give up instead of waiting.
    TAudioIn stuck(&owner_), in(&owner_);
    Configure(stuck, 16, 2, 44100, 10);
    Configure(in, 16, 2, 44100, 10);
    stuck.Init();
    in.Init();
    EXPECT_EQ(MessageOf([&] { in.GetData(buf, 16); }),
              "The sound card returned no recorded audio from wave-in device 0");
    in.Flush();  // its four buffers are still with the device
    EXPECT_FALSE(in.Busy());
    stuck.Flush();
  }
  // The slowest pace there is (slower ones count as it): Flush waits no longer than the buffers
  // still with the device need to fill, plus its grace.
  Card::Instance().SetSpeed(0.001);
  TAudioIn in(&owner_);
  Start(in, 16, 2, 44100, 10);
  ASSERT_EQ(in.GetData(buf, 16), 16);
  const std::uint64_t start = Card::Instance().Frames();
  in.Flush();
  const double queued = 4.0 * TAudioIn::kBufferSize / 176400;
  EXPECT_LE(Card::Instance().Frames() - start,
            static_cast<std::uint64_t>((queued + 2) * kCardRate));
  EXPECT_FALSE(in.Busy());
}
