// Conversion of the card's recording line into capture formats: exact byte counts, sample coding,
// mono mix, and resampling that keeps pitch and loudness.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "platform/softcard/CaptureStream.h"
#include "platform/softcard/Softcard.h"

using platform::softcard::CaptureStream;
using platform::softcard::kCardRate;

namespace {

// Feeds `seconds` of a sine (or silence) through the stream in periods of `period` frames and
// returns every byte produced.
std::vector<std::uint8_t> Feed(CaptureStream& s, double seconds, int period, double freq = 0,
                               float amp = 0.5f, std::uint64_t* calls = nullptr) {
  const std::uint64_t total = static_cast<std::uint64_t>(seconds * kCardRate);
  std::vector<float> l(period), r(period);
  std::vector<std::uint8_t> out, chunk(s.MaxBytes());
  std::uint64_t n = 0;
  while (n < total) {
    const int frames = static_cast<int>(std::min<std::uint64_t>(period, total - n));
    for (int i = 0; i < frames; ++i) {
      const double t = static_cast<double>(n + i) / kCardRate;
      l[i] = r[i] = static_cast<float>(amp * std::sin(2 * std::numbers::pi * freq * t));
    }
    const std::size_t bytes = s.Convert(l.data(), r.data(), frames, chunk.data());
    EXPECT_LE(bytes, s.MaxBytes());
    out.insert(out.end(), chunk.begin(), chunk.begin() + bytes);
    n += frames;
    if (calls) ++*calls;
  }
  return out;
}

std::vector<double> Mono16(const std::vector<std::uint8_t>& b) {
  std::vector<double> v(b.size() / 2);
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::int16_t s;
    std::memcpy(&s, &b[2 * i], 2);
    v[i] = s / 32767.0;
  }
  return v;
}

}  // namespace

TEST(CaptureStream, FormatsTheDeviceRecords) {
  EXPECT_TRUE(CaptureStream::ValidFormat(8000, 1, 8));
  EXPECT_TRUE(CaptureStream::ValidFormat(44000, 2, 16));
  EXPECT_TRUE(CaptureStream::ValidFormat(48000, 2, 16));
  EXPECT_FALSE(CaptureStream::ValidFormat(7999, 1, 8));
  EXPECT_FALSE(CaptureStream::ValidFormat(48001, 1, 8));
  EXPECT_FALSE(CaptureStream::ValidFormat(44100, 3, 16));
  EXPECT_FALSE(CaptureStream::ValidFormat(44100, 0, 16));
  EXPECT_FALSE(CaptureStream::ValidFormat(44100, 2, 12));
  EXPECT_FALSE(CaptureStream::ValidFormat(44100, 2, 24));
}

TEST(CaptureStream, ByteCountIsExactForEveryRateAndPeriod) {
  for (int rate : {8000, 11025, 22050, 32000, 44000, 44100, 48000}) {
    for (int period : {256, 100, 1}) {
      const double seconds = period == 1 ? 0.2 : 3.0;
      CaptureStream s(rate, 1, 16, 256);
      const auto bytes = Feed(s, seconds, period);
      const std::uint64_t cardFrames = static_cast<std::uint64_t>(seconds * kCardRate);
      EXPECT_EQ(bytes.size(), cardFrames * rate / kCardRate * 2)
          << rate << " Hz, period " << period;
      EXPECT_EQ(s.FramesOut(), cardFrames * rate / kCardRate);
    }
  }
}

TEST(CaptureStream, WholeSecondsGiveRateTimesSeconds) {
  CaptureStream mono44000(44000, 1, 16, 256);
  EXPECT_EQ(Feed(mono44000, 10, 256).size(), 44000u * 10 * 2);
  CaptureStream mono22050(22050, 1, 16, 256);
  EXPECT_EQ(Feed(mono22050, 10, 256).size(), 22050u * 10 * 2);
  CaptureStream stereo8(11025, 2, 8, 256);
  EXPECT_EQ(Feed(stereo8, 4, 256).size(), 11025u * 4 * 2);
}

TEST(CaptureStream, SixteenBitSamplesAreRoundedClippedLittleEndian) {
  CaptureStream s(kCardRate, 2, 16, 8);
  const float l[4] = {0.5f, 1.5f, -1.5f, 0.0f};
  const float r[4] = {-0.5f, 1.0f, -1.0f, 1.0f / 32767.0f};
  std::vector<std::uint8_t> out(s.MaxBytes());
  ASSERT_EQ(s.Convert(l, r, 4, out.data()), 16u);
  std::int16_t v[8];
  std::memcpy(v, out.data(), 16);
  EXPECT_EQ(v[0], 16384);  // 0.5 x 32767 rounds up
  EXPECT_EQ(v[1], -16384);
  EXPECT_EQ(v[2], 32767);  // clipped
  EXPECT_EQ(v[3], 32767);
  EXPECT_EQ(v[4], -32767);  // clipped, symmetric
  EXPECT_EQ(v[5], -32767);
  EXPECT_EQ(v[6], 0);
  EXPECT_EQ(v[7], 1);
  EXPECT_EQ(out[0], 0x00);  // little-endian 16384 = 0x4000
  EXPECT_EQ(out[1], 0x40);
}

TEST(CaptureStream, EightBitIsUnsignedAroundMidScale) {
  CaptureStream s(kCardRate, 1, 8, 8);
  const float l[3] = {0.0f, 1.0f, -1.0f};
  const float r[3] = {0.0f, 1.0f, -2.0f};
  std::vector<std::uint8_t> out(s.MaxBytes());
  ASSERT_EQ(s.Convert(l, r, 3, out.data()), 3u);
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(out[2], 1);  // mean -1.5 clipped to -1
}

TEST(CaptureStream, MonoIsTheMeanOfBothSides) {
  CaptureStream s(kCardRate, 1, 16, 8);
  const float l[2] = {0.5f, 0.25f};
  const float r[2] = {0.0f, -0.25f};
  std::vector<std::uint8_t> out(s.MaxBytes());
  ASSERT_EQ(s.Convert(l, r, 2, out.data()), 4u);
  std::int16_t v[2];
  std::memcpy(v, out.data(), 4);
  EXPECT_EQ(v[0], 8192);
  EXPECT_EQ(v[1], 0);
}

TEST(CaptureStream, ResamplingKeepsPitchAndLoudness) {
  for (int rate : {8000, 22050, 44000, 48000}) {
    CaptureStream s(rate, 1, 16, 256);
    const auto v = Mono16(Feed(s, 2.0, 256, 440.0, 0.5f));
    // Skip the primed silence and the filter's start, then look at one second.
    const std::size_t from = static_cast<std::size_t>(rate) / 4, to = from + rate;
    ASSERT_GT(v.size(), to);
    int crossings = 0;
    double energy = 0;
    for (std::size_t i = from; i < to; ++i) {
      if ((v[i - 1] < 0) != (v[i] < 0)) ++crossings;
      energy += v[i] * v[i];
    }
    EXPECT_NEAR(crossings, 880, 2) << rate;
    EXPECT_NEAR(std::sqrt(energy / rate), 0.5 / std::sqrt(2.0), 0.01) << rate;
  }
}

TEST(CaptureStream, RestartBeginsAFreshRecording) {
  CaptureStream s(22050, 2, 16, 256);
  Feed(s, 1.0, 256, 440.0);
  s.Restart();
  EXPECT_EQ(s.FramesOut(), 0u);
  const auto silent = Feed(s, 0.01, 256);  // primed silence again, nothing left of the sine
  EXPECT_EQ(silent.size(), 220u * 4);      // floor(441 x 22050 / 44100) frames
  for (auto b : silent) EXPECT_EQ(b, 0);
}
