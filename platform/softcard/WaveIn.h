#pragma once
// Wave-in capture from the virtual sound card: one device (number 0) that records the card's
// recording line in a PCM format of the caller's choice (8 or 16 bits, 1 or 2 channels, 8000 to
// 48000 Hz).
//
// Order of calls: waveInOpen, waveInPrepareHeader + waveInAddBuffer for each buffer, waveInStart;
// the card fills queued buffers in order as card time runs and hands each one back, full, through
// the callback (WIM_DATA, parameter 1 = the header) on the card's thread; waveInReset stops the
// capture and hands back every queued buffer, partly filled or empty, through the callback on the
// calling thread before it returns; waveInUnprepareHeader; waveInClose.
//
// Audio that arrives while the device is started and has no room queued is lost, as on a real card;
// when the card runs without pacing (SOFTCARD_SPEED=max) it waits for room instead, so nothing is
// lost. The callback must not call waveInReset or waveInClose of its own device; it may queue
// buffers. Once waveInReset or waveInClose has returned, no callback of that device is running.

#include <cstdint>

#include "platform/system/MmSystem.h"

namespace platform {

struct WaveInDevice;
using HWAVEIN = WaveInDevice*;

inline constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;  // any device: here device 0

// A PCM format.
struct PCMWAVEFORMAT {
  std::uint16_t wFormatTag = WAVE_FORMAT_PCM;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;  // nSamplesPerSec x nBlockAlign
  std::uint16_t nBlockAlign = 0;      // nChannels x wBitsPerSample / 8
  std::uint16_t wBitsPerSample = 0;
};

// Header flags.
inline constexpr std::uint32_t WHDR_DONE = 0x01;      // handed back by the device
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;  // waveInPrepareHeader done
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;   // with the device

// A capture buffer. The caller owns the header and its data; the device owns it from
// waveInAddBuffer until it is handed back.
struct WAVEHDR {
  char* lpData = nullptr;
  std::uint32_t dwBufferLength = 0;
  std::uint32_t dwBytesRecorded = 0;  // set when the buffer is handed back
  std::uintptr_t dwUser = 0;          // the caller's
  std::uint32_t dwFlags = 0;
  WAVEHDR* lpNext = nullptr;    // the caller's (the device leaves it alone)
  WAVEHDR* reserved = nullptr;  // the device's
};

// Callback messages.
inline constexpr std::uint32_t WIM_DATA = 0x3C0;

// Open flags.
inline constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;  // only check the format
inline constexpr std::uint32_t WAVE_MAPPED = 0x0004;        // device id is a real device

// device, message, instance value given to waveInOpen, parameter 1, parameter 2.
using WaveInProc = void (*)(HWAVEIN, std::uint32_t, std::uintptr_t, std::uintptr_t, std::uintptr_t);

std::uint32_t waveInGetNumDevs();

// Errors: MMSYSERR_INVALPARAM (null pointers), MMSYSERR_BADDEVICEID, MMSYSERR_INVALFLAG (a callback
// kind other than none or a function, or unknown flags), WAVERR_BADFORMAT (not PCM, or a channel
// count, sample width or rate the device does not record, or block align / bytes per second that do
// not match). With WAVE_FORMAT_QUERY nothing is opened and `handle` may be null.
MMRESULT waveInOpen(HWAVEIN* handle, std::uint32_t deviceId, const PCMWAVEFORMAT* format,
                    WaveInProc callback, std::uintptr_t instance, std::uint32_t flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header);  // WAVERR_STILLPLAYING if queued
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);  // WAVERR_STILLPLAYING while buffers are queued

}  // namespace platform
