#pragma once
// Little-endian fields of the RIFF file formats (WAVE, RMID) and of wave-format records, read from
// and written to byte buffers whatever the host's byte order; the fields a wave-format record
// starts with; and the four-byte chunk ids of RIFF and MIDI files.

#include <cstdint>
#include <cstring>

namespace platform {

inline std::uint16_t GetLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 16 bytes a wave-format record (a WAV file's fmt chunk body) starts with: format tag,
// channels, sample rate, bytes per second, block align, bits per sample; for any struct with those
// fields.
template <typename Format>
void GetFmtFields(const std::uint8_t* p, Format& f) {
  f.wFormatTag = GetLE16(p);
  f.nChannels = GetLE16(p + 2);
  f.nSamplesPerSec = GetLE32(p + 4);
  f.nAvgBytesPerSec = GetLE32(p + 8);
  f.nBlockAlign = GetLE16(p + 12);
  f.wBitsPerSample = GetLE16(p + 14);
}

template <typename Format>
void PutFmtFields(std::uint8_t* p, const Format& f) {
  PutLE16(p, f.wFormatTag);
  PutLE16(p + 2, f.nChannels);
  PutLE32(p + 4, f.nSamplesPerSec);
  PutLE32(p + 8, f.nAvgBytesPerSec);
  PutLE16(p + 12, f.nBlockAlign);
  PutLE16(p + 14, f.wBitsPerSample);
}

// Whether the four bytes at p are exactly the chunk id `id` ("RIFF", "fmt "...).
inline bool IsChunkId(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

}  // namespace platform
