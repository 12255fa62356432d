#include "tests/support/Mp3Encode.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testsupport {

std::vector<std::int16_t> Sine(int rate, int channels, int frames, const std::vector<double>& freqs,
                               double amplitude) {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      pcm[static_cast<std::size_t>(i) * channels + c] = static_cast<std::int16_t>(
          std::lround(amplitude * std::sin(2 * M_PI * freqs[c] * i / rate)));
  return pcm;
}

std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& pcm, int rate, int channels,
                                    int kbps) {
  std::unique_ptr<lame_global_flags, decltype(&lame_close)> gf(lame_init(), &lame_close);
  if (!gf) throw std::runtime_error("lame_init failed");
  lame_set_in_samplerate(gf.get(), rate);
  lame_set_out_samplerate(gf.get(), rate);
  lame_set_num_channels(gf.get(), channels);
  lame_set_mode(gf.get(), channels == 1 ? MONO : STEREO);
  lame_set_brate(gf.get(), kbps);
  lame_set_VBR(gf.get(), vbr_off);
  lame_set_bWriteVbrTag(gf.get(), 0);
  lame_set_quality(gf.get(), 5);
  if (lame_init_params(gf.get()) < 0) throw std::runtime_error("lame_init_params failed");
  const int frames = static_cast<int>(pcm.size()) / channels;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(1.25 * frames + 7200 + 7200));
  std::vector<std::int16_t> copy(pcm);  // lame wants a non-const buffer for mono
  int n = channels == 1 ? lame_encode_buffer(gf.get(), copy.data(), copy.data(), frames, out.data(),
                                             static_cast<int>(out.size()))
                        : lame_encode_buffer_interleaved(gf.get(), copy.data(), frames, out.data(),
                                                         static_cast<int>(out.size()));
  if (n < 0) throw std::runtime_error("lame_encode_buffer failed");
  int m = lame_encode_flush(gf.get(), out.data() + n, static_cast<int>(out.size()) - n);
  if (m < 0) throw std::runtime_error("lame_encode_flush failed");
  out.resize(static_cast<std::size_t>(n + m));
  return out;
}

void PutLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

namespace {
void putId(std::vector<std::uint8_t>& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}
}  // namespace

std::vector<std::uint8_t> Mp3Wave(const std::vector<std::uint8_t>& mp3, int rate, int channels,
                                  int kbps, const char* riff) {
  std::vector<std::uint8_t> w;
  putId(w, riff);
  PutLe32(w, 0);
  putId(w, "WAVE");
  putId(w, "fmt ");
  PutLe32(w, 30);
  PutLe16(w, 85);
  PutLe16(w, channels);
  PutLe32(w, rate);
  PutLe32(w, kbps * 1000 / 8);
  PutLe16(w, 1);   // nBlockAlign
  PutLe16(w, 0);   // wBitsPerSample
  PutLe16(w, 12);  // cbSize
  PutLe16(w, 1);   // wID: MPEG
  PutLe32(w, 2);   // fdwFlags: padding as the encoder chose
  const int frameBytes = (rate >= 32000 ? 144 : 72) * kbps * 1000 / rate;
  PutLe16(w, frameBytes);  // nBlockSize
  PutLe16(w, 1);           // nFramesPerBlock
  PutLe16(w, 1393);        // nCodecDelay
  putId(w, "fact");
  PutLe32(w, 4);
  PutLe32(w, 0);
  putId(w, "data");
  PutLe32(w, static_cast<std::uint32_t>(mp3.size()));
  w.insert(w.end(), mp3.begin(), mp3.end());
  const std::uint32_t riffSize = static_cast<std::uint32_t>(w.size() - 8);
  std::memcpy(w.data() + 4, &riffSize, 4);  // little-endian host
  return w;
}

double ToneAmplitude(const std::vector<std::int16_t>& pcm, int channels, int channel, int rate,
                     double freq, int first, int count) {
  const double w = 2 * M_PI * freq / rate;
  const double coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (int i = 0; i < count; ++i) {
    const double x = pcm.at(static_cast<std::size_t>(first + i) * channels + channel);
    const double s0 = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / count;
}

}  // namespace testsupport
