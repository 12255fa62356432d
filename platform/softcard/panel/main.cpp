// SoftcardPanel: the virtual sound card's mixer panel, started by the shell for the system's volume
// control and sound control panel.

#include <QApplication>
#include <QStringList>

#include "platform/softcard/panel/Panel.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("SoftcardPanel");
  platform::softcard::TPanelWindow window(
      platform::softcard::PanelTabOfArguments(app.arguments().mid(1)));
  window.show();
  return QApplication::exec();
}
