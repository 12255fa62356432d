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

// Where a sequencer's events go: the synthesiser, or a recorder in tests.
class MidiSink {
 public:
  virtual ~MidiSink() = default;
  virtual void Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
  // The message's bytes without the leading 0xF0 and the closing 0xF7.
  virtual void SendSysex(std::span<const std::uint8_t> bytes) = 0;
  // Every channel back to its start-up state (programs, controllers), no note left sounding.
  virtual void Reset() = 0;
  // Every sounding note stops at once; programs and controllers stay as they are.
  virtual void SoundOff() = 0;
};

// MidiSink on a FluidSynth synthesiser (which may be null: then nothing is sent).
class FluidMidiSink final : public MidiSink {
 public:
  explicit FluidMidiSink(fluid_synth_t* synth) : synth_(synth) {}  // borrowed
  void Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
  void SendSysex(std::span<const std::uint8_t> bytes) override;
  void Reset() override;
  void SoundOff() override;

 private:
  fluid_synth_t* synth_;
};

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
  void Dispatch(std::uint64_t frame, fluid_synth_t* synth) override;
  void DispatchTo(std::uint64_t frame, MidiSink& out);

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
