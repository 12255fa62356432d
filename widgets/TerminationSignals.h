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

}  // namespace tw
