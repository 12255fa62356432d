// The Ogg Vorbis writer: what reaches the file (decoded back with libvorbisfile), the encoder
// set-up of each bit-rate choice, comments, appending, and the run's events.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "tests/audio/EncoderTestSupport.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/EncodedAudio.h"

using enctest::DecodeOgg;
using enctest::OggPages;
using enctest::ReadOggStreams;
using enctest::ToneAmplitude;
using enctest::TonePcm;
using tw_test::MemSource;
using tw_test::ReadFile;

namespace {

// ---- Bit-rate setters (no run) ------------------------------------------------------------------

class VorbisSettings : public ::testing::Test {
 protected:
  platform::TComponent owner{nullptr};
  TVorbisOut* ogg = new TVorbisOut(&owner);
};

TEST_F(VorbisSettings, ANewWriterLeavesTheBitRateToTheEncoder) {
  EXPECT_FLOAT_EQ(ogg->Compression(), 0.2f);
  EXPECT_TRUE(ogg->Comments().empty());
  EXPECT_EQ(ogg->DesiredNominalBitrate(), bbrAutoSelect);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbrAutoSelect);
  EXPECT_EQ(ogg->MinimumBitrate(), bbrAutoSelect);
  EXPECT_EQ(ogg->Serial(), 0);
  EXPECT_EQ(ogg->FileMode(), foRewrite);
  ogg->SetFileMode(foAppend);
  EXPECT_EQ(ogg->FileMode(), foAppend) << "the Ogg writer can append";
}

TEST_F(VorbisSettings, BitRatesRiseWithTheirOrdinal) {
  EXPECT_EQ(VorbisBitRateValue(bbrAutoSelect), -1);
  EXPECT_EQ(VorbisBitRateValue(bbr45), 45000);
  EXPECT_EQ(VorbisBitRateValue(bbr128), 128000);
  EXPECT_EQ(VorbisBitRateValue(bbr499), 499000);
  for (int i = bbr45; i < bbr499; ++i) {
    EXPECT_LT(VorbisBitRateValue(TVorbisBitRate(i)), VorbisBitRateValue(TVorbisBitRate(i + 1)));
  }
}

TEST_F(VorbisSettings, ANominalRateDragsTheOthersAlong) {
  ogg->SetDesiredNominalBitrate(bbr128);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbr128);
  EXPECT_EQ(ogg->MinimumBitrate(), bbrAutoSelect);
  ogg->SetMinimumBitrate(bbr128);
  EXPECT_EQ(ogg->MinimumBitrate(), bbr128);
  ogg->SetDesiredNominalBitrate(bbr96);
  EXPECT_EQ(ogg->MinimumBitrate(), bbr96) << "the minimum comes down with the nominal";
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbr128) << "the maximum stays up";
  ogg->SetDesiredNominalBitrate(bbr160);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbr160);
  ogg->SetDesiredNominalBitrate(bbrAutoSelect);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbrAutoSelect);
  EXPECT_EQ(ogg->MinimumBitrate(), bbrAutoSelect);
}

TEST_F(VorbisSettings, MaximumAndMinimumOnTheWrongSideOfTheNominalAreIgnored) {
  ogg->SetDesiredMaximumBitrate(bbr192);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbrAutoSelect) << "ignored without a nominal";
  ogg->SetMinimumBitrate(bbr64);
  EXPECT_EQ(ogg->MinimumBitrate(), bbrAutoSelect) << "only bbrAutoSelect without a nominal";
  ogg->SetDesiredNominalBitrate(bbr128);
  ogg->SetDesiredMaximumBitrate(bbr64);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbr128);
  ogg->SetMinimumBitrate(bbr160);
  EXPECT_EQ(ogg->MinimumBitrate(), bbrAutoSelect);
  ogg->SetDesiredMaximumBitrate(bbr256);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbr256);
  ogg->SetDesiredMaximumBitrate(bbrAutoSelect);
  EXPECT_EQ(ogg->DesiredMaximumBitrate(), bbrAutoSelect);
  ogg->SetMinimumBitrate(bbr64);
  EXPECT_EQ(ogg->MinimumBitrate(), bbr64);
}

// ---- Runs ---------------------------------------------------------------------------------------

class VorbisWriter : public enctest::WriterTest<TVorbisOut> {
 protected:
  // The one logical stream of the file at `path`; a failure when there is not exactly one.
  enctest::OggStreamInfo OnlyStream() {
    const auto streams = ReadOggStreams(path);
    EXPECT_EQ(streams.size(), 1u);
    return streams.empty() ? enctest::OggStreamInfo{} : streams.front();
  }

  TVorbisOut*& ogg = writer;  // the writer under test, by its usual name
};

struct RoundTrip {
  int rate;
  int channels;
  TVorbisBitRate nominal;
};

class VorbisRoundTrip : public VorbisWriter, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(VorbisRoundTrip, TenSecondsOfASinePairDecodeBackInPlaceAtFullLength) {
  const auto [rate, channels, nominal] = GetParam();
  Tone(rate, channels, 10.0);
  ogg->SetDesiredNominalBitrate(nominal);
  ASSERT_TRUE(Run("tone.ogg"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  const auto pcm = DecodeOgg(path);
  EXPECT_EQ(pcm.rate, rate);
  ASSERT_EQ(pcm.channels, channels);
  EXPECT_EQ(pcm.Frames(), std::size_t(10 * rate)) << "Ogg Vorbis keeps the exact length";
  ExpectTones(pcm, channels == 2);
}

INSTANTIATE_TEST_SUITE_P(
    RatesChannelsAndModes, VorbisRoundTrip,
    ::testing::Values(RoundTrip{44100, 2, bbr128}, RoundTrip{44100, 2, bbrAutoSelect},
                      RoundTrip{44100, 1, bbr128}, RoundTrip{22050, 2, bbr96},
                      RoundTrip{22050, 1, bbrAutoSelect}, RoundTrip{11025, 2, bbr56},
                      RoundTrip{11025, 1, bbr48}),
    [](const auto& info) {
      return std::to_string(info.param.rate) + (info.param.channels == 2 ? "Stereo" : "Mono") +
             (info.param.nominal == bbrAutoSelect
                  ? std::string("Quality")
                  : std::to_string(VorbisBitRateValue(info.param.nominal) / 1000) + "k");
    });

TEST_F(VorbisWriter, TheEncoderGetsTheBitRatesTheSettersLeft) {
  // A second of the sine pair encoded with `nominal`: the stream's bit rates.
  const auto encode = [&](TVorbisBitRate nominal, const std::string& name) {
    Tone(44100, 2, 1.0);
    ogg->SetDesiredNominalBitrate(nominal);
    EXPECT_TRUE(Run(name));
    return OnlyStream();
  };
  auto stream = encode(bbr128, "128.ogg");
  EXPECT_EQ(stream.bitrateUpper, 128000);
  EXPECT_EQ(stream.bitrateNominal, 128000);
  EXPECT_EQ(stream.bitrateLower, 128000);

  stream = encode(bbr80, "80.ogg");
  EXPECT_EQ(stream.bitrateUpper, 128000) << "the maximum stayed at 128";
  EXPECT_EQ(stream.bitrateNominal, 80000);
  EXPECT_EQ(stream.bitrateLower, 80000);

  stream = encode(bbrAutoSelect, "quality.ogg");
  EXPECT_LE(stream.bitrateUpper, 0) << "quality mode passes no bit rate";
  EXPECT_LE(stream.bitrateLower, 0);
  const auto low = std::filesystem::file_size(path);
  Tone(44100, 2, 1.0);
  ogg->SetCompression(0.9f);
  ASSERT_TRUE(Run("quality9.ogg"));
  EXPECT_GT(std::filesystem::file_size(path), low + low / 2) << "a higher quality costs more bytes";
}

TEST_F(VorbisWriter, CommentsAndSerialReachTheStreamAndCommentsLastOneRun) {
  Tone(44100, 1, 0.5);
  ogg->SetComments({"TITLE=Bolero", "ARTIST=Ravel", "ARTIST=Orchestre", "no equals sign"});
  ogg->SetSerial(12345);
  ASSERT_TRUE(Run("comments.ogg"));
  EXPECT_TRUE(ogg->Comments().empty());
  const auto stream = OnlyStream();
  EXPECT_EQ(stream.serial, 12345);
  EXPECT_EQ(stream.comments,
            (std::vector<std::string>{"TITLE=Bolero", "ARTIST=Ravel", "ARTIST=Orchestre", "="}));

  Tone(44100, 1, 0.5);
  ASSERT_TRUE(Run("nocomments.ogg"));
  EXPECT_TRUE(OnlyStream().comments.empty());
}

TEST_F(VorbisWriter, AppendingAddsAStreamAfterTheOldOneAndCreatesAMissingFile) {
  ogg->SetFileMode(foAppend);
  Tone(44100, 2, 1.0);
  ogg->SetComments({"TITLE=first"});
  ASSERT_TRUE(Run("chain.ogg"));
  ASSERT_EQ(ReadOggStreams(path).size(), 1u) << "appending to no file creates it";
  const auto firstBytes = ReadFile(path);

  Tone(22050, 1, 2.0);
  ogg->SetComments({"TITLE=second"});
  ogg->SetSerial(7);
  ASSERT_TRUE(Run("chain.ogg"));
  const auto bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), firstBytes.size());
  EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.end(), bytes.begin()))
      << "the old stream is kept byte for byte";
  const auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].comments, std::vector<std::string>{"TITLE=first"});
  EXPECT_EQ(streams[0].frames, 44100);
  EXPECT_EQ(streams[1].comments, std::vector<std::string>{"TITLE=second"});
  EXPECT_EQ(streams[1].channels, 1);
  EXPECT_EQ(streams[1].rate, 22050);
  EXPECT_EQ(streams[1].frames, 44100);
  EXPECT_EQ(streams[1].serial, 7);

  ogg->SetFileMode(foRewrite);
  Tone(44100, 2, 0.5);
  ASSERT_TRUE(Run("chain.ogg"));
  EXPECT_EQ(ReadOggStreams(path).size(), 1u) << "rewriting replaces the file";
}

TEST_F(VorbisWriter, StreamsAppendedWithTheSameSerialStillReadBackAsTwo) {
  ogg->SetFileMode(foAppend);
  Tone(44100, 2, 3.0);
  ASSERT_TRUE(Run("same.ogg"));
  Tone(44100, 2, 1.5);
  ASSERT_TRUE(Run("same.ogg"));
  const auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].frames, 3 * 44100);
  EXPECT_EQ(streams[1].frames, 66150);
  EXPECT_NE(streams[0].serial, streams[1].serial);
  EXPECT_EQ(DecodeOgg(path).Frames(), 3u * 44100 + 66150);
}

TEST_F(VorbisWriter, HeadersStandOnPagesOfTheirOwnAndTheLastPageEndsTheStream) {
  Tone(44100, 2, 2.0);
  ASSERT_TRUE(Run("pages.ogg"));
  const auto pages = OggPages(ReadFile(path));
  ASSERT_GE(pages.size(), 4u);
  EXPECT_TRUE(pages[0].bos);
  EXPECT_EQ(pages[0].granule, 0);
  EXPECT_EQ(pages[1].granule, 0) << "comment and codebook headers flushed before any audio";
  EXPECT_TRUE(pages.back().eos);
  for (std::size_t i = 0; i + 1 < pages.size(); ++i) EXPECT_FALSE(pages[i].eos) << i;
  EXPECT_EQ(pages.back().granule, 2 * 44100);
}

TEST_F(VorbisWriter, ProgressClimbsTo100AndDoneComesOnce) {
  CheckProgressClimbsTo100AndDoneComesOnce("progress.ogg", 4.0, 5);  // blocks of 65536 of 705600
}

TEST_F(VorbisWriter, StoppedInTheMiddleTheStreamIsStillEndedAndAppendableAfter) {
  auto* src = RunAndStop("stopped.ogg", 5);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(ev.failures, 0);
  EXPECT_EQ(src->flushes, 1);
  const auto pages = OggPages(ReadFile(path));
  ASSERT_FALSE(pages.empty());
  EXPECT_TRUE(pages.back().eos) << "a stopped stream is still closed";
  EXPECT_GE(OnlyStream().frames, 5 * 16384 - 4096);

  ogg->SetFileMode(foAppend);
  Tone(44100, 2, 1.0);
  ogg->SetSerial(1);
  ASSERT_TRUE(Run("stopped.ogg"));
  const auto chained = ReadOggStreams(path);
  ASSERT_EQ(chained.size(), 2u);
  EXPECT_EQ(chained[1].frames, 44100);
}

TEST_F(VorbisWriter, AnEmptyInputGivesHeadersAndAnEndedStream) {
  Source({}, 16, 2, 44100);
  ASSERT_TRUE(Run("empty.ogg"));
  EXPECT_EQ(ev.done, 1);
  EXPECT_EQ(OnlyStream().frames, 0);
  EXPECT_TRUE(OggPages(ReadFile(path)).back().eos);
}

TEST_F(VorbisWriter, EightBitInputIsWidenedNotEncodedAsNoise) {
  Tone(22050, 2, 2.0, 8);
  ASSERT_TRUE(Run("eight.ogg"));
  const auto pcm = DecodeOgg(path);
  EXPECT_EQ(pcm.Frames(), 44100u);
  ExpectTones(pcm, true);
}

TEST_F(VorbisWriter, EncodesAnEightBitWavFileReadThroughTheWavReader) {
  WavTone(11025, 1, 8, 3.0);
  ASSERT_TRUE(Run("from wav.ogg"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  EXPECT_EQ(ev.progress.back(), 100);
  const auto pcm = DecodeOgg(path);
  EXPECT_EQ(pcm.rate, 11025);
  ASSERT_EQ(pcm.channels, 1);
  EXPECT_EQ(pcm.Frames(), 3u * 11025);
  ExpectTones(pcm, false);
}

TEST_F(VorbisWriter, ShortBlocksDropTheirIncompleteLastFrame) {
  auto* src =
      Source(TonePcm(44100, 2, 16, 4 * 65536 / 4 / 44100.0, kLeftHz, kRightHz), 16, 2, 44100);
  src->maxBlock = 65535;
  ASSERT_TRUE(Run("odd.ogg"));
  // 262144 bytes arrive as four blocks of 65535 bytes (16383 frames each) and one of 4.
  EXPECT_EQ(DecodeOgg(path).Frames(), 4u * 16383 + 1);

  src = Source(TonePcm(44100, 2, 16, 1.0, kLeftHz, kRightHz), 16, 2, 44100);
  src->maxBlock = 3;
  ASSERT_TRUE(Run("tiny.ogg"));
  EXPECT_EQ(ev.failures, 0) << ev.Failure();
  EXPECT_EQ(DecodeOgg(path).Frames(), 0u)
      << "blocks shorter than a frame give nothing, and do not end the stream early";
}

// ---- Refusals -----------------------------------------------------------------------------------

TEST_F(VorbisWriter, AnEmptyFileNameIsRefusedBeforeTheInputIsTouched) {
  CheckAnEmptyFileNameIsRefused();
}

TEST_F(VorbisWriter, FormatsItCannotEncodeAreRefusedWithoutCreatingTheFile) {
  ExpectFormatRefused(32, 2, 44100, "32-bit");
  ExpectFormatRefused(16, 4, 44100, "4 channels");
}

TEST_F(VorbisWriter, AFailedRunLeavesNoEmptyOutput) {
  CheckFailedRunsLeaveNoEmptyOutput([&] { Source(std::vector<std::uint8_t>(3000), 32, 2, 44100); });
}

TEST_F(VorbisWriter, ABitRateTheEncoderCannotReachIsRefusedBeforeTheFileOrTheInputIsTouched) {
  auto* src = Tone(11025, 1, 1.0);
  ogg->SetDesiredNominalBitrate(bbr499);
  ASSERT_TRUE(Run("refused.ogg"));
  EXPECT_NE(ev.Failure().find("cannot encode mono audio at 11025 Hz with 499 kbit/s"),
            std::string::npos)
      << ev.Failure();
  EXPECT_EQ(ev.done, 0);
  EXPECT_EQ(src->inits, 0);
  EXPECT_FALSE(src->Busy());
  EXPECT_FALSE(std::filesystem::exists(path)) << "no empty file is left behind";

  ogg->SetDesiredNominalBitrate(bbrAutoSelect);
  ASSERT_TRUE(Run("refused.ogg"));
  EXPECT_EQ(ev.done, 1) << "the writer and the file are free for the next run";
  EXPECT_EQ(DecodeOgg(path).Frames(), 11025u);
}

}  // namespace
