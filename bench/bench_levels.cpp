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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "tests/support/DecodedAudio.h"

namespace fs = std::filesystem;

namespace {

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
  bench::WindowsApp app(argc, argv);
  const std::string midi = (work / "bench.mid").string();
  bench::WriteBenchMidi(midi);

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

  const std::string soundFont = platform::softcard::Card::Instance().SoundFont();
  const fs::path reference = work / "reference.wav";
  const bool rendered =
      bench::Run({"fluidsynth", "-ni", "-q", "-r", "44100", "-F", reference, soundFont, midi});
  // Measured as 16-bit samples: anything else is a failure.
  const DecodedAudio converted = DecodeWav((work / "tunewisp.wav").string());
  const DecodedAudio rendering = DecodeWav(reference.string());
  const bool readable =
      converted.ok && converted.bits == 16 && rendering.ok && rendering.bits == 16;
  std::error_code ec;
  fs::remove_all(work, ec);
  if (app.messages != QStringList{"Conversion finished!"} || !rendered || !readable) {
    std::printf("FAILED: conversion \"%s\", reference %s\n",
                app.messages.join(" / ").toStdString().c_str(),
                rendered ? "rendered" : "not rendered");
    return 1;
  }
  const std::size_t count = std::min(converted.samples.size(), rendering.samples.size());
  const Loudness t = Measure(converted.samples, count), r = Measure(rendering.samples, count);
  std::printf("SoundFont %s, %.1f s compared\n", soundFont.c_str(), count / 2 / 44100.0);
  std::printf("Tunewisp:      peak %6.2f dBFS, RMS %6.2f dBFS\n", t.peakDb, t.rmsDb);
  std::printf("fluidsynth -F: peak %6.2f dBFS, RMS %6.2f dBFS\n", r.peakDb, r.rmsDb);
  const double peak = t.peakDb - r.peakDb, rms = t.rmsDb - r.rmsDb;
  std::printf("RESULT level_offset_db %.2f\n", std::abs(peak) >= std::abs(rms) ? peak : rms);
  return 0;
}
