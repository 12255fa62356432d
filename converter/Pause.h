#pragma once
// The wait of every long operation of both programs: it returns when strictly more than N
// milliseconds of card time (platform::GetTickCount) have passed since it began, processing window
// messages and the workers' synchronised calls all along. It never sleeps: a click (Stop) or a
// component's done event is handled inside the wait as soon as it arrives. A negative N returns
// after one pass. Nested waits are allowed; each measures from its own start.

#include <cstdint>
#include <functional>

namespace tw {

void pause(int N);

// Returns once the card's synthesiser has loaded its SoundFont: at once when it has, else after
// waiting with window messages processed all along, so that the window stays painted and a click
// (Stop) is handled meanwhile. Returns early, too, once `wanted` says the wait is no longer wanted
// (the user stopped what was waiting). Call it on the GUI thread before the first thing that needs
// the synthesiser (opening a MIDI file).
void WaitForSynth(const std::function<bool()>& wanted);

// Tests replace the tick source (e.g. to wrap the 32-bit counter); nullptr restores the card clock.
using TickSource = std::uint32_t (*)();
void SetPauseTickSource(TickSource source);

}  // namespace tw
