// The wave player: formats, rate conversion to the card's rate, pausing, damaged and huge files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "platform/softcard/mci/WavePlayer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavFiles.h"

using platform::WavePlayer;
using platform::WaveStatus;
using platform::softcard::kCardRate;
using tw_test::Bytes;
using tw_test::Fmt;
using tw_test::Pcm16;
using tw_test::Wave;

namespace {

struct Out {
  std::vector<float> l, r;
};

// Mixes `frames` frames, in periods of `period`, into buffers that start at `base`.
Out MixAll(WavePlayer& p, std::size_t frames, int period = 441, float base = 0.0f) {
  Out o{std::vector<float>(frames, base), std::vector<float>(frames, base)};
  for (std::size_t at = 0; at < frames; at += static_cast<std::size_t>(period)) {
    const int n = static_cast<int>(std::min<std::size_t>(period, frames - at));
    p.Mix(at, o.l.data() + at, o.r.data() + at, n);
  }
  return o;
}

// A card frame count past every period MixAll mixes: everything mixed has been counted.
constexpr std::uint64_t kAllCounted = ~std::uint64_t{0};

}  // namespace

TEST(WavePlayerFormats, StereoAtTheCardRateIsCopiedSampleForSampleAndAdded) {
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 2, kCardRate, 16), Pcm16({16384, -32768, -8192, 32767, 0, 1}))),
            WaveStatus::Ok);
  p.Play();
  const Out o = MixAll(p, 5, 441, 0.25f);
  EXPECT_FLOAT_EQ(o.l[0], 0.25f + 0.5f);
  EXPECT_FLOAT_EQ(o.r[0], 0.25f - 1.0f);
  EXPECT_FLOAT_EQ(o.l[1], 0.25f - 0.25f);
  EXPECT_FLOAT_EQ(o.r[1], 0.25f + 32767.0f / 32768.0f);
  EXPECT_FLOAT_EQ(o.r[2], 0.25f + 1.0f / 32768.0f);
  EXPECT_FLOAT_EQ(o.l[3], 0.25f);  // past the end: nothing added
  EXPECT_FALSE(p.Playing());
}

TEST(WavePlayerFormats, EightBitMonoIsCentredAndGoesToBothSides) {
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 1, kCardRate, 8), Bytes{128, 255, 0, 192})), WaveStatus::Ok);
  p.Play();
  const Out o = MixAll(p, 4);
  EXPECT_EQ(o.l, (std::vector<float>{0.0f, 127.0f / 128.0f, -1.0f, 0.5f}));
  EXPECT_EQ(o.r, o.l);
}

TEST(WavePlayerFormats, ExtensiblePcmIsAccepted) {
  Bytes fmt = Fmt(0xFFFE, 2, 48000, 16);
  tw_test::Add16(fmt, 22);  // extension size
  tw_test::Add16(fmt, 16);  // valid bits
  tw_test::Add32(fmt, 3);   // channel mask
  tw_test::Add16(fmt, 1);   // sub-format: PCM ...
  fmt.resize(fmt.size() + 14, 0);
  WavePlayer p;
  EXPECT_EQ(p.Parse(Wave(fmt, Pcm16({1, 2, 3, 4}))), WaveStatus::Ok);
  EXPECT_EQ(p.Rate(), 48000);
}

TEST(WavePlayerFormats, WhatCannotBePlayedIsRefused) {
  WavePlayer p;
  const Bytes d = Pcm16({0, 0, 0, 0});
  EXPECT_EQ(p.Parse(Wave(Fmt(1, 2, 44100, 24), d)), WaveStatus::Unsupported);
  EXPECT_EQ(p.Parse(Wave(Fmt(1, 3, 44100, 16), d)), WaveStatus::Unsupported);
  EXPECT_EQ(p.Parse(Wave(Fmt(2, 2, 44100, 16), d)), WaveStatus::Unsupported);  // ADPCM
  EXPECT_EQ(p.Parse(Wave(Fmt(1, 2, 500, 16), d)), WaveStatus::Unsupported);
  EXPECT_EQ(p.Parse(Wave(Fmt(1, 2, 400000, 16), d)), WaveStatus::Unsupported);
  EXPECT_EQ(p.Parse(Wave(Bytes(10, 0), d)), WaveStatus::NotWave);  // format chunk too short
  EXPECT_EQ(p.Parse(Bytes{}), WaveStatus::NotWave);
  EXPECT_EQ(p.Parse(tw_test::Chunk("RIFF", Bytes{'W', 'A', 'V', 'E'})), WaveStatus::NotWave);
  EXPECT_EQ(p.Parse(tw_test::Chunk("RIFF", Bytes{'R', 'M', 'I', 'D'})), WaveStatus::NotWave);
  Bytes onlyFmt{'W', 'A', 'V', 'E'};
  const Bytes f = tw_test::Chunk("fmt ", Fmt(1, 2, 44100, 16));
  onlyFmt.insert(onlyFmt.end(), f.begin(), f.end());
  EXPECT_EQ(p.Parse(tw_test::Chunk("RIFF", onlyFmt)), WaveStatus::NotWave);
}

TEST(WavePlayerFormats, CutRecordingPlaysTheWholeFramesItHas) {
  // The data chunk claims 1000 bytes; the file holds 2 frames and half of a third.
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 2, kCardRate, 16), Pcm16({100, 200, 300, 400, 500}), 1000)),
            WaveStatus::Ok);
  p.Play();
  const Out o = MixAll(p, 4);
  EXPECT_FLOAT_EQ(o.l[1], 300.0f / 32768.0f);
  EXPECT_FLOAT_EQ(o.l[2], 0.0f);
  EXPECT_EQ(p.PositionMs(kAllCounted), p.LengthMs());
}

TEST(WavePlayerRate, SixSecondsAt44000HzLastSixSecondsOfCardTime) {
  // The wizard's test recording: 16-bit stereo at 44000 Hz.
  const int frames = 6 * 44000;
  std::vector<int> s(2 * frames);
  for (int i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<int>(10000 * std::sin(2 * M_PI * 441.0 * i / 44000));
    s[2 * i + 1] = -s[2 * i];
  }
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 2, 44000, 16), Pcm16(s))), WaveStatus::Ok);
  EXPECT_EQ(p.LengthMs(), 6000u);
  p.Play();
  const std::size_t total = 7 * kCardRate;
  const Out o = MixAll(p, total, 512);
  EXPECT_EQ(p.PositionMs(kAllCounted), 6000u);
  EXPECT_FALSE(p.Playing());
  // Everything after 6 s of card time (and the resampler's short tail) is silent.
  std::size_t last = 0;
  for (std::size_t i = 0; i < total; ++i)
    if (std::abs(o.l[i]) > 1e-4f) last = i;
  EXPECT_NEAR(static_cast<double>(last), 6.0 * kCardRate, 50.0);
  // The tone keeps its frequency and level: 441 Hz at the card rate is 100 frames a period.
  double cross = 0;
  double energy = 0;
  const std::size_t from = kCardRate, to = 5 * kCardRate;
  for (std::size_t i = from; i < to; ++i) {
    if ((o.l[i - 1] < 0) != (o.l[i] < 0)) ++cross;
    energy += double(o.l[i]) * o.l[i];
    EXPECT_NEAR(o.r[i], -o.l[i], 1e-4);
  }
  EXPECT_NEAR(cross / 2 / ((to - from) / 100.0), 1.0, 0.01);
  EXPECT_NEAR(std::sqrt(energy / static_cast<double>(to - from)), 10000.0 / 32768 / std::sqrt(2.0),
              0.005);
}

TEST(WavePlayerRate, LowRateMonoIsStretchedToTheCardRate) {
  // A constant level at 11025 Hz: four times as many frames at the card rate, the same level.
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 1, 11025, 16), Pcm16(std::vector<int>(11025, 8192)))),
            WaveStatus::Ok);
  EXPECT_EQ(p.LengthMs(), 1000u);
  p.Play();
  const Out o = MixAll(p, 2 * kCardRate);
  for (std::size_t i = kCardRate / 10; i < kCardRate * 9 / 10; i += 97) {
    ASSERT_NEAR(o.l[i], 0.25f, 0.01f) << i;
    ASSERT_EQ(o.l[i], o.r[i]);
  }
  EXPECT_NEAR(o.l[kCardRate + 100], 0.0f, 1e-4f);
}

TEST(WavePlayerControl, StopPausesWhereItIsAndPlayGoesOn) {
  std::vector<int> ramp(2 * 2000);
  for (int i = 0; i < 2000; ++i) ramp[2 * i] = ramp[2 * i + 1] = i;
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 2, kCardRate, 16), Pcm16(ramp))), WaveStatus::Ok);
  Out o = MixAll(p, 100);
  EXPECT_FLOAT_EQ(o.l[50], 0.0f);  // not started: silent
  EXPECT_EQ(p.PositionMs(kAllCounted), 0u);
  p.Play();
  o = MixAll(p, 882);
  EXPECT_FLOAT_EQ(o.l[881], 881.0f / 32768.0f);
  EXPECT_EQ(p.PositionMs(kAllCounted), 20u);
  p.Stop();
  o = MixAll(p, 500);
  EXPECT_FLOAT_EQ(o.l[10], 0.0f);
  EXPECT_EQ(p.PositionMs(kAllCounted), 20u);
  p.Play();
  o = MixAll(p, 2);
  EXPECT_FLOAT_EQ(o.l[0], 882.0f / 32768.0f);  // the next frame, nothing skipped or repeated
  EXPECT_FLOAT_EQ(o.l[1], 883.0f / 32768.0f);
}

TEST(WavePlayerControl, APeriodCountsOnceTheCardHasCountedIt) {
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 1, kCardRate, 16), Pcm16(std::vector<int>(882, 1000)))),
            WaveStatus::Ok);
  p.Play();
  std::vector<float> l(441), r(441);
  p.Mix(10000, l.data(), r.data(), 441);
  EXPECT_EQ(p.PositionMs(10000), 0u);  // mixed, but the card is still rendering that period
  EXPECT_EQ(p.PositionMs(10441), 10u);
  p.Mix(10441, l.data(), r.data(), 441);  // the last frames: the player has ended
  EXPECT_FALSE(p.Playing());
  EXPECT_EQ(p.PositionMs(10441), 10u);
  EXPECT_EQ(p.PositionMs(10882), 20u);
}

TEST(WavePlayerControl, PlayAtTheEndPlaysNothingMore) {
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 1, kCardRate, 16), Pcm16({1000, 1000}))), WaveStatus::Ok);
  p.Play();
  MixAll(p, 10);
  p.Play();
  const Out o = MixAll(p, 10);
  EXPECT_FLOAT_EQ(o.l[0], 0.0f);
  EXPECT_FALSE(p.Playing());
}

TEST(WavePlayerThreads, MixFromTheRenderThreadWhileTheControlThreadPlaysAndStops) {
  WavePlayer p;
  ASSERT_EQ(p.Parse(Wave(Fmt(1, 2, 22050, 16), Pcm16(std::vector<int>(2 * 22050, 3000)))),
            WaveStatus::Ok);
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> counted{0};  // as the card counts frames: after each period
  std::thread render([&] {
    std::vector<float> l(256), r(256);
    for (std::uint64_t f = 0; !done; f += 256) {
      p.Mix(f, l.data(), r.data(), 256);
      counted = f + 256;
    }
  });
  std::uint32_t last = 0;
  for (int i = 0; i < 20000 && p.PositionMs(counted) < p.LengthMs(); ++i) {
    if (i % 2 == 0) p.Play();
    if (i % 5 == 0) p.Stop();
    const std::uint32_t now = p.PositionMs(counted);
    EXPECT_GE(now, last);
    EXPECT_LE(now, counted * 1000 / kCardRate);  // never ahead of the card
    last = now;
    std::this_thread::yield();
  }
  p.Play();
  while (p.Playing()) std::this_thread::yield();
  done = true;
  render.join();
  EXPECT_EQ(p.PositionMs(counted), 1000u);
}

TEST(WavePlayerFiles, MissingAndHugeFilesAreRefused) {
  const tw_test::TempDir dir("tw wave é ");
  WavePlayer p;
  EXPECT_EQ(p.Load(dir / "none.wav"), WaveStatus::CannotOpen);
  const std::string path = dir / "t.wav";
  tw_test::WriteFile(path, Wave(Fmt(1, 2, 44000, 16), Pcm16({1, 2, 3, 4})));
  EXPECT_EQ(p.Load(path), WaveStatus::Ok);
  EXPECT_EQ(p.Rate(), 44000);
  std::filesystem::resize_file(path, WavePlayer::kMaxFileBytes + 1);
  EXPECT_EQ(p.Load(path), WaveStatus::TooLarge);
}
