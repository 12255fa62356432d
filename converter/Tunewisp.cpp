#include "converter/Tunewisp.h"

#include <QApplication>

#include "converter/ProgramFolder.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "widgets/MainWindowRun.h"

int RunTunewisp(QApplication& /*app*/, const std::function<void(TForm1&)>& shown) {
  tw::IgnoreFileSizeSignal();
  QCoreApplication::setApplicationName("Tunewisp");
  SetApplicationTitle("Tunewisp");
  LoadQtTranslations();
  InstallQtHooks();
  // One copy per program folder: a second one says so and ends before it touches any file.
  const tw::TProgramFolderLock folderLock(tw::ProgramFolder());
  if (!folderLock.Held()) {
    ShowMessage(TForm1::SecondCopyMessage());
    RemoveQtHooks();
    return 0;
  }
  // The card loads its synthesiser in the background while the windows are made and the user
  // sets up the first conversion.
  platform::softcard::StartCard();
  int result = 0;
  try {
    TForm1 form1;
    TForm3 form3;
    TForm4 form4;
    TForm7 form7;
    result = RunMainWindow(form1, shown);
  } catch (const std::exception& e) {
    // The main window cannot exist without its components (an encoder library is missing, say).
    ShowMessage(QString::fromUtf8(e.what()));
    result = 1;
  }
  RemoveQtHooks();
  return result;
}
