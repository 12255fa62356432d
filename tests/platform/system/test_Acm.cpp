#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/system/Acm.h"
#include "tests/support/Mp3Encode.h"
#include "tests/support/WavFiles.h"

using namespace platform;
using testsupport::EncodeMp3;
using testsupport::Sine;
using testsupport::ToneAmplitude;

namespace {

WAVEFORMATEX mp3Format(std::uint32_t rate, std::uint16_t channels, std::uint32_t kbps) {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.nAvgBytesPerSec = kbps * 1000 / 8;
  f.nBlockAlign = 1;
  f.wBitsPerSample = 0;
  f.cbSize = 12;
  return f;
}

WAVEFORMATEX pcm16(std::uint32_t rate, std::uint16_t channels) {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<std::uint16_t>(2 * channels);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

// An open stream that closes itself, for tests that do not test closing.
struct Stream {
  HACMSTREAM h = nullptr;
  Stream(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
    EXPECT_EQ(acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
              MMSYSERR_NOERROR);
  }
  ~Stream() {
    if (h) acmStreamClose(h, 0);
  }
};

ACMSTREAMHEADER header(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst) {
  ACMSTREAMHEADER h;
  h.cbStruct = sizeof(ACMSTREAMHEADER);
  h.pbSrc = src.data();
  h.cbSrcLength = static_cast<std::uint32_t>(src.size());
  h.pbDst = dst.data();
  h.cbDstLength = static_cast<std::uint32_t>(dst.size());
  return h;
}

struct Decoded {
  MMRESULT result = MMSYSERR_ERROR;
  std::uint32_t estimate = 0;
  std::uint32_t srcUsed = 0;
  std::vector<std::int16_t> pcm;  // cbDstLengthUsed bytes
};

// The one-call conversion the WAV reader makes: size, prepare, convert block-aligned, unprepare.
Decoded decodeAll(const WAVEFORMATEX& src, const std::vector<std::uint8_t>& data) {
  Decoded d;
  const WAVEFORMATEX dst = pcm16(src.nSamplesPerSec, src.nChannels);
  Stream s(src, dst);
  EXPECT_EQ(acmStreamSize(s.h, static_cast<std::uint32_t>(data.size()), d.estimate,
                          ACM_STREAMSIZEF_SOURCE),
            MMSYSERR_NOERROR);
  std::vector<std::uint8_t> out(d.estimate);
  ACMSTREAMHEADER h = header(data, out);
  EXPECT_EQ(acmStreamPrepareHeader(s.h, h, 0), MMSYSERR_NOERROR);
  d.result = acmStreamConvert(s.h, h, ACM_STREAMCONVERTF_BLOCKALIGN);
  d.srcUsed = h.cbSrcLengthUsed;
  EXPECT_EQ(acmStreamUnprepareHeader(s.h, h, 0), MMSYSERR_NOERROR);
  d.pcm.resize(h.cbDstLengthUsed / 2);
  if (!d.pcm.empty()) std::memcpy(d.pcm.data(), out.data(), d.pcm.size() * 2);
  return d;
}

}  // namespace

TEST(AcmMetrics, MaxFormatSizeCoversTheMp3Record) {
  std::uint32_t size = 0;
  EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, size), MMSYSERR_NOERROR);
  EXPECT_EQ(size, 30u);
  int dummy = 0;
  EXPECT_EQ(acmMetrics(&dummy, ACM_METRIC_MAX_SIZE_FORMAT, size), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmMetrics(nullptr, 51, size), MMSYSERR_NOTSUPPORTED);
}

TEST(AcmFormatSuggest, CompletesPcmForMp3) {
  for (std::uint16_t ch : {1, 2}) {
    WAVEFORMATEX dst;
    dst.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, mp3Format(22050, ch, 64), dst, 129,
                               ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    EXPECT_EQ(dst.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(dst.nChannels, ch);
    EXPECT_EQ(dst.nSamplesPerSec, 22050u);
    EXPECT_EQ(dst.wBitsPerSample, 16);
    EXPECT_EQ(dst.nBlockAlign, 2 * ch);
    EXPECT_EQ(dst.nAvgBytesPerSec, 22050u * 2 * ch);
    EXPECT_EQ(dst.cbSize, 0);
  }
}

TEST(AcmFormatSuggest, RefusesWhatItCannotProduce) {
  const WAVEFORMATEX src = mp3Format(44100, 2, 128);
  WAVEFORMATEX dst;
  dst.wFormatTag = 2;  // no encoder of any kind
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 129, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(dst.wFormatTag, 2) << "a refused suggestion leaves the destination alone";
  dst = pcm16(44100, 1);
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 129, ACM_FORMATSUGGESTF_NCHANNELS),
            ACMERR_NOTPOSSIBLE);
  dst = pcm16(22050, 2);
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 129, ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);
  dst.wBitsPerSample = 8;
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 129, ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            ACMERR_NOTPOSSIBLE);

  // Sources that no codec reads: PCM itself, other tags, impossible layer-3 rates or channels.
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm16(44100, 2), dst, 129, 0), ACMERR_NOTPOSSIBLE);
  WAVEFORMATEX bad = src;
  bad.wFormatTag = 0x55 + 1;
  EXPECT_EQ(acmFormatSuggest(nullptr, bad, dst, 129, 0), ACMERR_NOTPOSSIBLE);
  bad = src;
  bad.nSamplesPerSec = 44000;
  EXPECT_EQ(acmFormatSuggest(nullptr, bad, dst, 129, 0), ACMERR_NOTPOSSIBLE);
  bad = src;
  bad.nChannels = 3;
  EXPECT_EQ(acmFormatSuggest(nullptr, bad, dst, 129, 0), ACMERR_NOTPOSSIBLE);
  bad.nChannels = 0;
  EXPECT_EQ(acmFormatSuggest(nullptr, bad, dst, 129, 0), ACMERR_NOTPOSSIBLE);

  // Misuse.
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 15, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmFormatSuggest(nullptr, src, dst, 129, 0x1), MMSYSERR_INVALFLAG);
  int driver = 0;
  EXPECT_EQ(acmFormatSuggest(reinterpret_cast<HACMDRIVER>(&driver), src, dst, 129, 0),
            MMSYSERR_INVALHANDLE);
}

TEST(AcmStreamOpen, AcceptsOnlyMp3ToMatchingPcm16) {
  const WAVEFORMATEX src = mp3Format(44100, 2, 128);
  EXPECT_EQ(
      acmStreamOpen(nullptr, nullptr, src, pcm16(44100, 2), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
      MMSYSERR_NOERROR);
  auto query = [&](const WAVEFORMATEX& s, const WAVEFORMATEX& d) {
    return acmStreamOpen(nullptr, nullptr, s, d, nullptr, 0, 0, ACM_STREAMOPENF_QUERY);
  };
  EXPECT_EQ(query(src, pcm16(22050, 2)), ACMERR_NOTPOSSIBLE);  // no resampling
  EXPECT_EQ(query(src, pcm16(44100, 1)), ACMERR_NOTPOSSIBLE);  // no remixing
  WAVEFORMATEX eight = pcm16(44100, 2);
  eight.wBitsPerSample = 8;
  eight.nBlockAlign = 2;
  eight.nAvgBytesPerSec = 88200;
  EXPECT_EQ(query(src, eight), ACMERR_NOTPOSSIBLE);
  WAVEFORMATEX wrongAvg = pcm16(44100, 2);
  wrongAvg.nAvgBytesPerSec = 1;
  EXPECT_EQ(query(src, wrongAvg), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(pcm16(44100, 2), pcm16(44100, 2)), ACMERR_NOTPOSSIBLE);

  // Declared byte rates that no layer-3 stream has: sizes could not be estimated from them.
  EXPECT_EQ(query(mp3Format(44100, 2, 0), pcm16(44100, 2)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(mp3Format(44100, 2, 16), pcm16(44100, 2)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(mp3Format(44100, 2, 384), pcm16(44100, 2)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(mp3Format(22050, 1, 8), pcm16(22050, 1)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(mp3Format(22050, 1, 192), pcm16(22050, 1)), ACMERR_NOTPOSSIBLE);
}

TEST(AcmStreamOpen, RefusesMisuse) {
  const WAVEFORMATEX src = mp3Format(44100, 2, 128);
  const WAVEFORMATEX dst = pcm16(44100, 2);
  HACMSTREAM h = reinterpret_cast<HACMSTREAM>(&h);
  EXPECT_EQ(acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(h, nullptr) << "a failed open leaves no handle behind";
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, src, dst, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
            ACMERR_NOTPOSSIBLE);
  int filter = 0;
  EXPECT_EQ(acmStreamOpen(&h, nullptr, src, dst, &filter, 0, 0, 0), ACMERR_NOTPOSSIBLE);
}

TEST(AcmStreamSize, EstimatesWholeFramesFromTheByteRate) {
  Stream s(mp3Format(44100, 2, 128), pcm16(44100, 2));
  std::uint32_t out = 0;
  // 100 frames of 128 kbit/s at 44100 Hz take 41796 bytes (417.96 per frame, with padding).
  ASSERT_EQ(acmStreamSize(s.h, 41796, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 100u * 1152 * 4);
  ASSERT_EQ(acmStreamSize(s.h, 41797, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 100u * 1152 * 4) << "a padding byte more is not another frame";
  ASSERT_EQ(acmStreamSize(s.h, 41796 + 100, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 101u * 1152 * 4) << "a partial frame rounds up";
  ASSERT_EQ(acmStreamSize(s.h, 1, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 1152u * 4);
  ASSERT_EQ(acmStreamSize(s.h, 0, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 0u);
  // One second of PCM needs one second of mp3.
  ASSERT_EQ(acmStreamSize(s.h, 176400, out, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 16000u);
  EXPECT_EQ(acmStreamSize(s.h, 1, out, 2), MMSYSERR_INVALFLAG);

  // MPEG-2: 576 samples a frame, 104.49 bytes at 32 kbit/s and 22050 Hz.
  Stream half(mp3Format(22050, 1, 32), pcm16(22050, 1));
  ASSERT_EQ(acmStreamSize(half.h, 1045, out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(out, 10u * 576 * 2);

  // A size that does not fit 32 bits is refused, not wrapped.
  Stream slow(mp3Format(8000, 2, 8), pcm16(8000, 2));
  EXPECT_EQ(acmStreamSize(slow.h, 0xF0000000u, out, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);
}

TEST(AcmStreamConvert, DecodesStereoMp3ToTheSignal) {
  const int rate = 44100;
  const int frames = rate;  // one second: left 1 kHz, right 2.5 kHz
  const auto pcm = Sine(rate, 2, frames, {1000, 2500}, 10000);
  const auto mp3 = EncodeMp3(pcm, rate, 2, 128);
  const Decoded d = decodeAll(mp3Format(rate, 2, 128), mp3);
  ASSERT_EQ(d.result, MMSYSERR_NOERROR);
  EXPECT_EQ(d.srcUsed, mp3.size());
  // The encoder adds its delay and pads the last frame; every frame decodes to 1152 samples, and
  // the estimate from the byte rate is exactly the frames there are.
  EXPECT_EQ(d.pcm.size() * 2, d.estimate);
  EXPECT_EQ(d.pcm.size() % (1152 * 2), 0u);
  EXPECT_GE(d.pcm.size() / 2, static_cast<std::size_t>(frames));
  EXPECT_LE(d.pcm.size() / 2, static_cast<std::size_t>(frames + 3 * 1152));
  // 441 samples hold whole cycles of both tones; measure in the middle of the second.
  const int first = 20000, count = 441 * 20;
  EXPECT_NEAR(ToneAmplitude(d.pcm, 2, 0, rate, 1000, first, count), 10000, 1000);
  EXPECT_NEAR(ToneAmplitude(d.pcm, 2, 1, rate, 2500, first, count), 10000, 1000);
  EXPECT_LT(ToneAmplitude(d.pcm, 2, 0, rate, 2500, first, count), 300) << "channels swapped?";
  EXPECT_LT(ToneAmplitude(d.pcm, 2, 1, rate, 1000, first, count), 300) << "channels swapped?";
}

TEST(AcmStreamConvert, DecodesMonoMpeg2) {
  const int rate = 22050;
  const auto pcm = Sine(rate, 1, rate / 2, {441}, 8000);
  const auto mp3 = EncodeMp3(pcm, rate, 1, 32);
  const Decoded d = decodeAll(mp3Format(rate, 1, 32), mp3);
  ASSERT_EQ(d.result, MMSYSERR_NOERROR);
  EXPECT_EQ(d.pcm.size() * 2, d.estimate);
  EXPECT_EQ(d.pcm.size() % 576, 0u);
  EXPECT_GE(d.pcm.size(), static_cast<std::size_t>(rate / 2));
  EXPECT_NEAR(ToneAmplitude(d.pcm, 1, 0, rate, 441, 4000, 2500), 8000, 800);
}

TEST(AcmStreamConvert, RejectsDataThatIsNotTheDeclaredStream) {
  const std::vector<std::uint8_t> garbage = tw_test::NoiseBytes(20000, 12345);
  const Decoded g = decodeAll(mp3Format(44100, 2, 128), garbage);
  EXPECT_EQ(g.result, ACMERR_NOTPOSSIBLE);
  EXPECT_TRUE(g.pcm.empty());

  const std::vector<std::uint8_t> zeros(20000, 0);
  EXPECT_EQ(decodeAll(mp3Format(44100, 2, 128), zeros).result, ACMERR_NOTPOSSIBLE);

  // Real mp3 frames, but not of the format the header declares.
  const auto mono = EncodeMp3(Sine(22050, 1, 22050, {440}, 8000), 22050, 1, 32);
  EXPECT_EQ(decodeAll(mp3Format(44100, 1, 128), mono).result, ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(decodeAll(mp3Format(22050, 2, 32), mono).result, ACMERR_NOTPOSSIBLE);
}

TEST(AcmStreamConvert, BlockAlignLeavesThePartialBlock) {
  const auto mp3 = EncodeMp3(Sine(44100, 2, 44100, {1000, 1000}, 8000), 44100, 2, 128);
  WAVEFORMATEX src = mp3Format(44100, 2, 128);
  src.nBlockAlign = 1000;
  Stream s(src, pcm16(44100, 2));
  std::vector<std::uint8_t> in(mp3.begin(), mp3.begin() + 2500);
  std::vector<std::uint8_t> out(1152 * 4 * 10);
  ACMSTREAMHEADER h = header(in, out);
  ASSERT_EQ(acmStreamPrepareHeader(s.h, h, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(s.h, h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(h.cbSrcLengthUsed, 2000u);
  EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
  EXPECT_EQ(acmStreamUnprepareHeader(s.h, h, 0), MMSYSERR_NOERROR);

  // Without the flag everything is taken.
  ACMSTREAMHEADER all = header(in, out);
  ASSERT_EQ(acmStreamPrepareHeader(s.h, all, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(s.h, all, ACM_STREAMCONVERTF_START), MMSYSERR_NOERROR);
  EXPECT_EQ(all.cbSrcLengthUsed, 2500u);
  EXPECT_EQ(acmStreamUnprepareHeader(s.h, all, 0), MMSYSERR_NOERROR);
}

TEST(AcmStreamConvert, KeepsWhatDoesNotFitForTheNextCall) {
  const auto mp3 = EncodeMp3(Sine(44100, 2, 20000, {700, 900}, 9000), 44100, 2, 128);
  const WAVEFORMATEX src = mp3Format(44100, 2, 128);
  const Decoded whole = decodeAll(src, mp3);
  ASSERT_EQ(whole.result, MMSYSERR_NOERROR);
  const std::size_t wholeBytes = whole.pcm.size() * 2;

  Stream s(src, pcm16(44100, 2));
  std::vector<std::uint8_t> first(wholeBytes / 3 + 2);  // ends inside a frame
  ACMSTREAMHEADER h = header(mp3, first);
  ASSERT_EQ(acmStreamPrepareHeader(s.h, h, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(s.h, h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(h.cbDstLengthUsed, first.size());
  EXPECT_EQ(h.cbSrcLengthUsed, mp3.size());
  ASSERT_EQ(acmStreamUnprepareHeader(s.h, h, 0), MMSYSERR_NOERROR);

  const std::vector<std::uint8_t> none;
  std::vector<std::uint8_t> rest(wholeBytes);
  ACMSTREAMHEADER h2 = header(none, rest);
  ASSERT_EQ(acmStreamPrepareHeader(s.h, h2, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(s.h, h2, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
  EXPECT_EQ(h2.cbDstLengthUsed, wholeBytes - first.size());
  ASSERT_EQ(acmStreamUnprepareHeader(s.h, h2, 0), MMSYSERR_NOERROR);

  std::vector<std::uint8_t> joined(first);
  joined.insert(joined.end(), rest.begin(), rest.begin() + h2.cbDstLengthUsed);
  ASSERT_EQ(joined.size(), wholeBytes);
  EXPECT_EQ(std::memcmp(joined.data(), whole.pcm.data(), wholeBytes), 0);

  // START forgets the earlier data: the same source decodes again from its beginning.
  std::vector<std::uint8_t> again(wholeBytes);
  ACMSTREAMHEADER h3 = header(mp3, again);
  ASSERT_EQ(acmStreamPrepareHeader(s.h, h3, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamConvert(s.h, h3, ACM_STREAMCONVERTF_START), MMSYSERR_NOERROR);
  EXPECT_EQ(h3.cbDstLengthUsed, wholeBytes);
  EXPECT_EQ(std::memcmp(again.data(), whole.pcm.data(), wholeBytes), 0);
  ASSERT_EQ(acmStreamUnprepareHeader(s.h, h3, 0), MMSYSERR_NOERROR);
}

TEST(AcmStreamHeaders, LifecycleIsChecked) {
  const auto mp3 = EncodeMp3(Sine(44100, 2, 5000, {1000, 1000}, 8000), 44100, 2, 128);
  HACMSTREAM s = nullptr;
  ASSERT_EQ(acmStreamOpen(&s, nullptr, mp3Format(44100, 2, 128), pcm16(44100, 2), nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME),
            MMSYSERR_NOERROR);
  std::vector<std::uint8_t> out(100000);
  ACMSTREAMHEADER h = header(mp3, out);
  EXPECT_EQ(acmStreamConvert(s, h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(s, h, 0), ACMERR_UNPREPARED);

  ACMSTREAMHEADER unfilled;
  EXPECT_EQ(acmStreamPrepareHeader(s, unfilled, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamPrepareHeader(s, h, 1), MMSYSERR_INVALFLAG);

  ASSERT_EQ(acmStreamPrepareHeader(s, h, 0), MMSYSERR_NOERROR);
  EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(acmStreamClose(s, 0), ACMERR_BUSY) << "a prepared header keeps the stream open";
  EXPECT_EQ(acmStreamConvert(s, h, 0x40), MMSYSERR_INVALFLAG);

  h.pbDst = out.data() + 1;  // the buffer moved since preparing
  EXPECT_EQ(acmStreamConvert(s, h, 0), MMSYSERR_INVALPARAM);
  h.pbDst = out.data();
  h.cbSrcLength += 1;
  EXPECT_EQ(acmStreamConvert(s, h, 0), MMSYSERR_INVALPARAM) << "longer than prepared";
  h.cbSrcLength -= 1;
  EXPECT_EQ(acmStreamConvert(s, h, 0), MMSYSERR_NOERROR);
  EXPECT_GT(h.cbDstLengthUsed, 0u);

  EXPECT_EQ(acmStreamUnprepareHeader(s, h, 2), MMSYSERR_INVALFLAG);
  ASSERT_EQ(acmStreamUnprepareHeader(s, h, 0), MMSYSERR_NOERROR);
  EXPECT_FALSE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(s, h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamClose(s, 1), MMSYSERR_INVALFLAG);
  ASSERT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);

  // The handle is gone: every call says so instead of touching freed memory.
  std::uint32_t size = 0;
  EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamSize(s, 100, size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamPrepareHeader(s, h, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamConvert(s, h, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamUnprepareHeader(s, h, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamClose(nullptr, 0), MMSYSERR_INVALHANDLE);
}
