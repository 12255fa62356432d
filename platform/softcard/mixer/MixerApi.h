#pragma once
// The mixer devices of the virtual sound card.
//
// A device is a set of destination lines (where sound goes: the speakers, the recording), each with
// source lines (where sound comes from), and every line carries controls (volume, mute, a
// single-select recording-source list). A device is opened by number and then addressed through its
// handle; lines are found by destination and source number and named by line ids; controls are
// listed per line and read and written by control id as arrays of 32-bit values.
//
// The values are system-wide: they live in a state file shared by every process (see
// MixerState.h), so what one program sets, every other one reads. A change reaches the file within
// 200 ms, in one write with the changes made meanwhile; what is pending is written before
// ShellExecuteA starts another program and when the program ends. A state file that is not a
// regular file, or larger than 1 MiB, is neither read (the factory values apply) nor replaced. A
// handle opened with CALLBACK_WINDOW has MM_MIXM_CONTROL_CHANGE posted to its window, on the GUI
// thread, for every accepted write to one of the device's controls, by any handle of this process;
// changes another process made are noticed (and notified the same way) the next time this process
// looks at the mixer or the card polls its levels.
//
// Every call is thread-safe and returns MMSYSERR_NOERROR or an error code (MmSystem.h and below).

#include <cstdint>
#include <functional>

#include "platform/runtime/NotifyWindow.h"
#include "platform/softcard/Softcard.h"
#include "platform/system/MmSystem.h"

namespace platform {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using HMIXER = std::uint32_t;  // 0 is no handle; handles are never reused within a process
using MMVERSION = std::uint32_t;

inline constexpr MMRESULT MIXERR_INVALLINE = 1024;     // no such line
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;  // no such control
inline constexpr MMRESULT MIXERR_INVALVALUE = 1026;    // a value the control refuses

// Notification messages: WParam is the mixer handle, LParam the line or control id.
inline constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
inline constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

inline constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0;
inline constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 1;
inline constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0;
inline constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0;
inline constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
inline constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0;

inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;

inline constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x1;   // one value for all channels
inline constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;  // one value per list item
inline constexpr DWORD MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

inline constexpr int MAXPNAMELEN = 32;
inline constexpr int MIXER_LONG_NAME_CHARS = 64;

struct MIXERCAPS {
  WORD wMid = 0;  // manufacturer id (1 stands for Microsoft)
  WORD wPid = 0;  // product id
  MMVERSION vDriverVersion = 0;
  char szPname[MAXPNAMELEN] = {};  // product name, zero-terminated
  DWORD cDestinations = 0;
};

struct MIXERLINE {
  DWORD dwDestination = 0;  // in: destination number
  DWORD dwSource = 0;       // in (source queries): source number within the destination
  DWORD dwLineID = 0;
  DWORD cChannels = 0;
  DWORD cConnections = 0;  // source lines of a destination; 0 for a source line
  DWORD cControls = 0;
  char szName[MIXER_LONG_NAME_CHARS] = {};
};

struct MIXERCONTROL {
  DWORD dwControlID = 0;
  DWORD dwControlType = 0;
  DWORD fdwControl = 0;      // MIXERCONTROL_CONTROLF_*
  DWORD cMultipleItems = 0;  // list items of a MULTIPLE control, else 0
  std::int32_t lMinimum = 0;
  std::int32_t lMaximum = 0;
};

struct MIXERLINECONTROLS {
  DWORD dwLineID = 0;
  DWORD cControls = 0;               // must be the line's control count
  MIXERCONTROL* pamxctrl = nullptr;  // room for cControls records
};

// Values are laid out channel by channel, each channel holding max(1, cMultipleItems) values.
struct MIXERCONTROLDETAILS {
  DWORD dwControlID = 0;
  DWORD cChannels = 0;        // 1, or the line's channel count for a control that is not uniform
  DWORD cMultipleItems = 0;   // the control's item count for a MULTIPLE control, else 0
  DWORD cbDetails = 0;        // size of one record: 4 for values, sizeof(LISTTEXT) for names
  void* paDetails = nullptr;  // cChannels x max(1, cMultipleItems) records
};

struct MIXERCONTROLDETAILS_LISTTEXT {
  DWORD dwParam1 = 0;  // for a recording-source list: the line id of the item's source line
  DWORD dwParam2 = 0;
  char szName[MIXER_LONG_NAME_CHARS] = {};
};

UINT mixerGetNumDevs();
// `callback` is the window to notify (with CALLBACK_WINDOW) and is ignored without it.
MMRESULT mixerOpen(HMIXER* mixer, UINT deviceId, HWND callback, std::uintptr_t instance,
                   DWORD flags);
MMRESULT mixerClose(HMIXER mixer);
MMRESULT mixerGetDevCapsA(UINT deviceId, MIXERCAPS* caps, UINT size);
MMRESULT mixerGetLineInfoA(HMIXER mixer, MIXERLINE* line, DWORD flags);
MMRESULT mixerGetLineControlsA(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags);
MMRESULT mixerGetControlDetailsA(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags);
// A write to a recording-source list that leaves not exactly one item selected is refused with
// MIXERR_INVALVALUE and changes nothing. Volumes are clamped to their range; any other non-zero
// value of a mute or list item counts as 1.
MMRESULT mixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags);

// The card's gains as the mixer state gives them now: what the card polls from the mixer,
// without counting as the card's poll (the first such poll tells the mixer that this process has a
// card to push its changes to). For tests and tools that only look.
softcard::Levels mixerGetLevels();

// Writes the changes the state file does not hold yet, now. Waits at most two seconds for another
// process's hold on the state folder's lock; false when changes are left pending (they are written
// with the next change), or when the file cannot be written (said once on stderr).
bool mixerFlushState();

// For tests: writes what is pending, then forgets every handle and the in-memory state, and reads
// SOFTCARD_TOPOLOGY and SOFTCARD_STATE_DIR again, as at the first use in a process.
void mixerResetForTesting();
// For tests: posts MM_MIXM_LINE_CHANGE for `lineId` to every notifying handle of the device.
void mixerRaiseLineChangeForTesting(UINT deviceId, DWORD lineId);
// For tests: runs `observer` on the calling thread before every mixerSetControlDetails, so that a
// test can hold a program in the middle of setting its mixer; empty for none.
void mixerSetChangeObserverForTesting(std::function<void()> observer);

}  // namespace platform
