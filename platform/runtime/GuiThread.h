#pragma once
// The GUI thread's call queue.
//
// Components run their event handlers (OnDone, OnProgress, mixer change notifications) on the GUI
// thread. A worker thread hands a call over with Synchronize() and waits until the GUI thread has run
// it; any exception the call raises is handed back to the worker. The GUI thread runs pending calls
// whenever it processes its messages: ProcessMessages() in a waiting loop, or the toolkit's event loop
// once a toolkit has installed its hooks (the Qt programs do; library tests use the plain queue).
//
// The GUI thread is the thread that loaded the program (static initialisation runs on the main
// thread) unless SetGuiThread() names another one, which tests of a thread of their own may do.

#include <functional>

namespace platform {

// Runs fn on the GUI thread while the calling thread waits; rethrows fn's exception to the caller.
// On the GUI thread itself fn runs at once.
void Synchronize(const std::function<void()>& fn);

// Queues fn to run on the GUI thread at its next message processing; returns at once.
void PostToGui(std::function<void()> fn);

// Runs every queued call once, then lets the toolkit (when hooked) process its pending events.
// Must be called on the GUI thread; elsewhere it does nothing.
void ProcessMessages();

// Runs every queued call once, without the toolkit's events. For GUI-thread waits that must let a
// worker's synchronised call through without running window handlers.
void CheckSynchronize();

bool IsGuiThread();
void SetGuiThread();

// Installed by a toolkit: `wake` is called (on any thread) whenever a call is queued, so that the
// toolkit's event loop comes round to CheckSynchronize(); `pumpEvents` is what ProcessMessages() runs
// after the queued calls to process the toolkit's own events.
void SetToolkitHooks(std::function<void()> wake, std::function<void()> pumpEvents);

}  // namespace platform
