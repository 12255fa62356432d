// The MP3 writer: what reaches the file (decoded back with libmpg123), the encoder settings as they
// show in the frame headers, the tags, and the run's events.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "audio/ACS_LAME.h"
#include "audio/ACS_Wave.h"
#include "tests/audio/EncoderTestSupport.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/EncodedAudio.h"

using enctest::DecodeMp3;
using enctest::Mp3Frames;
using enctest::ToneAmplitude;
using enctest::TonePcm;
using tw_test::MemSource;
using tw_test::ReadFile;

namespace {

class MP3Writer : public enctest::WriterTest<TMP3Out> {
 protected:
  void TearDown() override {
    platform::SetRefusedLibraries({});
    platform::SetRefusedSymbols({});
  }

  TMP3Out*& mp3 = writer;  // the writer under test, by its usual name
};

// ---- Defaults and settings ---------------------------------------------------------------------

TEST_F(MP3Writer, ANewWriterIsConstantRate128kStereo) {
  EXPECT_EQ(mp3->BitRate(), br128);
  EXPECT_EQ(mp3->Quality(), ql5);
  EXPECT_EQ(mp3->SampleRate(), srDefault);
  EXPECT_EQ(mp3->Mode(), STEREO);
  EXPECT_FALSE(mp3->CRC());
  EXPECT_FALSE(mp3->Copyright());
  EXPECT_TRUE(mp3->Original());
  EXPECT_FALSE(mp3->WriteVBRHeader());
  EXPECT_FALSE(mp3->EnableVBR());
  EXPECT_EQ(mp3->VBRQuality(), ql5);
  EXPECT_EQ(mp3->VBRMinBitrate(), 128);
  EXPECT_EQ(mp3->VBRMaxBitrate(), 192);
  EXPECT_EQ(mp3->Id3TagTitle(), "");
  EXPECT_EQ(mp3->FileMode(), foRewrite);
}

TEST_F(MP3Writer, EnumerationsStandForTheirNumbers) {
  const int kbps[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                      96, 112, 128, 144, 160, 192, 224, 256, 320};
  for (int i = br8; i <= br320; ++i) EXPECT_EQ(MP3BitRateKbps(TMP3BitRate(i)), kbps[i]);
  EXPECT_EQ(MP3SampleRateHz(srDefault), 0);
  EXPECT_EQ(MP3SampleRateHz(sr11kHz), 11025);
  EXPECT_EQ(MP3SampleRateHz(sr22kHz), 22050);
  EXPECT_EQ(MP3SampleRateHz(sr44kHz), 44100);
  EXPECT_EQ(MP3SampleRateHz(sr32kHz), 32000);
  EXPECT_EQ(MP3SampleRateHz(sr41kHz), 44100);
  EXPECT_EQ(MP3SampleRateHz(sr48kHz), 48000);
}

TEST_F(MP3Writer, AppendModeIsRefusedAndAnExistingFileIsReplaced) {
  mp3->SetFileMode(foAppend);
  EXPECT_EQ(mp3->FileMode(), foRewrite);
  std::vector<std::uint8_t> junk(100000, 0x55);
  {
    std::ofstream(dir / "old.mp3", std::ios::binary)
        .write(reinterpret_cast<const char*>(junk.data()), std::streamsize(junk.size()));
  }
  Tone(44100, 2, 0.5);
  ASSERT_TRUE(Run("old.mp3"));
  const auto bytes = ReadFile(path);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes[0], 0xFF) << "the file starts with an MPEG frame, not the old bytes";
  EXPECT_LT(bytes.size(), junk.size());
}

// ---- Round trips --------------------------------------------------------------------------------

struct RoundTrip {
  int rate;
  int channels;
};

class MP3RoundTrip : public MP3Writer, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(MP3RoundTrip, TenSecondsOfASinePairDecodeBackInPlaceAtFullLength) {
  const auto [rate, channels] = GetParam();
  Tone(rate, channels, 10.0);
  ASSERT_TRUE(Run("tone.mp3"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  const auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.rate, rate);
  ASSERT_EQ(pcm.channels, 2) << "the writer always encodes two channels";
  // The file carries the encoder's delay and padding, so the decoder gives back exactly the input.
  EXPECT_EQ(pcm.Frames(), std::size_t(10 * rate));
  ExpectTones(pcm, channels == 2);
}

INSTANTIATE_TEST_SUITE_P(RatesAndChannels, MP3RoundTrip,
                         ::testing::Values(RoundTrip{44100, 2}, RoundTrip{44100, 1},
                                           RoundTrip{22050, 2}, RoundTrip{22050, 1},
                                           RoundTrip{11025, 2}, RoundTrip{11025, 1}),
                         [](const auto& info) {
                           return std::to_string(info.param.rate) +
                                  (info.param.channels == 2 ? "Stereo" : "Mono");
                         });

TEST_F(MP3Writer, EachModeReachesTheFrameHeadersAndMonoMixesTheChannelsDown) {
  const TMP3Mode modes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
  for (TMP3Mode mode : modes) {
    SCOPED_TRACE(mode);
    Tone(44100, 2, 2.0);
    mp3->SetMode(mode);
    ASSERT_TRUE(Run("mode" + std::to_string(mode) + ".mp3"));
    const auto frames = Mp3Frames(ReadFile(path));
    ASSERT_GT(frames.size(), 10u);
    for (std::size_t i = 1; i < frames.size(); ++i) ASSERT_EQ(frames[i].mode, int(mode)) << i;
    const auto pcm = DecodeMp3(path);
    if (mode == MONO) {
      ASSERT_EQ(pcm.channels, 1);
      EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude / 2, 0.04);
      EXPECT_NEAR(ToneAmplitude(pcm, 0, kRightHz), kAmplitude / 2, 0.04);
    } else {
      ASSERT_EQ(pcm.channels, 2);
      ExpectTones(pcm, true);
    }
  }
}

TEST_F(MP3Writer, ConstantBitRateAndFlagsAppearInEveryFrame) {
  const struct {
    TMP3BitRate rate;
    int kbps;
    bool flags;  // CRC and copyright set, original cleared; or the other way round
    int hz;      // the output rate to expect, or 0 where the test leaves it to the encoder
  } cases[] = {{br192, 192, true, 44100}, {br64, 64, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kbps);
    Tone(44100, 2, 2.0);
    mp3->SetBitRate(c.rate);
    mp3->SetCRC(c.flags);
    mp3->SetCopyright(c.flags);
    mp3->SetOriginal(!c.flags);
    ASSERT_TRUE(Run("flags" + std::to_string(c.kbps) + ".mp3"));
    const auto frames = Mp3Frames(ReadFile(path));
    ASSERT_GT(frames.size(), 10u);
    for (const auto& f : frames) {
      EXPECT_EQ(f.bitrateKbps, c.kbps);
      if (c.hz) {
        EXPECT_EQ(f.sampleRate, c.hz);
      }
      EXPECT_EQ(f.crc, c.flags);
      EXPECT_EQ(f.copyright, c.flags);
      EXPECT_EQ(f.original, !c.flags);
    }
  }
}

TEST_F(MP3Writer, SampleRateChoosesTheOutputRate) {
  Tone(44100, 2, 2.0);
  mp3->SetSampleRate(sr22kHz);
  ASSERT_TRUE(Run("down.mp3"));
  auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.rate, 22050);
  EXPECT_NEAR(pcm.Seconds(), 2.0, 0.06);
  EXPECT_NEAR(ToneAmplitude(pcm, 1, kRightHz), kAmplitude, 0.05);

  Tone(44100, 2, 1.0);
  mp3->SetSampleRate(sr41kHz);
  ASSERT_TRUE(Run("41.mp3"));
  EXPECT_EQ(DecodeMp3(path).rate, 44100) << "sr41kHz asks for the nearest real rate";
}

TEST_F(MP3Writer, UpsamplingAtTheHighestBitRateLosesNothing) {
  // A mono block of 8192 samples becomes 32768 samples at four times the rate: more than the usual
  // output buffer can take from one call.
  Tone(11025, 1, 4.0);
  mp3->SetSampleRate(sr44kHz);
  mp3->SetBitRate(br320);
  ASSERT_TRUE(Run("up.mp3"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  const auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.rate, 44100);
  EXPECT_NEAR(pcm.Seconds(), 4.0, 0.06);
  EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
}

TEST_F(MP3Writer, EightBitInputIsWidenedNotEncodedAsNoise) {
  Tone(22050, 1, 2.0, 8);
  ASSERT_TRUE(Run("eight.mp3"));
  const auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.rate, 22050);
  EXPECT_NEAR(pcm.Seconds(), 2.0, 0.06) << "each 8-bit sample is one sample";
  ExpectTones(pcm, false);

  Tone(44100, 2, 2.0, 8);
  ASSERT_TRUE(Run("eight2.mp3"));
  const auto stereo = DecodeMp3(path);
  EXPECT_NEAR(stereo.Seconds(), 2.0, 0.06);
  ExpectTones(stereo, true);
}

TEST_F(MP3Writer, ShortBlocksDropTheirIncompleteLastFrame) {
  // 16383-byte stereo blocks: 4095 frames each, the last 3 bytes of each block are lost.
  auto* src =
      Source(TonePcm(44100, 2, 16, 10 * 16384 / 4 / 44100.0, kLeftHz, kRightHz), 16, 2, 44100);
  src->maxBlock = 16383;
  ASSERT_TRUE(Run("odd.mp3"));
  // 163840 bytes arrive as ten blocks of 16383 bytes and one of 10: 10 x 4095 + 2 frames.
  EXPECT_EQ(DecodeMp3(path).Frames(), 10u * 4095 + 2);
}

TEST_F(MP3Writer, EncodesAWavFileReadThroughTheWavReader) {
  WavTone(22050, 2, 16, 3.0);
  mp3->SetSampleRate(sr22kHz);
  ASSERT_TRUE(Run("from wav.mp3"));
  ASSERT_EQ(ev.failures, 0) << ev.Failure();
  EXPECT_EQ(ev.progress.back(), 100);
  const auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.rate, 22050);
  EXPECT_EQ(pcm.Frames(), 3u * 22050);
  ExpectTones(pcm, true);
}

// ---- VBR and its header -------------------------------------------------------------------------

TEST_F(MP3Writer, VbrStaysWithinBoundsThatAreExchangedWhenGivenTheWrongWayRound) {
  Tone(44100, 2, 4.0);
  mp3->SetEnableVBR(true);
  mp3->SetWriteVBRHeader(true);
  mp3->SetVBRMinBitrate(192);
  mp3->SetVBRMaxBitrate(128);
  mp3->SetVBRQuality(ql2);
  ASSERT_TRUE(Run("vbr.mp3"));
  EXPECT_EQ(mp3->VBRMinBitrate(), 128);
  EXPECT_EQ(mp3->VBRMaxBitrate(), 192);
  EXPECT_EQ(enctest::VbrHeaderTag(path), "Xing");
  const auto frames = Mp3Frames(ReadFile(path));
  ASSERT_GT(frames.size(), 50u);
  std::set<int> rates;
  // The first frame is the header, the last one mostly padding, which the encoder may make smaller.
  for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
    EXPECT_GE(frames[i].bitrateKbps, 128) << i;
    EXPECT_LE(frames[i].bitrateKbps, 192) << i;
    rates.insert(frames[i].bitrateKbps);
  }
  EXPECT_GT(rates.size(), 1u) << "the bit rate varies";
  const auto pcm = DecodeMp3(path);
  EXPECT_NEAR(pcm.Seconds(), 4.0, 0.03);
  EXPECT_NEAR(ToneAmplitude(pcm, 0, kLeftHz), kAmplitude, 0.05);
}

TEST_F(MP3Writer, ConstantBitRateFilesStartWithAnInfoFrameAndTheHeaderFlagChangesNothing) {
  Tone(44100, 2, 1.0);
  ASSERT_TRUE(Run("plain.mp3"));
  EXPECT_EQ(enctest::VbrHeaderTag(path), "Info");
  const auto plain = ReadFile(path);

  Tone(44100, 2, 1.0);
  mp3->SetWriteVBRHeader(true);
  ASSERT_TRUE(Run("flag.mp3"));
  EXPECT_EQ(ReadFile(path), plain) << "WriteVBRHeader has no effect without EnableVBR";
}

// ---- Tags ---------------------------------------------------------------------------------------

TEST_F(MP3Writer, Id3TextsAreWrittenAtTheEndOfTheFile) {
  Tone(44100, 2, 1.0);
  mp3->SetId3TagTitle("Symphonie fantastique");
  mp3->SetId3TagArtist("Hector Berlioz");
  mp3->SetId3TagAlbum("Live 1830");
  mp3->SetId3TagYear("1830");
  mp3->SetId3TagTrack("5");
  mp3->SetId3TagComment("recorded from MIDI");
  mp3->SetId3TagGenre("Classical");
  ASSERT_TRUE(Run("tags.mp3"));
  const auto tag = enctest::ReadId3v1(path);
  ASSERT_TRUE(tag.present);
  EXPECT_EQ(tag.title, "Symphonie fantastique");
  EXPECT_EQ(tag.artist, "Hector Berlioz");
  EXPECT_EQ(tag.album, "Live 1830");
  EXPECT_EQ(tag.year, "1830");
  EXPECT_EQ(tag.track, 5);
  EXPECT_EQ(tag.comment, "recorded from MIDI");
  EXPECT_EQ(tag.genre, 32) << "Classical";
  EXPECT_NEAR(DecodeMp3(path).Seconds(), 1.0, 0.03) << "the tag is not taken for audio";
}

// ---- The run ------------------------------------------------------------------------------------

TEST_F(MP3Writer, ProgressClimbsTo100AndDoneComesOnce) {
  CheckProgressClimbsTo100AndDoneComesOnce("progress.mp3", 3.0, 6);  // blocks of 16384 of 529200
}

TEST_F(MP3Writer, StoppedInTheMiddleTheFileIsStillCompleteAndDecodable) {
  mp3->SetId3TagTitle("stopped");
  auto* src = RunAndStop("stopped.mp3", 20);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(ev.failures, 0);
  EXPECT_EQ(src->flushes, 1);
  const auto pcm = DecodeMp3(path);
  EXPECT_EQ(pcm.channels, 2);
  EXPECT_GE(pcm.Frames(), 20u * 4096 - 1152);
  EXPECT_EQ(enctest::ReadId3v1(path).title, "stopped") << "the end of the file was written";
  EXPECT_EQ(enctest::VbrHeaderTag(path), "Info");
}

TEST_F(MP3Writer, AnEmptyInputGivesAValidFileWithItsTag) {
  Source({}, 16, 2, 44100);
  mp3->SetId3TagArtist("nobody");
  ASSERT_TRUE(Run("empty.mp3"));
  EXPECT_EQ(ev.done, 1);
  EXPECT_EQ(enctest::ReadId3v1(path).artist, "nobody");
  EXPECT_LT(DecodeMp3(path).Frames(), 1152u);
}

TEST_F(MP3Writer, AnOpenLengthInputIsEncodedInFull) {
  auto* src = Tone(44100, 2, 2.0);
  src->openLength = true;
  ASSERT_TRUE(Run("open.mp3"));
  EXPECT_TRUE(ev.progress.empty() || ev.progress.back() == -1);
  const auto pcm = DecodeMp3(path);
  EXPECT_NEAR(pcm.Seconds(), 2.0, 0.06);
}

// ---- Refusals -----------------------------------------------------------------------------------

TEST_F(MP3Writer, AnEmptyFileNameIsRefusedBeforeTheInputIsTouched) {
  CheckAnEmptyFileNameIsRefused();
}

TEST_F(MP3Writer, FormatsItCannotEncodeAreRefusedWithoutCreatingTheFile) {
  ExpectFormatRefused(24, 2, 44100, "24-bit");
  ExpectFormatRefused(16, 6, 44100, "6 channels");
  ExpectFormatRefused(16, 2, 0, "no sample rate");
}

TEST_F(MP3Writer, AFailedRunLeavesNoEmptyOutput) {
  CheckFailedRunsLeaveNoEmptyOutput([&] { Source(std::vector<std::uint8_t>(3000), 24, 2, 44100); });
}

TEST_F(MP3Writer, AFileThatCannotBeCreatedLeavesTheInputIdle) {
  auto* src = Tone(44100, 2, 1.0);
  ASSERT_TRUE(enctest::RunToEnd(*mp3, ev, dir / "no such folder/x.mp3"));
  EXPECT_EQ(ev.failures, 1);
  EXPECT_EQ(ev.done, 0);
  EXPECT_FALSE(src->Busy());
  // The writer is ready for the next run.
  ASSERT_TRUE(Run("after.mp3"));
  EXPECT_EQ(ev.done, 1);
  EXPECT_NEAR(DecodeMp3(path).Seconds(), 1.0, 0.03);
}

TEST(MP3WriterLibrary, AMissingLibraryMakesConstructionFailWithItsMessage) {
  platform::TComponent owner(nullptr);
  platform::SetRefusedLibraries({"lame_enc.dll"});
  try {
    new TMP3Out(&owner);
    ADD_FAILURE() << "constructed without its library";
  } catch (const EACSException& e) {
    EXPECT_STREQ(e.what(), "lame_enc.dll library could not be loaded.");
  }
  EXPECT_FALSE(acs::LameLoaded);
  platform::SetRefusedLibraries({});
  auto* mp3 = new TMP3Out(&owner);
  EXPECT_TRUE(acs::LameLoaded);
  delete mp3;
  EXPECT_FALSE(acs::LameLoaded) << "destroying the writer frees the library";
}

TEST(MP3WriterLibrary, AMissingEntryPointRefusesTheRunInsteadOfCallingNull) {
  platform::TComponent owner(nullptr);
  platform::SetRefusedSymbols({"lame_encode_flush"});
  auto* mp3 = new TMP3Out(&owner);
  platform::SetRefusedSymbols({});
  tw_test::SinkEvents ev;
  tw_test::Wire(*mp3, ev);
  auto* src = new MemSource(&owner, TonePcm(44100, 2, 16, 0.5, 440, 1000), 16, 2, 44100);
  mp3->SetInput(src);
  tw_test::TempDir dir;
  ASSERT_TRUE(enctest::RunToEnd(*mp3, ev, dir / "x.mp3"));
  EXPECT_NE(ev.Failure().find("lame_encode_flush"), std::string::npos) << ev.Failure();
  EXPECT_EQ(ev.done, 0);
  EXPECT_EQ(src->inits, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.mp3"));
}

TEST(MP3WriterLibrary, DestroyingOneWriterLeavesTheOtherOneItsEncoder) {
  platform::TComponent owner(nullptr);
  auto* first = new TMP3Out(&owner);
  auto* second = new TMP3Out(&owner);
  delete first;
  ASSERT_TRUE(acs::LameLoaded);
  tw_test::SinkEvents ev;
  tw_test::Wire(*second, ev);
  second->SetInput(new MemSource(&owner, TonePcm(44100, 2, 16, 1.0, 440, 1000), 16, 2, 44100));
  tw_test::TempDir dir;
  ASSERT_TRUE(enctest::RunToEnd(*second, ev, dir / "second.mp3"));
  EXPECT_EQ(ev.done, 1);
  EXPECT_NEAR(DecodeMp3(dir / "second.mp3").Seconds(), 1.0, 0.03);
}

}  // namespace
