#pragma once
// The virtual sound card: one per process, created on first use.
//
// A render thread produces the card's audio in short periods. Card time is the number of frames
// rendered so far divided by kCardRate; everything that plays, records or waits reads this clock,
// never the wall clock. SOFTCARD_SPEED paces card time against wall time: a number is that many
// card seconds per wall second; "max" removes the pacing; "auto" (the default) keeps real time
// while no capture records, so what plays is heard at its pace, and removes the pacing while one
// records (the speakers are silent then). Unpaced, an open capture with no buffer queued holds the
// clock until it has one.
//
// An idle card (no MIDI client with events to come, no wave client sounding, the synthesiser
// silent, no capture recording) does not render, and its render thread sleeps until someone needs
// it: paced, its clock follows wall time all the same (read as it is asked for); unpaced, it
// stands still until someone waits for card time, and then jumps to what the waiter needs.
//
// Each period the render thread, holding the card lock:
//   1. asks every MIDI client for its next event frame and renders the synthesiser up to it, lets
//   the
//      client dispatch the events due there, and so on to the end of the period (so events are
//      sample-accurate; on one frame a client sends its events in its own order);
//   2. lets every wave client add its signal for the period;
//   3. mixes synthesiser and wave signal through the mixer levels (see Levels) into the speakers'
//   mix
//      and the recording line, and hands the recording to the capture device and the speakers' mix
//      to the speaker output.
//
// Clients (the MCI sequencer and wave player) are registered and removed from any thread; removal
// returns only when the render thread no longer uses the client. A client may also add or remove
// clients (itself included) from inside its own Dispatch or Mix.
//
// Capture clients (the wave-in devices) receive the recording line once per period while the card
// lock is held, and hand back their filled buffers after it, in Deliver, without the card lock.
//
// Creating the card returns at once: the render thread first loads the synthesiser's SoundFont,
// which may take seconds, and only then starts the clock. Meanwhile card time stands still, clients
// may be added, and the calls that need the synthesiser (WithSynth, ActiveVoices, SoundFont) wait
// for it. A program that must not block there (a GUI thread) waits with WaitForSynth first.
//
// The card shuts down at process exit: the render thread stops, and every later call returns at
// once (card time stands still, WaitUntil does not wait). The card object itself is never freed,
// so objects destroyed after it may still call it. A SoundFont still loading then is not waited
// for: the process ends without it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>

#include "platform/softcard/CardFormat.h"

namespace platform::softcard {

inline constexpr std::uint64_t kNever = ~std::uint64_t{0};

// Where MIDI messages go: the card's synthesiser (or a recorder in tests).
class MidiSink {
 public:
  virtual ~MidiSink() = default;
  // A channel message: status 0x80..0xEF and its data bytes (0..127).
  virtual void Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
  // A system-exclusive message: its bytes without the leading 0xF0 and the closing 0xF7.
  virtual void SendSysex(std::span<const std::uint8_t> bytes) = 0;
  // Every channel back to its start-up state (programs, controllers), no note left sounding.
  virtual void Reset() = 0;
  // Every sounding note stops at once; programs and controllers stay as they are.
  virtual void SoundOff() = 0;
};

// Feeds MIDI events to the synthesiser from the render thread.
class MidiClient {
 public:
  virtual ~MidiClient() = default;
  // Card frame of the next event this client has not dispatched yet, or kNever.
  virtual std::uint64_t NextEventFrame() = 0;
  // Sends every event due at or before `frame` to the synthesiser.
  virtual void Dispatch(std::uint64_t frame, MidiSink& synth) = 0;
};

// Receives the card's recording line. Called from the render thread only.
class CaptureClient {
 public:
  virtual ~CaptureClient() = default;
  // With the card lock held: `frames` frames of the recording line (kCardRate, floats, full scale
  // +-1) that end at card frame `end`.
  virtual void Record(std::uint64_t end, const float* left, const float* right, int frames) = 0;
  // Without the card lock, after each period and while the clock is held: hands back what Record
  // completed (callbacks to the client's owner run here).
  virtual void Deliver() = 0;
  // Without the card lock, when the card runs without pacing: true while one more period would
  // lose recorded data (no room queued), which holds the clock until Wake() is called.
  virtual bool Holds() = 0;
  // Without the card lock: true while the client records (started and not yet stopped).
  virtual bool Recording() = 0;
};

// Adds a signal to the card's "Wave" line from the render thread.
class WaveClient {
 public:
  virtual ~WaveClient() = default;
  // Adds `frames` frames of the line's signal, starting at card frame `frame`, to left/right
  // (floats, full scale +-1, at kCardRate).
  virtual void Mix(std::uint64_t frame, float* left, float* right, int frames) = 0;
  // With the card lock held: false while Mix would add nothing (stopped, at its end). A client that
  // starts sounding again calls Card::Wake().
  virtual bool Sounding() { return true; }
};

// The card's volume taper: a volume setting, as a fraction of full scale, to a linear gain, with
// unity gain at `unityAt`. Gain = (fraction / unityAt)^0.4, so every halving of the setting costs
// 2.4 dB: the mixer's factory three quarters plays at unity, as loud as the synthesiser on its
// own, full scale amplifies by up to 1 dB, and settings far down still leave an audible signal
// (a tenth of full scale is -5.5 dB from unity). 0 is silence.
inline constexpr double kTaperExponent = 0.4;
float TaperGain(double fraction, double unityAt);

// The gains the render thread applies, derived from the mixer state by the mixer device layer
// (MixerApi) through TaperGain; already 0 where a line is muted. The defaults are the factory
// state's.
struct Levels {
  float speakerMaster = 1.0f;  // destination "Speakers": volume x not muted
  float speakerSynth = 1.0f;   // source "SW Synth" on the speakers
  float speakerWave = 1.0f;    // source "Wave" on the speakers
  enum class RecordSource { StereoMix, Synth, Silent } recordSource = RecordSource::StereoMix;
  float recordLine = 1.0f;    // the selected recording source's volume
  float recordMaster = 1.0f;  // destination "Recording Control" volume

  bool operator==(const Levels&) const = default;
};

// What became of the synthesiser's SoundFont when the card started.
struct SoundFontStatus {
  enum class Kind {
    Loaded,         // `file` is loaded
    NoneInstalled,  // none named in SOFTCARD_SOUNDFONT, and none installed where the card looks
    NamedMissing,   // SOFTCARD_SOUNDFONT names `file`, which does not exist
    Unloadable,     // `file` exists, but the synthesiser cannot load it (not a SoundFont...)
  };
  Kind kind = Kind::NoneInstalled;
  std::string file;  // empty for NoneInstalled
};

// SOFTCARD_SPEED=max: no pacing.
inline constexpr double kSpeedMax = std::numeric_limits<double>::infinity();
// SOFTCARD_SPEED=auto (or unset): real time, unpaced while a capture records.
inline constexpr double kSpeedAuto = -std::numeric_limits<double>::infinity();
// The slowest pace the card accepts.
inline constexpr double kMinSpeed = 0.1;

class Card {
 public:
  static Card& Instance();

  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  // Card time in frames: the frames rendered so far, or, while an idle card is paced, what wall
  // time allows. It stands still while the card lock is held (inside WithSynth).
  std::uint64_t Frames() const;
  // Card time in ms, wrapping like a 32-bit tick counter. Ends a HoldForCapture.
  std::uint32_t TickCount() const;

  // Blocks the calling thread until card time has reached `frame` (or the card shuts down).
  // Returns at once when called from the render thread (a client or a capture callback) or from
  // inside WithSynth.
  void WaitUntil(std::uint64_t frame);

  // Card-time speed against wall time: SOFTCARD_SPEED at start, or the last SetSpeed (tests and
  // benchmarks). kSpeedMax renders as fast as possible, kSpeedAuto as described above; other
  // speeds below kMinSpeed count as kMinSpeed, and anything else not positive as max.
  double Speed() const;
  void SetSpeed(double speed);
  // True while card time runs without pacing (at max, or at auto while a capture records).
  bool Unpaced() const;

  // Frames the synthesiser has rendered (it renders nothing while the card is idle).
  std::uint64_t SynthFrames() const;

  // Call with the card lock held (inside WithSynth), right after starting music that a recorder
  // will start to record just after. At max and at auto, card time stands still from the end of
  // the current period until a capture records, someone waits for card time (GetTickCount,
  // WaitUntil), or `grace` of wall time has passed; otherwise the card would play the start of the
  // song before anyone records it.
  void HoldForCapture(std::chrono::milliseconds grace);

  void AddMidiClient(std::shared_ptr<MidiClient> client);
  void RemoveMidiClient(const MidiClient* client);
  void AddWaveClient(std::shared_ptr<WaveClient> client);
  void RemoveWaveClient(const WaveClient* client);
  void AddCaptureClient(std::shared_ptr<CaptureClient> client);
  // Returns when the render thread no longer uses the client (unless called from the render
  // thread).
  void RemoveCaptureClient(const CaptureClient* client);
  // A capture client's hold may have ended (a buffer was queued, the capture stopped...).
  void Wake();

  // Runs fn with the synthesiser while the render thread is held (for resets, all-notes-off...).
  // Card calls made inside fn (and inside a client's Dispatch or Mix) do not wait for the card
  // lock.
  void WithSynth(const std::function<void(MidiSink&)>& fn);
  // Notes the synthesiser still sounds, releases included.
  int ActiveVoices() const;

  // midiOutSetVolume: the synthesiser's output gain (0..1), applied before the mixer levels. It
  // belongs to this process: every program has its own synthesiser on the card.
  void SetSynthGain(float gain);
  float SynthGain() const;

  // The SoundFont the synthesiser loaded, empty when none was loaded (the synth is then silent).
  // Waits for the load.
  std::string SoundFont() const;
  // Which SoundFont was loaded, or why none was. Waits for the load.
  SoundFontStatus SoundFontReport() const;

  // Waits at most `timeout` for the synthesiser to have loaded; true once it has (or once the card
  // has shut down, when nothing will load any more). A zero timeout only looks.
  bool WaitForSynth(std::chrono::milliseconds timeout) const;

  // Called by the mixer layer when this process changed the mixer state, so the new levels apply
  // from the next period. Changes made by other processes reach the card through the levels
  // provider (SetLevelsProvider).
  void SetLevels(const Levels& levels);
  Levels CurrentCardLevels() const;  // the levels the render thread applies now

 private:
  Card();
  ~Card();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where the render thread gets the levels of the current mixer state: at its start, and every few
// tens of milliseconds of wall time, so that changes other processes make are heard. The mixer
// layer installs its provider when it is linked into the program; without one the card keeps its
// factory levels and whatever SetLevels gives it. A provider must be thread-safe, cheap when
// nothing changed, and must not call the card (the render thread calls it, also while the card is
// being created). The card applies a polled value only when it differs from the previous poll, so
// SetLevels pushes stay in force until the mixer state really changes.
using LevelsProvider = Levels (*)();
void SetLevelsProvider(LevelsProvider provider);

// Creates the process's card now, so that its synthesiser loads in the background while the
// program starts; returns at once. The programs call it when they start.
void StartCard();

// GetTickCount(): milliseconds of card time.
std::uint32_t GetTickCount();

}  // namespace platform::softcard

namespace platform {
using softcard::GetTickCount;
}
