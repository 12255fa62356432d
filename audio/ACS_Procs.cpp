#include "audio/ACS_Procs.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

// The rounded decimal values are kept on purpose: the indicator's levels and the rate converter's
// coefficients were tuned with them, and full-precision pi would shift results in the last digits.
constexpr long double kTwoPi = 6.28318530718L;
constexpr long double kFourPi = 12.56637061436L;

// The divisor of the window's phase. A one-value symmetric window would divide by zero; it takes
// the periodic form instead, which gives the formula's value at its start.
long double WindowSpan(int N, bool Symmetric) {
  const int m = Symmetric ? N - 1 : N;
  return m > 0 ? static_cast<long double>(m) : 1.0L;
}

}  // namespace

void HannWindow(double* Values, int N, bool Symmetric) {
  const long double span = WindowSpan(N, Symmetric);
  for (int i = 0; i < N; ++i) {
    Values[i] = static_cast<double>((1.0L - std::cos(kTwoPi * i / span)) / 2.0L);
  }
}

void HammingWindow(double* Values, int N, bool Symmetric) {
  const long double span = WindowSpan(N, Symmetric);
  for (int i = 0; i < N; ++i) {
    Values[i] = static_cast<double>(0.54L - 0.46L * std::cos(kTwoPi * i / span));
  }
}

void BlackmanWindow(double* Values, int N, bool Symmetric) {
  const long double span = WindowSpan(N, Symmetric);
  for (int i = 0; i < N; ++i) {
    Values[i] = static_cast<double>(0.42L - 0.5L * std::cos(kTwoPi * i / span) +
                                    0.08L * std::cos(kFourPi * i / span));
  }
}

void LowPassKernel(double* Kernel, int N, TFilterWindowType WindowType, double CutOff) {
  if (N <= 0) return;
  std::vector<double> w(static_cast<std::size_t>(N));
  switch (WindowType) {
    case fwHamming:
      HammingWindow(w.data(), N, false);
      break;
    case fwHann:
      HannWindow(w.data(), N, false);
      break;
    case fwBlackman:
      BlackmanWindow(w.data(), N, false);
      break;
    default:
      throw std::invalid_argument("LowPassKernel: unknown window type");
  }

  // No division by pi in the sinc: the normalisation below makes that scale irrelevant.
  const int m = N / 2;
  const long double omega = kTwoPi * static_cast<long double>(CutOff);
  long double sum = 0.0L;
  for (int i = 0; i < N; ++i) {
    const int d = i - m;
    const long double k = d == 0 ? omega * w[static_cast<std::size_t>(i)]
                                 : std::sin(omega * d) / d * w[static_cast<std::size_t>(i)];
    Kernel[i] = static_cast<double>(k);
    sum += k;
  }

  // A zero sum cannot be normalised to unity gain; a unit impulse at the centre has it, and the
  // alternative would be a kernel of NaNs that poisons every sample it touches.
  if (sum == 0.0L || !std::isfinite(static_cast<double>(sum))) {
    for (int i = 0; i < N; ++i) Kernel[i] = i == m ? 1.0 : 0.0;
    return;
  }
  for (int i = 0; i < N; ++i) Kernel[i] = static_cast<double>(Kernel[i] / sum);
}

void ComplexFFT(TComplex* Data, int N, int Direction) {
  // The bit-reversal walk below indexes past N for any other length.
  if (N <= 0 || (N & (N - 1)) != 0) {
    throw std::invalid_argument("ComplexFFT: N must be a positive power of two");
  }
  int stages = 0;
  while ((1 << stages) < N) ++stages;

  for (int i = 0, j = 0; i < N - 1; ++i) {
    if (i < j) std::swap(Data[i], Data[j]);
    int k = N / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // The twiddle step of each stage comes from the previous one by the half-angle formulas, starting
  // from the angle pi of the first stage; no sine table, one sqrt pair per stage.
  long double c = -1.0L;
  long double s = 0.0L;
  int half = 1;
  for (int stage = 0; stage < stages; ++stage) {
    const int step = 2 * half;
    long double wRe = 1.0L;
    long double wIm = 0.0L;
    for (int k = 0; k < half; ++k) {
      for (int t = k; t < N; t += step) {
        const TComplex d = Data[t + half];
        const long double uRe = wRe * d.Re - wIm * d.Im;
        const long double uIm = wRe * d.Im + wIm * d.Re;
        const long double aRe = Data[t].Re;
        const long double aIm = Data[t].Im;
        Data[t + half].Re = static_cast<double>(aRe - uRe);
        Data[t + half].Im = static_cast<double>(aIm - uIm);
        Data[t].Re = static_cast<double>(aRe + uRe);
        Data[t].Im = static_cast<double>(aIm + uIm);
      }
      const long double nextRe = wRe * c - wIm * s;
      wIm = wRe * s + wIm * c;
      wRe = nextRe;
    }
    s = std::sqrt((1.0L - c) / 2.0L);
    if (Direction == 1) s = -s;
    c = std::sqrt((1.0L + c) / 2.0L);
    half = step;
  }

  if (Direction == 1) {
    for (int i = 0; i < N; ++i) {
      Data[i].Re = static_cast<double>(Data[i].Re / static_cast<long double>(N));
      Data[i].Im = static_cast<double>(Data[i].Im / static_cast<long double>(N));
    }
  }
}

void MultiplyArrays(const double* A, double* B, int N) {
  for (int i = 0; i < N; ++i) B[i] = A[i] * B[i];
}

void LogMagnitudes(const TComplex* Data, double* Levels, int N, int Offset) {
  const long double invLog2Of10 = 1.0L / std::log2(10.0L);
  for (int i = 0; i < N; ++i) {
    const long double re = Data[i].Re;
    const long double im = Data[i].Im;
    const long double m = std::sqrt(re * re + im * im);
    if (m == 0.0L) {
      Levels[i] = 0.0;
      continue;
    }
    const long double v = std::log2(m) * invLog2Of10 + Offset;
    Levels[i] = v >= 0.0L ? static_cast<double>(v) : 0.0;
  }
}
