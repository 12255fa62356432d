// How long a mixer settings file of the largest size the programs read takes to apply: the lines of
// this card's mixer repeated up to the limit, each of them reopening the mixer as every line does.
//
// Applied twice: straight to a mixer object, as every reader applies a file, and as a user applies
// a preset, by "Load" in Tunewisp's mixer settings window, until the windows have handled what the
// changes raised. Prints both times and the number of lines.
//
// Last line: RESULT settings_file_at_limit_ms <ms>, the slower of the two.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "converter/MixerSettings.h"
#include "converter/MixerSettingsFile.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "mixer/AMixer.h"

namespace fs = std::filesystem;

namespace {

// The card's own lines with volumes of their own, over and over, exactly `bytes` long: every line
// changes its mixer line, and the last line's left volume takes leading zeros for what whole lines
// leave over.
std::string SettingsOfSize(std::size_t bytes, int& lineCount) {
  const auto lines = tw::CurrentMixerSettings();
  std::string content;
  lineCount = 0;
  for (std::size_t i = 0;; i = (i + 1) % lines.size()) {
    tw::MixerSettingsLine changed = lines[i];
    if (changed.L < 0) continue;
    changed.L = 1000 + (lineCount * 7919) % 60000;
    changed.R = changed.R < 0 ? -1 : 65535 - changed.L;
    const std::string line = tw::FormatSettingsLine(changed) + "\r\n";
    // Room for one more line after this one, to take the rest.
    if (content.size() + 2 * line.size() > bytes) {
      std::string last = line;
      last.insert(last.find("<L>") + 3, bytes - content.size() - line.size(), '0');
      content += last;
      ++lineCount;
      return content;
    }
    content += line;
    ++lineCount;
  }
}

double MsSince(bench::Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(bench::Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = bench::MakeProgramFolder("bench_settings");
  bench::WindowsApp app(argc, argv);
  int lineCount = 0;
  const std::string content = SettingsOfSize(tw::kMaxSettingsFileBytes, lineCount);
  std::ofstream(work / "limit.set", std::ios::binary) << content;

  double direct = 0, window = 0;
  {
    TAudioMixer mixer(nullptr);
    const auto start = bench::Clock::now();
    tw::ApplySettingsFileToMixer((work / "limit.set").string(), mixer);
    direct = MsSince(start);
  }
  // The mixer holds the last line's volume: the time measured is that of the lines applied.
  const std::string lastLine = content.substr(content.rfind("\r\n", content.size() - 3) + 2);
  const tw::MixerSettingsLine last = tw::ParseSettingsLine(lastLine.substr(0, lastLine.size() - 2));
  bool applied = false;
  tw::ForEachSourceLine([&](TAudioMixer& mixer, int a, int d, int c) {
    if (a != last.A || d != last.B || c != last.C) return;
    std::int32_t left = -1, right = -1, mute = -1;
    bool stereo = false, volDisabled = false, muteDisabled = false, isSelect = false;
    mixer.GetVolume(d, c, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
    applied = left == last.L;
  });
  if (!applied) {
    std::printf("the file's last line is not what the mixer shows\n");
    return 1;
  }
  {
    TForm1 form1;
    TForm3 form3;
    form1.FormActivate();
    QApplication::processEvents();
    form3.ui.ComboBox4->Choose(form3.ui.ComboBox4->findText("limit.set"));
    const auto start = bench::Clock::now();
    form3.ui.JvXPButton2->click();
    QApplication::processEvents();
    window = MsSince(start);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  for (const QString& message : app.messages)
    std::printf("message: %s\n", message.toUtf8().constData());
  if (!app.messages.isEmpty()) return 1;

  std::printf("file: %zu bytes, %d lines\n", content.size(), lineCount);
  std::printf("applied to a mixer: %.1f ms\n", direct);
  std::printf("loaded in the mixer settings window: %.1f ms\n", window);
  std::printf("RESULT settings_file_at_limit_ms %.1f\n", std::max(direct, window));
  return 0;
}
