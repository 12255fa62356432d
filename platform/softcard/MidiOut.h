#pragma once
// MIDI output volume: the card's synthesiser is MIDI output device 0.

#include <cstdint>

#include "platform/system/MmSystem.h"

namespace platform {

inline constexpr std::uint32_t MIDI_MAPPER = 0xFFFFFFFFu;  // the default device: here device 0

// `volume`: left in the low word, right in the high word, 0 (silent) to 0xFFFF (full), linear.
// The synthesiser has one gain for both sides: the mean of the two. Device 0 or MIDI_MAPPER;
// anything else is MMSYSERR_BADDEVICEID.
MMRESULT midiOutSetVolume(std::uint32_t deviceId, std::uint32_t volume);

}  // namespace platform
