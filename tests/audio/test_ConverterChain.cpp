// The converters in a running chain: a WAV writer's worker pulls an mp3-in-WAV file through a
// width and a rate converter and writes the result.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "audio/ACS_Converters.h"
#include "audio/ACS_Wave.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/Mp3Encode.h"

using tw_test::Le32;
using tw_test::PumpUntil;
using tw_test::ReadFile;
using tw_test::TempDir;

TEST(ConverterChain, Mp3WaveToEightBitAt22050) {
  TempDir dir;
  const int rate = 44100;
  const auto mp3 =
      testsupport::EncodeMp3(testsupport::Sine(rate, 2, rate, {600, 600}, 12000), rate, 2, 128);
  const std::string inPath = dir / "mp3 source.wav";
  {
    const auto wave = testsupport::Mp3Wave(mp3, rate, 2, 128);
    std::ofstream(inPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(wave.data()),
               static_cast<std::streamsize>(wave.size()));
  }
  const std::string outPath = dir / "converted.wav";

  platform::TComponent owner(nullptr);
  auto* in = new TWaveIn(&owner);
  auto* rate22 = new TRateConverter(&owner);
  auto* eight = new TSampleConverter(&owner);
  auto* out = new TWaveOut(&owner);
  in->SetFileName(inPath);
  rate22->SetInput(in);
  rate22->SetOutSampleRate(22050);
  eight->SetInput(rate22);
  out->SetInput(eight);
  out->SetFileName(outPath);
  std::atomic<int> done{0}, failed{0};
  out->OnDone = [&](platform::TComponent*) { ++done; };
  out->OnThreadException = [&](platform::TComponent*, const std::exception&) { ++failed; };

  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return done + failed > 0; }));
  ASSERT_TRUE(PumpUntil([&] { return out->Status() == 2; }));
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(in->Busy());
  EXPECT_FALSE(rate22->Busy());
  EXPECT_FALSE(eight->Busy());

  const auto file = ReadFile(outPath);
  ASSERT_GE(file.size(), 44u);
  EXPECT_EQ(file[22], 2);              // channels
  EXPECT_EQ(Le32(&file[24]), 22050u);  // rate
  EXPECT_EQ(file[34], 8);              // bits
  const std::uint32_t dataSize = Le32(&file[40]);
  EXPECT_EQ(dataSize, file.size() - 44);
  // The mp3 decodes to whole frames of 1152 samples; halved in rate, halved again in width.
  EXPECT_EQ(dataSize % 1152, 0u);
  EXPECT_GE(dataSize, static_cast<std::uint32_t>(rate));
  std::vector<std::int16_t> left;
  for (std::size_t i = 44; i + 1 < file.size(); i += 2) left.push_back((file[i] - 128) * 256);
  EXPECT_NEAR(testsupport::ToneAmplitude(left, 1, 0, 22050, 600, 4000, 2205 * 4), 12000, 1500);
}
