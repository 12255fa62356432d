// How loud a conversion comes out at the mixer's factory state, against FluidSynth rendering the
// same MIDI file offline with the same SoundFont at its default gain ("fluidsynth -F"). A user who
// compares the two should hear the same loudness.
//
// A 60-second MIDI file with four instruments goes through Tunewisp's main window to a 44100 Hz,
// 16-bit stereo WAV file at the card's default speed, with a fresh mixer state and no presets.
// Prints the peak and RMS of both files in dBFS.
//
// Last line: RESULT level_offset_db <x>, x = of (conversion's peak - reference's peak) and
// (conversion's RMS - reference's RMS), the one further from 0, with its sign.

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "widgets/Toolkit.h"

namespace fs = std::filesystem;

namespace {

// The 16-bit samples of a PCM WAV file's "data" chunk (both channels interleaved), or nothing when
// the file is not one.
std::optional<std::vector<std::int16_t>> ReadPcm16(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  auto u32 = [&](std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
  };
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
    return std::nullopt;
  bool pcm16 = false;
  for (std::size_t at = 12; at + 8 <= b.size();) {
    const std::size_t size = std::min<std::size_t>(u32(at + 4), b.size() - at - 8);
    if (!std::memcmp(b.data() + at, "fmt ", 4) && size >= 16)
      pcm16 = b[at + 8] == 1 && b[at + 9] == 0 && b[at + 22] == 16 && b[at + 23] == 0;
    if (!std::memcmp(b.data() + at, "data", 4) && pcm16) {
      std::vector<std::int16_t> s(size / 2);
      std::memcpy(s.data(), b.data() + at + 8, s.size() * 2);
      return s;
    }
    at += 8 + size + (size & 1);
  }
  return std::nullopt;
}

struct Loudness {
  double peakDb, rmsDb;
};

// Over the first `count` samples, so that a longer tail of silence in one file does not lower its
// RMS against the other's.
Loudness Measure(const std::vector<std::int16_t>& s, std::size_t count) {
  double peak = 0, energy = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = s[i] / 32768.0;
    peak = std::max(peak, std::abs(v));
    energy += v * v;
  }
  auto db = [](double v) { return 20.0 * std::log10(std::max(v, 1e-9)); };
  return {db(peak), db(std::sqrt(energy / std::max<std::size_t>(count, 1)))};
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = bench::MakeProgramFolder("bench_levels");
  QApplication app(argc, argv);
  InstallQtHooks();
  const std::string midi = (work / "bench.mid").string();
  bench::WriteBenchMidi(midi);

  QStringList messages;
  SetMessageHook([&](const QString& text) { messages << text; });
  {
    TForm1 form1;
    TForm7 form7;
    form1.FormActivate();
    form1.ui.Wav->click();
    form1.ui.RadioButton6->click();  // 44100 Hz
    form1.ui.RadioButton7->click();  // stereo
    form1.ui.Edit1->setText(QString::fromStdString(midi));
    form1.ui.Edit2->setText(QString::fromStdString((work / "tunewisp.wav").string()));
    form1.ui.JvXPButton7->click();
  }
  RemoveQtHooks();

  const std::string soundFont = platform::softcard::Card::Instance().SoundFont();
  const fs::path reference = work / "reference.wav";
  const bool rendered =
      bench::Run({"fluidsynth", "-ni", "-q", "-r", "44100", "-F", reference, soundFont, midi});
  const auto converted = ReadPcm16(work / "tunewisp.wav");
  const auto rendering = ReadPcm16(reference);
  std::error_code ec;
  fs::remove_all(work, ec);
  if (messages != QStringList{"Conversion finished!"} || !converted || !rendered || !rendering) {
    std::printf("FAILED: conversion \"%s\", reference %s\n",
                messages.join(" / ").toStdString().c_str(), rendered ? "rendered" : "not rendered");
    return 1;
  }
  const std::size_t count = std::min(converted->size(), rendering->size());
  const Loudness t = Measure(*converted, count), r = Measure(*rendering, count);
  std::printf("SoundFont %s, %.1f s compared\n", soundFont.c_str(), count / 2 / 44100.0);
  std::printf("Tunewisp:      peak %6.2f dBFS, RMS %6.2f dBFS\n", t.peakDb, t.rmsDb);
  std::printf("fluidsynth -F: peak %6.2f dBFS, RMS %6.2f dBFS\n", r.peakDb, r.rmsDb);
  const double peak = t.peakDb - r.peakDb, rms = t.rmsDb - r.rmsDb;
  std::printf("RESULT level_offset_db %.2f\n", std::abs(peak) >= std::abs(rms) ? peak : rms);
  return 0;
}
