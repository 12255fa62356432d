#pragma once
// What the card benchmarks record in: the card's own rate, 16 bits, stereo.

#include "platform/softcard/CardFormat.h"
#include "platform/softcard/WaveIn.h"

namespace bench {

inline platform::PCMWAVEFORMAT CardStereo16() {
  platform::PCMWAVEFORMAT f{};
  f.nChannels = 2;
  f.nSamplesPerSec = platform::softcard::kCardRate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 4;
  f.nAvgBytesPerSec = platform::softcard::kCardRate * 4;
  return f;
}

}  // namespace bench
