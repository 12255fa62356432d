#include "platform/softcard/mci/Sequencer.h"

#include <algorithm>

namespace platform {

std::uint64_t Sequencer::FrameOf(std::int64_t timeUs) {
  // Times are at most SmfFile::kMaxTimeUs (2^40), so the product stays far inside 64 bits.
  return static_cast<std::uint64_t>(std::max<std::int64_t>(timeUs, 0)) * softcard::kCardRate /
         1000000;
}

Sequencer::Sequencer(std::shared_ptr<const SmfFile> file)
    : file_(std::move(file)),
      // Rounded up: the position reaches endFrame_ only when the file's whole length has passed.
      endFrame_((static_cast<std::uint64_t>(file_->LengthUs()) * softcard::kCardRate + 999999) /
                1000000) {}

std::uint64_t Sequencer::PositionLocked(std::uint64_t now) const {
  if (!playing_) return pos_;
  const std::int64_t p = static_cast<std::int64_t>(now) - base_;
  return std::min(static_cast<std::uint64_t>(std::max<std::int64_t>(p, 0)), endFrame_);
}

bool Sequencer::AtEndLocked() const {
  // A file whose events all lie at its very end (or at time 0) still sends them.
  return pos_ >= endFrame_ && next_ >= file_->Events().size();
}

void Sequencer::Play(std::uint64_t now) {
  std::lock_guard lock(mu_);
  if (playing_ || AtEndLocked()) return;
  if (pos_ == 0 && next_ == 0) resetPending_ = true;
  base_ = static_cast<std::int64_t>(now) - static_cast<std::int64_t>(pos_);
  playing_ = true;
}

bool Sequencer::Stop(std::uint64_t now) {
  std::lock_guard lock(mu_);
  if (!playing_) return false;
  pos_ = PositionLocked(now);
  playing_ = false;
  resetPending_ = false;
  return true;
}

bool Sequencer::Playing(std::uint64_t now) const {
  std::lock_guard lock(mu_);
  return playing_ && PositionLocked(now) < endFrame_;
}

std::uint32_t Sequencer::PositionMs(std::uint64_t now) const {
  std::uint64_t frames;
  {
    std::lock_guard lock(mu_);
    frames = PositionLocked(now);
  }
  // At the end the position is exactly the length, whatever the rounding of frames to ms.
  if (frames >= endFrame_) return file_->LengthMs();
  return std::min(static_cast<std::uint32_t>(frames * 1000 / softcard::kCardRate),
                  file_->LengthMs());
}

std::uint64_t Sequencer::NextEventFrame() {
  std::lock_guard lock(mu_);
  if (!playing_) return softcard::kNever;
  std::int64_t due;
  if (resetPending_) {
    due = base_;
  } else if (next_ < file_->Events().size()) {
    due = base_ + static_cast<std::int64_t>(FrameOf(file_->Events()[next_].timeUs));
  } else {
    return softcard::kNever;
  }
  return static_cast<std::uint64_t>(std::max<std::int64_t>(due, 0));
}

void Sequencer::Dispatch(std::uint64_t frame, MidiSink& out) {
  std::lock_guard lock(mu_);
  if (!playing_) return;
  const std::int64_t upTo = static_cast<std::int64_t>(frame) - base_;
  if (upTo < 0) return;
  if (resetPending_) {
    out.Reset();
    resetPending_ = false;
  }
  const auto& events = file_->Events();
  while (next_ < events.size() &&
         FrameOf(events[next_].timeUs) <= static_cast<std::uint64_t>(upTo)) {
    const SmfEvent& e = events[next_++];
    if (e.status == 0xF0)
      out.SendSysex(file_->Sysex(e));
    else
      out.Send(e.status, e.data1, e.data2);
  }
}

}  // namespace platform
