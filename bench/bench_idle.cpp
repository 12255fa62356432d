// CPU cost of an idle virtual card. The card plays a short MIDI file through MCI while a capture
// records it through wave-in, as a conversion does; once the music has faded it sits idle for 5 s
// of wall time, its clock running. Measured in a process of its own at speed 1, at auto and at max
// (the card reads its speed when it starts), as process CPU time over wall time.
//
// Last line: RESULT idle_cpu_percent <the highest of the three, in % of one core>.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchCard.h"
#include "BenchSupport.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/WaveIn.h"
#include "platform/softcard/mci/Mci.h"
#include "platform/softcard/mixer/MixerApi.h"

namespace fs = std::filesystem;
using platform::softcard::Card;
using platform::softcard::kCardRate;

namespace {

bool Mci(const std::string& command) {
  return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr) == 0;
}

// Plays `midi` and records 3 s of card time of it.
bool PlayAndRecordOnce(const std::string& midi) {
  using namespace platform;
  Card& card = Card::Instance();
  PCMWAVEFORMAT f = bench::CardStereo16();
  HWAVEIN in = nullptr;
  if (waveInOpen(&in, 0, &f, nullptr, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
  std::vector<char> buffer(kCardRate * 4 * 3);
  WAVEHDR h{};
  h.lpData = buffer.data();
  h.dwBufferLength = static_cast<std::uint32_t>(buffer.size());
  bool ok = waveInPrepareHeader(in, &h) == MMSYSERR_NOERROR &&
            Mci("open " + midi + " alias song") && Mci("play song") &&
            waveInStart(in) == MMSYSERR_NOERROR && waveInAddBuffer(in, &h) == MMSYSERR_NOERROR;
  if (ok) card.WaitUntil(card.Frames() + 3 * kCardRate);
  waveInReset(in);
  ok = ok && h.dwBytesRecorded > 0;
  waveInUnprepareHeader(in, &h);
  waveInClose(in);
  Mci("close song");
  return ok;
}

// In the child: the idle card's CPU in % of one core, printed alone on a line.
int Measure(const std::string& midi) {
  platform::mixerGetNumDevs();  // the programs' card follows the mixer: so does this one
  if (!PlayAndRecordOnce(midi)) {
    std::fprintf(stderr, "the card could not play and record %s\n", midi.c_str());
    return 1;
  }
  // The reverb fades within a few seconds of card time; then the card is idle.
  Card& card = Card::Instance();
  card.WaitUntil(card.Frames() + 3 * kCardRate);
  const double cpu0 = bench::ProcessCpuSeconds();
  const auto wall0 = bench::Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const double cpu = bench::ProcessCpuSeconds() - cpu0;
  const double wall = bench::Seconds(bench::Clock::now() - wall0);
  std::printf("%.3f\n", 100.0 * cpu / wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return Measure(argv[2]);
  const fs::path work = bench::MakeWorkFolder("bench_idle");
  const std::string midi = (work / "short.mid").string();
  bench::WriteBenchMidi(midi, 2);

  double worst = 0;
  bool ok = true;
  for (const char* speed : {"1", "auto", "max"}) {
    setenv("SOFTCARD_SPEED", speed, 1);
    const std::string command = "'" + std::string(argv[0]) + "' --child '" + midi + "'";
    FILE* child = popen(command.c_str(), "r");
    double percent = -1;
    if (child == nullptr || std::fscanf(child, "%lf", &percent) != 1) percent = -1;
    if (child != nullptr && pclose(child) != 0) percent = -1;
    if (percent < 0) {
      std::fprintf(stderr, "the measurement at speed %s failed\n", speed);
      ok = false;
      continue;
    }
    std::printf("idle card at speed %s: %.3f %% of one core\n", speed, percent);
    worst = std::max(worst, percent);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!ok) return 1;
  std::printf("RESULT idle_cpu_percent %.3f\n", worst);
  return 0;
}
