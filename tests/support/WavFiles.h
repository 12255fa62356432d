#pragma once
// Builds RIFF and WAV files byte by byte for the tests of the readers and writers of WAV files and
// for the fuzzer's seed corpus; reads files and little-endian fields back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tw_test {

using Bytes = std::vector<std::uint8_t>;

inline void Add16(Bytes& b, int v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Add32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AddId(Bytes& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(id[i]));
}
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A chunk: id, length (the body's unless given), body.
inline Bytes Chunk(const char* id, const Bytes& body, long length = -1) {
  Bytes b(id, id + 4);
  Add32(b,
        length < 0 ? static_cast<std::uint32_t>(body.size()) : static_cast<std::uint32_t>(length));
  Append(b, body);
  return b;
}

// "RIFF" size "WAVE" followed by the given chunks.
inline Bytes Riff(const std::vector<Bytes>& chunks, const char* riff = "RIFF",
                  const char* wave = "WAVE") {
  Bytes inner;
  for (const auto& c : chunks) Append(inner, c);
  Bytes b(riff, riff + 4);
  Add32(b, static_cast<std::uint32_t>(inner.size() + 4));
  AddId(b, wave);
  Append(b, inner);
  return b;
}

// A fmt body: the 16 common bytes, then `extra`.
inline Bytes Fmt(int tag, int channels, int rate, int blockAlign, int bits,
                 const Bytes& extra = {}) {
  Bytes b;
  Add16(b, tag);
  Add16(b, channels);
  Add32(b, static_cast<std::uint32_t>(rate));
  Add32(b, static_cast<std::uint32_t>(rate * blockAlign));
  Add16(b, blockAlign);
  Add16(b, bits);
  Append(b, extra);
  return b;
}

// A fmt body for whole-byte samples: block align and bytes per second follow from the rest.
inline Bytes Fmt(int tag, int channels, int rate, int bits) {
  return Fmt(tag, channels, rate, channels * bits / 8, bits);
}

inline Bytes Count(std::uint32_t n) {
  Bytes b;
  Add32(b, n);
  return b;
}

// 16-bit samples as little-endian bytes.
inline Bytes Pcm16(const std::vector<int>& samples) {
  Bytes b;
  for (int s : samples) Add16(b, s);
  return b;
}

// A WAV file of a fmt chunk and a data chunk (of the data's length unless given).
inline Bytes Wave(const Bytes& fmt, const Bytes& data, long dataLength = -1) {
  return Riff({Chunk("fmt ", fmt), Chunk("data", data, dataLength)});
}

inline Bytes PcmFile(const Bytes& data, int channels = 2, int rate = 44100, int bits = 16) {
  return Wave(Fmt(1, channels, rate, bits * channels / 8, bits), data);
}

// `n` bytes of a fixed pseudo-random sequence (a linear congruential generator started at `seed`):
// data that is no valid stream of any kind.
inline Bytes NoiseBytes(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::uint32_t x = seed;
  for (auto& byte : b) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// 16-bit little-endian PCM as samples.
inline std::vector<std::int16_t> Samples16(const Bytes& bytes) {
  std::vector<std::int16_t> s(bytes.size() / 2);
  if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// MS ADPCM fmt extra: cbSize, samples per block, coefficient pairs.
inline Bytes MsExtra(int samplesPerBlock, const std::vector<std::pair<int, int>>& coefs,
                     int numCoef = -1) {
  Bytes b;
  Add16(b, 4 + 4 * static_cast<int>(coefs.size()));
  Add16(b, samplesPerBlock);
  Add16(b, numCoef < 0 ? static_cast<int>(coefs.size()) : numCoef);
  for (auto [c1, c2] : coefs) {
    Add16(b, c1);
    Add16(b, c2);
  }
  return b;
}

inline const std::vector<std::pair<int, int>>& StandardMsCoefs() {
  static const std::vector<std::pair<int, int>> coefs = {
      {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
  return coefs;
}

inline void WriteFile(const std::string& name, const Bytes& b) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The whole file; empty when it cannot be read.
inline Bytes ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t At32(const Bytes& b, std::size_t at) { return Le32(&b[at]); }
inline int At16(const Bytes& b, std::size_t at) { return Le16(&b[at]); }
inline int AtS16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(At16(b, at)); }

// With TW_SAVE_CORPUS set to a folder, small files the tests make are also kept there, as seeds
// for the WAV reader's fuzzer.
inline void SaveSeed(const std::string& name, const Bytes& b) {
  const char* dir = std::getenv("TW_SAVE_CORPUS");
  if (!dir || b.size() > 8192) return;
  std::string base = name.substr(name.find_last_of('/') + 1);
  for (char& c : base)
    if (c == ' ' || static_cast<unsigned char>(c) > 127) c = '_';
  WriteFile(std::string(dir) + "/" + base, b);
}

}  // namespace tw_test
