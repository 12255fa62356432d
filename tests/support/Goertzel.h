#pragma once
// The amplitude of one frequency in a signal (Goertzel's algorithm), for the tests that check that
// a tone came through.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace tw_test {

// Amplitude of the `hz` component of the `count` samples sample(0) ... sample(count - 1), taken
// `rate` times a second: a sine of peak A at `hz` gives about A.
template <typename SampleAt>
double GoertzelAmplitude(SampleAt&& sample, std::size_t count, double hz, double rate) {
  const double coeff = 2 * std::cos(2 * std::numbers::pi * hz / rate);
  double s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double s0 = sample(i) + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
}

}  // namespace tw_test
