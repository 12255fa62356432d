#pragma once
// The MIDI sequencer behind the MCI "sequencer" device: plays one read MIDI file on the card's
// synthesiser, each event at its own card frame.
//
// Threads: Play, Stop, Position... come from the thread that drives the device (the GUI thread);
// NextEventFrame and Dispatch come from the card's render thread while it holds the card. A lock of
// the sequencer's own guards its playing state between the two; it is always taken after the
// card's, never before.
//
// Time: file time runs with card frames. Play at card frame F from file position P makes the event
// at file time t due at card frame F + frames(t) - P. Stop keeps the position; Play goes on from
// it. At the end of the file the position stays at its length and the sequencer plays nothing more.
//
// Silencing is the owner's job, because it must reach the synthesiser while the render thread is
// held: after Stop() (when it returns true) and before the sequencer is dropped, run Silence()
// inside Card::WithSynth.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Smf.h"

namespace platform {

// Where a sequencer's events go: the card's synthesiser, or a recorder in tests.
using MidiSink = softcard::MidiSink;

class Sequencer final : public softcard::MidiClient {
 public:
  explicit Sequencer(std::shared_ptr<const SmfFile> file);

  Sequencer(const Sequencer&) = delete;
  Sequencer& operator=(const Sequencer&) = delete;

  // Starts or resumes at card frame `now`. Playing from the very start first resets the
  // synthesiser's channels, so that a file never inherits another one's programs and controllers.
  // Does nothing while playing or at the end of the file.
  void Play(std::uint64_t now);
  // Pauses at card frame `now`; true when it was playing (the owner then silences the synth).
  bool Stop(std::uint64_t now);

  bool Playing(std::uint64_t now) const;  // started and not yet at the end
  std::uint32_t PositionMs(std::uint64_t now) const;
  std::uint32_t LengthMs() const { return file_->LengthMs(); }

  static void Silence(MidiSink& out) { out.SoundOff(); }

  // Render thread.
  std::uint64_t NextEventFrame() override;
  void Dispatch(std::uint64_t frame, MidiSink& out) override;

  // File frame of a time in the file (frames of card time from the file's start).
  static std::uint64_t FrameOf(std::int64_t timeUs);

 private:
  std::uint64_t PositionLocked(std::uint64_t now) const;
  bool AtEndLocked() const;

  const std::shared_ptr<const SmfFile> file_;
  const std::uint64_t endFrame_;  // first file frame at or after the file's length

  mutable std::mutex mu_;  // guards the playing state below
  bool playing_ = false;
  bool resetPending_ = false;
  std::int64_t base_ = 0;  // card frame of file frame 0 while playing
  std::uint64_t pos_ = 0;  // file frame while stopped
  std::size_t next_ = 0;   // first event not yet sent
};

}  // namespace platform
