#include "platform/softcard/CardClock.h"

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

bool CardClock::CatchUp(std::uint64_t frames, Wall::time_point now) {
  if (!Paced()) return false;
  if (now - DueTime(frames) <= kSlack) return false;
  originFrames_ = frames;
  originWall_ = now;
  return true;
}

std::optional<double> ParseSpeed(const char* text) {
  if (text == nullptr || *text == '\0') return 1.0;
  std::string_view s(text);
  if (s.size() == 3 && (s[0] | 0x20) == 'm' && (s[1] | 0x20) == 'a' && (s[2] | 0x20) == 'x') {
    return kSpeedMax;
  }
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0) return std::nullopt;
  return v;
}

}  // namespace platform::softcard
