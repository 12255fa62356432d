#include "audio/ACS_Indicator.h"

#include <cmath>

#include "audio/ACS_Procs.h"
#include "platform/runtime/ByteOrder.h"

namespace {

double Sample16(const unsigned char* p) {
  return static_cast<double>(static_cast<std::int16_t>(platform::GetLE16(p)));
}

}  // namespace

TSoundIndicator::TSoundIndicator(platform::TComponent* AOwner) : TACSConverter(AOwner) {
  HannWindow(FWindow.data(), kWindow, true);
}

TSoundIndicator::~TSoundIndicator() { Destroying(); }

TACSInput* TSoundIndicator::RequireInput() const {
  TACSInput* input = Input();
  if (!input) throw EACSException("Input is not assigned.");
  return input;
}

int TSoundIndicator::GetBitsPerSample() { return RequireInput()->GetBitsPerSample(); }
int TSoundIndicator::GetChannels() { return RequireInput()->GetChannels(); }
int TSoundIndicator::GetSampleRate() { return RequireInput()->GetSampleRate(); }

void TSoundIndicator::Init() {
  TACSInput* input = RequireInput();
  // Busy first: a failing Init of the input leaves the indicator busy, and the next Init simply
  // starts over.
  FBusy = true;
  input->Init();
  FSize = input->Size();
  {
    std::lock_guard<std::mutex> lock(FLevelsLock);
    FLevels.fill(0.0);
  }
  FAnalysing = false;
  FPosition = 0;
}

void TSoundIndicator::Flush() {
  FlushInput();
  FBusy = false;
  FAnalysing = false;
}

int TSoundIndicator::GetData(void* Buffer, int BufferSize) {
  if (!Busy()) throw EACSException("The Stream is not opened");
  int n = 0;
  int bits = 0;
  int channels = 0;
  {
    // The format and position are read under the same lock as the data, so that a live swap of
    // the input cannot pair one input's bytes with another's format.
    TInputLock::Guard guard(FInputLock);
    TACSInput* input = Input();
    if (!input) return 0;
    n = input->GetData(Buffer, BufferSize);
    FPosition = input->Position();
    if (n > 0) {
      bits = input->GetBitsPerSample();
      channels = input->GetChannels();
    }
  }
  if (n <= 0 || FAnalysing) return n;

  // The analysis only reads the caller's buffer, so the data handed on is never touched and no
  // per-call copy is needed. A failure inside it leaves the guard set, and later calls then pass
  // the data through unanalysed until the next Init or Flush.
  FAnalysing = true;
  Analyse(static_cast<const unsigned char*>(Buffer), n, bits, channels);
  FAnalysing = false;
  return n;
}

void TSoundIndicator::Analyse(const unsigned char* data, int n, int bits, int channels) {
  const bool eightBit = bits == 8;
  const bool mono = channels == 1;
  int frames;
  if (eightBit && mono) {
    frames = n;
  } else if (eightBit != mono) {
    frames = n / 2;
  } else {
    frames = n / 4;
  }
  const int blocks = frames / kBlock;
  if (blocks == 0) return;
  const int stride = (eightBit ? 1 : 2) * (mono ? 1 : 2);

  std::array<double, kBands> levels;
  {
    std::lock_guard<std::mutex> lock(FLevelsLock);
    levels = FLevels;
  }

  double x[kBlock];
  TComplex spectrum[kBlock];
  double lineLevels[kBlock];
  for (int b = 0; b < blocks; ++b) {
    const unsigned char* frame = data + static_cast<std::size_t>(b) * kBlock * stride;
    for (int i = 0; i < kBlock; ++i, frame += stride) {
      // 8-bit samples keep their offset of 128: the DC line of 8-bit audio is never 0, and the
      // levels of 8-bit material are comparable only with each other.
      if (eightBit) {
        x[i] = mono ? frame[0] : (frame[0] + frame[1]) / 2.0;
      } else {
        x[i] = mono ? Sample16(frame) : (Sample16(frame) + Sample16(frame + 2)) / 2.0;
      }
    }
    // The first 64 entries of the 1024-point window: the block is shaped by the window's rising
    // start, not by a 64-point window.
    MultiplyArrays(FWindow.data(), x, kBlock);
    for (int i = 0; i < kBlock; ++i) spectrum[i] = {x[i], 0.0};
    ComplexFFT(spectrum, kBlock, 1);
    LogMagnitudes(spectrum, lineLevels, kBlock, 0);

    bool finite = true;
    for (int k = 0; k < kBands; ++k) {
      levels[k] += lineLevels[k];
      finite = finite && std::isfinite(levels[k]);
    }
    if (!finite) levels.fill(0.0);
  }
  for (double& level : levels) level /= blocks;

  std::lock_guard<std::mutex> lock(FLevelsLock);
  FLevels = levels;
}

std::array<double, TSoundIndicator::kBands> TSoundIndicator::Levels() const {
  std::lock_guard<std::mutex> lock(FLevelsLock);
  return FLevels;
}
