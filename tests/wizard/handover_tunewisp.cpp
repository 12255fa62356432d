// Takes Tunewisp's place in the two-process tests: Tunewisp's own program run (its windows, its
// folder lock, its handling of signals), with a driver in place of the user. Without "default.set"
// the main window hands over to the wizard and closes, as it does for a user; with it, the MIDI
// file "song.mid" is converted, and the program notes whether "Use Midi presets" was on, whether
// the mixer held "default.set" (and not the volumes it found) while it recorded, and whether the
// volumes it found came back afterwards. Messages are noted instead of shown. The environment
// chooses the output's name in the program folder (HANDOVER_OUTPUT, "out.wav" when unset; its
// extension chooses the type), a step ("recording" or "encoding") at which the program hangs with
// its writer held until it is killed (HANDOVER_STALL), and "nobody" as the user it runs as when the
// test runs as root (HANDOVER_USER).

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
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
  // Holds the writer for good, when asked to, once it writes the output.
  const std::string stall = Env("HANDOVER_STALL", "");
  auto stallAt = [&](TForm1::Phase phase, const char* name) {
    if (stall != name || form.phase() != phase) return;
    log("stalled");
    for (;;) ::pause();
  };
  // Looks at the mixer once the recording runs.
  bool looked = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    stallAt(TForm1::Phase::Encoding, "encoding");
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
    HoldNextMixerChange(log);
    stallAt(TForm1::Phase::Recording, "recording");
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
  NoteIgnoredFileSizeSignal(log);
  SetMessageHook([&](const QString& text) { log("message " + text.toStdString()); });
  const bool set = tw::FileExists(tw::ProgramFile("default.set"));
  log(set ? "start with default.set" : "start without default.set");
  const int result = RunTunewisp(app, [&](TForm1& form1) {
    if (set) QTimer::singleShot(0, &form1, [&form1, &log] { Convert(form1, log); });
  });
  log("exit");
  return result;
}
