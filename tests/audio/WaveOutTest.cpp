#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/ACS_Wave.h"
#include "platform/runtime/GuiThread.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/WavFiles.h"

using namespace tw_test;

namespace {

// Exposes the encoder and the header builders.
class OpenWaveOut : public TWaveOut {
 public:
  using TWaveOut::EncodeImaBlockMono;
  using TWaveOut::EncodeImaBlockStereo;
  using TWaveOut::FLeftPredictor;
  using TWaveOut::FLeftStepIndex;
  using TWaveOut::FRightPredictor;
  using TWaveOut::FRightStepIndex;
  using TWaveOut::TWaveOut;
  using TWaveOut::WriteDviWaveHeader;
  using TWaveOut::WritePcmWaveHeader;
  // As every concrete sink, the most derived class ends the worker before anything of it goes.
  ~OpenWaveOut() override { EndWorker(); }
};

class WaveOut : public ::testing::Test {
 protected:
  OpenWaveOut& Writer(const std::string& name) {
    auto* out = new OpenWaveOut(&owner);
    out->SetFileName(dir / name);
    WireEnd(*out, outcome);
    return *out;
  }
  MemSource& Source(Bytes data, int bits = 16, int channels = 2, int rate = 44100) {
    return *new MemSource(&owner, std::move(data), bits, channels, rate);
  }
  // Runs the writer and waits for the end of the run (OnDone or a failure).
  void RunToEnd(TWaveOut& out) {
    const int before = outcome.done + outcome.failures;
    out.Run();
    ASSERT_TRUE(PumpUntil([&] { return outcome.done + outcome.failures > before; }));
    ASSERT_TRUE(PumpUntil([&] { return out.Status() == 2; }));
  }
  // A writer of `name` of the given type and file mode, having recorded `src` to the end.
  OpenWaveOut& Record(const std::string& name, MemSource& src, TWavType type = wtPCM,
                      TFileOutputMode mode = foRewrite) {
    auto& out = Writer(name);
    out.SetWavType(type);
    out.SetFileMode(mode);
    out.SetInput(&src);
    RunToEnd(out);
    return out;
  }
  // An endless source of silence, of open length when `openLength`.
  MemSource& Endless(bool openLength) {
    auto& src = Source({});
    src.endless = true;
    src.openLength = openLength;
    return src;
  }
  std::string Failure() { return outcome.Failure(); }
  Bytes Read(const std::string& name) {
    Bytes file = ReadFile(dir / name);
    SaveTestSeed("out_", name, file);
    return file;
  }

  TempDir dir;
  SinkEvents outcome;
  platform::TComponent owner{nullptr};
};

// Reads a file back through TWaveIn.
Bytes ReadBack(const std::string& path) {
  TWaveIn in(nullptr);
  in.SetFileName(path);
  in.Init();
  Bytes all = PullAll(in, 16384).data;
  in.Flush();
  return all;
}

std::vector<int> Sine(int frames, int channels, double amplitude = 12000) {
  std::vector<int> v;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      v.push_back(static_cast<int>(amplitude * std::sin(i * (0.031 + 0.017 * c))));
  return v;
}

// ---- PCM ----------------------------------------------------------------------------------------

TEST_F(WaveOut, APcmRecordingStartsWithTheCanonicalHeader) {
  Bytes data = Ramp(400);
  Record("rec.wav", Source(data));
  EXPECT_EQ(outcome.done, 1);
  Bytes expected = {'R', 'I', 'F', 'F'};
  Add32(expected, 436);
  AddId(expected, "WAVE");
  AddId(expected, "fmt ");
  Add32(expected, 16);
  Add16(expected, 1);
  Add16(expected, 2);
  Add32(expected, 44100);
  Add32(expected, 4 * 44100);
  Add16(expected, 4);
  Add16(expected, 16);
  AddId(expected, "data");
  Add32(expected, 400);
  Append(expected, data);
  EXPECT_EQ(Read("rec.wav"), expected);
}

TEST_F(WaveOut, AnOpenLengthIsWrittenAsMinusOneAndCorrectedAtTheEnd) {
  auto& src = Source(Ramp(100000));
  src.openLength = true;
  src.Init();
  auto& out = Writer("open.wav");
  out.SetInput(&src);
  TWaveHeader h;
  out.WritePcmWaveHeader(h);
  EXPECT_EQ(h.DataSize, 0xFFFFFFFFu);
  EXPECT_EQ(h.RIFFSize, 35u);
  src.Flush();
  RunToEnd(out);
  Bytes file = Read("open.wav");
  ASSERT_EQ(file.size(), 100044u);
  EXPECT_EQ(At32(file, 40), 100000u);
  EXPECT_EQ(At32(file, 4), 100036u);
}

TEST_F(WaveOut, AStoppedRecordingGetsTheSizesOfWhatWasWritten) {
  auto& out = Writer("stopped.wav");
  auto& planned = Source(Ramp(10'000'000));
  planned.maxBlock = 1000;
  out.SetInput(&planned);
  out.OnProgress = [&](platform::TComponent*) {
    if (out.Progress() >= 1) out.Stop();
  };
  RunToEnd(out);
  Bytes file = Read("stopped.wav");
  ASSERT_GT(file.size(), 44u);
  ASSERT_LT(file.size(), 10'000'044u);
  EXPECT_EQ(At32(file, 40), file.size() - 44) << "the header must not claim the planned size";
  EXPECT_EQ(At32(file, 4), file.size() - 8);
  EXPECT_EQ(ReadBack(dir / "stopped.wav"), Bytes(file.begin() + 44, file.end()));
}

// A source that, once it has delivered `signalAt` bytes, tells the test through a pipe and then
// never returns: the writer holds what it got so far when the process is killed.
class HaltingSource : public MemSource {
 public:
  HaltingSource(Bytes data, int signalAt, int pipeFd)
      : MemSource(nullptr, std::move(data)), signalAt_(signalAt), fd_(pipeFd) {}
  int GetData(void* buffer, int size) override {
    if (Position() >= signalAt_) {
      const char reached = 'r';
      if (::write(fd_, &reached, 1) != 1) ::_exit(3);
      for (;;) ::pause();
    }
    return MemSource::GetData(buffer, size);
  }

 private:
  int signalAt_, fd_;
};

TEST_F(WaveOut, AKilledRecordingLosesAtMostASecondAndItsHeaderClaimsNoMore) {
  constexpr int kSecond = 44100 * 4;
  const Bytes data = Ramp(10 * kSecond);  // a planned recording of 10 s
  const std::string path = dir / "killed.wav";
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    HaltingSource source(data, 7 * kSecond / 2, fds[1]);
    TWaveOut out(nullptr);
    out.SetFileName(path);
    out.SetInput(&source);
    try {
      out.Run();
    } catch (...) {
      ::_exit(2);
    }
    // The worker's progress reports run here, as on a GUI thread.
    for (;;) {
      platform::ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ::close(fds[1]);
  char reached = 0;
  const bool signalled = ::read(fds[0], &reached, 1) == 1;
  ::close(fds[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(signalled) << "the child ended before recording 3.5 s, status " << status;
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  const Bytes file = Read("killed.wav");
  ASSERT_GE(file.size(), 44u);
  const std::size_t held = file.size() - 44;
  const std::uint32_t claimed = At32(file, 40);
  EXPECT_LE(claimed, held) << "the header claims more than the file holds";
  EXPECT_GE(claimed, 7u * kSecond / 2 - kSecond - 16384) << "more than a second was lost";
  EXPECT_EQ(At32(file, 4), claimed + 36);
  EXPECT_EQ(ReadBack(path), Bytes(data.begin(), data.begin() + claimed));

  // The same recording run to its end gets its true sizes back.
  Record("whole.wav", Source(Bytes(data.begin(), data.begin() + 7 * kSecond / 2)));
  const Bytes whole = Read("whole.wav");
  EXPECT_EQ(whole.size(), 44u + 7 * kSecond / 2);
  EXPECT_EQ(At32(whole, 40), 7u * kSecond / 2);
  EXPECT_EQ(At32(whole, 4), 7u * kSecond / 2 + 36);
}

TEST_F(WaveOut, InsideOnDoneTheFileIsClosedAndComplete) {
  Bytes data = Ramp(50000);
  auto& out = Writer("done.wav");
  out.SetInput(&Source(data));
  Bytes readInDone;
  int statusInDone = -1;
  out.OnDone = [&](platform::TComponent*) {
    statusInDone = out.Status();
    readInDone = ReadBack(dir / "done.wav");
    ++outcome.done;
  };
  RunToEnd(out);
  EXPECT_EQ(statusInDone, 2);
  EXPECT_EQ(readInDone, data);
}

TEST_F(WaveOut, ARecordingAbandonedByDestroyingTheWriterKeepsEverythingItPulled) {
  auto& src = Endless(true);
  auto out = std::make_unique<OpenWaveOut>(nullptr);
  out->SetFileName(dir / "abandoned.wav");
  out->SetInput(&src);
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return src.requests > 30; }));  // past the first seconds
  out.reset();
  Bytes file = Read("abandoned.wav");
  EXPECT_EQ(file.size() - 44, static_cast<std::size_t>(src.requests) * 16384);
  // No Done: the header holds the sizes of the last second written out.
  EXPECT_LE(At32(file, 40), file.size() - 44);
  EXPECT_GE(At32(file, 40), 44100u * 4);
}

TEST_F(WaveOut, AFailingInputEndsTheRecordingWithWhatCameBefore) {
  auto& src = Source(Ramp(100000));
  src.maxBlock = 10000;
  src.failAfter = 30000;
  Record("partial.wav", src);
  EXPECT_EQ(outcome.done, 1);
  EXPECT_EQ(outcome.failures, 0);
  Bytes file = Read("partial.wav");
  EXPECT_EQ(file.size(), 30044u);
  EXPECT_EQ(At32(file, 40), 30000u);
}

TEST_F(WaveOut, AWriteFailureEndsTheRunAsAFailure) {
  auto& out = Writer("full.wav");
  out.SetInput(&Source(Ramp(300000)));
  {
    FileSizeLimit full(100000);
    ASSERT_TRUE(full.ok());
    RunToEnd(out);
  }
  EXPECT_EQ(outcome.failures, 1);
  EXPECT_EQ(outcome.done, 0);
  EXPECT_NE(Failure().find("full.wav"), std::string::npos) << Failure();
  EXPECT_EQ(out.Status(), 2);
  // The file was closed: it can be opened exclusively again.
  EXPECT_NO_THROW(platform::TFileStream(dir / "full.wav",
                                        platform::fmOpenReadWrite | platform::fmShareExclusive));
}

TEST_F(WaveOut, AnOutputDeletedOrReplacedDuringTheRecordingEndsAsAFailure) {
  const auto elsewhere = dir / "elsewhere.wav";
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
      {"deleted.wav", [](const std::string& path) { std::filesystem::remove(path); }},
      {"replaced.wav",
       [&](const std::string& path) {
         WriteFile(elsewhere, Ramp(100));
         std::filesystem::rename(elsewhere, path);
       }},
  };
  for (const auto& [name, change] : cases) {
    SCOPED_TRACE(name);
    auto& src = Endless(false);
    auto& out = Writer(name);
    out.SetInput(&src);
    const int failuresBefore = outcome.failures;
    out.Run();
    ASSERT_TRUE(PumpUntil([&] { return src.requests > 5; }));
    change(dir / name);
    out.Stop();
    ASSERT_TRUE(PumpUntil([&] { return outcome.done + outcome.failures > failuresBefore; }));
    EXPECT_EQ(outcome.done, 0);
    EXPECT_EQ(outcome.failures, failuresBefore + 1);
    EXPECT_NE(Failure().find(name), std::string::npos) << Failure();
  }
  // What replaced the output is left alone.
  EXPECT_EQ(Read("replaced.wav"), Ramp(100));
}

TEST_F(WaveOut, PrepareFailuresReachOnThreadExceptionAndLeaveNothingOpen) {
  auto& unnamed = Writer("");
  unnamed.SetFileName("");
  unnamed.SetInput(&Source(Ramp(10)));
  EXPECT_NO_THROW(unnamed.Run());
  EXPECT_EQ(Failure(), "File name is not assigned.");
  EXPECT_EQ(unnamed.Status(), 2);

  auto& src = Source(Ramp(10), 8, 1, 8000);
  auto& eight = Writer("eight.wav");
  eight.SetWavType(wtDVIADPCM);
  eight.SetInput(&src);
  eight.Run();
  EXPECT_EQ(Failure(), "Cannot encode 8 bit sound into ADPCM.");
  EXPECT_FALSE(src.Busy()) << "the input was flushed";
  EXPECT_NO_THROW(platform::TFileStream(dir / "eight.wav",
                                        platform::fmOpenReadWrite | platform::fmShareExclusive));

  auto& stereo = Writer("twelve.wav");
  stereo.SetWavType(wtDVIADPCM);
  stereo.SetBlockSize(12);
  stereo.SetInput(&Source(Ramp(100)));
  stereo.Run();
  EXPECT_NE(Failure().find("ADPCM"), std::string::npos);

  auto& nowhere = Writer("no/such/folder/x.wav");
  nowhere.SetInput(&Source(Ramp(10)));
  nowhere.Run();
  EXPECT_NE(Failure().find("no/such/folder/x.wav"), std::string::npos);
  EXPECT_EQ(outcome.failures, 4);
  PumpUntil([] { return false; }, std::chrono::milliseconds(20));
  EXPECT_EQ(outcome.done, 0);
}

TEST_F(WaveOut, WavTypeAndBlockSizeTakeOnlyValidValuesWhileIdle) {
  auto& out = Writer("x.wav");
  out.SetWavType(wtMSADPCM);
  out.SetWavType(wtACM);
  EXPECT_EQ(out.WavType(), wtPCM);
  out.SetWavType(wtDVIADPCM);
  EXPECT_EQ(out.WavType(), wtDVIADPCM);
  for (int bad : {0, 510, 1022}) out.SetBlockSize(static_cast<std::uint16_t>(bad));
  EXPECT_EQ(out.BlockSize(), 512);
  out.SetBlockSize(1024);
  EXPECT_EQ(out.BlockSize(), 1024);

  out.SetInput(&Endless(true));
  out.Run();
  ASSERT_EQ(out.Busy(), true);
  out.SetWavType(wtPCM);
  out.SetBlockSize(256);
  EXPECT_EQ(out.WavType(), wtDVIADPCM);
  EXPECT_EQ(out.BlockSize(), 1024);
  out.Stop();
  ASSERT_TRUE(PumpUntil([&] { return outcome.done == 1; }));
}

TEST_F(WaveOut, OnlyWritersThatAppendKeepFileModeAppend) {
  auto& out = Writer("x.wav");
  out.SetFileMode(foAppend);
  EXPECT_EQ(out.FileMode(), foAppend);
  struct PlainFileOut : TACSFileOut {
    using TACSFileOut::TACSFileOut;
    ~PlainFileOut() override { EndWorker(); }
    bool DoOutput(bool) override { return false; }
    void Done() override {}
    void Prepare() override {}
  } plain(nullptr);
  plain.SetFileMode(foAppend);
  EXPECT_EQ(plain.FileMode(), foRewrite);
}

// ---- Append -------------------------------------------------------------------------------------

TEST_F(WaveOut, AppendingToAPcmFileContinuesItsData) {
  Bytes first = Ramp(3000), second = Ramp(5000);
  Record("a.wav", Source(first));
  Record("a.wav", Source(second), wtPCM, foAppend);
  Bytes file = Read("a.wav");
  ASSERT_EQ(file.size(), 8044u);
  EXPECT_EQ(At32(file, 40), 8000u);
  EXPECT_EQ(At32(file, 4), 8036u);
  Bytes both = first;
  Append(both, second);
  EXPECT_EQ(ReadBack(dir / "a.wav"), both);
}

TEST_F(WaveOut, AppendingToAMissingOrEmptyFileWritesANewOne) {
  WriteFile(dir / "empty.wav", {});
  for (const char* name : {"missing.wav", "empty.wav"}) {
    Record(name, Source(Ramp(1234)), wtPCM, foAppend);
    Bytes file = Read(name);
    ASSERT_EQ(file.size(), 1278u) << name;
    EXPECT_EQ(At32(file, 40), 1234u);
    EXPECT_EQ(At32(file, 4), 1270u);
  }
  EXPECT_EQ(outcome.done, 2);
}

TEST_F(WaveOut, AppendingAfterATrailingChunkTakesEverythingFromTheDataStart) {
  Bytes old = Ramp(100);
  Bytes file = Riff(
      {Chunk("fmt ", Fmt(1, 2, 44100, 4, 16)), Chunk("data", old), Chunk("LIST", Bytes(20, 'l'))});
  WriteFile(dir / "list.wav", file);
  Record("list.wav", Source(Ramp(400)), wtPCM, foAppend);
  Bytes now = Read("list.wav");
  ASSERT_EQ(now.size(), file.size() + 400);
  EXPECT_EQ(At32(now, 40), 100u + 28 + 400) << "data size runs to the end of the file";
  EXPECT_EQ(At32(now, 4), now.size() - 8);
  EXPECT_EQ(Bytes(now.end() - 400, now.end()), Ramp(400));
}

TEST_F(WaveOut, AppendRefusesOtherFormatsAndLeavesTheFileAsItWas) {
  // Appends `src` to `file`, written as `name`: the run fails with `failure` and the file stays.
  auto refused = [&](const char* name, const Bytes& file, MemSource& src, const char* failure) {
    SCOPED_TRACE(name);
    WriteFile(dir / name, file);
    auto& out = Writer(name);
    out.SetFileMode(foAppend);
    out.SetInput(&src);
    out.Run();
    EXPECT_EQ(Failure(), failure);
    EXPECT_EQ(Read(name), file);
  };
  const char* notAppendable = "Cannot append data to this .wav file.";

  auto& src = Source(Ramp(100));
  refused("mp3.wav",
          Riff({Chunk("fmt ", Fmt(85, 2, 44100, 1, 0, Bytes(14, 0))), Chunk("fact", Count(1152)),
                Chunk("data", Bytes(417, 0xFF))}),
          src, notAppendable);
  EXPECT_FALSE(src.Busy());
  refused("slow.wav", PcmFile(Ramp(100), 2, 22050, 16), Source(Ramp(100), 16, 2, 44100),
          "Cannot append data in different audio format.");
  refused("text.wav", Bytes(300, 'x'), Source(Ramp(100)), notAppendable);
  // Mono IMA blocks of 64 KB hold more samples than a block's header can count.
  refused("huge.wav",
          Riff({Chunk("fmt ", Fmt(17, 1, 8000, 65532, 4, Bytes{2, 0, 0xF1, 0xFF})),
                Chunk("fact", Count(0)), Chunk("data", {})}),
          Source(Ramp(100), 16, 1, 8000), notAppendable);
  EXPECT_EQ(outcome.failures, 4);
}

TEST_F(WaveOut, AppendTakesTheFormatOfTheFileItContinues) {
  // A DVI writer appending to a PCM file writes PCM; the walk also takes the file's block align.
  WriteFile(dir / "pcm.wav", PcmFile(Ramp(40), 2, 44100, 16));
  auto& out = Record("pcm.wav", Source(Ramp(60)), wtDVIADPCM, foAppend);
  EXPECT_EQ(out.WavType(), wtPCM);
  EXPECT_EQ(out.BlockSize(), 4);
  EXPECT_EQ(ReadBack(dir / "pcm.wav").size(), 100u);
}

// ---- IMA/DVI ADPCM ------------------------------------------------------------------------------

TEST_F(WaveOut, TheQuantiserFollowsTheStandardSteps) {
  auto& out = Writer("q.wav");
  out.SetBlockSize(8);  // mono: 8 codes after the header sample
  std::uint8_t block[8];
  // From predictor 0 and index 0: 100 gives code 7 (predictor 11, index 8); then -100 gives
  // code 15 (from 11 with step 16: predictor -19, index 16).
  std::int16_t samples[8] = {100, -100, -19, -19, -19, -19, -19, -19};
  out.FLeftPredictor = 0;
  out.FLeftStepIndex = 0;
  out.EncodeImaBlockMono(samples, block);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[2], 0);
  EXPECT_EQ(block[3], 0);
  EXPECT_EQ(block[4], 0xF7);
  // A sample of 3 from predictor 0 and index 0 gives code 2 (predictor 3, index stays 0).
  std::int16_t small[8] = {3, 3, 3, 3, 3, 3, 3, 3};
  out.FLeftStepIndex = 0;
  out.EncodeImaBlockMono(small, block);
  EXPECT_EQ(block[4] & 0x0F, 2);
  EXPECT_EQ(out.FLeftStepIndex, 0);
  // The index is carried into the next block's header.
  std::int16_t loud[8] = {30000, -30000, 30000, -30000, 30000, -30000, 30000, -30000};
  out.EncodeImaBlockMono(loud, block);
  const int carried = out.FLeftStepIndex;
  EXPECT_GT(carried, 20);
  out.EncodeImaBlockMono(small, block);
  EXPECT_EQ(block[2], carried);
}

TEST_F(WaveOut, TheDviHeaderFollowsTheInputsPlan) {
  auto& src = Source(Bytes(20340, 0), 16, 1, 22050);
  src.Init();
  auto& out = Writer("dvi.wav");
  out.SetInput(&src);
  TDVIADPCMHeader h;
  out.WriteDviWaveHeader(h);
  src.Flush();
  EXPECT_EQ(h.wSamplesPerBlock, 1017);
  EXPECT_EQ(h.FactSamples, 10170u);
  EXPECT_EQ(h.DataSize, 5120u);
  EXPECT_EQ(h.RIFFSize, 5172u);
  EXPECT_EQ(h.nAvgBytesPerSec, 10752u);
  EXPECT_EQ(h.nBlockAlign, 512);
  EXPECT_EQ(h.wBitsPerSample, 4);
}

TEST_F(WaveOut, AMonoDviRecordingEndsWithASilentBlockAndATrueHeader) {
  std::vector<int> samples = Sine(10170, 1);
  Record("mono.wav", Source(Pcm16(samples), 16, 1, 22050), wtDVIADPCM);
  Bytes file = Read("mono.wav");
  ASSERT_EQ(file.size(), 60u + 11 * 512) << "10 full blocks and one of silence";
  EXPECT_EQ(At16(file, 20), 17);
  EXPECT_EQ(At16(file, 38), 1017);
  EXPECT_EQ(At32(file, 48), 10170u) << "fact: the samples recorded";
  EXPECT_EQ(At32(file, 56), 11u * 512) << "data size: what was written";
  EXPECT_EQ(At32(file, 4), file.size() - 8);
  // The silent block: predictor 0 and nothing but zero-sample codes.
  EXPECT_EQ(At16(file, 60 + 10 * 512), 0);
}

TEST_F(WaveOut, DviRoundTripsThroughTheReaderWithinTheCodecsError) {
  for (int channels : {1, 2}) {
    std::vector<int> samples = Sine(5000, channels);
    const std::string name = "rt" + std::to_string(channels) + ".wav";
    auto& out = Writer(name);
    out.SetWavType(wtDVIADPCM);
    out.SetBlockSize(channels == 1 ? 256 : 512);
    out.SetInput(&Source(Pcm16(samples), 16, channels, 44100));
    RunToEnd(out);
    Bytes pcm = ReadBack(dir / name);
    ASSERT_GE(pcm.size(), samples.size() * 2) << channels;
    double error = 0, signal = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double d = AtS16(pcm, 2 * i) - samples[i];
      error += d * d;
      signal += static_cast<double>(samples[i]) * samples[i];
    }
    const double snr = 10 * std::log10(signal / error);
    EXPECT_GT(snr, 25) << channels << " channels";
    // Each block starts with the exact sample.
    const int spb = channels == 1 ? 2 * (256 - 4) + 1 : 512 - 7;
    EXPECT_EQ(AtS16(pcm, 2 * spb * channels), samples[spb * channels]);
  }
}

TEST_F(WaveOut, AStereoDviBlockHasTwoChannelHeaders) {
  std::vector<int> samples = Sine(505, 2);
  samples[0] = 1234;
  samples[1] = -4321;
  Record("stereo.wav", Source(Pcm16(samples), 16, 2, 44100), wtDVIADPCM);
  Bytes file = Read("stereo.wav");
  ASSERT_GE(file.size(), 60u + 512);
  EXPECT_EQ(At16(file, 38), 505);
  EXPECT_EQ(AtS16(file, 60), 1234);
  EXPECT_EQ(file[63], 0);
  EXPECT_EQ(AtS16(file, 64), -4321);
  EXPECT_EQ(file[67], 0);
}

TEST_F(WaveOut, AppendingDviContinuesTheFileAndItsFactCount) {
  std::vector<int> samples = Sine(2000, 1);
  Record("d.wav", Source(Pcm16(samples), 16, 1, 22050), wtDVIADPCM);
  const std::size_t firstSize = Read("d.wav").size();
  auto& b = Writer("d.wav");
  b.SetFileMode(foAppend);
  b.SetBlockSize(256);  // replaced by the file's block size
  b.SetInput(&Source(Pcm16(samples), 16, 1, 22050));
  RunToEnd(b);
  EXPECT_EQ(b.WavType(), wtDVIADPCM);
  EXPECT_EQ(b.BlockSize(), 512);
  Bytes file = Read("d.wav");
  const std::uint32_t blocks = static_cast<std::uint32_t>((file.size() - 60) / 512);
  EXPECT_EQ(file.size(), firstSize + 2 * 512);
  EXPECT_EQ(At32(file, 56), blocks * 512);
  EXPECT_EQ(At32(file, 48), blocks * 1017);
  EXPECT_EQ(At32(file, 4), file.size() - 8);
  // The appended blocks decode on their own: the second recording starts at block 2.
  Bytes pcm = ReadBack(dir / "d.wav");
  EXPECT_EQ(AtS16(pcm, 2 * 2 * 1017), samples[0]);
}

}  // namespace
