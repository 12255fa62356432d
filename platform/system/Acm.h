#pragma once
// The audio compression manager: converts whole buffers of compressed audio into PCM.
//
// One codec is available: MPEG layer 3 (format tag 85, the MP3 data that some WAV files carry)
// decoded to 16-bit PCM with the stream's own channels and rate, through libmpg123. Every other
// pair of formats is refused with ACMERR_NOTPOSSIBLE, so callers can tell "cannot convert this"
// from a misuse of the calls.
//
// Order of calls for one conversion:
//   acmFormatSuggest   (optional) complete a PCM format for a compressed one
//   acmStreamOpen      a stream from the source format to the destination format
//   acmStreamSize      how many destination bytes a source length may give
//   acmStreamPrepareHeader, acmStreamConvert..., acmStreamUnprepareHeader
//   acmStreamClose
// A stream is used by one thread at a time; different streams are independent. Handles are checked:
// a closed or made-up handle gives MMSYSERR_INVALHANDLE, never a crash.

#include <cstdint>

#include "platform/system/MmSystem.h"

namespace platform {

inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;  // no codec for these formats, or bad data
inline constexpr MMRESULT ACMERR_BUSY = 513;         // the stream still has prepared headers
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;   // the header was not prepared on this stream

inline constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 85;

// acmMetrics
inline constexpr std::uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;

// acmFormatSuggest: which fields of the destination the caller has fixed.
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;

// acmStreamOpen
inline constexpr std::uint32_t ACM_STREAMOPENF_QUERY = 0x00000001;
inline constexpr std::uint32_t ACM_STREAMOPENF_ASYNC = 0x00000002;
inline constexpr std::uint32_t ACM_STREAMOPENF_NONREALTIME = 0x00000004;

// acmStreamSize
inline constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
inline constexpr std::uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;

// acmStreamConvert
inline constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_START = 0x00000010;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x00000020;

// ACMSTREAMHEADER::fdwStatus
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

// A wave format: the fields of a WAV file's fmt chunk that the codecs read. Extra bytes after them
// (cbSize of them in a file) carry nothing the decoder needs.
struct WAVEFORMATEX {
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
};

// One conversion request: source bytes in, destination bytes out. The caller owns both buffers.
struct ACMSTREAMHEADER {
  std::uint32_t cbStruct = 0;  // sizeof(ACMSTREAMHEADER): shows the header was filled in
  std::uint32_t fdwStatus = 0;
  std::uintptr_t dwUser = 0;
  const std::uint8_t* pbSrc = nullptr;
  std::uint32_t cbSrcLength = 0;
  std::uint32_t cbSrcLengthUsed = 0;
  std::uintptr_t dwSrcUser = 0;
  std::uint8_t* pbDst = nullptr;
  std::uint32_t cbDstLength = 0;
  std::uint32_t cbDstLengthUsed = 0;
  std::uintptr_t dwDstUser = 0;
};

struct AcmDriver;  // no driver can be chosen: every call takes nullptr ("any driver")
struct AcmStream;
using HACMDRIVER = AcmDriver*;
using HACMSTREAM = AcmStream*;
using HACMOBJ = const void*;

// ACM_METRIC_MAX_SIZE_FORMAT with hao == nullptr: the size in bytes of the largest format record
// any codec uses (the fixed fields plus the codec's extra bytes).
MMRESULT acmMetrics(HACMOBJ hao, std::uint32_t uMetric, std::uint32_t& value);

// Fills pwfxDst with a destination format that a stream from pwfxSrc can produce, keeping the
// fields that fdwSuggest names as the caller set them in pwfxDst. cbwfxDst is the room for the
// destination record in bytes.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX& pwfxSrc, WAVEFORMATEX& pwfxDst,
                          std::uint32_t cbwfxDst, std::uint32_t fdwSuggest);

// Opens a conversion stream (synchronous only: no callback, no filter). With ACM_STREAMOPENF_QUERY
// only says whether the conversion is possible and phas may be nullptr.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX& pwfxSrc,
                       const WAVEFORMATEX& pwfxDst, const void* pwfltr, std::uintptr_t dwCallback,
                       std::uintptr_t dwInstance, std::uint32_t fdwOpen);

// ACM_STREAMSIZEF_SOURCE: cbInput source bytes -> the destination bytes they may give at most.
// ACM_STREAMSIZEF_DESTINATION: cbInput destination bytes -> the source bytes that fill them.
// The compressed side is estimated from the source format's average byte rate.
MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t& pdwOutputBytes,
                       std::uint32_t fdwSize);

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER& pash, std::uint32_t fdwPrepare);

// Converts pash.pbSrc into pash.pbDst, setting cbSrcLengthUsed and cbDstLengthUsed. With
// ACM_STREAMCONVERTF_BLOCKALIGN only whole source blocks (nBlockAlign bytes) are taken. START
// begins a new stream (the decoder forgets earlier calls); END marks the last call. Source data in
// which the decoder finds no layer-3 frame of the stream's format gives ACMERR_NOTPOSSIBLE.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER& pash, std::uint32_t fdwConvert);

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER& pash,
                                  std::uint32_t fdwUnprepare);

// Fails with ACMERR_BUSY while a header is still prepared on the stream.
MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose);

}  // namespace platform
