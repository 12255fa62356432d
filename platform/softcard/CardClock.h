#pragma once
// Pacing of the card's render thread against wall time.
//
// Card time may run at `speed` x wall time at most. The render thread asks DueTime(frames) before
// it renders the period that starts at `frames` and sleeps until then. When it wakes later than
// that by more than kSlack (rendering could not keep up, the machine was busy), CatchUp makes card
// time continue from now at the same speed instead of catching up in a burst: card time has then
// simply run slower than asked, and nothing was skipped.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace platform::softcard {

class CardClock {
 public:
  using Wall = std::chrono::steady_clock;
  static constexpr Wall::duration kSlack = std::chrono::milliseconds(20);

  // speed: card seconds per wall second, > 0; kSpeedMax for no pacing.
  CardClock(double speed, std::uint64_t frames, Wall::time_point now);

  double Speed() const { return speed_; }
  bool Paced() const;
  void SetSpeed(double speed, std::uint64_t frames, Wall::time_point now);

  // Wall time at which card time may reach `frames`; only meaningful when Paced().
  Wall::time_point DueTime(std::uint64_t frames) const;
  // The card frame that wall time `now` allows; only meaningful when Paced().
  std::uint64_t FramesAt(Wall::time_point now) const;

  // Called when the render thread is about to render the period starting at `frames` at `now`
  // (after any sleep). Returns true when it rebased because it had fallen behind by over kSlack.
  bool CatchUp(std::uint64_t frames, Wall::time_point now);

 private:
  double speed_;
  std::uint64_t originFrames_;
  Wall::time_point originWall_;
};

// Card time of an idle paced card. Nothing plays or records, so the render thread need not run to
// move the clock: card time follows wall time at the clock's pace, in whole periods as when the
// card renders, and whoever reads it gets the frame wall time allows now. The render thread goes on
// from the highest frame given out. So an idle card wakes only when someone waits for it.
// Thread-safe.
class IdleClock {
 public:
  using Wall = CardClock::Wall;

  // The render thread goes idle; card time runs on from `clock`.
  void Start(const CardClock& clock);
  // Card time at `now`: at least `rendered` (where the render thread is) and at least every frame
  // given out before; while running, what the clock allows at `now`.
  std::uint64_t Read(std::uint64_t rendered, Wall::time_point now);
  // Card time stops at `now` (someone holds the card, or the render thread takes over). Returns
  // the highest frame given out, from which the render thread goes on.
  std::uint64_t Stop(Wall::time_point now);

 private:
  std::uint64_t AllowedLocked(Wall::time_point now) const;

  std::mutex mu_;                     // guards clock_ and the changes of running_ and shown_
  std::atomic<bool> running_{false};  // read without mu_ first, so that a busy card pays nothing
  std::atomic<std::uint64_t> shown_{0};
  CardClock clock_{1.0, 0, Wall::time_point{}};
};

// Reads a SOFTCARD_SPEED value: unset, empty or "auto" is kSpeedAuto, "max" is kSpeedMax (both in
// any case), a finite number from kMinSpeed up is itself; anything else is nullopt.
std::optional<double> ParseSpeed(const char* text);

}  // namespace platform::softcard
