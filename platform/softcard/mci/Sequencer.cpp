#include "platform/softcard/mci/Sequencer.h"

#include <fluidsynth.h>

#include <algorithm>

namespace platform {

void FluidMidiSink::Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (!synth_) return;
  const int chan = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth_, chan, data1);
      break;
    case 0x90:
      if (data2 == 0)
        fluid_synth_noteoff(synth_, chan, data1);
      else
        fluid_synth_noteon(synth_, chan, data1, data2);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth_, chan, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth_, chan, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth_, chan, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth_, chan, data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth_, chan, data1 | (data2 << 7));
      break;
    default:
      break;
  }
}

void FluidMidiSink::SendSysex(std::span<const std::uint8_t> bytes) {
  if (!synth_ || bytes.empty()) return;
  // The synthesiser ignores messages it does not know; resets and tunings are what files send.
  fluid_synth_sysex(synth_, reinterpret_cast<const char*>(bytes.data()),
                    static_cast<int>(bytes.size()), nullptr, nullptr, nullptr, 0);
}

void FluidMidiSink::Reset() {
  if (synth_) fluid_synth_system_reset(synth_);
}

void FluidMidiSink::SoundOff() {
  if (synth_) fluid_synth_all_sounds_off(synth_, -1);
}

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

void Sequencer::Dispatch(std::uint64_t frame, fluid_synth_t* synth) {
  FluidMidiSink out(synth);
  DispatchTo(frame, out);
}

void Sequencer::DispatchTo(std::uint64_t frame, MidiSink& out) {
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
