#include "platform/system/Acm.h"

#include <mpg123.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

struct AcmStream {
  struct Prepared {
    const std::uint8_t* src;
    std::uint32_t srcLength;
    std::uint8_t* dst;
    std::uint32_t dstLength;
  };

  WAVEFORMATEX src;
  WAVEFORMATEX dst;
  std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> decoder{nullptr, &mpg123_delete};
  // True once the decoder has delivered the first frame's format and it matched `src`.
  bool formatSeen = false;
  // True after the decoded stream switched to another format: the rest is not this stream's audio.
  bool formatChanged = false;
  std::map<const ACMSTREAMHEADER*, Prepared> prepared;
};

namespace {

// The mp3 codec's format record: the fixed fields (18 bytes) and its 12 extra bytes.
constexpr std::uint32_t kMaxFormatSize = 30;
constexpr std::uint32_t kPcmFormatSize = 16;

constexpr std::uint32_t kMpegRates[] = {8000,  11025, 12000, 16000, 22050,
                                        24000, 32000, 44100, 48000};

struct Registry {
  std::mutex mutex;  // guards streams
  std::map<AcmStream*, std::unique_ptr<AcmStream>> streams;
};

Registry& registry() {
  static Registry r;
  return r;
}

AcmStream* find(HACMSTREAM has) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.streams.find(has);
  return it == r.streams.end() ? nullptr : it->second.get();
}

bool isMpegRate(std::uint32_t rate) {
  return std::find(std::begin(kMpegRates), std::end(kMpegRates), rate) != std::end(kMpegRates);
}

// MPEG-1 (32000 Hz and up) puts 1152 samples in a layer-3 frame; MPEG-2 and 2.5 put 576.
std::uint32_t samplesPerFrame(std::uint32_t rate) { return rate >= 32000 ? 1152 : 576; }

bool isMp3Source(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (f.nChannels == 1 || f.nChannels == 2) &&
         isMpegRate(f.nSamplesPerSec);
}

// The sizes are estimated from the declared byte rate, so it has to be one a layer-3 stream can
// have: 32..320 kbit/s for MPEG-1, 8..160 kbit/s for MPEG-2 and 2.5. A nonsense rate would
// otherwise make a few bytes of source "need" gigabytes of destination.
bool plausibleByteRate(const WAVEFORMATEX& f) {
  const bool mpeg1 = f.nSamplesPerSec >= 32000;
  const std::uint32_t lowest = mpeg1 ? 32000 / 8 : 8000 / 8;
  const std::uint32_t highest = mpeg1 ? 320000 / 8 : 160000 / 8;
  return f.nAvgBytesPerSec >= lowest && f.nAvgBytesPerSec <= highest;
}

WAVEFORMATEX pcmFor(const WAVEFORMATEX& src) {
  WAVEFORMATEX pcm;
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = src.nChannels;
  pcm.nSamplesPerSec = src.nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<std::uint16_t>(2 * src.nChannels);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  pcm.cbSize = 0;
  return pcm;
}

bool samePcm(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
         a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample;
}

bool canConvert(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
  return isMp3Source(src) && plausibleByteRate(src) && samePcm(dst, pcmFor(src));
}

MMRESULT openDecoder(AcmStream& s) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mpg123_init(); });
  int error = MPG123_OK;
  s.decoder.reset(mpg123_new(nullptr, &error));
  if (!s.decoder) return MMSYSERR_NOMEM;
  mpg123_handle* mh = s.decoder.get();
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Accept every rate and channel count as the stream has them, 16-bit only, so that the decoder
  // never resamples or remixes: a stream that is not what the format says is detected, not bent.
  mpg123_format_none(mh);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i)
    mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(mh) != MPG123_OK) return MMSYSERR_NOMEM;
  s.formatSeen = false;
  s.formatChanged = false;
  return MMSYSERR_NOERROR;
}

// The first frame's format must be the one the stream was opened for: layer 3 at the declared rate
// and channel count. Random bytes that happen to look like a frame header rarely pass this.
bool frameMatches(AcmStream& s) {
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(s.decoder.get(), &rate, &channels, &encoding) != MPG123_OK) return false;
  mpg123_frameinfo2 info{};
  if (mpg123_info2(s.decoder.get(), &info) != MPG123_OK) return false;
  return info.layer == 3 && rate == static_cast<long>(s.src.nSamplesPerSec) &&
         channels == s.src.nChannels && encoding == MPG123_ENC_SIGNED_16;
}

}  // namespace

MMRESULT acmMetrics(HACMOBJ hao, std::uint32_t uMetric, std::uint32_t& value) {
  if (hao != nullptr) return MMSYSERR_INVALHANDLE;
  if (uMetric != ACM_METRIC_MAX_SIZE_FORMAT) return MMSYSERR_NOTSUPPORTED;
  value = kMaxFormatSize;
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX& pwfxSrc, WAVEFORMATEX& pwfxDst,
                          std::uint32_t cbwfxDst, std::uint32_t fdwSuggest) {
  constexpr std::uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                  ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                                  ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  if (had != nullptr) return MMSYSERR_INVALHANDLE;
  if (fdwSuggest & ~known) return MMSYSERR_INVALFLAG;
  if (cbwfxDst < kPcmFormatSize) return MMSYSERR_INVALPARAM;
  if (!isMp3Source(pwfxSrc)) return ACMERR_NOTPOSSIBLE;
  const WAVEFORMATEX pcm = pcmFor(pwfxSrc);
  if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && pwfxDst.wFormatTag != pcm.wFormatTag)
    return ACMERR_NOTPOSSIBLE;
  if ((fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && pwfxDst.nChannels != pcm.nChannels)
    return ACMERR_NOTPOSSIBLE;
  if ((fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) &&
      pwfxDst.nSamplesPerSec != pcm.nSamplesPerSec)
    return ACMERR_NOTPOSSIBLE;
  if ((fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) &&
      pwfxDst.wBitsPerSample != pcm.wBitsPerSample)
    return ACMERR_NOTPOSSIBLE;
  pwfxDst = pcm;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX& pwfxSrc,
                       const WAVEFORMATEX& pwfxDst, const void* pwfltr, std::uintptr_t dwCallback,
                       std::uintptr_t dwInstance, std::uint32_t fdwOpen) {
  (void)dwCallback;  // only asynchronous streams call back, and there are none
  (void)dwInstance;
  constexpr std::uint32_t known =
      ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME;
  if (phas) *phas = nullptr;
  if (had != nullptr) return MMSYSERR_INVALHANDLE;
  if (fdwOpen & ~known) return MMSYSERR_INVALFLAG;
  const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
  if (!phas && !query) return MMSYSERR_INVALPARAM;
  // The decoder runs far faster than real time, so a stream that asks for real-time conversion
  // (NONREALTIME not given) is served as well.
  if ((fdwOpen & ACM_STREAMOPENF_ASYNC) || pwfltr != nullptr) return ACMERR_NOTPOSSIBLE;
  if (!canConvert(pwfxSrc, pwfxDst)) return ACMERR_NOTPOSSIBLE;
  if (query) return MMSYSERR_NOERROR;

  auto stream = std::make_unique<AcmStream>();
  stream->src = pwfxSrc;
  stream->dst = pwfxDst;
  if (MMRESULT r = openDecoder(*stream); r != MMSYSERR_NOERROR) return r;
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  AcmStream* handle = stream.get();
  reg.streams.emplace(handle, std::move(stream));
  *phas = handle;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t& pdwOutputBytes,
                       std::uint32_t fdwSize) {
  AcmStream* s = find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwSize != ACM_STREAMSIZEF_SOURCE && fdwSize != ACM_STREAMSIZEF_DESTINATION)
    return MMSYSERR_INVALFLAG;
  const std::uint64_t rate = s->src.nSamplesPerSec;
  const std::uint64_t bytesPerSec = s->src.nAvgBytesPerSec;
  const std::uint64_t frameSamples = samplesPerFrame(s->src.nSamplesPerSec);
  std::uint64_t out = 0;
  if (fdwSize == ACM_STREAMSIZEF_SOURCE) {
    // Whole frames, so that the last frame always fits. A stream at constant bit rate has about
    // bytes x rate / byte rate samples, but the padding bytes make it wobble around that by a few
    // samples; the 1/32 frame of slack keeps such a stream from being given one frame of silence.
    if (cbInput > 0) {
      const std::uint64_t scaled = 32 * std::uint64_t{cbInput} * rate;
      const std::uint64_t unit = 32 * bytesPerSec * frameSamples;
      const std::uint64_t slack = bytesPerSec * frameSamples;
      const std::uint64_t frames =
          scaled > slack ? (scaled - slack + unit - 1) / unit : std::uint64_t{1};
      out = frames * frameSamples * s->dst.nBlockAlign;
    }
  } else {
    const std::uint64_t samples = std::uint64_t{cbInput} / s->dst.nBlockAlign;
    out = (samples * bytesPerSec + rate - 1) / rate;
  }
  if (out > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  pdwOutputBytes = static_cast<std::uint32_t>(out);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER& pash, std::uint32_t fdwPrepare) {
  AcmStream* s = find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
  if (pash.cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if ((!pash.pbSrc && pash.cbSrcLength > 0) || (!pash.pbDst && pash.cbDstLength > 0))
    return MMSYSERR_INVALPARAM;
  s->prepared[&pash] = {pash.pbSrc, pash.cbSrcLength, pash.pbDst, pash.cbDstLength};
  pash.fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER& pash, std::uint32_t fdwConvert) {
  constexpr std::uint32_t known =
      ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
  AcmStream* s = find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwConvert & ~known) return MMSYSERR_INVALFLAG;
  auto it = s->prepared.find(&pash);
  if (it == s->prepared.end()) return ACMERR_UNPREPARED;
  // The lengths may shrink after preparing (a last, shorter piece); the buffers may not move.
  const AcmStream::Prepared& p = it->second;
  if (pash.pbSrc != p.src || pash.pbDst != p.dst || pash.cbSrcLength > p.srcLength ||
      pash.cbDstLength > p.dstLength)
    return MMSYSERR_INVALPARAM;

  pash.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  pash.cbSrcLengthUsed = 0;
  pash.cbDstLengthUsed = 0;
  if (fdwConvert & ACM_STREAMCONVERTF_START) {
    mpg123_close(s->decoder.get());
    if (MMRESULT r = openDecoder(*s); r != MMSYSERR_NOERROR) return r;
  }

  std::uint32_t take = pash.cbSrcLength;
  if (fdwConvert & ACM_STREAMCONVERTF_BLOCKALIGN) {
    // A block align of 0 is no block structure at all.
    const std::uint32_t align = std::max<std::uint32_t>(s->src.nBlockAlign, 1);
    take -= take % align;
  }
  mpg123_handle* mh = s->decoder.get();
  // The decoder takes all of the source into its own buffer and keeps decoded audio that does not
  // fit for the next call, so the whole source counts as used.
  if (take > 0 && mpg123_feed(mh, pash.pbSrc, take) != MPG123_OK) return MMSYSERR_NOMEM;
  pash.cbSrcLengthUsed = take;

  std::uint32_t used = 0;
  while (!s->formatChanged && used < pash.cbDstLength) {
    std::size_t got = 0;
    const int r = mpg123_read(mh, pash.pbDst + used, pash.cbDstLength - used, &got);
    used += static_cast<std::uint32_t>(got);
    if (r == MPG123_NEW_FORMAT) {
      if (!s->formatSeen) {
        if (!frameMatches(*s)) return ACMERR_NOTPOSSIBLE;
        s->formatSeen = true;
      } else if (!frameMatches(*s)) {
        s->formatChanged = true;
      }
    } else if (r != MPG123_OK) {
      // MPG123_NEED_MORE (the source is used up), MPG123_DONE or a decoding error: what was decoded
      // so far stands.
      break;
    }
  }
  pash.cbDstLengthUsed = used;
  if (!s->formatSeen) return ACMERR_NOTPOSSIBLE;
  pash.fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER& pash,
                                  std::uint32_t fdwUnprepare) {
  AcmStream* s = find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
  auto it = s->prepared.find(&pash);
  if (it == s->prepared.end()) return ACMERR_UNPREPARED;
  if (pash.pbSrc != it->second.src || pash.pbDst != it->second.dst) return MMSYSERR_INVALPARAM;
  s->prepared.erase(it);
  pash.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose) {
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  std::unique_ptr<AcmStream> doomed;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.streams.find(has);
    if (it == r.streams.end()) return MMSYSERR_INVALHANDLE;
    if (!it->second->prepared.empty()) return ACMERR_BUSY;
    doomed = std::move(it->second);
    r.streams.erase(it);
  }
  return MMSYSERR_NOERROR;
}

}  // namespace platform
