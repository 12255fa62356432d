#pragma once
// Reads back what a conversion wrote: the format and the samples of a WAV, MP3 or Ogg Vorbis file
// (16-bit, interleaved), decoded with the same libraries a player would use.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/EncodedAudio.h"
#include "tests/support/WavFiles.h"

struct DecodedAudio {
  bool ok = false;
  std::string error;
  int rate = 0;
  int channels = 0;
  int bits = 0;
  std::uint32_t headerDataSize = 0;   // WAV only: the data size its header declares
  std::vector<std::int16_t> samples;  // interleaved

  double Seconds() const {
    return rate && channels ? double(samples.size()) / channels / rate : 0.0;
  }
  // Root mean square of all samples, full scale 1.
  double Rms() const {
    if (samples.empty()) return 0;
    double sum = 0;
    for (auto s : samples) sum += double(s) * s;
    return std::sqrt(sum / double(samples.size())) / 32768.0;
  }
  // The largest sample's magnitude, full scale 1.
  double Peak() const {
    int peak = 0;
    for (auto s : samples) peak = std::max(peak, std::abs(int(s)));
    return peak / 32768.0;
  }
  // The fraction of 100 ms windows (of the first `seconds`) whose RMS is above -60 dBFS.
  double SoundingFraction(double seconds) const {
    const std::size_t window = static_cast<std::size_t>(rate / 10) * channels;
    const std::size_t windows = static_cast<std::size_t>(seconds * 10);
    if (!window) return 0;
    std::size_t sounding = 0;
    for (std::size_t w = 0; w < windows && (w + 1) * window <= samples.size(); ++w) {
      double sum = 0;
      for (std::size_t i = w * window; i < (w + 1) * window; ++i)
        sum += double(samples[i]) * samples[i];
      if (std::sqrt(sum / window) / 32768.0 > 0.001) ++sounding;
    }
    return windows ? double(sounding) / double(windows) : 0;
  }
};

inline DecodedAudio DecodeWav(const std::string& path) {
  DecodedAudio a;
  const tw_test::Bytes f = tw_test::ReadFile(path);
  if (f.size() < 44 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4)) {
    a.error = "not a WAV file";
    return a;
  }
  std::size_t pos = 12;
  while (pos + 8 <= f.size()) {
    const std::uint32_t size = tw_test::Le32(&f[pos + 4]);
    if (!std::memcmp(&f[pos], "fmt ", 4) && pos + 24 <= f.size()) {
      if (tw_test::Le16(&f[pos + 8]) != 1) {
        a.error = "not PCM";
        return a;
      }
      a.channels = tw_test::Le16(&f[pos + 10]);
      a.rate = static_cast<int>(tw_test::Le32(&f[pos + 12]));
      a.bits = tw_test::Le16(&f[pos + 22]);
    } else if (!std::memcmp(&f[pos], "data", 4)) {
      a.headerDataSize = size;
      const std::size_t available = std::min<std::size_t>(size, f.size() - pos - 8);
      if (a.bits == 16) {
        a.samples.resize(available / 2);
        if (!a.samples.empty()) std::memcpy(a.samples.data(), &f[pos + 8], a.samples.size() * 2);
      } else if (a.bits == 8) {
        for (std::size_t i = 0; i < available; ++i)
          a.samples.push_back(std::int16_t((f[pos + 8 + i] - 128) << 8));
      }
      a.ok = a.rate > 0 && a.channels > 0;
      return a;
    }
    pos += 8 + size + (size & 1);
  }
  a.error = "no data chunk";
  return a;
}

// MP3 and Ogg Vorbis files are decoded by the encoder tests' decoders, in 16-bit samples.
inline DecodedAudio FromPcm(const enctest::Pcm& pcm, const char* failure) {
  DecodedAudio a;
  a.rate = pcm.rate;
  a.channels = pcm.channels;
  a.bits = 16;
  a.samples.reserve(pcm.samples.size());
  for (const float s : pcm.samples)
    a.samples.push_back(
        static_cast<std::int16_t>(std::clamp(std::lround(s * 32768.0f), -32768L, 32767L)));
  a.ok = pcm.rate > 0 && pcm.channels > 0;
  if (!a.ok) a.error = failure;
  return a;
}

inline DecodedAudio DecodeMp3(const std::string& path) {
  return FromPcm(enctest::DecodeMp3(path), "cannot decode the MP3 file");
}

inline DecodedAudio DecodeOgg(const std::string& path) {
  return FromPcm(enctest::DecodeOgg(path), "cannot decode the Ogg Vorbis file");
}
