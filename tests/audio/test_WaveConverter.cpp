#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "audio/WaveConverter.h"
#include "tests/support/Mp3Encode.h"
#include "tests/support/WavFiles.h"

using tw_test::Le16;
using tw_test::Le32;

namespace {

std::unique_ptr<platform::TMemoryStream> streamOf(const std::vector<std::uint8_t>& bytes) {
  auto s = std::make_unique<platform::TMemoryStream>();
  if (!bytes.empty()) s->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

// Loads `c` from the WAV file `bytes`.
void load(TWaveConverter& c, const std::vector<std::uint8_t>& bytes) {
  auto in = streamOf(bytes);
  c.LoadFromWave(*in);
}

// Asks the manager for the PCM format to convert `c`'s format into, as NewFormat.
platform::MMRESULT suggestPcm(TWaveConverter& c) {
  c.NewFormat[0] = 1;  // wFormatTag: PCM
  return MSAcm::acmFormatSuggest(nullptr, c.CurrentFormat, c.NewFormat, 129,
                                 MSAcm::ACM_FORMATSUGGESTF_WFORMATTAG);
}

std::vector<std::uint8_t> contentOf(TWaveConverter& c) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(c.Size()));
  if (!v.empty()) std::memcpy(v.data(), c.Memory(), v.size());
  return v;
}

// A RIFF/WAVE file made of the given chunks (id, declared length, body as given).
struct Chunk {
  const char* id;
  std::uint32_t length;
  std::vector<std::uint8_t> body;
};
// The RIFF size is left at 0.
std::vector<std::uint8_t> waveOf(const std::vector<Chunk>& chunks, const char* riff = "RIFF") {
  std::vector<std::uint8_t> w(riff, riff + 4);
  tw_test::Add32(w, 0);
  tw_test::AddId(w, "WAVE");
  for (const Chunk& c : chunks) tw_test::Append(w, tw_test::Chunk(c.id, c.body, c.length));
  return w;
}

std::vector<std::uint8_t> bytesFrom(int n, int first) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
  return v;
}

// Writes fail after `limit` bytes, with the platform's stream error or another exception.
class FailingStream : public platform::TStream {
 public:
  FailingStream(std::int64_t limit, bool platformError) : limit_(limit), platform_(platformError) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override {
    if (written_ + count > limit_) {
      if (platform_) throw platform::EWriteError("Cannot write to test stream: disk full.");
      throw std::runtime_error("not a stream error");
    }
    written_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, platform::TSeekOrigin) override { return offset; }
  std::int64_t Size() override { return written_; }
  void SetSize(std::int64_t) override {}

 protected:
  std::string Describe() const override { return "test stream"; }

 private:
  std::int64_t limit_;
  bool platform_;
  std::int64_t written_ = 0;
};

struct Mp3File {
  std::vector<std::uint8_t> mp3;
  std::vector<std::uint8_t> wave;
};

Mp3File stereoMp3() {
  Mp3File f;
  f.mp3 =
      testsupport::EncodeMp3(testsupport::Sine(44100, 2, 30000, {1000, 3000}, 9000), 44100, 2, 128);
  f.wave = testsupport::Mp3Wave(f.mp3, 44100, 2, 128);
  return f;
}

}  // namespace

TEST(WaveConverterLoad, TakesTheWholeFmtBodyAndTheData) {
  const Mp3File f = stereoMp3();
  TWaveConverter c;
  load(c, f.wave);
  // The 30-byte body of a tag-85 format, the rest of the record still zero.
  EXPECT_EQ(std::memcmp(c.CurrentFormat.data(), f.wave.data() + 20, 30), 0);
  for (std::size_t i = 30; i < c.CurrentFormat.size(); ++i) ASSERT_EQ(c.CurrentFormat[i], 0) << i;
  EXPECT_EQ(Le16(c.CurrentFormat.data()), 85);
  EXPECT_EQ(contentOf(c), f.mp3);
  EXPECT_EQ(c.Position(), 0);
}

TEST(WaveConverterLoad, OnlyCapitalRiffAndWave) {
  const std::vector<Chunk> chunks = {{"fmt ", 16, bytesFrom(16, 1)}, {"data", 4, bytesFrom(4, 9)}};
  for (const char* riff : {"riff", "RIFX", "Riff"}) {
    TWaveConverter c;
    load(c, waveOf(chunks, riff));
    EXPECT_EQ(c.Size(), 0) << riff;
    EXPECT_EQ(c.CurrentFormat, MSAcm::TWaveFormatRecord{}) << riff;
  }
  auto wave = waveOf(chunks);
  std::memcpy(wave.data() + 8, "wave", 4);
  TWaveConverter c;
  load(c, wave);
  EXPECT_EQ(c.Size(), 0);
  // Chunk ids are exact too: a lower-case "DATA" is not the data.
  TWaveConverter d;
  load(d, waveOf({{"fmt ", 16, bytesFrom(16, 1)}, {"DATA", 4, bytesFrom(4, 9)}}));
  EXPECT_EQ(d.Size(), 0);
  EXPECT_EQ(d.CurrentFormat[0], 1);
}

TEST(WaveConverterLoad, ShortFmtKeepsTheRestAndEmptyDataLoadsNothing) {
  TWaveConverter c;
  load(c, waveOf({{"fmt ", 18, bytesFrom(18, 100)}}));
  // A second file with a 14-byte fmt body overwrites only 14 bytes.
  load(c, waveOf({{"fmt ", 14, bytesFrom(14, 1)}, {"data", 0, {}}}));
  EXPECT_EQ(c.CurrentFormat[13], 14);
  EXPECT_EQ(c.CurrentFormat[14], 114);
  EXPECT_EQ(c.CurrentFormat[17], 117);
  EXPECT_EQ(c.Size(), 0);
}

TEST(WaveConverterLoad, ScansEveryByteAndPastEachBody) {
  // A JUNK chunk of odd length puts fmt at an odd offset; a second data chunk after the first
  // replaces it; a fmt chunk at the very end still counts.
  TWaveConverter c;
  load(c, waveOf({{"JUNK", 3, {7, 7, 7}},
                  {"fmt ", 16, bytesFrom(16, 1)},
                  {"data", 6, bytesFrom(6, 50)},
                  {"LIST", 2, {0, 0}},
                  {"data", 3, bytesFrom(3, 200)},
                  {"fmt ", 16, bytesFrom(16, 30)}}));
  EXPECT_EQ(contentOf(c), bytesFrom(3, 200));
  EXPECT_EQ(c.CurrentFormat[0], 30);
  EXPECT_EQ(c.CurrentFormat[15], 45);
}

TEST(WaveConverterLoad, BoundsLengthsByTheFileAndRefusesOversizedFormats) {
  // A data chunk claiming far more than there is: what is there is taken.
  TWaveConverter c;
  load(c, waveOf({{"fmt ", 16, bytesFrom(16, 1)}, {"data", 0xFFFFFFF0u, bytesFrom(500, 0)}}));
  EXPECT_EQ(contentOf(c), bytesFrom(500, 0));

  // A fmt chunk running past the end: its bytes up to the end, nothing beyond.
  TWaveConverter d;
  load(d, waveOf({{"fmt ", 100, bytesFrom(10, 1)}}));
  EXPECT_EQ(d.CurrentFormat[9], 10);
  EXPECT_EQ(d.CurrentFormat[10], 0);

  // A format record larger than the 129-byte record is not taken; the data after it is.
  TWaveConverter e;
  load(e, waveOf({{"fmt ", 200, bytesFrom(200, 1)}, {"data", 4, bytesFrom(4, 9)}}));
  EXPECT_EQ(e.CurrentFormat, MSAcm::TWaveFormatRecord{});
  EXPECT_EQ(contentOf(e), bytesFrom(4, 9));

  // Exactly 129 bytes still fit.
  TWaveConverter g;
  load(g, waveOf({{"fmt ", 129, bytesFrom(129, 1)}}));
  EXPECT_EQ(g.CurrentFormat[128], 129);

  // Files too short for a header change nothing.
  const auto whole = waveOf({{"fmt ", 16, bytesFrom(16, 1)}});
  for (std::size_t n : {0u, 4u, 11u}) {
    TWaveConverter t;
    load(t, std::vector<std::uint8_t>(whole.begin(), whole.begin() + n));
    EXPECT_EQ(t.CurrentFormat, MSAcm::TWaveFormatRecord{}) << n;
    EXPECT_EQ(t.Size(), 0) << n;
  }
}

TEST(WaveConverterConvert, Mp3BecomesPcmOfTheSuggestedFormat) {
  const Mp3File f = stereoMp3();
  TWaveConverter c;
  load(c, f.wave);
  ASSERT_EQ(suggestPcm(c), MSAcm::MMSYSERR_NOERROR);
  ASSERT_EQ(c.Convert(), 0);
  EXPECT_EQ(c.CurrentFormat, c.NewFormat);

  // The destination size the manager estimates for the source length.
  platform::HACMSTREAM has = nullptr;
  TWaveConverter probe;
  load(probe, f.wave);
  ASSERT_EQ(MSAcm::acmStreamOpen(&has, nullptr, probe.CurrentFormat, c.NewFormat, nullptr, 0, 0, 0),
            MSAcm::MMSYSERR_NOERROR);
  std::uint32_t estimate = 0;
  MSAcm::acmStreamSize(has, static_cast<std::uint32_t>(f.mp3.size()), estimate,
                       MSAcm::ACM_STREAMSIZEF_SOURCE);
  MSAcm::acmStreamClose(has, 0);
  EXPECT_EQ(c.Size(), estimate);

  platform::TMemoryStream image;
  c.SetPosition(123);
  ASSERT_EQ(c.SaveWaveTo(image), 0);
  EXPECT_EQ(c.Position(), 123);
  ASSERT_EQ(image.Size(), 44 + c.Size());
  const std::uint8_t* h = image.Memory();
  EXPECT_EQ(std::memcmp(h, "RIFF", 4), 0);
  EXPECT_EQ(Le32(h + 4), c.Size() + 36);
  EXPECT_EQ(std::memcmp(h + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(h + 16), 16u);
  EXPECT_EQ(Le16(h + 20), 1);
  EXPECT_EQ(Le16(h + 22), 2);
  EXPECT_EQ(Le32(h + 24), 44100u);
  EXPECT_EQ(Le32(h + 28), 44100u * 4);
  EXPECT_EQ(Le16(h + 32), 4);
  EXPECT_EQ(Le16(h + 34), 16);
  EXPECT_EQ(std::memcmp(h + 36, "data", 4), 0);
  EXPECT_EQ(Le32(h + 40), c.Size());
  EXPECT_EQ(std::memcmp(h + 44, c.Memory(), static_cast<std::size_t>(c.Size())), 0);

  // The sound itself: the two tones on their own channels.
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(c.Size() / 2));
  std::memcpy(pcm.data(), c.Memory(), pcm.size() * 2);
  EXPECT_NEAR(testsupport::ToneAmplitude(pcm, 2, 0, 44100, 1000, 5000, 4410), 9000, 900);
  EXPECT_NEAR(testsupport::ToneAmplitude(pcm, 2, 1, 44100, 3000, 5000, 4410), 9000, 900);
}

TEST(WaveConverterConvert, AFalseByteRateGivesWhatTheDataDecodesTo) {
  // One second at 32 kbit/s, declared once truly and once as 8 kbit/s: the estimate from the false
  // rate is four seconds, but the data holds one.
  const auto mp3 =
      testsupport::EncodeMp3(testsupport::Sine(22050, 1, 22050, {500}, 9000), 22050, 1, 32);
  auto convert = [&](int kbps) {
    auto c = std::make_unique<TWaveConverter>();
    load(*c, testsupport::Mp3Wave(mp3, 22050, 1, kbps));
    EXPECT_EQ(suggestPcm(*c), MSAcm::MMSYSERR_NOERROR);
    EXPECT_EQ(c->Convert(), 0) << kbps;
    return contentOf(*c);
  };
  const auto truly = convert(32);
  const auto falsely = convert(8);
  ASSERT_GE(truly.size(), 22050u * 2);
  EXPECT_LE(falsely.size(), truly.size() + 1152 * 2);
  ASSERT_GE(falsely.size(), truly.size());
  EXPECT_TRUE(std::equal(truly.begin(), truly.end(), falsely.begin()));
}

TEST(WaveConverterConvert, FailureChangesNothing) {
  // Garbage where the mp3 frames should be.
  std::vector<std::uint8_t> garbage(5000);
  for (std::size_t i = 0; i < garbage.size(); ++i)
    garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  TWaveConverter c;
  load(c, testsupport::Mp3Wave(garbage, 44100, 2, 128));
  ASSERT_EQ(suggestPcm(c), MSAcm::MMSYSERR_NOERROR);
  const auto format = c.CurrentFormat;
  EXPECT_EQ(c.Convert(), static_cast<int>(MSAcm::ACMERR_NOTPOSSIBLE));
  EXPECT_EQ(c.CurrentFormat, format);
  EXPECT_EQ(contentOf(c), garbage);

  // A format the manager cannot open at all: its result comes back as it is.
  TWaveConverter pcm;
  const MSAcm::WAVEFORMATEX f{1, 1, 8000, 16000, 2, 16, 0};
  MSAcm::StoreFormat(f, pcm.CurrentFormat);
  MSAcm::StoreFormat(f, pcm.NewFormat);
  EXPECT_EQ(pcm.Convert(), static_cast<int>(MSAcm::ACMERR_NOTPOSSIBLE));
}

TEST(WaveConverterSave, StreamErrorsBecomeFileNotSaved) {
  TWaveConverter c;
  c.WriteBuffer("abcdefgh", 8);
  for (std::int64_t limit : {0, 20, 47}) {
    FailingStream failing(limit, true);
    EXPECT_EQ(c.SaveWaveTo(failing), TWaveConverter::MCIERR_FILE_NOT_SAVED) << limit;
    EXPECT_EQ(c.Position(), 8) << "the content's position is kept";
  }
  FailingStream other(20, false);
  EXPECT_THROW(c.SaveWaveTo(other), std::runtime_error);

  platform::TMemoryStream image;
  ASSERT_EQ(c.SaveWaveTo(image), 0);
  EXPECT_EQ(image.Size(), 52);
  EXPECT_EQ(Le32(image.Memory() + 4), 44u);
  EXPECT_EQ(Le32(image.Memory() + 40), 8u);
  EXPECT_EQ(std::memcmp(image.Memory() + 44, "abcdefgh", 8), 0);
}

TEST(WaveConverterCreate, FormatsStartZeroed) {
  TWaveConverter c;
  EXPECT_EQ(c.CurrentFormat, MSAcm::TWaveFormatRecord{});
  EXPECT_EQ(c.NewFormat, MSAcm::TWaveFormatRecord{});
  EXPECT_EQ(c.Size(), 0);
}

TEST(MSAcmRecords, FieldsAreLittleEndianAsInTheFile) {
  MSAcm::TWaveFormatRecord r{};
  r.fill(0xEE);
  const MSAcm::WAVEFORMATEX f{0x0055, 2, 0x0000AC44, 0x12345678, 0x0102, 0x0304, 12};
  MSAcm::StoreFormat(f, r);
  const std::vector<std::uint8_t> expected = {0x55, 0,    2,    0,    0x44, 0xAC, 0,    0,  0x78,
                                              0x56, 0x34, 0x12, 0x02, 0x01, 0x04, 0x03, 12, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.begin() + 18), expected);
  EXPECT_EQ(r[18], 0xEE) << "extra bytes are left alone";
  const MSAcm::WAVEFORMATEX back = MSAcm::FormatOf(r);
  EXPECT_EQ(back.nAvgBytesPerSec, f.nAvgBytesPerSec);
  EXPECT_EQ(back.nSamplesPerSec, f.nSamplesPerSec);
  EXPECT_EQ(back.wBitsPerSample, f.wBitsPerSample);
  EXPECT_EQ(back.cbSize, 12);

  // A suggestion with room for 16 bytes writes no cbSize.
  MSAcm::TWaveFormatRecord src{}, dst{};
  MSAcm::StoreFormat(f, src);
  dst.fill(0xEE);
  dst[0] = 1;
  dst[1] = 0;
  ASSERT_EQ(MSAcm::acmFormatSuggest(nullptr, src, dst, 16, MSAcm::ACM_FORMATSUGGESTF_WFORMATTAG),
            MSAcm::MMSYSERR_NOERROR);
  EXPECT_EQ(Le16(dst.data() + 14), 16);
  EXPECT_EQ(dst[16], 0xEE);
}
