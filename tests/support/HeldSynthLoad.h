#pragma once
// A SoundFont that takes as long to load as a test wants: HoldSynthLoad() before the card is
// created makes the card's synthesiser load wait until ReleaseSynthLoad().

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/softcard/Synth.h"

namespace tw_test {

struct HeldLoad {
  std::mutex mu;
  std::condition_variable cv;
  bool started = false;
  bool released = false;
};

inline HeldLoad& TheHeldLoad() {
  static HeldLoad held;
  return held;
}

// Notes that the load has begun, then waits to be let go.
inline void MarkLoadStartedThenWait(bool wait) {
  HeldLoad& h = TheHeldLoad();
  std::unique_lock lock(h.mu);
  h.started = true;
  h.cv.notify_all();
  if (wait) h.cv.wait(lock, [&] { return h.released; });
}

inline void HoldSynthLoad() {
  platform::softcard::SetSynthMakerForTesting([](const std::string& soundFont) {
    MarkLoadStartedThenWait(true);
    return std::make_unique<platform::softcard::Synth>(soundFont);
  });
}

inline void WaitForSynthLoadToStart() {
  HeldLoad& h = TheHeldLoad();
  std::unique_lock lock(h.mu);
  h.cv.wait(lock, [&] { return h.started; });
}

inline void ReleaseSynthLoad() {
  HeldLoad& h = TheHeldLoad();
  {
    std::lock_guard lock(h.mu);
    h.released = true;
  }
  h.cv.notify_all();
}

}  // namespace tw_test
