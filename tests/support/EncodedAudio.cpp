#include "tests/support/EncodedAudio.h"

#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "tests/support/Goertzel.h"
#include "tests/support/WavFiles.h"

namespace enctest {
namespace {

std::string trimmed(const char* text, std::size_t size) {
  std::string s(text, strnlen(text, size));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

std::vector<std::uint8_t> TonePcm(int rate, int channels, int bits, double seconds, double leftHz,
                                  double rightHz, double amplitude) {
  const auto frames = static_cast<std::uint32_t>(std::lround(seconds * rate));
  std::vector<std::uint8_t> out;
  out.reserve(std::size_t{frames} * channels * (bits / 8));
  const double w = 2 * std::numbers::pi / rate;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double l = amplitude * std::sin(w * leftHz * i);
    const double r = amplitude * std::sin(w * rightHz * i);
    double values[2] = {l, r};
    if (channels == 1) values[0] = l + r;
    for (int c = 0; c < channels; ++c) {
      if (bits == 8) {
        out.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * values[c])));
      } else {
        tw_test::Add16(out, static_cast<std::int16_t>(std::lround(32767 * values[c])));
      }
    }
  }
  return out;
}

void WriteToneWav(const std::string& path, int rate, int channels, int bits, double seconds,
                  double leftHz, double rightHz, double amplitude) {
  tw_test::WriteFile(
      path, tw_test::PcmFile(TonePcm(rate, channels, bits, seconds, leftHz, rightHz, amplitude),
                             channels, rate, bits));
}

Pcm DecodeMp3(const std::string& path) {
  Pcm pcm;
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (h == nullptr) return pcm;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
  mpg123_format_none(h);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i) {
    mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open(h, path.c_str()) == MPG123_OK) {
    std::vector<short> buffer(16384);
    for (;;) {
      std::size_t done = 0;
      const int r = mpg123_read(h, buffer.data(), buffer.size() * sizeof(short), &done);
      if (r == MPG123_NEW_FORMAT || pcm.rate == 0) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(h, &rate, &channels, &encoding);
        pcm.rate = static_cast<int>(rate);
        pcm.channels = channels;
      }
      for (std::size_t i = 0; i < done / sizeof(short); ++i)
        pcm.samples.push_back(buffer[i] / 32768.0f);
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
    }
    mpg123_close(h);
  }
  mpg123_delete(h);
  return pcm;
}

Pcm DecodeOgg(const std::string& path) {
  Pcm pcm;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return pcm;
  // The first stream's format, also when it holds no audio.
  if (const vorbis_info* vi = ov_info(&vf, 0)) {
    pcm.rate = static_cast<int>(vi->rate);
    pcm.channels = vi->channels;
  }
  std::vector<char> buffer(16384);
  int link = 0;
  for (;;) {
    const long n = ov_read(&vf, buffer.data(), static_cast<int>(buffer.size()), 0, 2, 1, &link);
    if (n <= 0) break;
    const auto* samples = reinterpret_cast<const short*>(buffer.data());
    for (long i = 0; i < n / 2; ++i) pcm.samples.push_back(samples[i] / 32768.0f);
  }
  ov_clear(&vf);
  return pcm;
}

std::vector<OggStreamInfo> ReadOggStreams(const std::string& path) {
  std::vector<OggStreamInfo> streams;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return streams;
  for (long link = 0; link < ov_streams(&vf); ++link) {
    OggStreamInfo s;
    const vorbis_info* vi = ov_info(&vf, static_cast<int>(link));
    s.channels = vi->channels;
    s.rate = vi->rate;
    s.bitrateUpper = vi->bitrate_upper;
    s.bitrateNominal = vi->bitrate_nominal;
    s.bitrateLower = vi->bitrate_lower;
    s.serial = static_cast<int>(ov_serialnumber(&vf, static_cast<int>(link)));
    s.frames = ov_pcm_total(&vf, static_cast<int>(link));
    const vorbis_comment* vc = ov_comment(&vf, static_cast<int>(link));
    for (int i = 0; i < vc->comments; ++i) {
      s.comments.emplace_back(vc->user_comments[i], vc->comment_lengths[i]);
    }
    streams.push_back(std::move(s));
  }
  ov_clear(&vf);
  return streams;
}

double ToneAmplitude(const Pcm& pcm, int channel, double hz, double marginSeconds) {
  const std::size_t frames = pcm.Frames();
  const auto margin = static_cast<std::size_t>(marginSeconds * pcm.rate);
  if (frames <= 2 * margin || pcm.rate == 0) return 0;
  return tw_test::GoertzelAmplitude(
      [&](std::size_t i) { return pcm.samples[(margin + i) * pcm.channels + channel]; },
      frames - 2 * margin, hz, pcm.rate);
}

Id3v1 ReadId3v1(const std::string& path) {
  Id3v1 tag;
  const auto bytes = tw_test::ReadFile(path);
  if (bytes.size() < 128) return tag;
  const char* t = reinterpret_cast<const char*>(bytes.data() + bytes.size() - 128);
  if (std::memcmp(t, "TAG", 3) != 0) return tag;
  tag.present = true;
  tag.title = trimmed(t + 3, 30);
  tag.artist = trimmed(t + 33, 30);
  tag.album = trimmed(t + 63, 30);
  tag.year = trimmed(t + 93, 4);
  if (t[125] == 0) {  // ID3v1.1: a track number in the comment's last byte
    tag.comment = trimmed(t + 97, 28);
    tag.track = static_cast<unsigned char>(t[126]);
  } else {
    tag.comment = trimmed(t + 97, 30);
  }
  tag.genre = static_cast<unsigned char>(t[127]);
  return tag;
}

std::string VbrHeaderTag(const std::string& path) {
  const auto bytes = tw_test::ReadFile(path);
  if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return {};
  // Look inside the first frame only: the tag sits after the side information.
  for (std::size_t i = 4; i + 4 <= std::min<std::size_t>(bytes.size(), 64); ++i) {
    const std::string word(bytes.begin() + i, bytes.begin() + i + 4);
    if (word == "Xing" || word == "Info") return word;
  }
  return {};
}

std::vector<Mp3Frame> Mp3Frames(const std::vector<std::uint8_t>& file) {
  static constexpr int kBitrates1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                         112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kBitrates2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                         64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr int kRates1[3] = {44100, 48000, 32000};
  std::vector<Mp3Frame> frames;
  std::size_t at = 0;
  if (file.size() >= 10 && std::memcmp(file.data(), "ID3", 3) == 0) {
    at = 10 + ((file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 |
               (file[9] & 0x7F));
  }
  while (at + 4 <= file.size()) {
    const std::uint8_t* h = file.data() + at;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) break;  // layer III only
    Mp3Frame f;
    f.offset = at;
    const int versionBits = (h[1] >> 3) & 3;
    if (versionBits == 1) break;
    f.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) break;
    f.bitrateKbps = f.version == 10 ? kBitrates1[bitrateIndex] : kBitrates2[bitrateIndex];
    f.sampleRate = kRates1[rateIndex] / (f.version == 10 ? 1 : f.version == 20 ? 2 : 4);
    const int padding = (h[2] >> 1) & 1;
    f.crc = (h[1] & 1) == 0;
    f.mode = h[3] >> 6;
    f.copyright = (h[3] >> 3) & 1;
    f.original = (h[3] >> 2) & 1;
    const int factor = f.version == 10 ? 144 : 72;
    f.size = static_cast<std::size_t>(factor * f.bitrateKbps * 1000 / f.sampleRate + padding);
    frames.push_back(f);
    at += f.size;
  }
  return frames;
}

std::vector<OggPage> OggPages(const std::vector<std::uint8_t>& file) {
  std::vector<OggPage> pages;
  std::size_t at = 0;
  while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
    const std::uint8_t* h = file.data() + at;
    OggPage p;
    p.offset = at;
    p.bos = (h[5] & 2) != 0;
    p.eos = (h[5] & 4) != 0;
    for (int i = 7; i >= 0; --i) p.granule = (p.granule << 8) | h[6 + i];
    p.serial = tw_test::Le32(h + 14);
    const int segments = h[26];
    if (at + 27 + segments > file.size()) break;
    std::size_t body = 0;
    for (int i = 0; i < segments; ++i) body += h[27 + i];
    pages.push_back(p);
    at += 27 + segments + body;
  }
  return pages;
}

}  // namespace enctest
