#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/ACS_Converters.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/Mp3Encode.h"

using tw_test::MessageOf;
using tw_test::Samples16;

namespace {

// Delivers 16-bit (or 8-bit) PCM from memory in pieces of at most `piece` bytes. Its rate can be
// changed while it delivers, as an input swapped live would do.
class PcmSource : public TACSInput {
 public:
  PcmSource(std::vector<std::uint8_t> bytes, int rate, int channels, int bits = 16)
      : TACSInput(nullptr),
        bytes_(std::move(bytes)),
        bits_(bits),
        channels_(channels),
        rate_(rate) {}
  PcmSource(const std::vector<std::int16_t>& samples, int rate, int channels)
      : PcmSource(toBytes(samples), rate, channels) {}
  ~PcmSource() override { Destroying(); }

  static std::vector<std::uint8_t> toBytes(const std::vector<std::int16_t>& s) {
    std::vector<std::uint8_t> b(s.size() * 2);
    if (!s.empty()) std::memcpy(b.data(), s.data(), b.size());
    return b;
  }

  int GetBitsPerSample() override { return bits_; }
  int GetChannels() override { return channels_; }
  int GetSampleRate() override { return at_ >= rateChangeAt ? newRate : rate_; }
  void Init() override {
    FBusy = true;
    FPosition = 0;
    FSize = declaredSize == -2 ? static_cast<int>(bytes_.size()) : declaredSize;
    at_ = 0;
    ++inits;
  }
  void Flush() override {
    FBusy = false;
    ++flushes;
  }
  int GetData(void* buffer, int size) override {
    if (!Busy()) throw EACSException("The Stream is not opened");
    ++requests;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), bytes_.size() - at_);
    if (piece > 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(piece));
    if (n) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    FPosition += static_cast<int>(n);
    return static_cast<int>(n);
  }

  int piece = 0;
  int declaredSize = -2;  // -2: the real length
  std::size_t rateChangeAt = SIZE_MAX;
  int newRate = 0;
  int inits = 0, flushes = 0, requests = 0;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
  int bits_, channels_, rate_;
};

// Everything a converter delivers, read in pieces of `piece` bytes.
std::vector<std::uint8_t> readAll(TACSInput& c, int piece = 5000) {
  return tw_test::PullAll(c, piece).data;
}

std::vector<std::int16_t> convert(const std::vector<std::int16_t>& in, int inRate, int channels,
                                  int outRate, int kernel = 30,
                                  TFilterWindowType window = fwBlackman) {
  PcmSource src(in, inRate, channels);
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.SetOutSampleRate(outRate);
  rc.SetKernelWidth(kernel);
  rc.SetFilterWindow(window);
  rc.Init();
  auto out = Samples16(readAll(rc));
  rc.Flush();
  return out;
}

std::vector<std::int16_t> ramp(int n, int start = 0, int step = 1) {
  std::vector<std::int16_t> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    v[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(start + i * step);
  return v;
}

}  // namespace

// With two taps the Blackman kernel is [0, 1]: the filter passes samples unchanged (the falling
// branch weighs the current sample with the last tap), so what remains is the picking itself.
TEST(RateConverterFalling, HalfRatePicksEveryOtherSampleFromTheFirst) {
  const auto in = ramp(40000, -20000);
  const auto out = convert(in, 44100, 1, 22050, 2);
  ASSERT_EQ(out.size(), in.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], in[2 * i]) << i;
}

TEST(RateConverterFalling, StereoKeepsChannelsApart) {
  std::vector<std::int16_t> in;
  for (int i = 0; i < 20000; ++i) {
    in.push_back(static_cast<std::int16_t>(i));
    in.push_back(static_cast<std::int16_t>(-i));
  }
  const auto out = convert(in, 48000, 2, 16000, 2);
  ASSERT_EQ(out.size(), 2 * 6667u);  // frames 0, 3, ... 19998
  for (std::size_t f = 0; f < out.size() / 2; ++f) {
    ASSERT_EQ(out[2 * f], static_cast<std::int16_t>(3 * f)) << f;
    ASSERT_EQ(out[2 * f + 1], static_cast<std::int16_t>(-3 * static_cast<int>(f))) << f;
  }
}

TEST(RateConverterFalling, OddRatioMakesOutRateOutputsPerInRateInputs) {
  const auto in = ramp(44100, -22050);  // one second, each sample its own index
  const auto out = convert(in, 44100, 1, 32000, 2);
  ASSERT_EQ(out.size(), 32000u);
  // Each output is one of the input samples, in order, none skipped by more than one.
  EXPECT_EQ(out[0], in[0]);
  for (std::size_t i = 1; i < out.size(); ++i) {
    const int gap = out[i] - out[i - 1];
    ASSERT_TRUE(gap == 1 || gap == 2) << "at " << i << ": gap " << gap;
  }
}

TEST(RateConverterFalling, FiltersWithTheReversedKernelAcrossBlocks) {
  // A full filter over a signal long enough for several blocks: every output is the kernel applied
  // to the K input samples up to the one it is picked at (zeros before the start), per channel.
  struct Case {
    int K, channels;
    TFilterWindowType window;
  };
  for (const Case& c : {Case{30, 1, fwHamming}, Case{31, 1, fwHann}, Case{31, 2, fwBlackman},
                        Case{8, 2, fwHamming}}) {
    std::vector<std::int16_t> in(50000 * static_cast<std::size_t>(c.channels));
    std::uint32_t x = 1;
    for (auto& s : in) {
      x = x * 1664525u + 1013904223u;
      s = static_cast<std::int16_t>(static_cast<int>(x >> 16) % 20000 - 10000);
    }
    const auto out = convert(in, 44100, c.channels, 22050, c.K, c.window);
    std::vector<double> h(static_cast<std::size_t>(c.K));
    LowPassKernel(h.data(), c.K, c.window, 0.4f * 0.5f);
    const std::size_t frames = in.size() / c.channels;
    ASSERT_EQ(out.size(), frames / 2 * c.channels);
    int mismatches = 0;
    for (std::size_t i = 0; i < frames / 2; ++i)
      for (int ch = 0; ch < c.channels; ++ch) {
        const std::size_t j = 2 * i;
        double sum = 0;
        for (int k = 0; k < c.K; ++k)
          if (j >= static_cast<std::size_t>(k))
            sum += h[static_cast<std::size_t>(c.K - 1 - k)] * in[(j - k) * c.channels + ch];
        if (out[i * c.channels + ch] != static_cast<std::int16_t>(std::nearbyint(sum)))
          ++mismatches;
      }
    EXPECT_EQ(mismatches, 0) << c.K << " taps, " << c.channels << " channels";
  }
}

TEST(RateConverterRising, DoubleRateGivesEarlierSampleThenRoundedMean) {
  // Means that fall on halves go to the even neighbour: 1.5 -> 2, 3.5 -> 4, 0.5 -> 0, -2.5 -> -2.
  const std::vector<std::int16_t> in = {1, 2, 5, 2, 0, 1, -3, -2, -1, 100};
  const auto out = convert(in, 22050, 1, 44100, 2);
  // The kernel [0, 1] delays by one output; the first value interpolated is the previous sample 0.
  const std::vector<std::int16_t> expected = {0, 0, 0, 1, 2,  2,  4,  5,  4,  2,
                                              1, 0, 0, 1, -1, -3, -2, -2, -2, -1};
  EXPECT_EQ(out, expected);
}

TEST(RateConverterRising, InterpolatesThenFiltersAcrossBlocks) {
  // Reference: every output phase of the whole stream, the value interpolated there (halves to
  // even), and each value spread over the next K outputs. Long enough for several blocks, so that
  // the sums carried from block to block are checked too.
  struct Case {
    int inRate, outRate, K, channels;
  };
  for (const Case& c :
       {Case{22050, 44100, 31, 2}, Case{8000, 11025, 30, 1}, Case{32000, 44100, 16, 2}}) {
    const std::size_t frames = 40000;
    std::vector<std::int16_t> in(frames * c.channels);
    std::uint32_t x = 5;
    for (auto& s : in) {
      x = x * 1664525u + 1013904223u;
      s = static_cast<std::int16_t>(static_cast<int>(x >> 16) % 30000 - 15000);
    }
    const auto out = convert(in, c.inRate, c.channels, c.outRate, c.K, fwHann);
    const float ratio = static_cast<float>(c.outRate) / static_cast<float>(c.inRate);
    std::vector<double> h(static_cast<std::size_t>(c.K));
    LowPassKernel(h.data(), c.K, fwHann, 0.4f / ratio);
    int mismatches = 0;
    std::size_t made = 0;
    for (int ch = 0; ch < c.channels; ++ch) {
      std::vector<double> v;
      long long phase = 0;
      long long prev = 0;
      for (std::size_t i = 0; i < frames; ++i) {
        const long long next = in[i * c.channels + ch];
        for (; phase < c.outRate; phase += c.inRate)
          v.push_back(
              std::nearbyint(double((c.outRate - phase) * prev + phase * next) / c.outRate));
        phase -= c.outRate;
        prev = next;
      }
      made = v.size();
      ASSERT_EQ(out.size(), made * c.channels);
      for (std::size_t f = 0; f < made; ++f) {
        double y = 0;
        for (int k = 0; k < c.K && static_cast<std::size_t>(k) <= f; ++k)
          y += v[f - k] * h[static_cast<std::size_t>(k)];
        const double r = std::clamp(std::nearbyint(y), -32768.0, 32767.0);
        if (out[f * c.channels + ch] != static_cast<std::int16_t>(r)) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0) << c.inRate << " -> " << c.outRate;
    EXPECT_NEAR(static_cast<double>(made), frames * double(c.outRate) / c.inRate, 1);
  }
}

TEST(RateConverterRising, EqualRatesDelayByThePreviousSample) {
  const auto in = ramp(1000, 7, 3);
  const auto out = convert(in, 44100, 1, 44100, 2);
  ASSERT_EQ(out.size(), in.size());
  // The previous sample (0) first, then the input; the [0, 1] kernel adds its own one-sample delay.
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  for (std::size_t i = 2; i < out.size(); ++i) ASSERT_EQ(out[i], in[i - 2]) << i;
}

TEST(RateConverterRising, EqualRatesPassALowToneDelayedThroughTheFilter) {
  // 30 taps: the filter's centre tap adds 15 samples to the one-sample delay.
  const auto in = testsupport::Sine(44100, 1, 20000, {300}, 12000);
  const auto out = convert(in, 44100, 1, 44100, 30);
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 100; i < out.size(); ++i) ASSERT_NEAR(out[i], in[i - 16], 40) << i;
}

TEST(RateConverterRising, ManyOutputsPerInputStayWithinTheBlock) {
  // 8000 -> 48000 Hz: six outputs per input, and blocks of a sixth of the usual size.
  const auto in = ramp(30000, -15000);
  PcmSource src(in, 8000, 1);
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.SetOutSampleRate(48000);
  rc.Init();
  EXPECT_EQ(rc.ReadSize(), 5460);  // 32768 / 6 = 5461.3, a multiple of 4
  const auto out = Samples16(readAll(rc, 32768));
  rc.Flush();
  EXPECT_EQ(out.size(), 6 * in.size());
}

TEST(RateConverterSpectrum, ToneSurvivesDownAndUpAndHighToneIsRemoved) {
  const int rate = 44100;
  const double amplitude = 10000;
  {
    PcmSource src(testsupport::Sine(rate, 1, rate, {1000}, amplitude), rate, 1);
    TRateConverter down(nullptr), up(nullptr);
    down.SetInput(&src);
    down.SetOutSampleRate(22050);
    up.SetInput(&down);
    up.SetOutSampleRate(44100);
    up.Init();
    const auto out = Samples16(readAll(up));
    up.Flush();
    ASSERT_GT(out.size(), 40000u);
    const double a = testsupport::ToneAmplitude(out, 1, 0, rate, 1000, 10000, 441 * 50);
    EXPECT_LT(std::fabs(20 * std::log10(a / amplitude)), 1.0) << a;
  }
  {
    // 15 kHz does not exist at 22050 Hz; whatever comes through is aliased to 7050 Hz.
    const auto out = convert(testsupport::Sine(rate, 1, rate, {15000}, amplitude), rate, 1, 22050);
    double energy = 0;
    for (std::size_t i = 1000; i < out.size() - 1000; ++i) energy += double(out[i]) * out[i];
    const double rms = std::sqrt(energy / double(out.size() - 2000));
    const double inputRms = amplitude / std::sqrt(2.0);
    EXPECT_LT(20 * std::log10(rms / inputRms), -40.0) << rms;
  }
}

TEST(RateConverterOutput, OvershootIsClippedNotWrapped) {
  // A full-scale square wave: the filter's ripple overshoots beyond the 16-bit range.
  std::vector<std::int16_t> in;
  for (int i = 0; i < 20000; ++i) in.push_back((i / 50) % 2 ? -32768 : 32767);
  const auto out = convert(in, 44100, 1, 44100, 30);
  ASSERT_EQ(out.size(), in.size());
  int maxSeen = 0, minSeen = 0;
  for (std::size_t i = 16; i < out.size(); ++i) {
    maxSeen = std::max<int>(maxSeen, out[i]);
    minSeen = std::min<int>(minSeen, out[i]);
    // Where the (delayed) input has been steady for a while the output has its sign.
    const std::size_t src = i - 16;
    const bool steady = src % 50 >= 10 && src % 50 < 40;
    if (steady) {
      ASSERT_EQ(out[i] > 0, in[src] > 0) << "wrapped at " << i << ": " << out[i];
    }
  }
  EXPECT_EQ(maxSeen, 32767);
  EXPECT_EQ(minSeen, -32768);
}

TEST(RateConverterProperties, DefaultsAndRefusedValues) {
  TRateConverter rc(nullptr);
  EXPECT_EQ(rc.FilterWindow(), fwBlackman);
  EXPECT_EQ(rc.KernelWidth(), 30);
  EXPECT_EQ(rc.OutSampleRate(), 22050);
  rc.SetKernelWidth(1);
  rc.SetOutSampleRate(0);
  rc.SetOutSampleRate(-5);
  EXPECT_EQ(rc.KernelWidth(), 30);
  EXPECT_EQ(rc.OutSampleRate(), 22050);
  rc.SetKernelWidth(2);
  rc.SetOutSampleRate(1);
  EXPECT_EQ(rc.KernelWidth(), 2);
  EXPECT_EQ(rc.OutSampleRate(), 1);

  PcmSource src(ramp(100), 44100, 1);
  rc.SetInput(&src);
  rc.SetOutSampleRate(11025);
  rc.SetKernelWidth(16);
  rc.Init();
  rc.SetKernelWidth(20);
  rc.SetOutSampleRate(8000);
  EXPECT_EQ(rc.KernelWidth(), 16) << "changed while busy";
  EXPECT_EQ(rc.OutSampleRate(), 11025) << "changed while busy";
  rc.SetFilterWindow(fwHann);
  EXPECT_EQ(rc.FilterWindow(), fwHann);
  rc.Flush();
  rc.SetKernelWidth(20);
  EXPECT_EQ(rc.KernelWidth(), 20);
}

TEST(RateConverterProperties, FormatAndMessages) {
  TRateConverter rc(nullptr);
  EXPECT_EQ(rc.GetBitsPerSample(), 16);
  EXPECT_EQ(rc.GetSampleRate(), 22050);
  EXPECT_EQ(MessageOf([&] { rc.GetChannels(); }), "Input not assigned");
  EXPECT_EQ(MessageOf([&] { rc.Init(); }), "Input not assigned");
  char buf[16];
  EXPECT_EQ(MessageOf([&] { rc.GetData(buf, 16); }), "The Stream is not opened");
  PcmSource src(std::vector<std::uint8_t>(200), 44100, 2, 8);
  rc.SetInput(&src);
  EXPECT_EQ(rc.GetChannels(), 2);
  EXPECT_EQ(rc.GetBitsPerSample(), 16);
  rc.Init();
  rc.Flush();
  EXPECT_EQ(MessageOf([&] { rc.GetData(buf, 16); }), "The Stream is not opened");
}

TEST(RateConverterSize, ScaledByTheRatioAndRoundedHalfToEven) {
  struct Case {
    int inRate, outRate, inSize, size, readSize;
  };
  const Case cases[] = {
      {44100, 22050, 1000, 500, 32768},  {44100, 22050, 1001, 500, 32768},  // 500.5 -> 500
      {44100, 22050, 1003, 502, 32768},                                     // 501.5 -> 502
      {22050, 44100, 1000, 2000, 16384}, {44100, 44100, 777, 777, 32768},
      {44100, 22050, -1, -1, 32768},  // an open length stays open
      {22050, 44100, -1, -1, 16384},
  };
  for (const Case& c : cases) {
    PcmSource src(ramp(10), c.inRate, 1);
    src.declaredSize = c.inSize;
    TRateConverter rc(nullptr);
    rc.SetInput(&src);
    rc.SetOutSampleRate(c.outRate);
    rc.Init();
    EXPECT_EQ(rc.Size(), c.size) << c.inRate << " -> " << c.outRate << ", " << c.inSize;
    EXPECT_EQ(rc.ReadSize(), c.readSize);
    rc.Flush();
  }
}

TEST(RateConverterRun, ReadsFullBlocksAndTracksPosition) {
  const auto in = ramp(30000);  // 60000 bytes
  PcmSource src(in, 44100, 1);
  src.piece = 1000;
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.Init();
  EXPECT_EQ(src.inits, 1);
  EXPECT_EQ(rc.Size(), 30000);
  std::vector<std::uint8_t> buf(100);
  ASSERT_EQ(rc.GetData(buf.data(), 100), 100);
  // One block of 32768 bytes was read in pieces of 1000 before anything was delivered.
  EXPECT_EQ(src.Position(), 32768);
  EXPECT_EQ(src.requests, 33);
  EXPECT_EQ(rc.Position(), 16384);  // Size / input Size x input Position
  const auto rest = readAll(rc);
  EXPECT_EQ(100 + rest.size(), 30000u);
  EXPECT_EQ(rc.Position(), 30000);
  // The short read that ended the input is remembered: no more requests after the end.
  const int requests = src.requests;
  EXPECT_EQ(rc.GetData(buf.data(), 100), 0);
  EXPECT_EQ(rc.GetData(buf.data(), 100), 0);
  EXPECT_EQ(src.requests, requests);
  rc.Flush();
  EXPECT_EQ(src.flushes, 1);
  EXPECT_FALSE(rc.Busy());
}

TEST(RateConverterRun, NewRunStartsFromSilence) {
  const auto in = testsupport::Sine(22050, 2, 9000, {500, 700}, 9000);
  PcmSource src(in, 22050, 2);
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.SetOutSampleRate(44100);
  rc.Init();
  const auto first = readAll(rc, 3000);
  rc.Flush();
  rc.Init();
  const auto second = readAll(rc, 7000);
  rc.Flush();
  EXPECT_EQ(first.size(), 2 * 9000 * 4u);
  EXPECT_EQ(first, second);
}

TEST(RateConverterRun, InputRateChangingUnderwayIsFollowedSafely) {
  // Starts at equal rates, then the input drops to 8000 Hz: each block then gives 5.5 times as many
  // outputs as the buffers were sized for at Init.
  const auto in = ramp(60000, -30000);
  PcmSource src(in, 44100, 1);
  src.rateChangeAt = 32769;  // asked after each block: the second block is the first at 8000 Hz
  src.newRate = 8000;
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.SetOutSampleRate(44100);
  rc.Init();
  const auto out = Samples16(readAll(rc, 65536));
  rc.Flush();
  const std::size_t firstBlock = 16384;
  const std::size_t rest = in.size() - firstBlock;
  // 16384 outputs for the first block; then 44100 / 8000 outputs per input.
  EXPECT_NEAR(static_cast<double>(out.size()), firstBlock + rest * 44100.0 / 8000.0, 2);
}

TEST(RateConverterRun, InputWithoutRateDeliversNothing) {
  PcmSource src(ramp(1000), 0, 1);
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.Init();
  char buf[64];
  EXPECT_EQ(rc.GetData(buf, 64), 0);
  rc.Flush();
}

TEST(SampleConverter, SixteenToEightBitValues) {
  const std::vector<std::int16_t> in = {32767, 0, -1, -32768, 256, 255, -256, -257};
  PcmSource src(in, 22050, 1);
  TSampleConverter sc(nullptr);
  sc.SetInput(&src);
  EXPECT_EQ(sc.GetBitsPerSample(), 8);
  sc.Init();
  EXPECT_EQ(sc.Size(), 8);
  EXPECT_EQ(sc.ReadSize(), 32768);
  const auto out = readAll(sc);
  sc.Flush();
  const std::vector<std::uint8_t> expected = {255, 128, 127, 0, 129, 128, 127, 126};
  EXPECT_EQ(out, expected);
}

TEST(SampleConverter, EightToSixteenBitValues) {
  const std::vector<std::uint8_t> in = {255, 128, 0, 129, 127, 1};
  PcmSource src(in, 11025, 2, 8);
  TSampleConverter sc(nullptr);
  sc.SetInput(&src);
  EXPECT_EQ(sc.GetBitsPerSample(), 16);
  EXPECT_EQ(sc.GetChannels(), 2);
  EXPECT_EQ(sc.GetSampleRate(), 11025);
  sc.Init();
  EXPECT_EQ(sc.Size(), 12);
  EXPECT_EQ(sc.ReadSize(), 16384);
  const auto out = Samples16(readAll(sc, 5));  // odd pieces: a sample split over two reads
  sc.Flush();
  const std::vector<std::int16_t> expected = {32512, 0, -32768, 256, -256, -32512};
  EXPECT_EQ(out, expected);
}

TEST(SampleConverter, FullBlocksSurviveTheInPlaceWidening) {
  // More than one block, so that the backward widening of a full buffer is exercised.
  std::vector<std::uint8_t> in(40000);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  PcmSource src(in, 8000, 1, 8);
  src.piece = 3000;
  TSampleConverter sc(nullptr);
  sc.SetInput(&src);
  sc.Init();
  const auto out = Samples16(readAll(sc, 4096));
  EXPECT_EQ(sc.Position(), 80000);
  sc.Flush();
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], (in[i] - 128) * 256) << i;
}

TEST(SampleConverter, SizesAndMessages) {
  struct Case {
    int bits, inSize, size;
  };
  for (const Case& c : {Case{16, 1000, 500}, Case{8, 1000, 2000}, Case{16, -1, -1}, Case{8, -1, -1},
                        Case{8, 0x7FFFFFF0, 0x7FFFFFFF}}) {
    PcmSource src(std::vector<std::uint8_t>(10), 8000, 1, c.bits);
    src.declaredSize = c.inSize;
    TSampleConverter sc(nullptr);
    sc.SetInput(&src);
    sc.Init();
    EXPECT_EQ(sc.Size(), c.size) << c.bits << " bits, " << c.inSize;
    sc.Flush();
  }
  TSampleConverter sc(nullptr);
  EXPECT_EQ(MessageOf([&] { sc.GetBitsPerSample(); }), "Input not assigned");
  EXPECT_EQ(MessageOf([&] { sc.GetChannels(); }), "Input not assigned");
  EXPECT_EQ(MessageOf([&] { sc.GetSampleRate(); }), "Input not assigned");
  EXPECT_EQ(MessageOf([&] { sc.Init(); }), "Input not assigned");
  char buf[4];
  EXPECT_EQ(MessageOf([&] { sc.GetData(buf, 4); }), "The Stream is not opened");
}
