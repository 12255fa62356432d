#pragma once
// Tunewisp as a program: what its entry does once the application object exists. The two-process
// tests run the same code with a driver in place of the user.

#include <functional>

class QApplication;
class TForm1;

// Holds the program folder for this copy (a second copy says so and ends), creates the windows in
// their fixed order (the main window first, so that its creation handler runs before any other
// window exists; the record-time window last), shows the main window and runs the message loop
// until it closes, by its frame or by a termination signal (SIGTERM, SIGINT, SIGHUP). A write past
// a file-size limit fails as a full disk does instead of ending the program. `shown`, when given,
// runs once the main window is shown. Returns the program's exit code.
int RunTunewisp(QApplication& app, const std::function<void(TForm1&)>& shown = {});
