// Takes Tunewisp's place in the two-process tests: Tunewisp's own program run (its windows, its
// folder lock, its handling of signals), with a driver in place of the user. Without "default.set"
// the main window hands over to the wizard and closes, as it does for a user; with it, the MIDI
// file "song.mid" is converted, and the program notes whether "Use Midi presets" was on, whether
// the mixer held "default.set" (and not the volumes it found) while it recorded, and whether the
// volumes it found came back afterwards. The environment chooses:
// - HANDOVER_OUTPUT: the output's name in the program folder ("out.wav" when unset), whose
//   extension chooses the type;
// - HANDOVER_STALL: "recording" or "encoding": once that step writes the output, the program
//   notes "stalled" and hangs, its writer held, until it is killed.
// - HANDOVER_USER: "nobody" runs the program as that user when the test runs as root.
// Messages are noted instead of shown.

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "HandoverSupport.h"
#include "audio/ACS_Classes.h"
#include "audio/ACS_Wave.h"
#include "converter/Tunewisp.h"
#include "converter/Unit1.h"
#include "widgets/Toolkit.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Env(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

void Convert(TForm1& form, const HandoverLog& log) {
  const std::string found = MixerStateText();
  log(form.ui.CheckBox1->Checked() ? "presets on" : "presets off");
  const std::string output = Env("HANDOVER_OUTPUT", "out.wav");
  if (output.ends_with(".mp3")) form.ui.Mp3->click();
  form.ui.Edit1->setText(QString::fromStdString(tw::ProgramFile("song.mid")));
  form.ui.Edit2->setText(QString::fromStdString(tw::ProgramFile(output)));
  const std::string stall = Env("HANDOVER_STALL", "");
  // Looks at the mixer once the recording runs.
  bool looked = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (stall == "encoding" && form.phase() == TForm1::Phase::Encoding) {
      log("stalled");
      for (;;) ::pause();
    }
    if (looked || form.WaveOut1->Status() != 0) return;
    looked = true;
    const std::string during = MixerStateText();
    log(during == ReadFile(tw::ProgramFile("default.set"))
            ? "default.set applied during the recording"
            : "default.set not applied during the recording");
    // Otherwise finding the volumes back afterwards would prove nothing.
    log(during == found ? "volumes unchanged during the recording"
                        : "volumes changed during the recording");
    log("recording");
    if (stall == "recording") {
      log("stalled");
      for (;;) ::pause();
    }
  });
  probe.start();
  form.ui.JvXPButton7->click();  // the whole conversion runs inside the click
  probe.stop();
  log(MixerStateText() == found ? "volumes back after the conversion"
                                : "volumes changed by the conversion");
  log("wrote " + std::to_string(ReadFile(tw::ProgramFile(output)).size()) + " bytes");
  log("done");
  form.close();
}

}  // namespace

int main(int argc, char** argv) {
  // A user who is not root, when the test runs as root: permissions then count.
  if (Env("HANDOVER_USER", "") == "nobody" && ::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
        ::setuid(nobody->pw_uid) != 0)
      return 3;
  }
  QApplication app(argc, argv);
  const HandoverLog log("tunewisp");
  // What the program that started this one left it with.
  struct sigaction xfsz {};
  if (::sigaction(SIGXFSZ, nullptr, &xfsz) == 0 && xfsz.sa_handler == SIG_IGN)
    log("file-size signal ignored at start");
  SetMessageHook([&](const QString& text) { log("message " + text.toStdString()); });
  const bool set = tw::FileExists(tw::ProgramFile("default.set"));
  log(set ? "start with default.set" : "start without default.set");
  const int result = RunTunewisp(app, [&](TForm1& form1) {
    if (set) QTimer::singleShot(0, &form1, [&form1, &log] { Convert(form1, log); });
  });
  log("exit");
  return result;
}
