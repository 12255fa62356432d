#pragma once
// Numeric procedures of the audio components: window functions, a windowed-sinc low-pass kernel,
// an in-place radix-2 complex FFT, an element-wise product and a log-magnitude conversion.
//
// They hold no state and work on arrays the caller owns, each at least N elements long.
// Intermediate values are computed in long double and stored as double. The constants 2 pi and
// 4 pi are the decimal values 6.28318530718 and 12.56637061436, not full-precision pi, so that
// results agree with what the components were tuned against.

#include <cstdint>

// One complex value: real part first, then imaginary part.
struct TComplex {
  double Re;
  double Im;
};

// The window of the rate converter's low-pass filter.
enum TFilterWindowType : std::uint8_t { fwHamming = 0, fwHann = 1, fwBlackman = 2 };

// Fill Values[0..N-1]. Symmetric: value i uses i / (N - 1), so both ends are equal; otherwise the
// periodic form, i / N. A one-value symmetric window is its periodic value. N <= 0 writes nothing.
void HannWindow(double* Values, int N, bool Symmetric);
void HammingWindow(double* Values, int N, bool Symmetric);
void BlackmanWindow(double* Values, int N, bool Symmetric);

// Fill Kernel[0..N-1] with a windowed-sinc low-pass filter whose coefficients sum to 1. CutOff is a
// fraction of the sample rate (0.5 = half the rate). The centre tap is N / 2 (whole part). When the
// coefficients would sum to 0 (zero cut-off, or a window that is 0 everywhere) the kernel is a unit
// impulse at the centre tap. Throws std::invalid_argument for an unknown WindowType.
void LowPassKernel(double* Kernel, int N, TFilterWindowType WindowType, double CutOff);

// Transform Data[0..N-1] in place. Direction 1: forward, X[k] = (1/N) sum x[n] e^(-2 pi i k n / N);
// any other Direction: inverse, unscaled, sum X[k] e^(+2 pi i k n / N).
// Throws std::invalid_argument when N is not a positive power of two.
void ComplexFFT(TComplex* Data, int N, int Direction);

// B[i] = A[i] * B[i] for i = 0..N-1.
void MultiplyArrays(const double* A, double* B, int N);

// Levels[i] = log10 |Data[i]| + Offset when that is >= 0, otherwise 0; 0 for a magnitude of 0.
void LogMagnitudes(const TComplex* Data, double* Levels, int N, int Offset);
