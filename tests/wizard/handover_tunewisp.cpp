// Takes Tunewisp's place in the two-process test: Tunewisp's own windows. Without "default.set"
// the main window hands over to the wizard and closes, as it does for a user; with it, one MIDI
// file is converted, and the program notes whether "Use Midi presets" was on, whether the mixer
// held "default.set" (and not the volumes it found) while it recorded, and whether the volumes it
// found came back afterwards.

#include <QApplication>
#include <QTimer>
#include <fstream>
#include <iterator>

#include "HandoverSupport.h"
#include "audio/ACS_Classes.h"
#include "audio/ACS_Wave.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "widgets/Toolkit.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Convert(TForm1& form, const HandoverLog& log) {
  const std::string found = MixerStateText();
  log(form.ui.CheckBox1->Checked() ? "presets on" : "presets off");
  form.ui.Edit1->setText(QString::fromStdString(tw::ProgramFile("song.mid")));
  form.ui.Edit2->setText(QString::fromStdString(tw::ProgramFile("out.wav")));
  // Looks at the mixer once the recording runs.
  bool looked = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (looked || form.WaveOut1->Status() != 0) return;
    looked = true;
    const std::string during = MixerStateText();
    log(during == ReadFile(tw::ProgramFile("default.set"))
            ? "default.set applied during the recording"
            : "default.set not applied during the recording");
    // Otherwise finding the volumes back afterwards would prove nothing.
    log(during == found ? "volumes unchanged during the recording"
                        : "volumes changed during the recording");
  });
  probe.start();
  form.ui.JvXPButton7->click();  // the whole conversion runs inside the click
  probe.stop();
  log(MixerStateText() == found ? "volumes back after the conversion"
                                : "volumes changed by the conversion");
  log("wrote " + std::to_string(ReadFile(tw::ProgramFile("out.wav")).size()) + " bytes");
  log("done");
  form.close();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("Tunewisp");
  SetApplicationTitle("Tunewisp");
  InstallQtHooks();
  const HandoverLog log("tunewisp");
  SetMessageHook([&](const QString& text) { log("message " + text.toStdString()); });
  const bool set = tw::FileExists(tw::ProgramFile("default.set"));
  log(set ? "start with default.set" : "start without default.set");
  platform::softcard::StartCard();  // as the program does
  int result = 0;
  {
    // Every window, in the program's order: the mixer window takes the volumes given back.
    TForm1 form1;
    TForm3 form3;
    TForm4 form4;
    TForm7 form7;
    form1.OnClosed = [] { QCoreApplication::quit(); };
    form1.show();
    if (set) QTimer::singleShot(0, &form1, [&] { Convert(form1, log); });
    result = QApplication::exec();
  }
  log("exit");
  RemoveQtHooks();
  return result;
}
