// Converting a 60-second MIDI file to MP3 (128 kbit/s, 44100 Hz, stereo) through Tunewisp's real
// main window on the virtual card at SOFTCARD_SPEED=max, against the command-line pipeline that
// does the same work with the same SoundFont: "fluidsynth -F" renders the MIDI to a WAV file, "lame
// -b 128" encodes it. Both record (render) first and encode afterwards.
//
// Last line: RESULT convert_speed_ratio <pipeline time / Tunewisp time>.

#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "widgets/Toolkit.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Run;
using bench::Seconds;

int main(int argc, char** argv) {
  setenv("SOFTCARD_SPEED", "max", 1);
  const fs::path work = bench::MakeProgramFolder("bench_convert");
  QApplication app(argc, argv);
  InstallQtHooks();
  const std::string midi = (work / "bench.mid").string();
  bench::WriteBenchMidi(midi);

  QStringList messages;
  SetMessageHook([&](const QString& text) { messages << text; });
  double tunewisp = 0;
  {
    TForm1 form1;
    TForm7 form7;
    form1.FormActivate();
    form1.ui.Mp3->click();
    form1.ui.RadioButton6->click();
    form1.ui.RadioButton7->click();
    form1.ui.ComboBox1->Choose(11);  // 128
    form1.ui.Edit1->setText(QString::fromStdString(midi));
    form1.ui.Edit2->setText(QString::fromStdString((work / "tunewisp.mp3").string()));
    const auto start = Clock::now();
    form1.ui.JvXPButton7->click();
    tunewisp = Seconds(Clock::now() - start);
  }
  RemoveQtHooks();
  // One message, the end of an MP3 conversion, and a minute of 128 kbit/s MP3 (about 960 KB).
  std::error_code sizeError;
  const auto tunewispBytes = fs::file_size(work / "tunewisp.mp3", sizeError);
  const bool tunewispOk =
      messages == QStringList{"Finished!"} && !sizeError && tunewispBytes > 900000;

  const std::string soundFont = platform::softcard::Card::Instance().SoundFont();
  const std::string wav = (work / "pipeline.wav").string();
  const auto start = Clock::now();
  const bool rendered = Run({"fluidsynth", "-ni", "-q", "-r", "44100", "-F", wav, soundFont, midi});
  const auto rendering = Clock::now() - start;
  const bool encoded = Run({"lame", "--quiet", "-b", "128", wav, (work / "pipeline.mp3").string()});
  const double pipeline = Seconds(Clock::now() - start);

  std::printf("Tunewisp: 60 s MIDI to MP3 128 kbit/s 44100 Hz stereo in %.2f s (%s, %zu bytes)\n",
              tunewisp, tunewispOk ? "ok" : "FAILED", static_cast<std::size_t>(tunewispBytes));
  std::printf("pipeline (%s): fluidsynth -F %.2f s + lame -b 128 %.2f s = %.2f s (%s)\n",
              soundFont.c_str(), Seconds(rendering), pipeline - Seconds(rendering), pipeline,
              rendered && encoded ? "ok" : "FAILED");
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!rendered || !encoded || !tunewispOk) return 1;
  std::printf("RESULT convert_speed_ratio %.3f\n", pipeline / tunewisp);
  return 0;
}
