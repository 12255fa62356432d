#pragma once
// Shared by the two-process test and the two programs it runs in place of Tunewisp and Knobwarden:
// the log they append to in their program folder, and the mixer state as text.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "converter/MixerSettings.h"
#include "converter/ProgramFolder.h"
#include "platform/softcard/mixer/MixerApi.h"

inline constexpr const char* kHandoverLog = "handover.log";

// Appends "who: what" to the log of the program folder.
class HandoverLog {
 public:
  explicit HandoverLog(std::string who) : who_(std::move(who)) {}
  void operator()(const std::string& what) const {
    if (FILE* f = std::fopen(tw::ProgramFile(kHandoverLog).c_str(), "a")) {
      std::fprintf(f, "%s: %s\n", who_.c_str(), what.c_str());
      std::fclose(f);
    }
  }

 private:
  std::string who_;
};

// Every source line of every mixer device, one settings-file line each.
inline std::string MixerStateText() {
  std::string text;
  for (const auto& line : tw::CurrentMixerSettings()) text += tw::FormatSettingsLine(line) + "\r\n";
  return text;
}

// Settings for every source line with volumes other than the ones the mixer has now, so that a test
// sees whether they were applied, and whether the volumes came back.
inline std::string OtherVolumesText() {
  std::string text;
  for (tw::MixerSettingsLine line : tw::CurrentMixerSettings()) {
    if (line.L >= 0) line.L = line.R = line.L == 1234 ? 4321 : 1234;
    text += tw::FormatSettingsLine(line) + "\r\n";
  }
  return text;
}

// Notes when the program that started this one left it ignoring the file-size signal.
inline void NoteIgnoredFileSizeSignal(const HandoverLog& log) {
  struct sigaction action {};
  if (::sigaction(SIGXFSZ, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
    log("file-size signal ignored at start");
}

// With HANDOVER_HOLD_RESTORE set, the next change to the mixer (a close giving the user's mixer
// back) notes "restoring" and waits, doing nothing else, until the file "go" appears in the program
// folder.
inline void HoldNextMixerChange(const HandoverLog& log) {
  if (!std::getenv("HANDOVER_HOLD_RESTORE")) return;
  platform::mixerSetChangeObserverForTesting([log, held = std::make_shared<bool>(false)] {
    if (std::exchange(*held, true)) return;
    log("restoring");
    for (int i = 0; i < 3000 && !tw::FileExists(tw::ProgramFile("go")); ++i) ::usleep(10000);
  });
}
