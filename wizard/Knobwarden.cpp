#include "wizard/Knobwarden.h"

#include <QApplication>

#include "converter/ProgramFolder.h"
#include "platform/softcard/Softcard.h"
#include "widgets/MainWindowRun.h"
#include "wizard/Unit1.h"

int RunKnobwarden(QApplication& app, const std::function<void(TForm1&)>& shown) {
  tw::IgnoreFileSizeSignal();
  // No title is set: message boxes carry the program's name.
  QCoreApplication::setApplicationName("Knobwarden");
  // The wizard is a tool window, which Qt does not count among the windows whose closing ends a
  // program: the last box closed would otherwise end it. It ends when its window closes.
  app.setQuitOnLastWindowClosed(false);
  LoadQtTranslations();
  InstallQtHooks();
  // One wizard per program folder: a second one would save the first one's zeroed lines as the
  // user's state, and both would give the zeros back at their end. It says so and ends before it
  // touches a file or the mixer.
  const tw::TProgramFolderLock wizardLock(tw::ProgramFolder(), "knobwarden.lock");
  if (!wizardLock.Held()) {
    ShowMessage(TForm1::SecondWizardMessage());
    RemoveQtHooks();
    return 0;
  }
  // The card loads its synthesiser in the background while the user goes through the first pages.
  platform::softcard::StartCard();
  int result = 0;
  {
    TForm1 form1;
    result = RunMainWindow(form1, shown);
  }
  RemoveQtHooks();
  return result;
}
