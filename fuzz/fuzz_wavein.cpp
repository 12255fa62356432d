// The WAV reader on arbitrary files: header walk, format checks, PCM and ADPCM decoding, sample
// ranges, seeking and looping. Nothing may read or write outside its buffers, whatever the file
// says.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/ACS_Wave.h"

namespace {

const std::string& FilePath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/tw_fuzz_wavein_" + std::to_string(getpid()) + ".wav";
  }();
  return path;
}

// Reads at most `calls` requests of `chunk` bytes.
void Drain(TWaveIn& in, int chunk, int calls) {
  static std::uint8_t buffer[65536];
  in.Init();
  for (int i = 0; i < calls; ++i)
    if (in.GetData(buffer, chunk) == 0) break;
  in.Flush();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(FilePath().c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  TWaveIn in(nullptr);
  in.SetFileName(FilePath());
  try {
    in.GetChannels();
    in.GetTotalTime();
    in.TotalSamples();
    in.WavType();
    Drain(in, 16384, 4096);
    // A range taken from the file's own bytes, delivered in odd-sized requests.
    const int start = size > 2 ? (data[size - 1] | data[size - 2] << 8) : 0;
    in.SetStartSample(start);
    in.SetEndSample(size > 3 && (data[size - 3] & 1) ? start + data[size - 3] * 37 : -1);
    Drain(in, 1001, 4096);
    in.Seek(start / 2);
    in.SetStartSample(0);
    in.SetEndSample(-1);
    in.SetLoop(true);
    Drain(in, 7000, 64);
  } catch (const platform::Exception&) {
    // Refusals are expected; only crashes and sanitizer reports are findings.
  }
  return 0;
}
