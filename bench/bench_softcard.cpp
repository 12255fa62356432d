// How fast the card renders music when nothing paces it: a 60-second MIDI file played through the
// MCI sequencer and captured at 44100 Hz, 16 bits, stereo in 16 KB buffers (as the programs
// record), against FluidSynth alone rendering the same events with the same SoundFont into 16-bit
// samples. Prints RESULT softcard_render_ratio = FluidSynth-alone time / card time (1 = no cost).
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "BenchCard.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/Synth.h"
#include "platform/softcard/WaveIn.h"
#include "platform/softcard/mci/Mci.h"
#include "platform/softcard/mci/Sequencer.h"
#include "platform/softcard/mci/Smf.h"
#include "tests/support/SongBuilder.h"

using namespace platform;
using namespace platform::softcard;
using Wall = std::chrono::steady_clock;

namespace {

constexpr int kSeconds = 60;
constexpr std::size_t kBuffer = 16384;

double Seconds(Wall::duration d) { return std::chrono::duration<double>(d).count(); }

// The card's synthesiser on its own (FluidSynth and nothing around it), fed the same events by the
// same sequencer.
double FluidSynthAlone(const std::string& soundFont, const std::string& midi) {
  Synth synth(soundFont);
  auto file = std::make_shared<SmfFile>();
  if (file->Load(midi) != SmfStatus::Ok) {
    std::fprintf(stderr, "the benchmark's MIDI file could not be read\n");
    std::exit(1);
  }
  Sequencer seq(file);
  std::vector<float> left(1024), right(1024);
  const std::uint64_t total = static_cast<std::uint64_t>(kSeconds) * kCardRate;

  const auto t0 = Wall::now();
  seq.Play(0);
  std::uint64_t frame = 0;
  while (frame < total) {
    if (seq.NextEventFrame() <= frame) seq.Dispatch(frame, synth);
    const std::uint64_t next = std::min(seq.NextEventFrame(), total);
    const int n = static_cast<int>(std::min<std::uint64_t>(next > frame ? next - frame : 1, 1024));
    synth.Render(left.data(), right.data(), n);
    frame += n;
  }
  return Seconds(Wall::now() - t0);
}

// Records as the capture component does: four buffers with the device, each refilled as soon as
// it comes back, until `target` bytes have been recorded.
struct Capture {
  std::mutex mu;  // guards bytes
  std::condition_variable cv;
  std::size_t bytes = 0;
  std::size_t target = 0;
  static void Callback(HWAVEIN dev, std::uint32_t msg, std::uintptr_t inst, std::uintptr_t p1,
                       std::uintptr_t) {
    if (msg != WIM_DATA) return;
    auto* self = reinterpret_cast<Capture*>(inst);
    auto* h = reinterpret_cast<WAVEHDR*>(p1);
    bool more;
    {
      std::lock_guard lock(self->mu);
      self->bytes += h->dwBytesRecorded;
      more = self->bytes < self->target;
    }
    self->cv.notify_all();
    if (more) waveInAddBuffer(dev, h);
  }
};

double CardTime(const std::string& midi) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  PCMWAVEFORMAT f = bench::CardStereo16();
  Capture cap;
  cap.target = static_cast<std::size_t>(kSeconds) * kCardRate * 4;
  HWAVEIN dev = nullptr;
  if (waveInOpen(&dev, 0, &f, &Capture::Callback, reinterpret_cast<std::uintptr_t>(&cap),
                 CALLBACK_FUNCTION) != MMSYSERR_NOERROR ||
      mciSendStringA(("open " + midi + " alias bench").c_str(), nullptr, 0, nullptr) != 0) {
    std::fprintf(stderr, "the card could not open the capture or the MIDI file\n");
    std::exit(1);
  }
  std::vector<std::vector<char>> blocks(4, std::vector<char>(kBuffer));
  std::vector<WAVEHDR> headers(4);
  for (int i = 0; i < 4; ++i) {
    headers[i].lpData = blocks[i].data();
    headers[i].dwBufferLength = kBuffer;
    waveInPrepareHeader(dev, &headers[i]);
  }

  const auto t0 = Wall::now();
  card.WithSynth([&](platform::softcard::MidiSink&) {
    waveInStart(dev);
    mciSendStringA("play bench", nullptr, 0, nullptr);
  });
  for (auto& h : headers) waveInAddBuffer(dev, &h);
  {
    std::unique_lock lock(cap.mu);
    cap.cv.wait(lock, [&] { return cap.bytes >= cap.target; });
  }
  const double t = Seconds(Wall::now() - t0);

  waveInReset(dev);
  for (auto& h : headers) waveInUnprepareHeader(dev, &h);
  waveInClose(dev);
  mciSendStringA("close bench", nullptr, 0, nullptr);
  return t;
}

}  // namespace

int main() {
  // Unpaced from the start, so the card never opens the speakers.
  setenv("SOFTCARD_SPEED", "max", 1);
  const std::string midi = (std::filesystem::temp_directory_path() /
                            ("bench_softcard_" + std::to_string(getpid()) + ".mid"))
                               .string();
  tw_test::WriteFile(midi, smftest::Song(kSeconds));
  const std::string soundFont = Card::Instance().SoundFont();
  if (soundFont.empty()) {
    std::fprintf(stderr, "no SoundFont: nothing to measure\n");
    return 1;
  }
  // Best of three each, so that a busy moment of the machine does not decide the result.
  double alone = 1e9, card = 1e9;
  for (int i = 0; i < 3; ++i) {
    alone = std::min(alone, FluidSynthAlone(soundFont, midi));
    card = std::min(card, CardTime(midi));
  }
  std::filesystem::remove(midi);
  std::printf("SoundFont %s\n", soundFont.c_str());
  std::printf("FluidSynth alone: %.3f s for %d s of music (%.1fx real time)\n", alone, kSeconds,
              kSeconds / alone);
  std::printf("card with capture: %.3f s (%.1fx real time)\n", card, kSeconds / card);
  std::printf("RESULT softcard_render_ratio %.3f\n", alone / card);
  return 0;
}
