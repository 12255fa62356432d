#pragma once
// Reads back what a conversion wrote: the format and the samples of a WAV, MP3 or Ogg Vorbis file
// (16-bit, interleaved), decoded with the same libraries a player would use.

#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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

inline std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline DecodedAudio DecodeWav(const std::string& path) {
  DecodedAudio a;
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> f((std::istreambuf_iterator<char>(in)), {});
  if (f.size() < 44 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4)) {
    a.error = "not a WAV file";
    return a;
  }
  std::size_t pos = 12;
  while (pos + 8 <= f.size()) {
    const std::uint32_t size = Le32(&f[pos + 4]);
    if (!std::memcmp(&f[pos], "fmt ", 4) && pos + 24 <= f.size()) {
      if (Le16(&f[pos + 8]) != 1) {
        a.error = "not PCM";
        return a;
      }
      a.channels = Le16(&f[pos + 10]);
      a.rate = static_cast<int>(Le32(&f[pos + 12]));
      a.bits = Le16(&f[pos + 22]);
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

inline DecodedAudio DecodeMp3(const std::string& path) {
  DecodedAudio a;
  mpg123_init();
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) {
    a.error = "mpg123_new failed";
    return a;
  }
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_format_none(h);
  for (long r : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    mpg123_format(h, r, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(h, path.c_str()) != MPG123_OK) {
    a.error = "cannot open MP3";
    mpg123_delete(h);
    return a;
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  std::vector<unsigned char> buf(65536);
  for (;;) {
    std::size_t done = 0;
    const int rc = mpg123_read(h, buf.data(), buf.size(), &done);
    if (rc == MPG123_NEW_FORMAT) mpg123_getformat(h, &rate, &channels, &encoding);
    const std::size_t old = a.samples.size();
    a.samples.resize(old + done / 2);
    if (done >= 2) std::memcpy(a.samples.data() + old, buf.data(), done / 2 * 2);
    if (rc == MPG123_DONE) break;
    if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
      a.error = mpg123_plain_strerror(rc);
      break;
    }
  }
  mpg123_close(h);
  mpg123_delete(h);
  a.rate = static_cast<int>(rate);
  a.channels = channels;
  a.bits = 16;
  a.ok = a.error.empty() && rate > 0;
  return a;
}

inline DecodedAudio DecodeOgg(const std::string& path) {
  DecodedAudio a;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) {
    a.error = "cannot open Ogg Vorbis";
    return a;
  }
  const vorbis_info* info = ov_info(&vf, -1);
  a.rate = static_cast<int>(info->rate);
  a.channels = info->channels;
  a.bits = 16;
  std::vector<char> buf(65536);
  int section = 0;
  for (;;) {
    const long n = ov_read(&vf, buf.data(), static_cast<int>(buf.size()), 0, 2, 1, &section);
    if (n == 0) break;
    if (n < 0) {
      a.error = "decoding error";
      break;
    }
    const std::size_t old = a.samples.size();
    a.samples.resize(old + static_cast<std::size_t>(n) / 2);
    std::memcpy(a.samples.data() + old, buf.data(), static_cast<std::size_t>(n) / 2 * 2);
  }
  ov_clear(&vf);
  a.ok = a.error.empty();
  return a;
}
