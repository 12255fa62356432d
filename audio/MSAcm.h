#pragma once
// The audio compression manager as the audio components see it.
//
// The calls themselves are the platform's (platform/system/Acm.h). What this unit adds is the
// format record the components keep: a WAVEFORMATEX laid out as a WAV file's fmt chunk stores it
// (little-endian wFormatTag, nChannels, nSamplesPerSec, nAvgBytesPerSec, nBlockAlign,
// wBitsPerSample, cbSize) followed by the format's extra bytes, in a record of fixed size. A fmt
// chunk body can be copied into such a record as it stands, and its first 16 bytes written out as a
// PCM fmt chunk. The two calls that take formats are given here for records.

#include <array>
#include <cstdint>

#include "platform/system/Acm.h"

namespace MSAcm {

using platform::ACMSTREAMHEADER;
using platform::HACMDRIVER;
using platform::HACMOBJ;
using platform::HACMSTREAM;
using platform::MMRESULT;
using platform::WAVEFORMATEX;

using platform::acmMetrics;
using platform::acmStreamClose;
using platform::acmStreamConvert;
using platform::acmStreamPrepareHeader;
using platform::acmStreamSize;
using platform::acmStreamUnprepareHeader;

using platform::ACM_FORMATSUGGESTF_WFORMATTAG;
using platform::ACM_METRIC_MAX_SIZE_FORMAT;
using platform::ACM_STREAMCONVERTF_BLOCKALIGN;
using platform::ACM_STREAMCONVERTF_START;
using platform::ACM_STREAMOPENF_NONREALTIME;
using platform::ACM_STREAMSIZEF_SOURCE;
using platform::ACMERR_NOTPOSSIBLE;
using platform::MMSYSERR_INVALPARAM;
using platform::MMSYSERR_NOERROR;
using platform::WAVE_FORMAT_MPEGLAYER3;
using platform::WAVE_FORMAT_PCM;

inline constexpr std::uint32_t kFormatRecordSize = 129;
// Bytes of the fixed fields, cbSize included.
inline constexpr std::uint32_t kFormatFieldsSize = 18;

using TWaveFormatRecord = std::array<std::uint8_t, kFormatRecordSize>;

// The fixed fields of a record.
WAVEFORMATEX FormatOf(const TWaveFormatRecord& Record);
// Stores the fixed fields into the first min(18, Room) bytes of a record; the rest is left alone.
void StoreFormat(const WAVEFORMATEX& Format, TWaveFormatRecord& Record,
                 std::uint32_t Room = kFormatFieldsSize);

// platform::acmFormatSuggest on records: fills pwfxDst's fixed fields (cbwfxDst bytes of room).
MMRESULT acmFormatSuggest(HACMDRIVER had, const TWaveFormatRecord& pwfxSrc,
                          TWaveFormatRecord& pwfxDst, std::uint32_t cbwfxDst,
                          std::uint32_t fdwSuggest);

// platform::acmStreamOpen on records.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const TWaveFormatRecord& pwfxSrc,
                       const TWaveFormatRecord& pwfxDst, const void* pwfltr,
                       std::uintptr_t dwCallback, std::uintptr_t dwInstance, std::uint32_t fdwOpen);

}  // namespace MSAcm
