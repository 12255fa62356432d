#pragma once
// The part of a program's run that both programs share: their main window shown and the message
// loop run until it closes.

#include <QApplication>
#include <functional>

#include "widgets/TerminationSignals.h"
#include "widgets/Toolkit.h"

// Shows `window` and runs the message loop until it closes. The window owns the boxes shown while
// none of the program's windows is active; a termination signal closes it as its frame does; the
// end of the display runs its GiveMixerBackAtExit. `shown`, when given, runs once it is shown.
// Window needs OnClosed (run when it has closed) and GiveMixerBackAtExit().
template <class Window>
int RunMainWindow(Window& window, const std::function<void(Window&)>& shown) {
  SetMainWindow(&window);
  window.OnClosed = [] { QCoreApplication::quit(); };
  tw::OnTerminationRequest([&window] { window.close(); });
  tw::OnExitWithoutClose([&window] { window.GiveMixerBackAtExit(); });
  window.show();
  if (shown) shown(window);
  const int result = QApplication::exec();
  tw::OnExitWithoutClose({});
  SetMainWindow(nullptr);
  return result;
}
