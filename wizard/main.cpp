// Knobwarden: the program entry. Shows the wizard window and runs the message loop until it closes.

#include <QApplication>

#include "widgets/Toolkit.h"
#include "wizard/Unit1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // No title is set: message boxes carry the program's name.
  QCoreApplication::setApplicationName("Knobwarden");
  InstallQtHooks();
  int result = 0;
  {
    TForm1 form1;
    form1.OnClosed = [] { QCoreApplication::quit(); };
    form1.show();
    result = QApplication::exec();
  }
  RemoveQtHooks();
  return result;
}
