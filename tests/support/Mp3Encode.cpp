#include "tests/support/Mp3Encode.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tests/support/Goertzel.h"
#include "tests/support/WavFiles.h"

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

int Mp3BitRateWritten(int rate, int channels, bool mono, int kbps) {
  std::unique_ptr<lame_global_flags, decltype(&lame_close)> gf(lame_init(), &lame_close);
  if (!gf) throw std::runtime_error("lame_init failed");
  lame_set_in_samplerate(gf.get(), rate);
  lame_set_out_samplerate(gf.get(), rate);
  lame_set_num_channels(gf.get(), channels);
  lame_set_mode(gf.get(), mono ? MONO : STEREO);
  lame_set_brate(gf.get(), kbps);
  if (lame_init_params(gf.get()) < 0) return -1;
  return lame_get_brate(gf.get());
}

std::vector<std::uint8_t> Mp3Wave(const std::vector<std::uint8_t>& mp3, int rate, int channels,
                                  int kbps, const char* riff) {
  using namespace tw_test;
  Bytes fmt;
  Add16(fmt, 85);
  Add16(fmt, channels);
  Add32(fmt, static_cast<std::uint32_t>(rate));
  Add32(fmt, static_cast<std::uint32_t>(kbps * 1000 / 8));
  Add16(fmt, 1);   // nBlockAlign
  Add16(fmt, 0);   // wBitsPerSample
  Add16(fmt, 12);  // cbSize
  Add16(fmt, 1);   // wID: MPEG
  Add32(fmt, 2);   // fdwFlags: padding as the encoder chose
  const int frameBytes = (rate >= 32000 ? 144 : 72) * kbps * 1000 / rate;
  Add16(fmt, frameBytes);  // nBlockSize
  Add16(fmt, 1);           // nFramesPerBlock
  Add16(fmt, 1393);        // nCodecDelay
  return Riff({Chunk("fmt ", fmt), Chunk("fact", Count(0)), Chunk("data", mp3)}, riff);
}

double ToneAmplitude(const std::vector<std::int16_t>& pcm, int channels, int channel, int rate,
                     double freq, int first, int count) {
  return tw_test::GoertzelAmplitude(
      [&](std::size_t i) { return static_cast<double>(pcm.at((first + i) * channels + channel)); },
      static_cast<std::size_t>(count), freq, rate);
}

}  // namespace testsupport
