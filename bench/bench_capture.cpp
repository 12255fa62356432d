// What recording costs: the CPU time the process spends while the card plays a MIDI file and the
// capture chain of the converter (TAudioIn -> TSoundIndicator -> TWaveOut, 44100 Hz, 16 bits,
// stereo) records 20 s of it in real time, minus the CPU time of the card playing the same music
// for the same stretch of card time without recording.
// Prints RESULT capture_cpu_percent = that difference as a percentage of the recording time.
// Usage: bench_capture [rounds]   (default 2; the lowest time of each kind counts)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "BenchCard.h"
#include "audio/ACS_Audio.h"
#include "audio/ACS_Indicator.h"
#include "audio/ACS_Wave.h"
#include "platform/runtime/GuiThread.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/SongBuilder.h"

using platform::softcard::Card;
using platform::softcard::kCardRate;

namespace {

constexpr int kSeconds = 20;

// The GUI thread's part in both measurements: it serves the worker's synchronised calls and
// otherwise sleeps, as a program's event loop would.
void PumpUntil(const std::function<bool()>& done) {
  while (!done()) {
    platform::ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void Mci(const std::string& command) {
  if (platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr) != 0) {
    std::fprintf(stderr, "the card refused \"%s\"\n", command.c_str());
    std::exit(1);
  }
}

struct Measure {
  double cpu;                // seconds of process CPU time
  std::uint64_t cardFrames;  // card time it covered
};

// Records kSeconds through the chain while the MIDI plays from its start.
Measure Recording(const std::string& midi, const std::string& wav) {
  platform::TComponent owner(nullptr);
  auto* in = new TAudioIn(&owner);  // owned by `owner`, like the rest of the chain
  auto* indicator = new TSoundIndicator(&owner);
  auto* out = new TWaveOut(&owner);
  in->SetInBitsPerSample(16);
  in->SetInChannels(2);
  in->SetInSampleRate(kCardRate);
  in->SetRecTime(kSeconds);
  indicator->SetInput(in);
  out->SetInput(indicator);
  out->SetFileName(wav);
  std::atomic<bool> done{false};
  std::string failure;
  out->OnDone = [&](platform::TComponent*) { done = true; };
  out->OnThreadException = [&](platform::TComponent*, const std::exception& e) {
    failure = e.what();
    done = true;
  };

  Mci("open " + midi + " alias bench");
  const std::uint64_t start = Card::Instance().Frames();
  const double cpu0 = bench::ProcessCpuSeconds();
  out->Run();
  Mci("play bench");
  PumpUntil([&] { return done.load(); });
  const double cpu = bench::ProcessCpuSeconds() - cpu0;
  const std::uint64_t frames = Card::Instance().Frames() - start;
  Mci("close bench");
  if (!failure.empty()) {
    std::fprintf(stderr, "the recording failed: %s\n", failure.c_str());
    std::exit(1);
  }
  return {cpu, frames};
}

// The card playing the same MIDI for the same card time, nothing recording.
double PlayingOnly(const std::string& midi, std::uint64_t frames) {
  Mci("open " + midi + " alias bench");
  const std::uint64_t end = Card::Instance().Frames() + frames;
  const double cpu0 = bench::ProcessCpuSeconds();
  Mci("play bench");
  PumpUntil([&] { return Card::Instance().Frames() >= end; });
  const double cpu = bench::ProcessCpuSeconds() - cpu0;
  Mci("close bench");
  return cpu;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  setenv("OMP_NUM_THREADS", "1", 0);
  Card::Instance().SetSpeed(1);
  const auto dir = std::filesystem::temp_directory_path();
  const std::string tag = std::to_string(getpid());
  const std::string midi = (dir / ("bench_capture_" + tag + ".mid")).string();
  const std::string wav = (dir / ("bench_capture_" + tag + ".wav")).string();
  tw_test::WriteFile(midi, smftest::Song(kSeconds + 5));
  if (Card::Instance().SoundFont().empty())
    std::fprintf(stderr, "no SoundFont: the synth is silent\n");

  // Alternating, so that a slow stretch of the machine weighs on both kinds alike.
  double recording = 1e9, playing = 1e9;
  std::uint64_t frames = 0;
  for (int i = 0; i < rounds; ++i) {
    const Measure m = Recording(midi, wav);
    recording = std::min(recording, m.cpu);
    frames = m.cardFrames;
    const double p = PlayingOnly(midi, m.cardFrames);
    playing = std::min(playing, p);
    std::printf("round %d: recording %.3f s CPU, playing only %.3f s CPU\n", i + 1, m.cpu, p);
  }
  std::filesystem::remove(midi);
  std::filesystem::remove(wav);

  const double seconds = static_cast<double>(frames) / kCardRate;
  std::printf("card time per measurement: %.2f s (%d s recorded, the rest is the final flush)\n",
              seconds, kSeconds);
  std::printf("CPU: recording %.3f s, playing only %.3f s\n", recording, playing);
  std::printf("RESULT capture_cpu_percent %.3f\n", (recording - playing) / kSeconds * 100.0);
  return 0;
}
