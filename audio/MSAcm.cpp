#include "audio/MSAcm.h"

#include <algorithm>

namespace MSAcm {

namespace {

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, static_cast<std::uint16_t>(v));
  put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

WAVEFORMATEX FormatOf(const TWaveFormatRecord& Record) {
  const std::uint8_t* r = Record.data();
  WAVEFORMATEX f;
  f.wFormatTag = le16(r);
  f.nChannels = le16(r + 2);
  f.nSamplesPerSec = le32(r + 4);
  f.nAvgBytesPerSec = le32(r + 8);
  f.nBlockAlign = le16(r + 12);
  f.wBitsPerSample = le16(r + 14);
  f.cbSize = le16(r + 16);
  return f;
}

void StoreFormat(const WAVEFORMATEX& Format, TWaveFormatRecord& Record, std::uint32_t Room) {
  std::uint8_t fields[kFormatFieldsSize];
  put16(fields, Format.wFormatTag);
  put16(fields + 2, Format.nChannels);
  put32(fields + 4, Format.nSamplesPerSec);
  put32(fields + 8, Format.nAvgBytesPerSec);
  put16(fields + 12, Format.nBlockAlign);
  put16(fields + 14, Format.wBitsPerSample);
  put16(fields + 16, Format.cbSize);
  std::copy_n(fields, std::min(Room, kFormatFieldsSize), Record.begin());
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const TWaveFormatRecord& pwfxSrc,
                          TWaveFormatRecord& pwfxDst, std::uint32_t cbwfxDst,
                          std::uint32_t fdwSuggest) {
  // The record cannot offer more room than it has.
  const std::uint32_t room = std::min(cbwfxDst, kFormatRecordSize);
  WAVEFORMATEX dst = FormatOf(pwfxDst);
  const MMRESULT r = platform::acmFormatSuggest(had, FormatOf(pwfxSrc), dst, room, fdwSuggest);
  if (r == MMSYSERR_NOERROR) StoreFormat(dst, pwfxDst, room);
  return r;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const TWaveFormatRecord& pwfxSrc,
                       const TWaveFormatRecord& pwfxDst, const void* pwfltr,
                       std::uintptr_t dwCallback, std::uintptr_t dwInstance,
                       std::uint32_t fdwOpen) {
  return platform::acmStreamOpen(phas, had, FormatOf(pwfxSrc), FormatOf(pwfxDst), pwfltr,
                                 dwCallback, dwInstance, fdwOpen);
}

}  // namespace MSAcm
