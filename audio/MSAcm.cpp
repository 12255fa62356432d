#include "audio/MSAcm.h"

#include <algorithm>

#include "platform/ByteOrder.h"

namespace MSAcm {

using platform::GetLE16;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;

WAVEFORMATEX FormatOf(const TWaveFormatRecord& Record) {
  const std::uint8_t* r = Record.data();
  WAVEFORMATEX f;
  f.wFormatTag = GetLE16(r);
  f.nChannels = GetLE16(r + 2);
  f.nSamplesPerSec = GetLE32(r + 4);
  f.nAvgBytesPerSec = GetLE32(r + 8);
  f.nBlockAlign = GetLE16(r + 12);
  f.wBitsPerSample = GetLE16(r + 14);
  f.cbSize = GetLE16(r + 16);
  return f;
}

void StoreFormat(const WAVEFORMATEX& Format, TWaveFormatRecord& Record, std::uint32_t Room) {
  std::uint8_t fields[kFormatFieldsSize];
  PutLE16(fields, Format.wFormatTag);
  PutLE16(fields + 2, Format.nChannels);
  PutLE32(fields + 4, Format.nSamplesPerSec);
  PutLE32(fields + 8, Format.nAvgBytesPerSec);
  PutLE16(fields + 12, Format.nBlockAlign);
  PutLE16(fields + 14, Format.wBitsPerSample);
  PutLE16(fields + 16, Format.cbSize);
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
