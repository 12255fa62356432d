#pragma once
// Running an encoder sink in a test: its events, and a run to the end on the GUI thread.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/ACS_Classes.h"
#include "tests/audio/TestSupport.h"

namespace enctest {

struct SinkEvents {
  std::atomic<int> done{0}, failures{0};
  std::vector<int> progress;  // every OnProgress value, GUI thread only
  std::mutex mutex;           // guards failure (set on the worker or on the caller of Run)
  std::string failure;

  std::string Failure() {
    std::lock_guard lock(mutex);
    return failure;
  }
};

inline void Wire(TACSOutput& sink, SinkEvents& ev) {
  sink.OnDone = [&ev](platform::TComponent*) { ++ev.done; };
  sink.OnProgress = [&ev, &sink](platform::TComponent*) { ev.progress.push_back(sink.Progress()); };
  sink.OnThreadException = [&ev](platform::TComponent*, const std::exception& e) {
    std::lock_guard lock(ev.mutex);
    ev.failure = e.what();
    ++ev.failures;
  };
}

// Runs the sink and pumps GUI messages until its run has ended with OnDone or a failure (and the
// sink is idle). False when that does not happen in time.
inline bool RunToEnd(TACSFileOut& sink, SinkEvents& ev, const std::string& fileName) {
  const int done = ev.done, failures = ev.failures;
  sink.SetFileName(fileName);
  sink.Run();
  return tw_test::PumpUntil(
      [&] { return (ev.done > done || ev.failures > failures) && sink.Status() == 2; },
      std::chrono::milliseconds(60000));
}

}  // namespace enctest
