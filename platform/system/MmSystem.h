#pragma once
// Result codes of the multimedia calls (wave-in, MIDI out, mixer, MCI). The values are those the
// programs were written against, so a code printed in a message means the same on every platform.

#include <cstdint>

namespace platform {

using MMRESULT = std::uint32_t;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;         // unspecified failure
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;   // no device with that number
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;    // driver failed to enable
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;     // device already in use
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;   // not an open device handle
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;      // no device driver
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;         // out of memory
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;  // call not supported by the device
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;    // unknown or unsupported flag
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;   // bad pointer, size or value

inline constexpr MMRESULT WAVERR_BADFORMAT = 32;     // the device cannot record that format
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;  // buffers are still queued
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;    // header not prepared

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;  // format tag of plain PCM

// How an open device reports back: the kind of its callback, in the open flags.
inline constexpr std::uint32_t CALLBACK_TYPEMASK = 0x70000;
inline constexpr std::uint32_t CALLBACK_NULL = 0x00000;      // no reports
inline constexpr std::uint32_t CALLBACK_WINDOW = 0x10000;    // messages posted to a window
inline constexpr std::uint32_t CALLBACK_FUNCTION = 0x30000;  // a function called on the device's thread

}  // namespace platform
