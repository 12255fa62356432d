#include "platform/softcard/MidiOut.h"

#include "platform/softcard/Softcard.h"

namespace platform {

MMRESULT midiOutSetVolume(std::uint32_t deviceId, std::uint32_t volume) {
  if (deviceId != 0 && deviceId != MIDI_MAPPER) return MMSYSERR_BADDEVICEID;
  const double left = volume & 0xFFFF;
  const double right = volume >> 16;
  // The mean keeps a balanced setting exact and treats an unbalanced one as its overall loudness,
  // the closest a single gain comes to what the caller asked for.
  // Through the card's taper, with full volume at unity.
  softcard::Card::Instance().SetSynthGain(softcard::TaperGain((left + right) / 2.0 / 0xFFFF, 1.0));
  return MMSYSERR_NOERROR;
}

}  // namespace platform
