#include "audio/ACS_Converters.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr int kBlockBytes = 32768;  // one block of input (falling rates) or of output

// Every rounding of the converters: to the nearest integer, halves to even. Adding and taking away
// 1.5 x 2^52 leaves no fraction bits, so the addition itself rounds, and in the default rounding
// mode it rounds half to even; exact for |v| < 2^51, far beyond any sample or size here.
double roundEven(double v) {
  constexpr double kShift = 6755399441055744.0;
  if (!(std::fabs(v) < 2251799813685248.0)) return std::nearbyint(v);
  return (v + kShift) - kShift;
}

int clampToInt(double v) {
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

// A filtered sum beyond the 16-bit range is clipped: wrapping it round would turn an overshoot of
// the filter into a full-scale click of the opposite sign.
std::int16_t toSample(double sum) {
  if (sum >= 32767.0) return 32767;
  if (sum <= -32768.0) return -32768;
  return static_cast<std::int16_t>(roundEven(sum));
}

// Two doubles side by side (GCC and Clang vector extension): one SSE2 register, so that a product
// and a sum work on two taps, or on the two channels of one tap, at once.
typedef double v2d __attribute__((vector_size(16)));

inline v2d load2(const double* p) {
  v2d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// sums[c] = sum over m < K of h[m] x w[m * CH + c]: one filter output per channel from frames of CH
// interleaved values. hh is the kernel with each tap repeated CH times, so the products are taken
// element by element over two plain arrays of K x CH values, two at a time; with two channels the
// two halves of each pair are the two channels. Four partial sums keep the additions independent,
// so that they overlap instead of each waiting for the one before.
template <int CH>
void dot(const double* hh, const double* w, int K, double* sums) {
  const int n = K * CH;
  v2d a0 = {0, 0}, a1 = {0, 0}, a2 = {0, 0}, a3 = {0, 0};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    a0 += load2(hh + i) * load2(w + i);
    a1 += load2(hh + i + 2) * load2(w + i + 2);
    a2 += load2(hh + i + 4) * load2(w + i + 4);
    a3 += load2(hh + i + 6) * load2(w + i + 6);
  }
  for (; i + 2 <= n; i += 2) a0 += load2(hh + i) * load2(w + i);
  const v2d a = (a0 + a1) + (a2 + a3);
  if constexpr (CH == 2) {
    sums[0] = a[0];
    sums[1] = a[1];
  } else {
    double s = a[0] + a[1];
    if (i < n) s += hh[i] * w[i];  // an odd number of taps
    sums[0] = s;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TRateConverter

TRateConverter::TRateConverter(platform::TComponent* AOwner) : TACSConverter(AOwner) {}

TRateConverter::~TRateConverter() { Destroying(); }

int TRateConverter::GetBitsPerSample() { return 16; }

int TRateConverter::GetChannels() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  return input->GetChannels();
}

int TRateConverter::GetSampleRate() { return FOutSampleRate; }

void TRateConverter::SetKernelWidth(int Value) {
  if (Value > 1 && !Busy()) FKernelWidth = Value;
}

void TRateConverter::SetOutSampleRate(int Value) {
  if (Value > 0 && !Busy()) FOutSampleRate = Value;
}

void TRateConverter::Init() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  input->Init();
  FInputLock.Unlock();
  FBusy = true;
  FPosition = 0;
  FBufStart = 1;
  FBufEnd = 0;
  FEndOfInput = false;

  const int inRate = input->GetSampleRate();
  FStereo = input->GetChannels() != 1;
  const int channels = FStereo ? 2 : 1;
  const int K = FKernelWidth;
  // An input without a rate (a file that could not be read) has nothing that could be resampled.
  if (inRate <= 0) {
    FRatio = 1.0f;
    FEndOfInput = true;
  } else {
    FRatio = static_cast<float>(FOutSampleRate) / static_cast<float>(inRate);
  }
  // A rising rate reads less per block so that one block's output stays within kBlockBytes.
  FReadSize = FRatio <= 1.0f ? kBlockBytes
                             : static_cast<int>(static_cast<double>(kBlockBytes) / FRatio) & ~3;
  FReadSize = std::max(FReadSize, 4);
  const int maxFrames = FReadSize / (2 * channels);

  FIn.assign(static_cast<std::size_t>(FReadSize), 0);
  FOut.assign(kBlockBytes / 2, 0);
  FWork.assign(static_cast<std::size_t>((K - 1 + maxFrames) * channels), 0.0);
  // Rising rates need the accumulator; falling ones start it with just a zero carry, in case a live
  // swap brings an input whose rate rises.
  FAcc.assign(static_cast<std::size_t>((FRatio >= 1.0f ? K + kBlockBytes / 2 / channels : K - 1) *
                                       channels),
              0.0);

  const int inSize = input->Size();
  FSize = inSize == -1 ? -1 : clampToInt(roundEven(static_cast<double>(FRatio) * inSize));
  FPhase = -1;
  FPrev[0] = FPrev[1] = 0;

  FKernel.assign(static_cast<std::size_t>(K), 0.0);
  const float cutOff = FRatio <= 1.0f ? 0.4f * FRatio : 0.4f / FRatio;
  LowPassKernel(FKernel.data(), K, FFilterWindow, cutOff);
  FKernelFrames.resize(static_cast<std::size_t>(K * channels));
  for (int k = 0; k < K; ++k)
    for (int c = 0; c < channels; ++c)
      FKernelFrames[static_cast<std::size_t>(k * channels + c)] =
          FKernel[static_cast<std::size_t>(k)];
}

void TRateConverter::Flush() {
  FlushInput();
  // The block buffers go; the accumulators and the kernel stay for the next Init to reuse.
  std::vector<std::uint8_t>().swap(FIn);
  std::vector<std::int16_t>().swap(FOut);
  std::vector<double>().swap(FWork);
  FBusy = false;
}

int TRateConverter::GetData(void* Buffer, int BufferSize) {
  if (!Busy()) throw EACSException("The Stream is not opened");
  // A block can give no output at all (a rate falling steeply, a trailing odd byte): then the next
  // block is read, so that 0 is returned only at the end of the input.
  while (FBufStart > FBufEnd) {
    if (FEndOfInput) return 0;
    const int got = GetInputBlock(FIn.data(), FReadSize, FEndOfInput);
    if (got <= 0) return 0;
    int inRate = 0;
    {
      // Asked at every block, under the input lock: the Input may have been swapped or removed.
      TInputLock::Guard guard(FInputLock);
      if (TACSInput* input = Input()) inRate = input->GetSampleRate();
    }
    if (inRate <= 0) {
      FEndOfInput = true;
      return 0;
    }
    FBufEnd = ConvertBlock(got / (FStereo ? 4 : 2), inRate);
    FBufStart = 1;
  }
  const int count = std::min(BufferSize, FBufEnd - FBufStart + 1);
  if (count <= 0) return 0;
  std::memcpy(Buffer, reinterpret_cast<const std::uint8_t*>(FOut.data()) + (FBufStart - 1),
              static_cast<std::size_t>(count));
  FBufStart += count;
  TInputLock::Guard guard(FInputLock);
  if (TACSInput* input = Input()) {
    const int inSize = input->Size();
    const double scale =
        inSize > 0 ? static_cast<double>(Size()) / inSize : static_cast<double>(FRatio);
    FPosition = clampToInt(roundEven(scale * input->Position()));
  }
  return count;
}

int TRateConverter::ConvertBlock(int frames, int inRate) {
  const int K = FKernelWidth;
  const int channels = FStereo ? 2 : 1;
  const std::size_t count = static_cast<std::size_t>(frames) * channels;
  double* w = FWork.data() + static_cast<std::size_t>(K - 1) * channels;
  for (std::size_t i = 0; i < count; ++i) {
    std::int16_t s;
    std::memcpy(&s, FIn.data() + 2 * i, 2);
    w[i] = s;
  }
  if (inRate > FOutSampleRate)
    return FStereo ? Falling<2>(frames, inRate) : Falling<1>(frames, inRate);
  return FStereo ? Rising<2>(frames, inRate) : Rising<1>(frames, inRate);
}

template <int CH>
int TRateConverter::Falling(int frames, int inRate) {
  const int K = FKernelWidth;
  const std::int64_t out = FOutSampleRate;
  const std::int64_t step = inRate - out;
  if (FPhase < 0) FPhase = out;
  const double* hh = FKernelFrames.data();
  const double* w = FWork.data();
  std::int16_t* o = FOut.data();
  int produced = 0;
  for (int j = 0; j < frames; ++j) {
    if (FPhase > out) {
      FPhase -= out;
      continue;
    }
    // The output for input frame j is the sum over k of h[K-1-k] x[j-k]; FWork holds x[j-k] at
    // frame K-1+j-k, so with m = K-1-k it is the plain dot product of h and FWork from frame j.
    double sums[CH];
    dot<CH>(hh, w + static_cast<std::size_t>(j) * CH, K, sums);
    for (int c = 0; c < CH; ++c) o[static_cast<std::size_t>(produced) * CH + c] = toSample(sums[c]);
    ++produced;
    FPhase += step;
  }
  // The carry: the last K-1 frames seen, for the next block's first outputs.
  std::memmove(FWork.data(), FWork.data() + static_cast<std::size_t>(frames) * CH,
               sizeof(double) * static_cast<std::size_t>(K - 1) * CH);
  return produced * CH * 2;
}

template <int CH>
int TRateConverter::Rising(int frames, int inRate) {
  const int K = FKernelWidth;
  const std::int64_t out = FOutSampleRate;
  if (FPhase < 0) FPhase = 0;

  // Outputs are made at phases FPhase, FPhase + inRate, ... below frames x out.
  const std::int64_t span = static_cast<std::int64_t>(frames) * out;
  const std::int64_t outputs = span > FPhase ? (span - FPhase + inRate - 1) / inRate : 0;
  // Init sized the buffers for the rate it saw; only a rate changed under a live input swap needs
  // more room.
  const std::size_t needAcc = static_cast<std::size_t>(outputs + K - 1) * CH;
  if (FAcc.size() < needAcc) FAcc.resize(needAcc, 0.0);
  std::fill(FAcc.begin() + (K - 1) * CH, FAcc.begin() + static_cast<std::ptrdiff_t>(needAcc), 0.0);
  if (FOut.size() < static_cast<std::size_t>(outputs * CH))
    FOut.resize(static_cast<std::size_t>(outputs * CH));

  const double* h = FKernel.data();
  const double* x = FWork.data() + static_cast<std::size_t>(K - 1) * CH;
  double* acc = FAcc.data();
  std::int64_t phase = FPhase;
  std::int64_t f = 0;
  std::int64_t a[CH], b[CH];
  for (int c = 0; c < CH; ++c) a[c] = FPrev[c];
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < CH; ++c)
      b[c] = static_cast<std::int64_t>(x[static_cast<std::size_t>(i) * CH + c]);
    while (phase < out) {
      double v[CH];
      for (int c = 0; c < CH; ++c)
        v[c] = roundEven(static_cast<double>((out - phase) * a[c] + phase * b[c]) /
                         static_cast<double>(out));
      // Each interpolated value is spread over the next K output sums.
      double* dst = acc + static_cast<std::size_t>(f) * CH;
      for (int k = 0; k < K; ++k)
        for (int c = 0; c < CH; ++c) dst[k * CH + c] += v[c] * h[k];
      ++f;
      phase += inRate;
    }
    phase -= out;
    for (int c = 0; c < CH; ++c) a[c] = b[c];
  }
  FPhase = phase;
  for (int c = 0; c < CH; ++c) FPrev[c] = static_cast<int>(a[c]);

  const std::size_t made = static_cast<std::size_t>(f) * CH;
  for (std::size_t i = 0; i < made; ++i) FOut[i] = toSample(acc[i]);
  // The carry: the K-1 sums that still miss contributions from the next block.
  std::memmove(acc, acc + made, sizeof(double) * static_cast<std::size_t>(K - 1) * CH);
  return static_cast<int>(made) * 2;
}

// ---------------------------------------------------------------------------------------------
// TSampleConverter

TSampleConverter::TSampleConverter(platform::TComponent* AOwner) : TACSConverter(AOwner) {}

TSampleConverter::~TSampleConverter() { Destroying(); }

int TSampleConverter::GetBitsPerSample() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  return input->GetBitsPerSample() == 16 ? 8 : 16;
}

int TSampleConverter::GetChannels() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  return input->GetChannels();
}

int TSampleConverter::GetSampleRate() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  return input->GetSampleRate();
}

void TSampleConverter::Init() {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input not assigned");
  input->Init();
  FBusy = true;
  FPosition = 0;
  FBufStart = 1;
  FBufEnd = 0;
  FInputLock.Unlock();
  FEndOfInput = false;
  FFromSixteen = input->GetBitsPerSample() == 16;
  FReadSize = FFromSixteen ? kBufferSize : kBufferSize / 2;
  const int inSize = input->Size();
  if (inSize == -1)
    FSize = -1;
  else if (FFromSixteen)
    FSize = inSize / 2;
  else
    FSize = inSize > INT_MAX / 2 ? INT_MAX : inSize * 2;
}

void TSampleConverter::Flush() {
  FlushInput();
  FBusy = false;
}

int TSampleConverter::GetData(void* Buffer, int BufferSize) {
  if (!Busy()) throw EACSException("The Stream is not opened");
  while (FBufStart > FBufEnd) {
    if (FEndOfInput) return 0;
    const int got = GetInputBlock(FBuffer, FReadSize, FEndOfInput);
    if (got <= 0) return 0;
    if (FFromSixteen) {
      const int samples = got / 2;
      for (int i = 0; i < samples; ++i) {
        std::int16_t s;
        std::memcpy(&s, FBuffer + 2 * i, 2);
        FBuffer[i] = static_cast<std::uint8_t>((s + 32768) >> 8);
      }
      FBufEnd = samples;
    } else {
      // Backwards, so that every byte is read before the wider sample overwrites it.
      for (int i = got - 1; i >= 0; --i) {
        const auto s = static_cast<std::int16_t>((FBuffer[i] - 128) * 256);
        std::memcpy(FBuffer + 2 * i, &s, 2);
      }
      FBufEnd = got * 2;
    }
    FBufStart = 1;
  }
  const int count = std::min(BufferSize, FBufEnd - FBufStart + 1);
  if (count <= 0) return 0;
  std::memcpy(Buffer, FBuffer + (FBufStart - 1), static_cast<std::size_t>(count));
  FBufStart += count;
  TInputLock::Guard guard(FInputLock);
  if (TACSInput* input = Input()) {
    const int inSize = input->Size();
    const double scale =
        inSize > 0 ? static_cast<double>(Size()) / inSize : (FFromSixteen ? 0.5 : 2.0);
    FPosition = clampToInt(roundEven(scale * input->Position()));
  }
  return count;
}
