// The Ogg Vorbis writer: what reaches the file (decoded back with libvorbisfile), the encoder
// set-up of each bit-rate choice, comments, appending, and the run's events.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "tests/support/EncodedAudio.h"
#include "tests/audio/EncoderTestSupport.h"
#include "tests/audio/TestSupport.h"

using enctest::DecodeOgg;
using enctest::OggPages;
using enctest::ReadOggStreams;
using enctest::ToneAmplitude;
using enctest::TonePcm;
using tw_test::MemSource;
using tw_test::ReadFile;

namespace {

// ---- Bit-rate setters (no run)
// -------------------------------------------------------------------

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

// ---- Runs
// ----------------------------------------------------------------------------------------

class VorbisWriter : public enctest::WriterTest<TVorbisOut> {
 protected:
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
  if (channels == 2) {
    EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
    EXPECT_NEAR(ToneAmplitude(pcm, 1, kRightHz), kAmplitude, 0.05);
    EXPECT_LT(ToneAmplitude(pcm, 0, kRightHz), 0.02);
    EXPECT_LT(ToneAmplitude(pcm, 1, kLeftHz), 0.02);
  } else {
    EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
    EXPECT_NEAR(ToneAmplitude(pcm, 0, kRightHz), kAmplitude, 0.05);
  }
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
  Tone(44100, 2, 1.0);
  ogg->SetDesiredNominalBitrate(bbr128);
  ASSERT_TRUE(Run("128.ogg"));
  auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].bitrateUpper, 128000);
  EXPECT_EQ(streams[0].bitrateNominal, 128000);
  EXPECT_EQ(streams[0].bitrateLower, 128000);

  Tone(44100, 2, 1.0);
  ogg->SetDesiredNominalBitrate(bbr80);
  ASSERT_TRUE(Run("80.ogg"));
  streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].bitrateUpper, 128000) << "the maximum stayed at 128";
  EXPECT_EQ(streams[0].bitrateNominal, 80000);
  EXPECT_EQ(streams[0].bitrateLower, 80000);

  Tone(44100, 2, 1.0);
  ogg->SetDesiredNominalBitrate(bbrAutoSelect);
  ASSERT_TRUE(Run("quality.ogg"));
  streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_LE(streams[0].bitrateUpper, 0) << "quality mode passes no bit rate";
  EXPECT_LE(streams[0].bitrateLower, 0);
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
  auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].serial, 12345);
  EXPECT_EQ(streams[0].comments,
            (std::vector<std::string>{"TITLE=Bolero", "ARTIST=Ravel", "ARTIST=Orchestre", "="}));

  Tone(44100, 1, 0.5);
  ASSERT_TRUE(Run("nocomments.ogg"));
  streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_TRUE(streams[0].comments.empty());
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
  auto* src = Tone(44100, 2, 4.0);
  ASSERT_TRUE(Run("progress.ogg"));
  EXPECT_EQ(ev.done, 1);
  EXPECT_EQ(ev.failures, 0);
  ASSERT_FALSE(ev.progress.empty());
  EXPECT_EQ(ev.progress.back(), 100);
  for (std::size_t i = 1; i < ev.progress.size(); ++i)
    EXPECT_GT(ev.progress[i], ev.progress[i - 1]);
  EXPECT_GE(ev.progress.size(), 5u) << "one block is 65536 bytes of 705600";
  EXPECT_EQ(src->inits, 1);
  EXPECT_EQ(src->flushes, 1);
  tw_test::PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(ev.done, 1);
}

TEST_F(VorbisWriter, StoppedInTheMiddleTheStreamIsStillEndedAndAppendableAfter) {
  auto* src = Source({}, 16, 2, 44100);
  src->endless = true;
  ogg->SetFileName(dir / "stopped.ogg");
  path = dir / "stopped.ogg";
  ogg->Run();
  ASSERT_TRUE(tw_test::PumpUntil([&] { return src->requests > 5; }));
  ogg->Stop();
  ASSERT_TRUE(tw_test::PumpUntil([&] { return ev.done == 1 && ogg->Status() == 2; }));
  EXPECT_EQ(ev.failures, 0);
  EXPECT_EQ(src->flushes, 1);
  const auto pages = OggPages(ReadFile(path));
  ASSERT_FALSE(pages.empty());
  EXPECT_TRUE(pages.back().eos) << "a stopped stream is still closed";
  const auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_GE(streams[0].frames, 5 * 16384 - 4096);

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
  const auto streams = ReadOggStreams(path);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].frames, 0);
  EXPECT_TRUE(OggPages(ReadFile(path)).back().eos);
}

TEST_F(VorbisWriter, EightBitInputIsWidenedNotEncodedAsNoise) {
  Tone(22050, 2, 2.0, 8);
  ASSERT_TRUE(Run("eight.ogg"));
  const auto pcm = DecodeOgg(path);
  EXPECT_EQ(pcm.Frames(), 44100u);
  EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
  EXPECT_NEAR(ToneAmplitude(pcm, 1, kRightHz), kAmplitude, 0.05);
  EXPECT_LT(ToneAmplitude(pcm, 0, kRightHz), 0.02);
}

TEST_F(VorbisWriter, EncodesAnEightBitWavFileReadThroughTheWavReader) {
  const std::string wav = dir / "in put.wav";
  enctest::WriteToneWav(wav, 11025, 1, 8, 3.0, kLeftHz, kRightHz, kAmplitude);
  auto* wave = new TWaveIn(&owner);
  wave->SetFileName(wav);
  ogg->SetInput(wave);
  ASSERT_TRUE(Run("from wav.ogg"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  EXPECT_EQ(ev.progress.back(), 100);
  const auto pcm = DecodeOgg(path);
  EXPECT_EQ(pcm.rate, 11025);
  ASSERT_EQ(pcm.channels, 1);
  EXPECT_EQ(pcm.Frames(), 3u * 11025);
  EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
  EXPECT_NEAR(ToneAmplitude(pcm, 0, kRightHz), kAmplitude, 0.05);
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

// ---- Refusals
// ------------------------------------------------------------------------------------

TEST_F(VorbisWriter, AnEmptyFileNameIsRefusedBeforeTheInputIsTouched) {
  auto* src = Tone(44100, 2, 1.0);
  ASSERT_TRUE(enctest::RunToEnd(*ogg, ev, ""));
  EXPECT_EQ(ev.Failure(), "File name is not assigned.");
  EXPECT_EQ(ev.done, 0);
  EXPECT_EQ(src->inits, 0);
}

TEST_F(VorbisWriter, FormatsItCannotEncodeAreRefusedWithoutCreatingTheFile) {
  auto* src = Source(std::vector<std::uint8_t>(3000), 32, 2, 44100);
  ASSERT_TRUE(Run("32bit.ogg"));
  EXPECT_NE(ev.Failure().find("32-bit"), std::string::npos) << ev.Failure();
  EXPECT_EQ(src->inits, 0);
  EXPECT_FALSE(std::filesystem::exists(path));

  src = Source(std::vector<std::uint8_t>(3000), 16, 4, 44100);
  ASSERT_TRUE(Run("4ch.ogg"));
  EXPECT_NE(ev.Failure().find("4 channels"), std::string::npos) << ev.Failure();
  EXPECT_EQ(src->inits, 0);
  EXPECT_EQ(ev.done, 0);
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
