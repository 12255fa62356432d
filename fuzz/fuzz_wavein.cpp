// The WAV reader on arbitrary files: header walk, format checks, PCM and ADPCM decoding, sample
// ranges, seeking and looping, and MPEG layer 3 data converted through the compression manager.
// Nothing may read or write outside its buffers, whatever the file says. An input that is not a
// RIFF file is also read as the data of an MPEG-layer-3 file whose header declares sizes far
// beyond the data and a byte rate taken from the input, so that conversion sees every kind of
// data behind every kind of claim.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/ACS_Wave.h"
#include "fuzz/FuzzFile.h"

namespace {

// Reads at most `calls` requests of `chunk` bytes: enough to pass through every kind of block,
// not so much that a long file costs more than a short one.
void Pull(TWaveIn& in, int chunk, int calls) {
  static std::uint8_t buffer[16384];
  for (int i = 0; i < calls; ++i)
    if (in.GetData(buffer, chunk) == 0) break;
}

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// `data` as the data chunk of an MPEG-layer-3 WAV file; the first bytes choose the rate, the
// channels and the declared byte rate (the lowest ones make the largest estimates).
std::vector<std::uint8_t> Mp3Wave(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint32_t kRates[] = {8000,  11025, 12000, 16000, 22050,
                                             24000, 32000, 44100, 48000};
  const std::uint32_t rate = kRates[size > 0 ? data[0] % 9 : 0];
  const unsigned channels = size > 1 ? 1 + data[1] % 2 : 1;
  const std::uint32_t byteRate = (rate >= 32000 ? 4000 : 1000) + (size > 2 ? data[2] * 16u : 0);
  std::vector<std::uint8_t> w;
  w.insert(w.end(), {'R', 'I', 'F', 'F'});
  Put32(w, 0xFFFFFFF0u);
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(w, 30);
  Put16(w, 85);
  Put16(w, channels);
  Put32(w, rate);
  Put32(w, byteRate);
  Put16(w, 1);
  Put16(w, 0);
  Put16(w, 12);
  Put16(w, 1);
  Put32(w, 2);
  Put16(w, 417);
  Put16(w, 1);
  Put16(w, 1393);
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  Put32(w, 0xFFFFFFF0u);
  w.insert(w.end(), data, data + size);
  return w;
}

void Read(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile(data, size, ".wav");
  if (path.empty()) return;
  TWaveIn in(nullptr);
  in.SetFileName(path);
  // One run, which opens the file once (and converts compressed data once): the questions asked
  // during a run are answered from the open file. Half of the inputs ask for a range taken from
  // their own bytes, and loop.
  try {
    const int start = size > 2 ? (data[size - 1] | data[size - 2] << 8) : 0;
    if (size > 3 && (data[size - 3] & 4)) {
      in.SetStartSample(start);
      in.SetEndSample(data[size - 3] & 1 ? start + data[size - 3] * 37 : -1);
      in.SetLoop(data[size - 3] & 2);
    }
    in.Init();
    in.GetChannels();
    in.GetTotalTime();
    in.TotalSamples();
    in.WavType();
    // Whole refills, then odd-sized requests after a seek.
    Pull(in, 16384, 4);
    in.Seek(start / 2);
    Pull(in, 1001, 8);
    Pull(in, 7000, 4);
    in.Flush();
  } catch (const platform::Exception&) {
    // Refusals are expected; only crashes and sanitizer reports are findings.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Read(data, size);
  if (size < 4 || std::memcmp(data, "RIFF", 4) != 0) {
    const std::vector<std::uint8_t> wave = Mp3Wave(data, size);
    Read(wave.data(), wave.size());
  }
  return 0;
}
