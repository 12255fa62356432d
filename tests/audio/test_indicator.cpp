// The level indicator: pass-through, band levels, averaging over calls, failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "TestSupport.h"
#include "audio/ACS_Indicator.h"

using tw_test::MemSource;

namespace {

void Put16(std::vector<std::uint8_t>& v, std::size_t frame, int channels, int channel, int value) {
  const std::size_t at = (frame * channels + channel) * 2;
  v[at] = static_cast<std::uint8_t>(value & 0xFF);
  v[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::vector<std::uint8_t> Constant16(std::size_t frames, int channels, int value) {
  std::vector<std::uint8_t> v(frames * channels * 2);
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) Put16(v, f, channels, c, value);
  }
  return v;
}

// Reads everything the indicator delivers in requests of `request` bytes.
std::vector<std::uint8_t> Drain(TSoundIndicator& ind, int request) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(request));
  for (;;) {
    const int n = ind.GetData(buf.data(), request);
    if (n == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

struct Chain {
  explicit Chain(std::vector<std::uint8_t> data, int bits = 16, int channels = 2)
      : source(&owner, std::move(data), bits, channels, 44100), ind(&owner) {
    ind.SetInput(&source);
  }
  platform::TComponent owner{nullptr};
  MemSource source;
  TSoundIndicator ind;
};

}  // namespace

TEST(SoundIndicator, PassesDataThroughByteForByte) {
  std::mt19937 gen(7);
  std::vector<std::uint8_t> data(50000);
  for (auto& b : data) b = static_cast<std::uint8_t>(gen());
  for (int request : {16384, 1000, 7}) {
    Chain c(data);
    c.ind.Init();
    EXPECT_EQ(c.ind.Size(), 50000);
    EXPECT_EQ(Drain(c.ind, request), data) << "request " << request;
    EXPECT_EQ(c.ind.Position(), 50000);
    EXPECT_EQ(c.source.Position(), 50000);
    c.ind.Flush();
    EXPECT_FALSE(c.ind.Busy());
    EXPECT_FALSE(c.source.Busy());
  }
}

TEST(SoundIndicator, FormatComesFromInput) {
  Chain c(Constant16(10, 1, 0), 8, 1);
  EXPECT_EQ(c.ind.GetBitsPerSample(), 8);
  EXPECT_EQ(c.ind.GetChannels(), 1);
  EXPECT_EQ(c.ind.GetSampleRate(), 44100);
  EXPECT_EQ(c.ind.GetTotalTime(), 0);
}

TEST(SoundIndicator, SilenceGivesZeroLevels) {
  Chain c(Constant16(4096, 2, 0));
  c.ind.Init();
  Drain(c.ind, 16384);
  for (double level : c.ind.Levels()) EXPECT_EQ(level, 0.0);
}

TEST(SoundIndicator, EightBitSilenceKeepsItsOffsetInBandZero) {
  Chain c(std::vector<std::uint8_t>(16384, 128), 8, 1);
  c.ind.Init();
  Drain(c.ind, 16384);
  const auto levels = c.ind.Levels();
  EXPECT_NEAR(levels[0], 0.2034483, 1e-6);
  for (int k = 1; k < 32; ++k) EXPECT_EQ(levels[k], 0.0) << k;
}

TEST(SoundIndicator, ConstantThousandGivesKnownBands) {
  Chain c(Constant16(4096, 2, 1000));
  c.ind.Init();
  Drain(c.ind, 16384);
  const auto levels = c.ind.Levels();
  EXPECT_NEAR(levels[0], 1.0962384, 1e-6);
  EXPECT_NEAR(levels[1], 0.7993052, 1e-6);
  EXPECT_NEAR(levels[2], 0.4819004, 1e-6);
  EXPECT_NEAR(levels[3], 0.3034258, 1e-6);
}

TEST(SoundIndicator, SineShowsInItsBand) {
  // 8 cycles per 64 frames: line 8 of the transform.
  std::vector<std::uint8_t> data(64 * 16 * 2);
  for (std::size_t f = 0; f < 64 * 16; ++f) {
    Put16(data, f, 1, 0,
          static_cast<int>(std::lround(3000 * std::sin(2 * std::numbers::pi * 8 * f / 64.0))));
  }
  Chain c(data, 16, 1);
  c.ind.Init();
  Drain(c.ind, 16384);
  const auto levels = c.ind.Levels();
  const auto peak = std::max_element(levels.begin(), levels.end()) - levels.begin();
  EXPECT_EQ(peak, 8);
  EXPECT_NEAR(levels[8], 1.282, 2e-3);
  EXPECT_EQ(levels[20], 0.0);
}

TEST(SoundIndicator, StereoIsMixedToMono) {
  // Opposite channels cancel; a wrong stride or one channel alone would not.
  std::vector<std::uint8_t> data(4096 * 4);
  for (std::size_t f = 0; f < 4096; ++f) {
    Put16(data, f, 2, 0, 1000);
    Put16(data, f, 2, 1, -1000);
  }
  Chain c(data);
  c.ind.Init();
  Drain(c.ind, 16384);
  for (double level : c.ind.Levels()) EXPECT_EQ(level, 0.0);

  // 8-bit stereo: 0 and 255 average to 127.5, a little under 8-bit silence.
  std::vector<std::uint8_t> eight(4096 * 2);
  for (std::size_t f = 0; f < 4096; ++f) {
    eight[2 * f] = 0;
    eight[2 * f + 1] = 255;
  }
  Chain d(eight, 8, 2);
  d.ind.Init();
  Drain(d.ind, 16384);
  const double expected = 0.2034483 + std::log10(127.5 / 128.0);
  EXPECT_NEAR(d.ind.Levels()[0], expected, 1e-6);
}

TEST(SoundIndicator, LevelsAreTheMeanOverTheCallsBlocks) {
  // 16384 bytes of 16-bit stereo are 64 blocks; only the first is loud, so band 0 is its level
  // / 64.
  std::vector<std::uint8_t> data = Constant16(4096, 2, 0);
  for (std::size_t f = 0; f < 64; ++f) {
    Put16(data, f, 2, 0, 1000);
    Put16(data, f, 2, 1, 1000);
  }
  Chain c(data);
  c.ind.Init();
  std::vector<std::uint8_t> buf(16384);
  ASSERT_EQ(c.ind.GetData(buf.data(), 16384), 16384);
  EXPECT_NEAR(c.ind.Levels()[0], 1.0962384 / 64, 1e-7);
}

TEST(SoundIndicator, LaterCallsCarryThePreviousValueIn) {
  std::vector<std::uint8_t> data = Constant16(64, 2, 1000);  // call 1: one loud block
  const auto quiet = Constant16(128, 2, 0);                  // call 2: two silent blocks
  data.insert(data.end(), quiet.begin(), quiet.end());
  const auto loud = Constant16(50, 2, 1000);  // call 3: 50 frames, no block
  data.insert(data.end(), loud.begin(), loud.end());
  Chain c(data);
  c.ind.Init();
  std::vector<std::uint8_t> buf(16384);
  ASSERT_EQ(c.ind.GetData(buf.data(), 64 * 4), 64 * 4);
  const double first = c.ind.Levels()[0];
  EXPECT_NEAR(first, 1.0962384, 1e-6);
  ASSERT_EQ(c.ind.GetData(buf.data(), 128 * 4), 128 * 4);
  EXPECT_NEAR(c.ind.Levels()[0], first / 2, 1e-12);  // (first + 0 + 0) / 2
  ASSERT_EQ(c.ind.GetData(buf.data(), 16384), 200);
  EXPECT_NEAR(c.ind.Levels()[0], first / 2, 1e-12);  // unchanged
  EXPECT_EQ(std::memcmp(buf.data(), loud.data(), 200), 0);
}

TEST(SoundIndicator, LevelsSurviveFlushAndInitClearsThem) {
  Chain c(Constant16(4096, 2, 1000));
  c.ind.Init();
  Drain(c.ind, 16384);
  c.ind.Flush();
  EXPECT_NEAR(c.ind.Levels()[0], 1.0962384, 1e-6);
  c.ind.Init();
  for (double level : c.ind.Levels()) EXPECT_EQ(level, 0.0);
  c.ind.Flush();
}

TEST(SoundIndicator, FailuresAndTheirMessages) {
  platform::TComponent owner(nullptr);
  TSoundIndicator ind(&owner);
  auto expectMessage = [](auto fn, const char* text) {
    try {
      fn();
      ADD_FAILURE() << "no exception, expected " << text;
    } catch (const EACSException& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  expectMessage([&] { ind.GetSampleRate(); }, "Input is not assigned.");
  expectMessage([&] { ind.GetBitsPerSample(); }, "Input is not assigned.");
  expectMessage([&] { ind.Init(); }, "Input is not assigned.");
  char buf[16];
  expectMessage([&] { ind.GetData(buf, 16); }, "The Stream is not opened");
}

TEST(SoundIndicator, FailedInputInitLeavesItBusyAndNextInitWorks) {
  Chain c(Constant16(64, 2, 0));
  c.source.Init();  // the source refuses a second Init
  EXPECT_THROW(c.ind.Init(), EACSException);
  EXPECT_TRUE(c.ind.Busy());
  c.source.Flush();
  EXPECT_NO_THROW(c.ind.Init());
  EXPECT_EQ(c.ind.Size(), 256);
  c.ind.Flush();
}

TEST(SoundIndicator, InputFailurePassesThroughUnchanged) {
  Chain c(Constant16(4096, 2, 0));
  c.source.failAfter = 0;
  c.ind.Init();
  char buf[64];
  try {
    c.ind.GetData(buf, 64);
    ADD_FAILURE() << "no exception";
  } catch (const EACSException& e) {
    EXPECT_STREQ(e.what(), "source failed");
  }
}
