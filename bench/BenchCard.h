#pragma once
// What the card benchmarks share: the format they record in, and the CPU time they measure.

#include <ctime>

#include "platform/softcard/CardFormat.h"
#include "platform/softcard/WaveIn.h"

namespace bench {

// The card's own rate, 16 bits, stereo.
inline platform::PCMWAVEFORMAT CardStereo16() {
  platform::PCMWAVEFORMAT f{};
  f.nChannels = 2;
  f.nSamplesPerSec = platform::softcard::kCardRate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 4;
  f.nAvgBytesPerSec = platform::softcard::kCardRate * 4;
  return f;
}

// CPU time of the whole process (every thread), in seconds.
inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace bench
