#pragma once
// What every window test needs: a program folder of its own holding the shipped language tables and
// help pages, "default.set" (so that Tunewisp does not hand over to the wizard), and the message
// boxes and file dialogs answered by the test instead of a user; and, for the tests that set the
// mixer, a card of their own.

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <memory>

#include "converter/ProgramFolder.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "tests/support/TempDir.h"
#include "widgets/Toolkit.h"

class FormFixture {
 public:
  explicit FormFixture(bool withDefaultSet = true) : startFolder_(QDir::currentPath()) {
    const QDir bin(QCoreApplication::applicationDirPath());
    // The program's data files only: a "lang.ini" left in the build folder by running Tunewisp
    // there is the user's choice, not part of the program.
    for (const QString& name : bin.entryList({"*.ini", "*.html", "*.mid"}, QDir::Files))
      if (name != "lang.ini")
        QFile::copy(bin.filePath(name), QString::fromStdString((folder / name.toStdString())));
    if (withDefaultSet) folder.Write("default.set", "");
    tw::SetProgramFolder(folder.Path().string());
    SetMessageHook([this](const QString& text) { messages << text; });
    TFileDialog::SetHook([this](TFileDialog& dialog) {
      ++dialogsShown;
      if (dialogAnswers.empty()) return false;  // cancelled
      dialog.FileName = dialogAnswers.front();
      dialogAnswers.pop_front();
      return true;
    });
  }
  ~FormFixture() {
    // The windows make the program folder current; it goes away with the test.
    QDir::setCurrent(startFolder_);
    SetMessageHook({});
    TFileDialog::SetHook({});
    tw::SetProgramFolder("");
  }
  FormFixture(const FormFixture&) = delete;
  FormFixture& operator=(const FormFixture&) = delete;

  QString file(const char* name) const { return QString::fromStdString((folder / name)); }

 private:
  QString startFolder_;

 public:
  tw_test::TempDir folder;
  QStringList messages;
  int dialogsShown = 0;
  std::deque<QString> dialogAnswers;  // names the next dialogs "choose"; none left: cancel
};

// A card of its own for one test: a fresh mixer state (factory values) with the given devices.
class FreshCard {
 public:
  explicit FreshCard(const char* topology = "standard,quirks") {
    ::setenv("SOFTCARD_TOPOLOGY", topology, 1);
    ::setenv("SOFTCARD_STATE_DIR", state_.Path().c_str(), 1);
    platform::mixerResetForTesting();
  }
  ~FreshCard() { platform::mixerResetForTesting(); }
  FreshCard(const FreshCard&) = delete;
  FreshCard& operator=(const FreshCard&) = delete;

 private:
  tw_test::TempDir state_;
};

// What a user's click does: it arrives from the event loop, inside whatever wait is pumping, never
// inside a component's event handler.
template <typename Fn>
void Later(Fn fn) {
  QMetaObject::invokeMethod(qApp, fn, Qt::QueuedConnection);
}

// The main of a window test: the virtual card's mixer state in a folder of the test's own (so a
// test never touches the user's mixer), Qt's event processing hooked into the GUI thread's call
// queue as in the program, then the test class's slots.
#define TW_WINDOW_TEST_MAIN(TestClass)                                \
  int main(int argc, char** argv) {                                   \
    tw_test::TempDir state;                                           \
    ::setenv("SOFTCARD_STATE_DIR", state.Path().string().c_str(), 1); \
    QApplication app(argc, argv);                                     \
    InstallQtHooks();                                                 \
    TestClass test;                                                   \
    const int result = QTest::qExec(&test, argc, argv);               \
    RemoveQtHooks();                                                  \
    return result;                                                    \
  }
