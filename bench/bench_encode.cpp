// Encoding speed of the MP3 and Ogg Vorbis writers against plain loops that call the same libraries
// directly with the same settings on the same PCM.
//
// The writers read a 120 s stereo 44100 Hz WAV file through TWaveIn, as the converter does; the
// plain loops encode the same samples from memory. Each encoding runs three times, alternating, and
// the fastest time of each counts. Prints the times, then
//   RESULT mp3_encode_ratio <plain time / writer time>
//   RESULT ogg_encode_ratio <plain time / writer time>
// A ratio of 1 means the writer costs nothing over the library itself.

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "audio/ACS_LAME.h"
#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "bench/bench_encode_plain.h"
#include "platform/runtime/GuiThread.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 120;
constexpr int kRepeats = 3;

// Two gliding tones over a little noise: enough spectral content to keep the encoders busy.
std::vector<std::int16_t> makeSignal() {
  std::vector<std::int16_t> pcm(std::size_t{kRate} * kSeconds * 2);
  std::mt19937 noise(12345);
  std::uniform_real_distribution<double> uniform(-0.02, 0.02);
  double phaseL = 0, phaseR = 0;
  for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = double(i) / kRate;
    phaseL += 2 * std::numbers::pi * (300 + 200 * std::sin(t * 0.5)) / kRate;
    phaseR += 2 * std::numbers::pi * (900 + 500 * std::sin(t * 0.3)) / kRate;
    pcm[2 * i] = static_cast<std::int16_t>(32767 * (0.3 * std::sin(phaseL) + uniform(noise)));
    pcm[2 * i + 1] = static_cast<std::int16_t>(32767 * (0.3 * std::sin(phaseR) + uniform(noise)));
  }
  return pcm;
}

void writeWav(const std::string& path, const std::vector<std::int16_t>& pcm) {
  const auto data = static_cast<std::uint32_t>(pcm.size() * 2);
  auto le32 = [](std::uint32_t v) {
    return std::string{char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24)};
  };
  auto le16 = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; };
  std::ofstream out(path, std::ios::binary);
  out << "RIFF" << le32(36 + data) << "WAVEfmt " << le32(16) << le16(1) << le16(2) << le32(kRate)
      << le32(kRate * 4) << le16(4) << le16(16) << "data" << le32(data);
  out.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(data));
}

double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The GUI thread sleeps until a worker hands it a call, as a toolkit's event loop does, so that
// waiting costs the worker nothing.
std::mutex wakeMutex;
std::condition_variable wakeUp;
bool woken = false;  // guarded by wakeMutex

void waitForCalls() {
  std::unique_lock lock(wakeMutex);
  wakeUp.wait(lock, [] { return woken; });
  woken = false;
}

// Runs the writer to its OnDone on this (the GUI) thread.
void runWriter(TACSFileOut& writer, const std::string& path) {
  bool done = false;
  writer.OnDone = [&](platform::TComponent*) { done = true; };
  writer.OnThreadException = [&](platform::TComponent*, const std::exception& e) {
    std::fprintf(stderr, "encoding failed: %s\n", e.what());
    std::exit(1);
  };
  writer.SetFileName(path);
  writer.Run();
  while (!done) {
    waitForCalls();
    platform::ProcessMessages();
  }
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "tw_bench_encode";
  fs::create_directories(dir);
  const auto pcm = makeSignal();
  const std::string wav = (dir / "input.wav").string();
  writeWav(wav, pcm);

  platform::SetToolkitHooks(
      [] {
        std::lock_guard lock(wakeMutex);
        woken = true;
        wakeUp.notify_one();
      },
      {});
  platform::TComponent owner(nullptr);
  auto* wave = new TWaveIn(&owner);
  wave->SetFileName(wav);
  auto* mp3 = new TMP3Out(&owner);
  mp3->SetInput(wave);
  mp3->SetBitRate(br128);
  mp3->SetQuality(ql5);
  auto* ogg = new TVorbisOut(&owner);
  ogg->SetInput(wave);
  ogg->SetDesiredNominalBitrate(bbr128);

  double mp3Writer = 1e9, mp3Plain = 1e9, oggWriter = 1e9, oggPlain = 1e9;
  for (int i = 0; i < kRepeats; ++i) {
    mp3Writer = std::min(mp3Writer, seconds([&] { runWriter(*mp3, (dir / "w.mp3").string()); }));
    mp3Plain =
        std::min(mp3Plain, seconds([&] { PlainMp3Encode(pcm, kRate, (dir / "p.mp3").string()); }));
    oggWriter = std::min(oggWriter, seconds([&] { runWriter(*ogg, (dir / "w.ogg").string()); }));
    oggPlain =
        std::min(oggPlain, seconds([&] { PlainOggEncode(pcm, kRate, (dir / "p.ogg").string()); }));
  }
  std::printf("%d s of stereo %d Hz audio, fastest of %d runs\n", kSeconds, kRate, kRepeats);
  std::printf("MP3 CBR 128 q5:  writer %.3f s, plain loop %.3f s (%zu and %zu bytes)\n", mp3Writer,
              mp3Plain, std::size_t(fs::file_size(dir / "w.mp3")),
              std::size_t(fs::file_size(dir / "p.mp3")));
  std::printf("Ogg 128 kbit/s:  writer %.3f s, plain loop %.3f s (%zu and %zu bytes)\n", oggWriter,
              oggPlain, std::size_t(fs::file_size(dir / "w.ogg")),
              std::size_t(fs::file_size(dir / "p.ogg")));
  fs::remove_all(dir);
  std::printf("RESULT mp3_encode_ratio %.3f\n", mp3Plain / mp3Writer);
  std::printf("RESULT ogg_encode_ratio %.3f\n", oggPlain / oggWriter);
  return 0;
}
