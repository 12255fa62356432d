// WAV files that hold MPEG layer 3 data (format tag 85), read through TWaveIn: the file is
// converted to PCM through the compression manager when it is opened.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"
#include "platform/runtime/Stream.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/Mp3Encode.h"
#include "tests/support/WavFiles.h"

namespace {

std::vector<std::int16_t> readAll(TACSInput& in, int piece = 16384) {
  return tw_test::Samples16(tw_test::PullAll(in, piece).data);
}

class WaveInMp3 : public tw_test::WaveFileTest {
 protected:
  TWaveIn& reader(const std::vector<std::uint8_t>& file,
                  const std::string& name = "mp3 in wav é.wav") {
    return OpenReader(file, name, "mp3_");
  }
};

}  // namespace

TEST_F(WaveInMp3, DeliversTheDecodedSignalAsPcm) {
  const int rate = 44100, frames = 2 * rate;
  const auto pcm = testsupport::Sine(rate, 2, frames, {440, 1200}, 12000);
  const auto mp3 = testsupport::EncodeMp3(pcm, rate, 2, 128);
  TWaveIn& in = reader(testsupport::Mp3Wave(mp3, rate, 2, 128));

  EXPECT_EQ(in.WavType(), wtACM);
  EXPECT_EQ(in.GetChannels(), 2);
  EXPECT_EQ(in.GetSampleRate(), rate);
  EXPECT_EQ(in.GetBitsPerSample(), 16);
  EXPECT_EQ(in.GetTotalTime(), 2);
  in.Init();
  // Whole frames of 1152 samples: the encoder's delay and padding add at most a few of them.
  const int size = in.Size();
  EXPECT_EQ(size % (1152 * 4), 0);
  EXPECT_GE(size, frames * 4);
  EXPECT_LE(size, (frames + 3 * 1152) * 4);
  EXPECT_EQ(in.TotalSamples(), size / 4);
  const auto out = readAll(in, 5000);
  in.Flush();
  ASSERT_EQ(out.size() * 2, static_cast<std::size_t>(size));
  // 441 samples hold whole cycles of both tones.
  EXPECT_NEAR(testsupport::ToneAmplitude(out, 2, 0, rate, 440, 30000, 441 * 40), 12000, 1200);
  EXPECT_NEAR(testsupport::ToneAmplitude(out, 2, 1, rate, 1200, 30000, 441 * 40), 12000, 1200);
  EXPECT_LT(testsupport::ToneAmplitude(out, 2, 0, rate, 1200, 30000, 441 * 40), 300);
}

TEST_F(WaveInMp3, MonoMpeg2) {
  const int rate = 22050;
  const auto mp3 =
      testsupport::EncodeMp3(testsupport::Sine(rate, 1, rate, {300}, 9000), rate, 1, 32);
  TWaveIn& in = reader(testsupport::Mp3Wave(mp3, rate, 1, 32));
  EXPECT_EQ(in.GetChannels(), 1);
  EXPECT_EQ(in.GetSampleRate(), rate);
  in.Init();
  const int size = in.Size();
  const auto whole = readAll(in);
  in.Flush();
  EXPECT_EQ(whole.size() * 2, static_cast<std::size_t>(size));
  EXPECT_EQ(whole.size() % 576, 0u);
  EXPECT_GE(whole.size(), static_cast<std::size_t>(rate));
  EXPECT_NEAR(testsupport::ToneAmplitude(whole, 1, 0, rate, 300, 5000, 2205 * 3), 9000, 900);

  // A second run reads the file again: the image is made anew at each first open.
  in.Init();
  EXPECT_EQ(readAll(in), whole);
  in.Flush();
}

TEST_F(WaveInMp3, GarbageInTheDataChunkDeliversNothing) {
  const std::vector<std::uint8_t> garbage = tw_test::NoiseBytes(8000, 99);
  TWaveIn& in = reader(testsupport::Mp3Wave(garbage, 44100, 2, 128));
  EXPECT_EQ(in.WavType(), wtACM);
  in.Init();
  EXPECT_EQ(in.Size(), 0);
  char buf[1024];
  EXPECT_EQ(in.GetData(buf, sizeof buf), 0);
  in.Flush();
}

TEST_F(WaveInMp3, LowerCaseRiffIsNotConverted) {
  // The header walk takes "riff" for "RIFF", but the converter does not: no image, nothing
  // delivered.
  const int rate = 44100;
  const auto mp3 =
      testsupport::EncodeMp3(testsupport::Sine(rate, 2, 10000, {440, 440}, 9000), rate, 2, 128);
  TWaveIn& in = reader(testsupport::Mp3Wave(mp3, rate, 2, 128, "riff"));
  EXPECT_EQ(in.WavType(), wtACM);
  in.Init();
  EXPECT_EQ(in.Size(), 0);
  EXPECT_TRUE(readAll(in).empty());
  in.Flush();

  TWaveIn& upper = reader(testsupport::Mp3Wave(mp3, rate, 2, 128), "upper.wav");
  upper.Init();
  EXPECT_GT(upper.Size(), 0);
  upper.Flush();
}

TEST_F(WaveInMp3, ReadsThroughTheRateConverter) {
  // The converted image as the input of a chain: 44100 Hz mp3 to 22050 Hz PCM.
  const int rate = 44100;
  const auto mp3 =
      testsupport::EncodeMp3(testsupport::Sine(rate, 2, rate, {500, 500}, 10000), rate, 2, 128);
  TWaveIn& in = reader(testsupport::Mp3Wave(mp3, rate, 2, 128));
  TRateConverter rc(nullptr);
  rc.SetInput(&in);
  rc.SetOutSampleRate(22050);
  rc.Init();
  EXPECT_EQ(rc.GetChannels(), 2);
  EXPECT_EQ(rc.Size(), in.Size() / 2);
  const auto out = readAll(rc);
  rc.Flush();
  EXPECT_EQ(out.size() * 2, static_cast<std::size_t>(rc.Size()));
  EXPECT_NEAR(testsupport::ToneAmplitude(out, 2, 0, 22050, 500, 6000, 2205 * 2), 10000, 1000);
}

TEST_F(WaveInMp3, EveryMpegVersionAndChannelCount) {
  // MPEG-1 (32000 Hz and up, 1152 samples a frame), MPEG-2 and MPEG-2.5 (576 samples a frame).
  struct Case {
    int rate, channels, kbps;
  };
  for (const Case& c :
       {Case{8000, 1, 8}, Case{11025, 2, 16}, Case{24000, 1, 32}, Case{48000, 2, 64}}) {
    const int frames = c.rate / 2;
    const double tone = c.rate / 40.0;  // 40 samples a cycle
    const auto mp3 =
        testsupport::EncodeMp3(testsupport::Sine(c.rate, c.channels, frames, {tone, tone}, 10000),
                               c.rate, c.channels, c.kbps);
    TWaveIn& in = reader(testsupport::Mp3Wave(mp3, c.rate, c.channels, c.kbps),
                         std::to_string(c.rate) + "_" + std::to_string(c.channels) + ".wav");
    SCOPED_TRACE(c.rate);
    EXPECT_EQ(in.GetSampleRate(), c.rate);
    EXPECT_EQ(in.GetChannels(), c.channels);
    in.Init();
    const auto out = readAll(in);
    in.Flush();
    const std::size_t perFrame = c.rate >= 32000 ? 1152 : 576;
    EXPECT_EQ(out.size() % (perFrame * c.channels), 0u);
    EXPECT_GE(out.size(), static_cast<std::size_t>(frames * c.channels));
    EXPECT_NEAR(testsupport::ToneAmplitude(out, c.channels, 0, c.rate, tone, frames / 2, 800),
                10000, 2000);
  }
}
