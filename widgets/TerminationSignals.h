#pragma once
// How the programs end when the user does not close them: a request from outside (SIGTERM, SIGINT,
// SIGHUP: a logout, a Ctrl+C, a kill), the end of the display (the session ends, the X server
// dies), and a file-size limit.
//
// A request is handled on the GUI thread as a close of the main window is, so that a running
// recording ends with what it has recorded and a true header instead of dying in the middle of it,
// and the user's mixer comes back. While the close that a request started gives the mixer back,
// further requests are ignored: a logout that sends SIGHUP right after SIGTERM, or a second Ctrl+C,
// would otherwise end the program with the mixer still set up. Once the mixer is back
// (MixerGivenBack, or at the latest when the close has returned) the signals have their default
// action again, and a further one ends a program that is still busy at once.

#include <functional>

namespace tw {

// Runs `onRequest` on the GUI thread, from the event loop, when one of these signals arrives. Call
// from the GUI thread once the application object exists; calling again replaces the request
// handler and arms the signals anew.
void OnTerminationRequest(std::function<void()> onRequest);

// When the display ends, Qt ends the process through exit() and no window is closed. `giveBack`
// then runs on the way out, unless MixerGivenBack came first: it gives the user's mixer back as the
// program's close would, nothing else (no box), and makes sure the change reaches the mixer's
// state. Call once the program's mixer is in use; an empty function gives nothing back.
void OnExitWithoutClose(std::function<void()> giveBack);

// The program's close has given the user's mixer back: nothing is given back again at exit, and the
// signals get their default action back if a request started that close.
void MixerGivenBack();

// A write past a file-size limit (ulimit -f) raises SIGXFSZ, whose default action ends the program
// with the user's mixer still set up for a recording and an output cut short. Ignored, the write
// fails (EFBIG) and takes the path of any failed write: a message, the previous output kept, the
// mixer given back. Programs started through the shell get the default action back.
void IgnoreFileSizeSignal();

}  // namespace tw
