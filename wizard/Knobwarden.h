#pragma once
// Knobwarden as a program: what its entry does once the application object exists. The two-process
// tests run the same code with a driver in place of the user.

#include <functional>

class QApplication;
class TForm1;

// Shows the wizard window and runs the message loop until the window closes. The program ends only
// through the window: Cancel, Finish, its frame, or a termination signal (SIGTERM, SIGINT, SIGHUP),
// which closes it as its frame does, so the user's mixer state comes back however the wizard ends.
// A write past a file-size limit fails as a full disk does instead of ending the program, and the
// end of the display gives the user's mixer back. A second wizard from the same program folder says
// that one runs already and ends.
// `shown`, when given, runs once the window is shown. Returns the loop's exit code.
int RunKnobwarden(QApplication& app, const std::function<void(TForm1&)>& shown = {});
