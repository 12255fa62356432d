#include "platform/softcard/CardClock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "platform/softcard/Softcard.h"

namespace platform::softcard {

CardClock::CardClock(double speed, std::uint64_t frames, Wall::time_point now)
    : speed_(speed), originFrames_(frames), originWall_(now) {}

bool CardClock::Paced() const { return std::isfinite(speed_); }

void CardClock::SetSpeed(double speed, std::uint64_t frames, Wall::time_point now) {
  // A new speed applies from the current card time on; what ran before stays as it ran.
  speed_ = speed;
  originFrames_ = frames;
  originWall_ = now;
}

CardClock::Wall::time_point CardClock::DueTime(std::uint64_t frames) const {
  if (!Paced() || frames <= originFrames_) return originWall_;
  const double seconds = static_cast<double>(frames - originFrames_) / (kCardRate * speed_);
  return originWall_ +
         std::chrono::duration_cast<Wall::duration>(std::chrono::duration<double>(seconds));
}

std::uint64_t CardClock::FramesAt(Wall::time_point now) const {
  if (!Paced() || now <= originWall_) return originFrames_;
  const double seconds = std::chrono::duration<double>(now - originWall_).count();
  return originFrames_ + static_cast<std::uint64_t>(seconds * speed_ * kCardRate);
}

bool CardClock::CatchUp(std::uint64_t frames, Wall::time_point now) {
  if (!Paced()) return false;
  if (now - DueTime(frames) <= kSlack) return false;
  originFrames_ = frames;
  originWall_ = now;
  return true;
}

void IdleClock::Start(const CardClock& clock) {
  std::lock_guard lock(mu_);
  clock_ = clock;
  running_.store(true);
}

std::uint64_t IdleClock::AllowedLocked(Wall::time_point now) const {
  return std::max(shown_.load(), clock_.FramesAt(now) / kCardPeriod * kCardPeriod);
}

std::uint64_t IdleClock::Read(std::uint64_t rendered, Wall::time_point now) {
  if (running_.load()) {
    std::lock_guard lock(mu_);
    if (running_.load()) shown_.store(AllowedLocked(now));
  }
  return std::max(rendered, shown_.load());
}

std::uint64_t IdleClock::Stop(Wall::time_point now) {
  std::lock_guard lock(mu_);
  if (running_.load()) shown_.store(AllowedLocked(now));
  running_.store(false);
  return shown_.load();
}

std::optional<double> ParseSpeed(const char* text) {
  if (text == nullptr || *text == '\0') return kSpeedAuto;
  std::string_view s(text);
  auto is = [s](std::string_view word) {
    if (s.size() != word.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if ((s[i] | 0x20) != word[i]) return false;
    }
    return true;
  };
  if (is("max")) return kSpeedMax;
  if (is("auto")) return kSpeedAuto;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  // Below kMinSpeed the card would take hours for a song, and waits bounded in card time would
  // seem to hang.
  if (end == text || *end != '\0' || !std::isfinite(v) || v < kMinSpeed) return std::nullopt;
  return v;
}

}  // namespace platform::softcard
