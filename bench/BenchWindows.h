#pragma once
// What the benchmarks that convert through Tunewisp's windows share: the application with the
// windows' hooks, and the main window set to the conversion they measure.

#include <QApplication>
#include <QStringList>

#include "converter/Unit1.h"
#include "widgets/Toolkit.h"

namespace bench {

// The Qt application with the hooks the windows need, and the messages they show collected
// instead of shown.
class WindowsApp {
 public:
  WindowsApp(int& argc, char** argv) : app_(argc, argv) {
    InstallQtHooks();
    SetMessageHook([this](const QString& text) { messages << text; });
  }
  ~WindowsApp() {
    SetMessageHook({});
    RemoveQtHooks();
  }
  WindowsApp(const WindowsApp&) = delete;
  WindowsApp& operator=(const WindowsApp&) = delete;

  QStringList messages;

 private:
  QApplication app_;
};

// Activates the main window and sets it to MP3 at 128 kbit/s, 44100 Hz, stereo.
inline void ChooseMp3At128(TForm1& form1) {
  form1.FormActivate();
  form1.ui.Mp3->click();
  form1.ui.RadioButton6->click();
  form1.ui.RadioButton7->click();
  form1.ui.ComboBox1->Choose(11);  // 128
}

}  // namespace bench
