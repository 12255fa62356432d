#pragma once
// The card's synthesiser: FluidSynth with a General MIDI SoundFont, at the card's rate, rendered
// on demand (no FluidSynth audio driver, no FluidSynth player). Reverb and chorus stay at
// FluidSynth's defaults.
//
// Inside the card only (and its tests and benchmarks): the card's users reach the synthesiser as a
// MidiSink through Card::WithSynth and MidiClient::Dispatch, and FluidSynth is linked to the card
// alone.

#include <memory>
#include <string>
#include <vector>

#include "platform/softcard/Softcard.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace platform::softcard {

// Where the SoundFont comes from: `explicitPath` (SOFTCARD_SOUNDFONT) when set, and then only that
// file; else `defaultPath` when it exists; else the first .sf2/.sf3 (by name) in `folders`, in
// order. Empty when there is none.
std::string FindSoundFont(const char* explicitPath, const std::string& defaultPath,
                          const std::vector<std::string>& folders);
// The same with the environment and Debian's places.
std::string FindSoundFont();

// Why the synthesiser has the SoundFont it has: `explicitPath` is SOFTCARD_SOUNDFONT (null or empty
// when not set), `found` what FindSoundFont chose, `loaded` whether the synthesiser loaded it.
SoundFontStatus SoundFontStatusOf(const char* explicitPath, const std::string& found, bool loaded);

class Synth final : public MidiSink {
 public:
  // Loads `soundFont` (empty: none). Without a loaded SoundFont the synthesiser plays nothing.
  // Call on the thread that will render: loading must not start thread pools there.
  explicit Synth(const std::string& soundFont);
  ~Synth() override;
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  fluid_synth_t* Handle() const { return synth_; }
  const std::string& SoundFont() const { return soundFont_; }  // empty when none loaded

  int ActiveVoices() const;  // notes still sounding, releases included

  // Writes `frames` frames into left/right (overwrites).
  void Render(float* left, float* right, int frames);

  void Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
  void SendSysex(std::span<const std::uint8_t> bytes) override;
  void Reset() override;
  void SoundOff() override;

 private:
  fluid_settings_t* settings_ = nullptr;  // owned
  fluid_synth_t* synth_ = nullptr;        // owned
  std::string soundFont_;
};

// The card's synthesiser for `soundFont`: a Synth, or what a test made in its place.
std::unique_ptr<Synth> MakeSynth(const std::string& soundFont);

// Tests make the card's load slow, or watch it: `maker` makes the card's synthesiser from then on
// (nullptr: the Synth constructor again). Set it before the card is created.
using SynthMaker = std::unique_ptr<Synth> (*)(const std::string& soundFont);
void SetSynthMakerForTesting(SynthMaker maker);

}  // namespace platform::softcard
