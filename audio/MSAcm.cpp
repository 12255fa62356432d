#include "audio/MSAcm.h"

#include <algorithm>

#include "platform/runtime/ByteOrder.h"

namespace MSAcm {

WAVEFORMATEX FormatOf(const TWaveFormatRecord& Record) {
  const std::uint8_t* r = Record.data();
  WAVEFORMATEX f;
  platform::GetFmtFields(r, f);
  f.cbSize = platform::GetLE16(r + 16);
  return f;
}

void StoreFormat(const WAVEFORMATEX& Format, TWaveFormatRecord& Record, std::uint32_t Room) {
  std::uint8_t fields[kFormatFieldsSize];
  platform::PutFmtFields(fields, Format);
  platform::PutLE16(fields + 16, Format.cbSize);
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
