#include "converter/Pause.h"

#include <atomic>
#include <chrono>

#include "platform/runtime/GuiThread.h"
#include "platform/softcard/Softcard.h"

namespace tw {
namespace {

std::atomic<TickSource> tickSource{nullptr};

std::uint32_t Now() {
  const TickSource source = tickSource.load();
  return source ? source() : platform::GetTickCount();
}

}  // namespace

void SetPauseTickSource(TickSource source) { tickSource.store(source); }

void pause(int N) {
  const std::uint32_t start = Now();
  for (;;) {
    platform::ProcessMessages();
    // Unsigned difference: a wrap of the 32-bit counter between start and now does no harm.
    const std::uint32_t elapsed = Now() - start;
    if (static_cast<std::int64_t>(elapsed) > static_cast<std::int64_t>(N)) return;
  }
}

void WaitForSynth(const std::function<bool()>& wanted) {
  const platform::softcard::Card& card = platform::softcard::Card::Instance();
  // Short slices: the messages that come meanwhile are handled within a few milliseconds.
  while (!card.WaitForSynth(std::chrono::milliseconds(10))) {
    platform::ProcessMessages();
    if (!wanted()) return;
  }
}

}  // namespace tw
