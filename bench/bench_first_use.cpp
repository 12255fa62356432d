// The first conversion of a session through Tunewisp's windows, each measured in a fresh process
// that starts as the program does (the card started in the background, then the four windows, the
// main one shown): a 10 s MIDI to WAV with the default SoundFont (the one CI uses; or
// SOFTCARD_SOUNDFONT), the card unpaced (SOFTCARD_SPEED=max). At the default pace the end of a
// conversion is seen by a wait of 300 ms of card time that runs at real time once the recording
// has ended, which would add up to 300 ms of chance to each time.
//  - feedback: the windows have been up for 1 s when "Convert one" is clicked; the time from the
//    click until the button is painted with its Stop caption (text 70).
//  - first use: the windows have been up for 5 s; the first conversion's time from the click to its
//    end over the second's, in the same windows.
// Each is measured in five processes of their own; the median is the result.
//
// Last lines: RESULT first_feedback_ms <median>, then RESULT first_use_ratio <median>.

#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "converter/ProgramFolder.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "tests/support/PaintLog.h"

namespace fs = std::filesystem;
using bench::Clock;

namespace {

constexpr int kRuns = 5;
constexpr int kMidiSeconds = 10;

// One conversion started by a mouse click on "Convert one"; its time from the click to its end,
// or a negative time when it did not end with the WAV message and a whole recording.
double Convert(bench::WindowsApp& app, TForm1& form1, const fs::path& wav,
               std::optional<Clock::time_point>* clicked = nullptr) {
  app.messages.clear();
  form1.ui.Edit2->setText(QString::fromStdString(wav.string()));
  const auto start = Clock::now();
  if (clicked) *clicked = start;
  QTest::mouseClick(form1.ui.JvXPButton7, Qt::LeftButton);
  const double seconds = bench::Seconds(Clock::now() - start);
  std::error_code ec;
  const auto bytes = fs::file_size(wav, ec);
  const bool ok = app.messages == QStringList{form1.Text(tw::TextId::WavOrListDone)} && !ec &&
                  bytes >= static_cast<std::uintmax_t>(kMidiSeconds) * 44100 * 4;
  return ok ? seconds : -1;
}

// In a child process: the windows as the program makes them, `waitMs` of wall time with the event
// loop running, then the measurement. Prints its values alone on one line.
int Child(int argc, char** argv, bool feedback, const fs::path& work) {
  bench::WindowsApp app(argc, argv);
  tw::SetProgramFolder(work.string());
  platform::softcard::StartCard();
  TForm1 form1;
  TForm3 form3;
  TForm4 form4;
  TForm7 form7;
  form1.show();
  QTest::qWait(feedback ? 1000 : 5000);
  form1.ui.Edit1->setText(QString::fromStdString((work / "ten.mid").string()));
  const fs::path out = work / ("out." + std::to_string(getpid()) + ".wav");
  std::error_code ec;
  if (feedback) {
    const tw_test::PaintLog paints(form1.ui.JvXPButton7);
    std::optional<Clock::time_point> clicked;
    const double seconds = Convert(app, form1, out, &clicked);
    fs::remove(out, ec);
    const auto painted = paints.FirstShowing(form1.Text(tw::TextId::Stop));
    if (seconds < 0 || !painted) return 1;
    std::printf("%.3f\n", std::chrono::duration<double, std::milli>(*painted - *clicked).count());
    return 0;
  }
  const double first = Convert(app, form1, out);
  const double second = Convert(app, form1, out);
  fs::remove(out, ec);
  if (first < 0 || second < 0) return 1;
  std::printf("%.4f %.4f\n", first, second);
  return 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs this program as a child in `mode`; the numbers it printed, empty when it failed.
std::vector<double> RunChild(const char* self, const char* mode, const fs::path& work) {
  const std::string command = "'" + std::string(self) + "' " + mode + " '" + work.string() + "'";
  FILE* child = popen(command.c_str(), "r");
  std::vector<double> values;
  double value = 0;
  while (child != nullptr && std::fscanf(child, "%lf", &value) == 1) values.push_back(value);
  if (child == nullptr || pclose(child) != 0) values.clear();
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 &&
      (std::strcmp(argv[1], "--feedback") == 0 || std::strcmp(argv[1], "--first-use") == 0))
    return Child(argc, argv, std::strcmp(argv[1], "--feedback") == 0, argv[2]);

  setenv("SOFTCARD_SPEED", "max", 1);
  const fs::path work = bench::MakeProgramFolder("bench_first_use");
  bench::WriteBenchMidi((work / "ten.mid").string(), kMidiSeconds);

  std::vector<double> feedback, ratios;
  bool ok = true;
  for (int run = 0; run < kRuns && ok; ++run) {
    const std::vector<double> ms = RunChild(argv[0], "--feedback", work);
    const std::vector<double> times = RunChild(argv[0], "--first-use", work);
    if (ms.size() != 1 || times.size() != 2) {
      std::fprintf(stderr, "run %d failed\n", run + 1);
      ok = false;
      break;
    }
    feedback.push_back(ms[0]);
    ratios.push_back(times[0] / times[1]);
    std::printf("run %d: Stop painted %.1f ms after the click; conversions %.3f s then %.3f s\n",
                run + 1, ms[0], times[0], times[1]);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  if (!ok) return 1;
  std::printf("RESULT first_feedback_ms %.1f\n", Median(feedback));
  std::printf("RESULT first_use_ratio %.3f\n", Median(ratios));
  return 0;
}
