#include "wizard/Knobwarden.h"

#include <QApplication>

#include "platform/softcard/Softcard.h"
#include "widgets/TerminationSignals.h"
#include "widgets/Toolkit.h"
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
  // The card loads its synthesiser in the background while the user goes through the first pages.
  platform::softcard::StartCard();
  int result = 0;
  {
    TForm1 form1;
    SetMainWindow(&form1);
    form1.OnClosed = [] { QCoreApplication::quit(); };
    tw::OnTerminationRequest([&form1] { form1.close(); });
    form1.show();
    if (shown) shown(form1);
    result = QApplication::exec();
    SetMainWindow(nullptr);
  }
  RemoveQtHooks();
  return result;
}
