// Window functions, low-pass kernel, FFT, product and log magnitudes.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

#include "audio/ACS_Procs.h"

namespace {

constexpr double kTol = 1e-12;

// Gain of a real FIR kernel at a frequency given as a fraction of the sample rate.
double Gain(const std::vector<double>& h, double f) {
  std::complex<double> sum = 0;
  for (std::size_t n = 0; n < h.size(); ++n) {
    sum += h[n] * std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(n));
  }
  return std::abs(sum);
}

std::vector<TComplex> NaiveDft(const std::vector<TComplex>& x, bool forward) {
  const std::size_t n = x.size();
  std::vector<TComplex> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::complex<long double> sum = 0;
    for (std::size_t t = 0; t < n; ++t) {
      const long double angle =
          (forward ? -2.0L : 2.0L) * std::numbers::pi_v<long double> * k * t / n;
      sum += std::complex<long double>(x[t].Re, x[t].Im) *
             std::complex<long double>(std::cos(angle), std::sin(angle));
    }
    if (forward) sum /= static_cast<long double>(n);
    out[k] = {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
  }
  return out;
}

std::vector<TComplex> RandomSignal(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1000.0, 1000.0);
  std::vector<TComplex> x(static_cast<std::size_t>(n));
  for (auto& v : x) v = {dist(gen), dist(gen)};
  return x;
}

}  // namespace

TEST(Windows, HannSymmetric1024HasZeroEndsAndKnownValue) {
  std::vector<double> w(1024);
  HannWindow(w.data(), 1024, true);
  EXPECT_NEAR(w[0], 0.0, kTol);
  EXPECT_NEAR(w[1023], 0.0, 1e-9);
  EXPECT_NEAR(w[63], 0.0369661, 1e-7);
  EXPECT_NEAR(w[511], w[512], 1e-12);  // symmetric about the middle
  EXPECT_NEAR(w[100], w[923], 1e-12);
}

TEST(Windows, HannOfFourValuesPeriodicAndSymmetric) {
  std::vector<double> w(4);
  HannWindow(w.data(), 4, false);
  EXPECT_NEAR(w[0], 0.0, kTol);
  EXPECT_NEAR(w[1], 0.5, kTol);
  EXPECT_NEAR(w[2], 1.0, kTol);
  EXPECT_NEAR(w[3], 0.5, kTol);
  HannWindow(w.data(), 4, true);
  EXPECT_NEAR(w[0], 0.0, kTol);
  EXPECT_NEAR(w[1], 0.75, kTol);
  EXPECT_NEAR(w[2], 0.75, kTol);
  EXPECT_NEAR(w[3], 0.0, kTol);
}

TEST(Windows, HammingEndsAndPeak) {
  std::vector<double> w(9);
  HammingWindow(w.data(), 9, true);
  EXPECT_NEAR(w[0], 0.08, kTol);
  EXPECT_NEAR(w[8], 0.08, kTol);
  EXPECT_NEAR(w[4], 1.0, kTol);
  HammingWindow(w.data(), 8, false);
  EXPECT_NEAR(w[0], 0.08, kTol);
  EXPECT_NEAR(w[4], 1.0, kTol);  // periodic peak at N / 2
  EXPECT_NEAR(w[7], 0.54 - 0.46 * std::cos(2 * std::numbers::pi * 7 / 8), 1e-10);
}

TEST(Windows, BlackmanStartsAtZeroAndPeaksAtOne) {
  std::vector<double> w(11);
  BlackmanWindow(w.data(), 11, true);
  EXPECT_NEAR(w[0], 0.0, kTol);
  EXPECT_NEAR(w[10], 0.0, 1e-10);
  EXPECT_NEAR(w[5], 1.0, kTol);
  EXPECT_NEAR(w[2],
              0.42 - 0.5 * std::cos(2 * std::numbers::pi * 0.2) +
                  0.08 * std::cos(4 * std::numbers::pi * 0.2),
              1e-10);
}

TEST(Windows, OneValueSymmetricWindowIsFiniteAndNoneWritesNothing) {
  double v = -7.0;
  HannWindow(&v, 1, true);
  EXPECT_NEAR(v, 0.0, kTol);
  HammingWindow(&v, 1, true);
  EXPECT_NEAR(v, 0.08, kTol);
  v = -7.0;
  BlackmanWindow(&v, 0, true);
  EXPECT_EQ(v, -7.0);
}

TEST(LowPassKernel, SumsToOneForEveryWindow) {
  for (auto type : {fwHamming, fwHann, fwBlackman}) {
    for (int n : {2, 7, 30, 31, 64}) {
      std::vector<double> h(static_cast<std::size_t>(n));
      LowPassKernel(h.data(), n, type, 0.2);
      double sum = 0;
      for (double v : h) sum += v;
      EXPECT_NEAR(sum, 1.0, 1e-12) << "window " << int(type) << " N " << n;
    }
  }
}

TEST(LowPassKernel, EvenLengthHasOneMoreTapBeforeTheCentre) {
  const int n = 30;
  std::vector<double> h(n);
  LowPassKernel(h.data(), n, fwBlackman, 0.2);
  const int m = n / 2;
  for (int d = 1; d < m; ++d) EXPECT_NEAR(h[m - d], h[m + d], 1e-12) << d;
  // The peak is the centre tap, and the extra tap h[0] has no partner after the centre.
  for (int i = 0; i < n; ++i) {
    if (i != m) {
      EXPECT_LT(h[i], h[m]);
    }
  }
}

TEST(LowPassKernel, OddLengthCentreTapIsTheWholePartOfHalf) {
  const int n = 31;
  std::vector<double> h(n);
  LowPassKernel(h.data(), n, fwHann, 0.1);
  int peak = 0;
  for (int i = 1; i < n; ++i) {
    if (h[i] > h[peak]) peak = i;
  }
  EXPECT_EQ(peak, 15);
}

TEST(LowPassKernel, FollowsTheWindowedSincFormula) {
  const int n = 16;
  const double cut = 0.125;
  std::vector<double> h(n), w(n);
  LowPassKernel(h.data(), n, fwHamming, cut);
  HammingWindow(w.data(), n, false);
  std::vector<double> raw(n);
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const int d = i - n / 2;
    raw[i] = d == 0 ? 6.28318530718 * cut * w[i] : std::sin(6.28318530718 * cut * d) / d * w[i];
    sum += raw[i];
  }
  for (int i = 0; i < n; ++i) EXPECT_NEAR(h[i], raw[i] / sum, 1e-12) << i;
}

TEST(LowPassKernel, PassesLowFrequenciesAndStopsHighOnes) {
  std::vector<double> h(64);
  LowPassKernel(h.data(), 64, fwBlackman, 0.1);
  EXPECT_NEAR(Gain(h, 0.0), 1.0, 1e-12);
  EXPECT_NEAR(Gain(h, 0.03), 1.0, 0.01);
  EXPECT_NEAR(Gain(h, 0.1), 0.5, 0.06);  // the cut-off is the -6 dB point of a windowed sinc
  EXPECT_LT(Gain(h, 0.2), 1e-3);
  EXPECT_LT(Gain(h, 0.4), 1e-3);
}

TEST(LowPassKernel, DegenerateInputsGiveAUnitImpulseNotNaN) {
  std::vector<double> h(9);
  LowPassKernel(h.data(), 9, fwHamming, 0.0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(h[i], i == 4 ? 1.0 : 0.0) << i;
  double one = 0;
  LowPassKernel(&one, 1, fwHann, 0.25);  // a one-value Hann window is 0
  EXPECT_EQ(one, 1.0);
  EXPECT_THROW(LowPassKernel(h.data(), 9, static_cast<TFilterWindowType>(3), 0.2),
               std::invalid_argument);
}

TEST(ComplexFFT, ForwardOfOnesIsScaledImpulseAndInverseRestores) {
  std::vector<TComplex> x(64, TComplex{1.0, 0.0});
  ComplexFFT(x.data(), 64, 1);
  EXPECT_NEAR(x[0].Re, 1.0, kTol);
  EXPECT_NEAR(x[0].Im, 0.0, kTol);
  for (int i = 1; i < 64; ++i) {
    EXPECT_NEAR(x[i].Re, 0.0, kTol) << i;
    EXPECT_NEAR(x[i].Im, 0.0, kTol) << i;
  }
  ComplexFFT(x.data(), 64, 0);
  for (int i = 0; i < 64; ++i) {
    EXPECT_NEAR(x[i].Re, 1.0, kTol) << i;
    EXPECT_NEAR(x[i].Im, 0.0, kTol) << i;
  }
}

TEST(ComplexFFT, MatchesTheDefinitionInBothDirections) {
  for (int n : {1, 2, 4, 8, 64, 256}) {
    const auto x = RandomSignal(n, static_cast<unsigned>(n));
    for (int direction : {1, -1}) {
      auto y = x;
      ComplexFFT(y.data(), n, direction);
      const auto ref = NaiveDft(x, direction == 1);
      for (int k = 0; k < n; ++k) {
        EXPECT_NEAR(y[k].Re, ref[k].Re, 1e-8) << "n " << n << " dir " << direction << " k " << k;
        EXPECT_NEAR(y[k].Im, ref[k].Im, 1e-8) << "n " << n << " dir " << direction << " k " << k;
      }
    }
  }
}

TEST(ComplexFFT, ForwardUsesTheNegativeExponent) {
  // e^(+2 pi i 3 n / 16) must land in bin 3, not bin 13.
  std::vector<TComplex> x(16);
  for (int n = 0; n < 16; ++n)
    x[n] = {std::cos(2 * std::numbers::pi * 3 * n / 16),
            std::sin(2 * std::numbers::pi * 3 * n / 16)};
  ComplexFFT(x.data(), 16, 1);
  EXPECT_NEAR(x[3].Re, 1.0, 1e-9);
  EXPECT_NEAR(std::hypot(x[13].Re, x[13].Im), 0.0, 1e-9);
}

TEST(ComplexFFT, RefusesLengthsThatAreNotPowersOfTwo) {
  std::vector<TComplex> x(12, TComplex{1.0, 0.0});
  EXPECT_THROW(ComplexFFT(x.data(), 12, 1), std::invalid_argument);
  EXPECT_THROW(ComplexFFT(x.data(), 0, 1), std::invalid_argument);
  EXPECT_THROW(ComplexFFT(x.data(), -4, 1), std::invalid_argument);
  EXPECT_EQ(x[0].Re, 1.0);  // untouched
}

TEST(MultiplyArrays, MultipliesElementwiseIntoSecondArray) {
  const double a[4] = {1.5, -2.0, 0.0, 4.0};
  double b[5] = {2.0, 3.0, 7.0, 0.25, 99.0};
  MultiplyArrays(a, b, 4);
  EXPECT_EQ(b[0], 3.0);
  EXPECT_EQ(b[1], -6.0);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_EQ(b[3], 1.0);
  EXPECT_EQ(b[4], 99.0);  // beyond N stays
}

TEST(LogMagnitudes, ZeroNegativeLogAndOffset) {
  const TComplex data[5] = {{0.0, 0.0}, {0.5, 0.0}, {100.0, 0.0}, {0.0, -0.5}, {60.0, 80.0}};
  double levels[5];
  LogMagnitudes(data, levels, 5, 0);
  EXPECT_EQ(levels[0], 0.0);
  EXPECT_EQ(levels[1], 0.0);
  EXPECT_NEAR(levels[2], 2.0, kTol);
  EXPECT_EQ(levels[3], 0.0);
  EXPECT_NEAR(levels[4], 2.0, kTol);  // |60 + 80i| = 100
  LogMagnitudes(data, levels, 5, 3);
  EXPECT_EQ(levels[0], 0.0);  // a zero magnitude ignores the offset
  EXPECT_NEAR(levels[1], 2.69897, 1e-5);
  EXPECT_NEAR(levels[2], 5.0, kTol);
  EXPECT_NEAR(levels[3], 2.69897, 1e-5);
}
