// Converting a conversion list of ten MIDI files of 30 to 90 seconds to MP3 (128 kbit/s, 44100 Hz,
// stereo) through Tunewisp's windows at the card's default speed, against a shell loop over the
// same files that does the same work with the same SoundFont: "fluidsynth -F" renders each MIDI to
// a WAV file, "lame -b 128" encodes it.
//
// Last line: RESULT list_speed_ratio <shell loop time / list time>.

#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "converter/Unit1.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Seconds;

namespace {

// A file of 128 kbit/s MP3 holds about 16000 bytes a second; this much at least counts as whole.
bool WholeMp3(const fs::path& file, int seconds) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  return !ec && size > static_cast<std::uintmax_t>(seconds) * 15000;
}

// Single quotes for the shell.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
  unsetenv("SOFTCARD_SPEED");  // the default: unpaced while recording
  const fs::path work = bench::MakeProgramFolder("bench_list");
  fs::create_directories(work / "midi");
  fs::create_directories(work / "list");
  fs::create_directories(work / "loop");
  bench::WindowsApp app(argc, argv);

  std::vector<int> lengths;
  QStringList midis;
  int total = 0;
  for (int i = 0; i < 10; ++i) {
    lengths.push_back(30 + i * 60 / 9 / 2 * 2);  // 30 to 90 s in whole bars
    const fs::path midi = work / "midi" / ("song" + std::to_string(i) + ".mid");
    bench::WriteBenchMidi(midi.string(), lengths.back());
    midis << QString::fromStdString(midi.string());
    total += lengths.back();
  }

  double list = 0;
  {
    TForm1 form1;
    TForm4 form4;
    TForm7 form7;
    bench::ChooseMp3At128(form1);
    form4.ui.Edit1->setText(QString::fromStdString((work / "list").string()));
    form1.WMDropFiles(midis);
    const auto start = Clock::now();
    form1.ui.JvXPButton2->click();
    list = Seconds(Clock::now() - start);
  }
  bool listOk = app.messages == QStringList{"Conversion finished!"};
  for (int i = 0; i < 10; ++i)
    listOk = listOk && WholeMp3(work / "list" / ("song" + std::to_string(i) + ".mp3"), lengths[i]);

  const std::string soundFont = platform::softcard::Card::Instance().SoundFont();
  std::string script = "for f in";
  for (const QString& midi : midis) script += " " + Quoted(midi.toStdString());
  script += "; do o=" + Quoted((work / "loop").string()) +
            "/$(basename \"$f\" .mid); fluidsynth -ni -q -r 44100 -F \"$o.wav\" " +
            Quoted(soundFont) +
            " \"$f\" >/dev/null 2>&1 && lame --quiet -b 128 \"$o.wav\" \"$o.mp3\" || exit 1; done";
  const auto start = Clock::now();
  const bool looped = bench::Run({"sh", "-c", script});
  const double loop = Seconds(Clock::now() - start);
  bool loopOk = looped;
  for (int i = 0; i < 10; ++i)
    loopOk = loopOk && WholeMp3(work / "loop" / ("song" + std::to_string(i) + ".mp3"), lengths[i]);

  std::printf("Tunewisp list: %d MIDI files, %d s of music, to MP3 128 kbit/s in %.2f s (%s)\n",
              static_cast<int>(lengths.size()), total, list, listOk ? "ok" : "FAILED");
  std::printf("shell loop (%s): fluidsynth -F + lame -b 128 in %.2f s (%s)\n", soundFont.c_str(),
              loop, loopOk ? "ok" : "FAILED");
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!listOk || !loopOk) return 1;
  std::printf("RESULT list_speed_ratio %.3f\n", loop / list);
  return 0;
}
