#pragma once
// Types shared by the audio stream components: the sinks' event handlers and the file sinks' mode.

#include <exception>
#include <functional>

#include "platform/runtime/Component.h"

// An event is "assigned" when it holds a handler (a non-empty std::function).

// OnDone(Sender): a sink's run has ended (input exhausted or stopped); runs on the GUI thread.
using TOutputDoneEvent = std::function<void(platform::TComponent* Sender)>;
// OnProgress(Sender): the sink's Progress has changed; runs on the GUI thread.
using TOutputProgressEvent = std::function<void(platform::TComponent* Sender)>;
// OnThreadException(Sender, E): a run failed; runs on the thread where the failure happened (the
// sink's worker, or the caller of Run when the sink failed to prepare). E is a platform::Exception
// (EACSException, a stream error...) or, for failures of the run-time library itself, another
// std::exception.
using TThreadExceptionEvent =
    std::function<void(platform::TComponent* Sender, const std::exception& E)>;

// How a file sink treats an existing file: replace it, or add to its audio data.
enum TFileOutputMode { foRewrite = 0, foAppend = 1 };
