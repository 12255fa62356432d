// Converting a 60-second MIDI file to MP3 (128 kbit/s, 44100 Hz, stereo) through Tunewisp's real
// main window on the virtual card, against the command-line pipeline that does the same work with
// the same SoundFont: "fluidsynth -F" renders the MIDI to a WAV file, "lame -b 128" encodes it.
// Both record (render) first and encode afterwards. Tunewisp converts twice: at the card's default
// speed (SOFTCARD_SPEED unset: auto), then at SOFTCARD_SPEED=max.
//
// Last lines: RESULT convert_default_speed_ratio <pipeline time / Tunewisp time at auto>, then
// RESULT convert_speed_ratio <pipeline time / Tunewisp time at max>.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Run;
using bench::Seconds;

namespace {

// One conversion of `midi` to `mp3` through the main window; its time, or a negative time when it
// failed: one message, the end of an MP3 conversion, and a minute of 128 kbit/s MP3 (about 960 KB).
double Convert(bench::WindowsApp& app, const char* speed, const std::string& midi,
               const fs::path& mp3) {
  app.messages.clear();
  double seconds = 0;
  {
    TForm1 form1;
    TForm7 form7;
    bench::ChooseMp3At128(form1);
    form1.ui.Edit1->setText(QString::fromStdString(midi));
    form1.ui.Edit2->setText(QString::fromStdString(mp3.string()));
    const auto start = Clock::now();
    form1.ui.JvXPButton7->click();
    seconds = Seconds(Clock::now() - start);
  }
  std::error_code sizeError;
  const auto bytes = fs::file_size(mp3, sizeError);
  const bool ok = app.messages == QStringList{"Finished!"} && !sizeError && bytes > 900000;
  std::printf(
      "Tunewisp at %s: 60 s MIDI to MP3 128 kbit/s 44100 Hz stereo in %.2f s (%s, %zu bytes)\n",
      speed, seconds, ok ? "ok" : "FAILED", static_cast<std::size_t>(sizeError ? 0 : bytes));
  return ok ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  unsetenv("SOFTCARD_SPEED");  // the card starts at its default pace
  const fs::path work = bench::MakeProgramFolder("bench_convert");
  double atAuto = -1, atMax = -1;
  std::string soundFont;
  const std::string midi = (work / "bench.mid").string();
  bench::WriteBenchMidi(midi);
  {
    bench::WindowsApp app(argc, argv);
    platform::softcard::Card& card = platform::softcard::Card::Instance();
    soundFont = card.SoundFont();
    atAuto = Convert(app, "auto", midi, work / "auto.mp3");
    card.SetSpeed(platform::softcard::kSpeedMax);
    atMax = Convert(app, "max", midi, work / "max.mp3");
  }

  const std::string wav = (work / "pipeline.wav").string();
  const auto start = Clock::now();
  const bool rendered = Run({"fluidsynth", "-ni", "-q", "-r", "44100", "-F", wav, soundFont, midi});
  const auto rendering = Clock::now() - start;
  const bool encoded = Run({"lame", "--quiet", "-b", "128", wav, (work / "pipeline.mp3").string()});
  const double pipeline = Seconds(Clock::now() - start);
  std::printf("pipeline (%s): fluidsynth -F %.2f s + lame -b 128 %.2f s = %.2f s (%s)\n",
              soundFont.c_str(), Seconds(rendering), pipeline - Seconds(rendering), pipeline,
              rendered && encoded ? "ok" : "FAILED");
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!rendered || !encoded || atAuto < 0 || atMax < 0) return 1;
  std::printf("RESULT convert_default_speed_ratio %.3f\n", pipeline / atAuto);
  std::printf("RESULT convert_speed_ratio %.3f\n", pipeline / atMax);
  return 0;
}
