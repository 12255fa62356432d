#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/ACS_Wave.h"
#include "platform/runtime/Stream.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/WavFiles.h"

using namespace tw_test;

namespace {

// Init, GetData in calls of `chunk` bytes until 0 (at most `limit` calls), Flush.
Pulled ReadAll(TWaveIn& in, int chunk = 16384, int limit = 100000) {
  in.Init();
  Pulled r = PullAll(in, chunk, limit);
  in.Flush();
  return r;
}

// Samples `first` to `first + count` (to the end when count is 0) of 16-bit PCM.
std::vector<int> Values16(const Bytes& b, std::size_t first = 0, std::size_t count = 0) {
  std::vector<int> s;
  if (count == 0) count = b.size() / 2 - first;
  for (std::size_t i = first; i < first + count; ++i) s.push_back(AtS16(b, 2 * i));
  return s;
}

class WaveIn : public WaveFileTest {
 protected:
  // Writes the bytes to a file and points a new reader at it.
  TWaveIn& Open(const Bytes& file, const std::string& name = "in put é.wav") {
    return OpenReader(file, name, "");
  }
};

// ---- PCM and the header walk --------------------------------------------------------------------

TEST_F(WaveIn, APcmRecordingIsDeliveredInRefillsOf16384Bytes) {
  Bytes data = Ramp(40000);
  TWaveIn& in = Open(PcmFile(data, 2, 44100, 16));
  EXPECT_EQ(in.GetChannels(), 2);
  EXPECT_EQ(in.GetSampleRate(), 44100);
  EXPECT_EQ(in.GetBitsPerSample(), 16);
  EXPECT_EQ(in.WavType(), wtPCM);
  EXPECT_EQ(in.TotalSamples(), 10000);
  Pulled r = ReadAll(in, 16384);
  EXPECT_EQ(r.calls, (std::vector<int>{16384, 16384, 40000 - 32768}));
  EXPECT_EQ(r.data, data);
  EXPECT_EQ(in.Position(), 40000);
  EXPECT_EQ(in.Size(), 40000);
}

TEST_F(WaveIn, SmallRequestsAreServedFromTheStagingBuffer) {
  Bytes data = Ramp(1000);
  TWaveIn& in = Open(PcmFile(data));
  Pulled r = ReadAll(in, 300);
  EXPECT_EQ(r.calls, (std::vector<int>{300, 300, 300, 100}));
  EXPECT_EQ(r.data, data);
}

TEST_F(WaveIn, OnlyTheDeclaredDataIsDelivered) {
  // A chunk after the data (as some editors write) is not audio.
  Bytes data = Ramp(600);
  Bytes file = Riff(
      {Chunk("fmt ", Fmt(1, 1, 8000, 1, 8)), Chunk("data", data), Chunk("LIST", Bytes(40, 'x'))});
  TWaveIn& in = Open(file);
  EXPECT_EQ(ReadAll(in, 16384).data, data);
  EXPECT_EQ(in.TotalSamples(), 600);
}

TEST_F(WaveIn, ALoopStartsAgainFromTheBeginning) {
  Bytes data = Ramp(1000);
  TWaveIn& in = Open(PcmFile(data));
  in.SetLoop(true);
  Pulled r = ReadAll(in, 300, 6);
  EXPECT_EQ(r.calls, (std::vector<int>{300, 300, 300, 100, 300, 300}));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 300, r.data.begin() + 1000));
}

TEST_F(WaveIn, ALoopAlsoWrapsForWholeRefillRequests) {
  Bytes data = Ramp(20000);
  TWaveIn& in = Open(PcmFile(data));
  in.SetLoop(true);
  Pulled r = ReadAll(in, 16384, 4);
  EXPECT_EQ(r.calls, (std::vector<int>{16384, 3616, 16384, 3616}));
  EXPECT_EQ(Bytes(r.data.begin() + 20000, r.data.end()), data);
}

TEST_F(WaveIn, AListChunkBetweenFmtAndDataIsSkipped) {
  Bytes data = Ramp(64);
  Bytes file = Riff(
      {Chunk("fmt ", Fmt(1, 2, 22050, 4, 16)), Chunk("LIST", Bytes(26, 'i')), Chunk("data", data)});
  TWaveIn& in = Open(file);
  EXPECT_EQ(in.WavType(), wtPCM);
  EXPECT_EQ(ReadAll(in).data, data);
}

TEST_F(WaveIn, ChunkIdsMatchWhateverTheirCaseAndFmtWithAZeroByte) {
  Bytes data = Ramp(100);
  Bytes file = Riff({Chunk("FmT\0", Fmt(1, 1, 8000, 2, 16)), Chunk("DaTa", data)}, "riff", "Wave");
  TWaveIn& in = Open(file);
  EXPECT_EQ(in.WavType(), wtPCM);
  EXPECT_EQ(ReadAll(in).data, data);
}

TEST_F(WaveIn, TheWalkFindsRiffBehindLeadingBytesAndGivesUpAfter8192Bytes) {
  Bytes data = Ramp(10);
  Bytes lead(5, 0x55);
  Bytes good = lead;
  Append(good, PcmFile(data, 1, 8000, 8));
  EXPECT_EQ(Open(good, "lead.wav").WavType(), wtPCM);

  // A chunk before the data that ends the walk's budget: the data id would start at 8192.
  auto withJunk = [&](int junk) {
    return Riff(
        {Chunk("fmt ", Fmt(1, 1, 8000, 1, 8)), Chunk("junk", Bytes(junk, 0)), Chunk("data", data)});
  };
  // Header 12 + fmt 24 + junk header 8 = 44 bytes before the junk body.
  EXPECT_EQ(Open(withJunk(8192 - 44 - 4 - 1), "in.wav").WavType(), wtPCM);
  EXPECT_EQ(Open(withJunk(8192 - 44 - 4), "out.wav").WavType(), wtUnsupported);
}

TEST_F(WaveIn, AnOddLengthChunkBeforeDataGetsNoPadByteAndUsuallyMisleadsTheWalk) {
  Bytes file = Riff({Chunk("fmt ", Fmt(1, 1, 8000, 1, 8)), Chunk("odd ", Bytes(3, 'o')), Bytes{0},
                     Chunk("data", Ramp(100))});
  TWaveIn& in = Open(file);
  EXPECT_EQ(in.WavType(), wtUnsupported);
  EXPECT_EQ(ReadAll(in).data.size(), 0u);
}

TEST_F(WaveIn, FilesThatAreNotWavesDeliverNothing) {
  EXPECT_EQ(Open(Bytes{'R', 'I', 'F', 'F'}, "a.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(Bytes(100, 'z'), "b.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(Bytes{}, "c.wav").WavType(), wtUnsupported);
  // An unknown format tag ends the walk.
  TWaveIn& gsm =
      Open(Riff({Chunk("fmt ", Fmt(49, 1, 8000, 65, 0)), Chunk("data", Ramp(650))}), "gsm.wav");
  EXPECT_EQ(gsm.WavType(), wtUnsupported);
  EXPECT_EQ(ReadAll(gsm).data.size(), 0u);
}

TEST_F(WaveIn, ChunkLengthsPastTheEndOfTheFileAreRefused) {
  Bytes file = Riff({Chunk("fmt ", Fmt(1, 1, 8000, 1, 8)), Chunk("LIST", Bytes(10, 0), 0x7FFFFFF0),
                     Chunk("data", Ramp(100))});
  EXPECT_EQ(Open(file, "a.wav").WavType(), wtUnsupported);
  Bytes fmtPast = Riff({Chunk("fmt ", Fmt(1, 1, 8000, 1, 8), 0xFFFFFFF0)});
  EXPECT_EQ(Open(fmtPast, "b.wav").WavType(), wtUnsupported);
  Bytes shortFmt = Riff({Chunk("fmt ", Bytes{1, 0, 1, 0}), Chunk("data", Ramp(100))});
  EXPECT_EQ(Open(shortFmt, "c.wav").WavType(), wtUnsupported);
}

TEST_F(WaveIn, ADataSizeLeftAtMinusOneReadsUpToTheEndOfTheFile) {
  Bytes data = Ramp(5000);
  Bytes file = Riff({Chunk("fmt ", Fmt(1, 2, 44100, 4, 16)), Chunk("data", data, 0xFFFFFFFF)});
  TWaveIn& in = Open(file);
  EXPECT_EQ(in.TotalSamples(), 1250);
  EXPECT_EQ(ReadAll(in).data, data);
  EXPECT_EQ(in.Size(), 5000);
}

TEST_F(WaveIn, AZeroFrameSizeIsRefused) {
  EXPECT_EQ(Open(PcmFile(Ramp(100), 0, 8000, 16), "a.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(PcmFile(Ramp(100), 1, 8000, 4), "b.wav").WavType(), wtUnsupported);
}

TEST_F(WaveIn, CompressedDataIsRecognisedAndDataThatDoesNotConvertDeliversNothing) {
  Bytes extra;
  Add16(extra, 12);
  Add16(extra, 1);  // wID
  Add32(extra, 2);  // fdwFlags
  Add16(extra, 417);
  Add16(extra, 1);
  Add16(extra, 1393);
  Bytes file = Riff({Chunk("fmt ", Fmt(85, 2, 44100, 1, 0, extra)), Chunk("fact", Count(1152)),
                     Chunk("data", Bytes(417, 0xFF))});
  TWaveIn& in = Open(file);
  EXPECT_EQ(in.WavType(), wtACM);
  EXPECT_EQ(ReadAll(in).data.size(), 0u);
  EXPECT_FALSE(in.Seek(0));
}

// ---- Source behaviour: ranges, counted opens, messages ------------------------------------------

TEST_F(WaveIn, SampleRangesCountFramesAndDeliverThem) {
  std::vector<int> samples;
  for (int i = 0; i < 4000; ++i) samples.push_back(i);  // mono: frame i holds i
  TWaveIn& in = Open(PcmFile(Pcm16(samples), 1, 8000, 16));

  in.SetStartSample(100);
  Pulled r = ReadAll(in);
  EXPECT_EQ(in.Size(), (4000 - 100) * 2);
  EXPECT_EQ(Values16(r.data).front(), 100);
  EXPECT_EQ(r.data.size(), 3900u * 2);

  in.SetStartSample(0);
  in.SetEndSample(1000);
  r = ReadAll(in);
  EXPECT_EQ(in.Size(), 2000);
  EXPECT_EQ(r.data.size(), 2000u) << "EndSample - StartSample frames, not one more";
  EXPECT_EQ(Values16(r.data).back(), 999);

  in.SetStartSample(1500);
  in.SetEndSample(1600);
  r = ReadAll(in);
  EXPECT_EQ(Values16(r.data), [] {
    std::vector<int> v;
    for (int i = 1500; i < 1600; ++i) v.push_back(i);
    return v;
  }());

  in.SetStartSample(3000);
  in.SetEndSample(2000);
  r = ReadAll(in);
  EXPECT_EQ(in.Size(), 0) << "a range that ends before it starts delivers nothing";
  EXPECT_TRUE(r.data.empty());
}

TEST_F(WaveIn, StereoRangesCountBytesAsFramesTimesChannelsTimesSampleBytes) {
  TWaveIn& in = Open(PcmFile(Ramp(4000 * 4), 2, 8000, 16));
  in.SetStartSample(100);
  in.SetEndSample(-1);
  in.Init();
  EXPECT_EQ(in.Size(), 3900 * 4);
  in.Flush();
}

TEST_F(WaveIn, SourceMessages) {
  TWaveIn& in = Open(PcmFile(Ramp(100)));
  std::uint8_t buf[16];
  try {
    in.GetData(buf, 16);
    FAIL();
  } catch (const EACSException& e) {
    EXPECT_STREQ(e.what(), "The Stream is not opened");
  }
  in.Init();
  try {
    in.Init();
    FAIL();
  } catch (const EACSException& e) {
    EXPECT_STREQ(e.what(), "The component is Busy");
  }
  in.Flush();
  TWaveIn unnamed(nullptr);
  try {
    unnamed.Init();
    FAIL();
  } catch (const EACSException& e) {
    EXPECT_STREQ(e.what(), "The file name is not assigned");
  }
}

TEST_F(WaveIn, AMissingFileRaisesTheStreamsErrorNamingTheFile) {
  TWaveIn in(nullptr);
  in.SetFileName(dir / "nowhere.wav");
  try {
    in.Init();
    FAIL();
  } catch (const platform::EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("nowhere.wav"), std::string::npos);
  }
  EXPECT_FALSE(in.Busy());
}

TEST_F(WaveIn, OpensAreCountedAndTheGettersReadTheHeaderOfAClosedFile) {
  const std::string path = dir / "counted.wav";
  WriteFile(path, PcmFile(Ramp(400), 2, 22050, 16));
  TWaveIn in(nullptr);
  in.SetFileName(path);
  EXPECT_EQ(in.GetSampleRate(), 22050);
  // A closed reader reads the header anew: a changed file shows.
  WriteFile(path, PcmFile(Ramp(400), 1, 11025, 8));
  EXPECT_EQ(in.GetSampleRate(), 11025);
  in.OpenFile();
  in.OpenFile();
  WriteFile(path, PcmFile(Ramp(400), 2, 48000, 16));
  EXPECT_EQ(in.GetSampleRate(), 11025) << "while open, only counts";
  in.CloseFile();
  EXPECT_EQ(in.GetSampleRate(), 11025);
  in.CloseFile();
  EXPECT_EQ(in.GetSampleRate(), 48000);
  in.CloseFile();  // nothing open: does nothing
  in.OpenFile();
  in.OpenFile();
  in.Reset();
  EXPECT_EQ(in.GetChannels(), 2);
  WriteFile(path, PcmFile(Ramp(400), 1, 8000, 16));
  EXPECT_EQ(in.GetSampleRate(), 8000) << "Reset forced the count to 0";
}

TEST_F(WaveIn, TotalTimeIsRoundedHalfToEven) {
  // 8000 Hz mono 8-bit: one byte per frame.
  EXPECT_EQ(Open(PcmFile(Bytes(20000, 128), 1, 8000, 8), "a.wav").GetTotalTime(), 2);  // 2.5
  EXPECT_EQ(Open(PcmFile(Bytes(28000, 128), 1, 8000, 8), "b.wav").GetTotalTime(), 4);  // 3.5
  EXPECT_EQ(Open(PcmFile(Bytes(27000, 128), 1, 8000, 8), "c.wav").GetTotalTime(), 3);
  EXPECT_EQ(Open(PcmFile(Bytes(100, 0), 0, 8000, 8), "d.wav").GetTotalTime(), 0);
}

// ---- IMA/DVI ADPCM ------------------------------------------------------------------------------

Bytes ImaMonoFile(const std::vector<Bytes>& blocks, int blockAlign, std::uint32_t fact) {
  Bytes extra;
  Add16(extra, 2);
  Add16(extra, 2 * (blockAlign - 4) + 1);
  Bytes data;
  for (const auto& b : blocks) Append(data, b);
  return Riff({Chunk("fmt ", Fmt(17, 1, 22050, blockAlign, 4, extra)), Chunk("fact", Count(fact)),
               Chunk("data", data)});
}

Bytes ImaBlock(int blockAlign, int predictor, int index, const Bytes& codes) {
  Bytes b;
  Add16(b, predictor);
  b.push_back(static_cast<std::uint8_t>(index));
  b.push_back(0);
  Append(b, codes);
  b.resize(static_cast<std::size_t>(blockAlign), 0);
  return b;
}

TEST_F(WaveIn, ImaDecodingFollowsTheStandardExpansion) {
  // From predictor 0 and step index 0: code 7 gives 11 and index 8 (step 16, so a following code 0
  // adds 16 / 8 = 2); code 15 gives -11 and index 8.
  TWaveIn& up = Open(ImaMonoFile({ImaBlock(8, 0, 0, {0x07})}, 8, 9), "up.wav");
  EXPECT_EQ(Values16(ReadAll(up).data, 0, 3), (std::vector<int>{0, 11, 13}));
  TWaveIn& down = Open(ImaMonoFile({ImaBlock(8, 0, 0, {0x0F})}, 8, 9), "down.wav");
  EXPECT_EQ(Values16(ReadAll(down).data, 0, 3), (std::vector<int>{0, -11, -9}));
  // The predictor is clamped to -32767 .. 32767 and the index to 0 .. 88.
  TWaveIn& top = Open(ImaMonoFile({ImaBlock(8, 32760, 88, {0x77})}, 8, 9), "top.wav");
  EXPECT_EQ(Values16(ReadAll(top).data, 0, 3), (std::vector<int>{32760, 32767, 32767}));
  TWaveIn& bottom = Open(ImaMonoFile({ImaBlock(8, -32760, 88, {0xFF})}, 8, 9), "bottom.wav");
  EXPECT_EQ(Values16(ReadAll(bottom).data, 0, 3), (std::vector<int>{-32760, -32767, -32767}));
}

TEST_F(WaveIn, AMonoImaFileDeliversWholeBlocksAndSeeksToBlockStarts) {
  std::vector<Bytes> blocks;
  for (int i = 0; i < 3; ++i) blocks.push_back(ImaBlock(512, 1000 * (i + 1), 0, {}));
  TWaveIn& in = Open(ImaMonoFile({blocks[0]}, 512, 1017), "one.wav");
  EXPECT_EQ(in.WavType(), wtDVIADPCM);
  EXPECT_EQ(in.GetBitsPerSample(), 16);
  Pulled r = ReadAll(in);
  EXPECT_EQ(r.data.size(), 2034u);
  EXPECT_EQ(in.Size(), 2034);

  TWaveIn& three = Open(ImaMonoFile(blocks, 512, 3 * 1017), "three.wav");
  three.SetStartSample(1500);
  three.Init();
  std::uint8_t buf[4];
  ASSERT_EQ(three.GetData(buf, 2), 2);
  EXPECT_EQ(AtS16(Bytes(buf, buf + 2), 0), 2000) << "delivery restarts with sample 1017";
  three.Flush();
}

TEST_F(WaveIn, TheLastImaBlockIsDeliveredWholeEvenPastSize) {
  std::vector<Bytes> blocks(2, ImaBlock(512, 0, 0, {}));
  TWaveIn& in = Open(ImaMonoFile(blocks, 512, 1100), "past.wav");
  EXPECT_EQ(ReadAll(in).data.size(), 2u * 2034);
  EXPECT_EQ(in.Size(), 2200);
}

TEST_F(WaveIn, AStereoImaBlockInterleavesItsTwoChannels) {
  // Block align 16: 8 header bytes and one 8-byte group: 8 codes per channel, 9 frames.
  Bytes extra;
  Add16(extra, 2);
  Add16(extra, 9);
  Bytes block;
  Add16(block, 100);
  block.push_back(0);
  block.push_back(0);
  Add16(block, -100);
  block.push_back(0);
  block.push_back(0);
  Bytes group = {0x07, 0, 0, 0, 0x0F, 0, 0, 0};  // left +11, right -11 first
  Append(block, group);
  Bytes file = Riff({Chunk("fmt ", Fmt(17, 2, 8000, 16, 4, extra)), Chunk("fact", Count(9)),
                     Chunk("data", block)});
  TWaveIn& in = Open(file);
  Pulled r = ReadAll(in);
  ASSERT_EQ(r.data.size(), 9u * 4);
  EXPECT_EQ(Values16(r.data, 0, 6), (std::vector<int>{100, -100, 111, -111, 113, -109}));
}

TEST_F(WaveIn, ImaFilesTheDecoderCannotHoldAreRefused) {
  // Step index above 88 in a block header: the data ends there.
  std::vector<Bytes> blocks = {ImaBlock(8, 0, 0, {}), ImaBlock(8, 0, 89, {})};
  EXPECT_EQ(ReadAll(Open(ImaMonoFile(blocks, 8, 18), "idx.wav")).data.size(), 9u * 2);
  // A block whose samples would not fit the 16384-byte staging buffer.
  EXPECT_EQ(Open(ImaMonoFile({}, 4200, 0), "big.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(ImaMonoFile({}, 4096, 0), "fits.wav").WavType(), wtDVIADPCM);
  // Three channels, and stereo blocks that are not whole 8-byte groups.
  Bytes extra = {2, 0, 9, 0};
  EXPECT_EQ(Open(Riff({Chunk("fmt ", Fmt(17, 3, 8000, 24, 4, extra)), Chunk("fact", Count(9)),
                       Chunk("data", Bytes(24, 0))}),
                 "three.wav")
                .WavType(),
            wtUnsupported);
  EXPECT_EQ(Open(Riff({Chunk("fmt ", Fmt(17, 2, 8000, 12, 4, extra)), Chunk("fact", Count(5)),
                       Chunk("data", Bytes(12, 0))}),
                 "twelve.wav")
                .WavType(),
            wtUnsupported);
  EXPECT_EQ(Open(ImaMonoFile({}, 0, 0), "zero.wav").WavType(), wtUnsupported);
}

// ---- Microsoft ADPCM ----------------------------------------------------------------------------

Bytes MsMonoFile(const std::vector<Bytes>& blocks, int blockAlign, int samplesPerBlock,
                 std::uint32_t fact, const std::vector<std::pair<int, int>>& coefs) {
  Bytes data;
  for (const auto& b : blocks) Append(data, b);
  return Riff({Chunk("fmt ", Fmt(2, 1, 8000, blockAlign, 4, MsExtra(samplesPerBlock, coefs))),
               Chunk("fact", Count(fact)), Chunk("data", data)});
}

Bytes MsMonoBlock(int predictor, int delta, int sample1, int sample2, const Bytes& codes) {
  Bytes b = {static_cast<std::uint8_t>(predictor)};
  Add16(b, delta);
  Add16(b, sample1);
  Add16(b, sample2);
  Append(b, codes);
  return b;
}

TEST_F(WaveIn, MsAdpcmDecodingFollowsTheStandardExpansion) {
  // Coefficient pair (256, 0): the prediction is sample 1. Four samples per block: the two header
  // samples and one code byte (high nibble first).
  const std::vector<std::pair<int, int>> coefs = {{256, 0}};
  std::vector<Bytes> blocks = {
      MsMonoBlock(0, 16, 1000, 0, {0x71}),   // code 7: 1112, delta 38; code 1: 1112 + 38
      MsMonoBlock(0, 16, 1000, 0, {0x11}),   // code 1: 1016, delta 14 raised to 16; then + 16
      MsMonoBlock(0, 100, 1000, 0, {0xF1}),  // code 15 (-1): 900, delta 89; then + 89
  };
  TWaveIn& in = Open(MsMonoFile(blocks, 8, 4, 12, coefs));
  EXPECT_EQ(in.WavType(), wtMSADPCM);
  Pulled r = ReadAll(in);
  EXPECT_EQ(Values16(r.data),
            (std::vector<int>{0, 1000, 1112, 1150, 0, 1000, 1016, 1032, 0, 1000, 900, 989}));
}

TEST_F(WaveIn, MsAdpcmPredictsFromBothSamplesAndClamps) {
  // (512, -256): 2 x s1 - s2, truncated toward zero; results clamp at the 16-bit limits.
  const std::vector<std::pair<int, int>> coefs = {{256, 0}, {512, -256}};
  std::vector<Bytes> blocks = {MsMonoBlock(1, 20, 30000, 20000, {0x77})};
  TWaveIn& in = Open(MsMonoFile(blocks, 8, 4, 4, coefs));
  // 2 x 30000 - 20000 = 40000, + 7 x 20 -> clamped to 32767.
  EXPECT_EQ(Values16(ReadAll(in).data), (std::vector<int>{20000, 30000, 32767, 32767}));
}

TEST_F(WaveIn, AStereoMsAdpcmBlockStartsWithTheHeaderSamples) {
  const int spb = 500, align = 14 + (spb - 2);
  Bytes block = {0, 0};
  Add16(block, 16);
  Add16(block, 16);
  Add16(block, 111);   // left sample 1
  Add16(block, -222);  // right sample 1
  Add16(block, 333);   // left sample 2
  Add16(block, -444);  // right sample 2
  block.resize(align, 0);
  Bytes file = Riff({Chunk("fmt ", Fmt(2, 2, 22050, align, 4, MsExtra(spb, StandardMsCoefs()))),
                     Chunk("fact", Count(spb)), Chunk("data", block)});
  TWaveIn& in = Open(file);
  Pulled r = ReadAll(in);
  ASSERT_EQ(r.data.size(), 2000u);
  EXPECT_EQ(Values16(r.data, 0, 4), (std::vector<int>{333, -444, 111, -222}));
}

TEST_F(WaveIn, MsAdpcmFilesTheDecoderCannotHoldAreRefused) {
  const std::vector<std::pair<int, int>> one = {{256, 0}};
  // A predictor choice outside the file's table ends the data.
  std::vector<Bytes> blocks = {MsMonoBlock(0, 16, 1, 2, {0}), MsMonoBlock(1, 16, 1, 2, {0})};
  EXPECT_EQ(ReadAll(Open(MsMonoFile(blocks, 8, 4, 8, one), "choice.wav")).data.size(), 8u);
  // More than 32 coefficient pairs declared.
  std::vector<std::pair<int, int>> many(33, {256, 0});
  EXPECT_EQ(Open(MsMonoFile({}, 8, 4, 0, many), "many.wav").WavType(), wtUnsupported);
  // A declared count whose pairs are not in the fmt chunk.
  Bytes lying = Riff({Chunk("fmt ", Fmt(2, 1, 8000, 8, 4, MsExtra(4, one, 7))),
                      Chunk("fact", Count(4)), Chunk("data", Bytes(8, 0))});
  EXPECT_EQ(Open(lying, "lying.wav").WavType(), wtUnsupported);
  // More samples per block than the block holds codes for, or than the staging buffer holds.
  EXPECT_EQ(Open(MsMonoFile({}, 8, 40, 0, one), "codes.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(MsMonoFile({}, 9000, 8194, 0, one), "buffer.wav").WavType(), wtUnsupported);
  EXPECT_EQ(Open(MsMonoFile({}, 8, 1, 0, one), "one.wav").WavType(), wtUnsupported);
}

TEST_F(WaveIn, MsAdpcmSeeksToTheBlockOfTheSample) {
  const std::vector<std::pair<int, int>> one = {{256, 0}};
  std::vector<Bytes> blocks = {MsMonoBlock(0, 16, 10, 1, {0}), MsMonoBlock(0, 16, 20, 2, {0}),
                               MsMonoBlock(0, 16, 30, 3, {0})};
  TWaveIn& in = Open(MsMonoFile(blocks, 8, 4, 12, one));
  in.SetStartSample(9);
  Pulled r = ReadAll(in);
  EXPECT_EQ(Values16(r.data, 0, 2), (std::vector<int>{3, 30})) << "third block";
}

}  // namespace
