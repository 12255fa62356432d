// Wave-in capture: argument and state errors, buffer hand-back, exact byte counts, the hold rule
// without pacing, and what the capture hears of the synthesiser under the mixer levels.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "CardTestSupport.h"

using namespace platform;
using namespace platform::softcard;
using namespace cardtest;

namespace {

constexpr int kPeriod = platform::softcard::kCardPeriod;

void Ignore(HWAVEIN, std::uint32_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

// Every hand-back, with the thread it came on.
struct Log {
  std::mutex mu;  // guards entries
  struct Entry {
    WAVEHDR* header;
    std::uint32_t bytes, flags;
    std::thread::id thread;
  };
  std::vector<Entry> entries;
  static void Callback(HWAVEIN, std::uint32_t msg, std::uintptr_t inst, std::uintptr_t p1,
                       std::uintptr_t) {
    auto* log = reinterpret_cast<Log*>(inst);
    auto* h = reinterpret_cast<WAVEHDR*>(p1);
    std::lock_guard lock(log->mu);
    if (msg == WIM_DATA) {
      log->entries.push_back({h, h->dwBytesRecorded, h->dwFlags, std::this_thread::get_id()});
    }
  }
};

struct Buffers {
  explicit Buffers(int n, std::uint32_t bytes) : data(n, std::vector<char>(bytes)), headers(n) {
    for (int i = 0; i < n; ++i) {
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = bytes;
    }
  }
  std::vector<std::vector<char>> data;
  std::vector<WAVEHDR> headers;
};

void HoldStill(std::uint64_t frames) {
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(Card::Instance().Frames(), frames);
}

}  // namespace

TEST(WaveInOpen, RejectsBadArguments) {
  const PCMWAVEFORMAT good = Format(44100, 2, 16);
  HWAVEIN h = nullptr;
  EXPECT_EQ(waveInGetNumDevs(), 1u);
  EXPECT_EQ(waveInOpen(nullptr, 0, &good, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&h, 0, nullptr, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&h, 1, &good, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(&h, 0, &good, &Ignore, 0, 0x10000), MMSYSERR_INVALFLAG);  // window
  EXPECT_EQ(waveInOpen(&h, 0, &good, &Ignore, 0, CALLBACK_FUNCTION | 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(waveInOpen(&h, 0, &good, nullptr, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(h, nullptr);
}

TEST(WaveInOpen, RejectsFormatsTheDeviceDoesNotRecord) {
  HWAVEIN h = nullptr;
  auto open = [&](PCMWAVEFORMAT f) {
    return waveInOpen(&h, 0, &f, &Ignore, 0, CALLBACK_FUNCTION | WAVE_MAPPED);
  };
  PCMWAVEFORMAT f = Format(44100, 2, 16);
  f.wFormatTag = 2;
  EXPECT_EQ(open(f), WAVERR_BADFORMAT);
  EXPECT_EQ(open(Format(44100, 3, 16)), WAVERR_BADFORMAT);
  EXPECT_EQ(open(Format(44100, 2, 24)), WAVERR_BADFORMAT);
  EXPECT_EQ(open(Format(44100, 1, 12)), WAVERR_BADFORMAT);
  EXPECT_EQ(open(Format(7000, 1, 8)), WAVERR_BADFORMAT);
  EXPECT_EQ(open(Format(96000, 2, 16)), WAVERR_BADFORMAT);
  f = Format(44100, 2, 16);
  f.nBlockAlign = 2;
  EXPECT_EQ(open(f), WAVERR_BADFORMAT);
  f = Format(44100, 2, 16);
  f.nAvgBytesPerSec = 44100 * 2;
  EXPECT_EQ(open(f), WAVERR_BADFORMAT);
  EXPECT_EQ(h, nullptr);

  const PCMWAVEFORMAT wizard = Format(44000, 2, 16);
  EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &wizard, nullptr, 0, WAVE_FORMAT_QUERY),
            MMSYSERR_NOERROR);
  const PCMWAVEFORMAT bad = Format(44000, 2, 12);
  EXPECT_EQ(waveInOpen(nullptr, 0, &bad, nullptr, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
}

TEST(WaveInHandles, UnknownAndClosedHandlesAreRefused) {
  WAVEHDR hdr;
  char data[64];
  hdr.lpData = data;
  hdr.dwBufferLength = sizeof data;
  auto check = [&](HWAVEIN h) {
    EXPECT_EQ(waveInPrepareHeader(h, &hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInAddBuffer(h, &hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInUnprepareHeader(h, &hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
  };
  check(nullptr);
  check(reinterpret_cast<HWAVEIN>(&hdr));
  const PCMWAVEFORMAT f = Format(22050, 1, 8);
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  check(h);
}

TEST(WaveInBuffers, HeaderStatesAreChecked) {
  const PCMWAVEFORMAT f = Format(44100, 2, 16);
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  Buffers b(1, 4096);
  WAVEHDR& hdr = b.headers[0];
  EXPECT_EQ(waveInAddBuffer(h, nullptr), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInPrepareHeader(h, nullptr), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInAddBuffer(h, &hdr), WAVERR_UNPREPARED);
  WAVEHDR noData;
  EXPECT_EQ(waveInPrepareHeader(h, &noData), MMSYSERR_INVALPARAM);
  WAVEHDR tiny;
  char three[3];
  tiny.lpData = three;
  tiny.dwBufferLength = 3;  // less than one 4-byte frame
  ASSERT_EQ(waveInPrepareHeader(h, &tiny), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInAddBuffer(h, &tiny), MMSYSERR_INVALPARAM);

  ASSERT_EQ(waveInPrepareHeader(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_TRUE(hdr.dwFlags & WHDR_PREPARED);
  ASSERT_EQ(waveInAddBuffer(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_TRUE(hdr.dwFlags & WHDR_INQUEUE);
  EXPECT_EQ(waveInAddBuffer(h, &hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInUnprepareHeader(h, &hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInPrepareHeader(h, &hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInUnprepareHeader(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_FALSE(hdr.dwFlags & WHDR_PREPARED);
  EXPECT_EQ(waveInUnprepareHeader(h, &tiny), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST(WaveInReset, HandsBackEveryBufferInOrderBeforeItReturns) {
  ASSERT_EQ(Card::Instance().Speed(), 20.0);
  const PCMWAVEFORMAT f = Format(44100, 2, 16);
  Log log;
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Log::Callback, reinterpret_cast<std::uintptr_t>(&log),
                       CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  Buffers b(3, 2 * 4 * kCardRate);  // two seconds each
  for (auto& hdr : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(h, &hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, &hdr), MMSYSERR_NOERROR);
  }
  // Not started: nothing recorded, all three come back empty.
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  {
    std::lock_guard lock(log.mu);
    ASSERT_EQ(log.entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(log.entries[i].header, &b.headers[i]);
      EXPECT_EQ(log.entries[i].bytes, 0u);
      EXPECT_EQ(log.entries[i].flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
      EXPECT_EQ(log.entries[i].thread, std::this_thread::get_id());
    }
    log.entries.clear();
  }
  // Started: the first fills partly while card time runs, the rest come back empty.
  for (auto& hdr : b.headers) ASSERT_EQ(waveInAddBuffer(h, &hdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  Card::Instance().WaitUntil(Card::Instance().Frames() + kCardRate / 2);
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  {
    std::lock_guard lock(log.mu);
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].header, &b.headers[0]);
    EXPECT_GE(log.entries[0].bytes, 4u * kCardRate / 2);
    EXPECT_LT(log.entries[0].bytes, 2u * 4 * kCardRate);
    EXPECT_EQ(log.entries[0].bytes % 4, 0u);
    EXPECT_EQ(log.entries[1].bytes, 0u);
    EXPECT_EQ(log.entries[2].bytes, 0u);
  }
  // Reset also stopped the capture: card time runs on, nothing is queued or handed back.
  ASSERT_EQ(waveInAddBuffer(h, &b.headers[0]), MMSYSERR_NOERROR);
  Card::Instance().WaitUntil(Card::Instance().Frames() + kCardRate);
  EXPECT_TRUE(b.headers[0].dwFlags & WHDR_INQUEUE);
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  for (auto& hdr : b.headers) EXPECT_EQ(waveInUnprepareHeader(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

// A recording started between the render thread's look at the recorders and its next period is
// recorded from its start: the card does not go idle under it. The render thread is stopped in
// that gap by a capture client that waits in its Deliver until the recording has started.
TEST(WaveInReset, ARecordingStartedWhileTheCardLooksAtItsRecordersIsRecorded) {
  struct Gate : CaptureClient {
    std::mutex mu;  // guards the three flags
    std::condition_variable cv;
    bool armed = false, inside = false, open = false;
    void Record(std::uint64_t, const float*, const float*, int) override {}
    void Deliver() override {
      std::unique_lock lock(mu);
      if (!armed) return;
      armed = false;
      inside = true;
      cv.notify_all();
      cv.wait_for(lock, std::chrono::seconds(30), [this] { return open; });
    }
    bool Holds() override { return false; }
    bool Recording() override { return false; }
  };
  Card& card = Card::Instance();
  ASSERT_EQ(card.Speed(), 20.0);
  const PCMWAVEFORMAT f = Format(44100, 2, 16);
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  Buffers b(1, 4 * kCardRate);  // one second
  ASSERT_EQ(waveInPrepareHeader(h, &b.headers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInAddBuffer(h, &b.headers[0]), MMSYSERR_NOERROR);
  // Added after the device, so the render thread has seen it not recording when the gate stops it.
  auto gate = std::make_shared<Gate>();
  card.AddCaptureClient(gate);
  {
    std::unique_lock lock(gate->mu);
    gate->armed = true;
    card.Wake();
    ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(30), [&] { return gate->inside; }));
  }
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  {
    std::lock_guard lock(gate->mu);
    gate->open = true;
  }
  gate->cv.notify_all();
  card.WaitUntil(card.Frames() + kCardRate / 4);
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  EXPECT_GE(b.headers[0].dwBytesRecorded, 4u * kCardRate / 4);
  card.RemoveCaptureClient(gate.get());
  EXPECT_EQ(waveInUnprepareHeader(h, &b.headers[0]), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST(WaveInHold, WithoutPacingAStartedCaptureWithoutRoomHoldsTheClock) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  const PCMWAVEFORMAT f = Format(44100, 1, 16);
  Log log;
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Log::Callback, reinterpret_cast<std::uintptr_t>(&log),
                       CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  // Open but not started: the clock runs.
  const std::uint64_t before = card.Frames();
  card.WaitUntil(before + kCardRate);

  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  // A period already under way when the capture started may still finish; then the card holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::uint64_t f0 = card.Frames();
  HoldStill(f0);

  Buffers b(1, 2 * kCardRate);  // one second
  ASSERT_EQ(waveInPrepareHeader(h, &b.headers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInAddBuffer(h, &b.headers[0]), MMSYSERR_NOERROR);
  // The clock runs until that second is recorded, then holds again.
  for (int i = 0; i < 200; ++i) {
    std::lock_guard lock(log.mu);
    if (!log.entries.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::uint64_t f1 = card.Frames();
  EXPECT_GE(f1, f0 + kCardRate - kPeriod);
  EXPECT_LT(f1, f0 + kCardRate + kPeriod);
  HoldStill(f1);
  {
    std::lock_guard lock(log.mu);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].bytes, 2u * kCardRate);
  }
  // Reset stops the capture and releases the clock.
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  card.WaitUntil(f1 + kCardRate);
  EXPECT_EQ(waveInUnprepareHeader(h, &b.headers[0]), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST(WaveInHold, WithPacingDataWithoutRoomIsLost) {
  Card& card = Card::Instance();
  ASSERT_EQ(card.Speed(), 20.0);
  const PCMWAVEFORMAT f = Format(44100, 1, 16);
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, &Ignore, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  const std::uint64_t f0 = card.Frames();
  card.WaitUntil(f0 + kCardRate / 4);  // does not hold
  EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST(WaveInHold, NothingIsLostWhenTheConsumerIsSlow) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  Levels unity;
  unity.speakerMaster = unity.speakerWave = unity.recordLine = unity.recordMaster = 1.0f;
  unity.speakerSynth = 0.0f;  // FluidSynth's silence is not exactly zero
  card.SetLevels(unity);
  auto ramp = std::make_shared<RampClient>();
  card.AddWaveClient(ramp);
  // Small buffers, refilled from the callback: the card often runs out of room.
  Recorder rec(Format(kCardRate, 1, 16), 2 * kCardRate, 2, 1000);
  rec.Start();
  rec.Wait();
  rec.Stop();
  card.RemoveWaveClient(ramp.get());
  const auto s = Samples16(rec.Data());
  ASSERT_EQ(s.size(), static_cast<std::size_t>(kCardRate));
  auto value = [](std::uint64_t n) {
    return static_cast<std::int16_t>(std::lrintf(static_cast<float>(n % 256) / 256.0f * 32767.0f));
  };
  std::uint64_t n0 = 0;
  while (n0 < 256 && value(n0) != s[0]) ++n0;
  ASSERT_LT(n0, 256u);
  std::size_t bad = 0;
  for (std::size_t i = 0; i < s.size(); ++i) bad += s[i] != value(n0 + i);
  EXPECT_EQ(bad, 0u);
}

namespace {

// Records `seconds` at `rate` Hz mono in one-second buffers and checks the card time at which each
// came back: buffer k is full exactly when k card seconds have been rendered.
void CheckExactCounts(int rate, int seconds) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  const std::size_t perSecond = static_cast<std::size_t>(rate) * 2;
  Recorder rec(Format(rate, 1, 16), perSecond * seconds, 3, static_cast<std::uint32_t>(perSecond));
  const std::uint64_t f0 = rec.Start();
  rec.Wait();
  rec.Stop();
  const auto returns = rec.Returns();
  ASSERT_GE(returns.size(), static_cast<std::size_t>(seconds));
  for (int k = 1; k <= seconds; ++k) {
    EXPECT_EQ(returns[k - 1].first, perSecond * k);
    EXPECT_GE(returns[k - 1].second, f0 + static_cast<std::uint64_t>(k) * kCardRate) << k;
    EXPECT_LT(returns[k - 1].second, f0 + static_cast<std::uint64_t>(k) * kCardRate + kPeriod) << k;
  }
}

}  // namespace

TEST(WaveInCounts, MonoAt44000IsExact) { CheckExactCounts(44000, 5); }
TEST(WaveInCounts, MonoAt22050IsExact) { CheckExactCounts(22050, 5); }
TEST(WaveInCounts, StereoAt44100IsExact) { CheckExactCounts(44100, 3); }

namespace {

// Plays a chord for half a second while recording one second at 44100 Hz, 16 bits, stereo
// through the given levels; returns the peak.
int PeakWhilePlaying(const Levels& levels) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  card.SetLevels(levels);
  return Peak(Samples16(RecordWhilePlaying({{1000, 0, 60, 110},
                                            {1000, 0, 64, 110},
                                            {1000, 9, 38, 110},
                                            {23000, 0, 60, 0},
                                            {23000, 0, 64, 0}},
                                           kCardRate * 4)
                            .data));
}

}  // namespace

TEST(WaveInContent, SynthIsHeardThroughSwSynthAndStereoMix) {
  Levels lv;  // factory: "Stereo Mix" selected, everything at 75 %
  EXPECT_GT(PeakWhilePlaying(lv), 1000);
  lv.recordSource = Levels::RecordSource::Synth;
  EXPECT_GT(PeakWhilePlaying(lv), 1000);
  lv.speakerSynth = 0.0f;  // muted on the speakers, still recorded from "SW Synth"
  EXPECT_GT(PeakWhilePlaying(lv), 1000);
}

TEST(WaveInContent, SilentWhenTheSynthIsMutedOrLineInSelected) {
  Levels lv;
  lv.speakerSynth = 0.0f;
  EXPECT_EQ(PeakWhilePlaying(lv), 0);
  lv = Levels{};
  lv.recordSource = Levels::RecordSource::Silent;
  EXPECT_EQ(PeakWhilePlaying(lv), 0);
  lv = Levels{};
  lv.recordLine = 0.0f;
  EXPECT_EQ(PeakWhilePlaying(lv), 0);
}
