#pragma once
// Requests to end the program from outside (SIGTERM, SIGINT, SIGHUP: a logout, a Ctrl+C, a kill)
// are handled on the GUI thread as a close of the main window is, so that a running recording
// ends with what it has recorded and a true header instead of dying in the middle of it.

#include <functional>

namespace tw {

// Runs `onRequest` on the GUI thread, from the event loop, when one of these signals arrives.
// After the first one the signals have their default action again, so a second one ends a program
// that does not close at once. Call from the GUI thread once the application object exists;
// calling again replaces the request handler and arms the signals anew.
void OnTerminationRequest(std::function<void()> onRequest);

// A write past a file-size limit (ulimit -f) raises SIGXFSZ, whose default action ends the program
// with the user's mixer still set up for a recording and an output cut short. Ignored, the write
// fails (EFBIG) and takes the path of any failed write: a message, the previous output kept, the
// mixer given back. Programs started through the shell get the default action back.
void IgnoreFileSizeSignal();

}  // namespace tw
