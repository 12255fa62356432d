#pragma once
// What the card's mixer devices look like and what their controls hold.
//
// Topology. SOFTCARD_TOPOLOGY lists the devices of the process, comma-separated, by kind:
//   standard    "Softcard Mixer": the card itself (the default when the variable is unset)
//   quirks      "Softcard Test Mixer": lines that real drivers get wrong or that are unusual: a
//               failing line query, a mono line, disabled controls, a line without controls,
//               more than two channels, more values than callers can hold, failing control
//               queries and reads, a recording list that leaves a line out or cannot be named
//   nonotify    like standard, but it cannot be opened with change notifications
//   flaky       like standard, but every other open with notifications fails
//   unopenable  like standard, but it cannot be opened at all
// "none" (or an empty value) gives no device at all. Only the standard device's values drive the
// card's sound, also when the topology does not list it.
//
// Values. Each control holds channels x items 32-bit values (channels: 1 for a uniform control,
// else the line's channel count; items: 1 unless the control is a list), channel by channel.
// Volumes run 0..65535 and map to gains through the card's taper (TaperGain in Softcard.h), with
// unity gain at the factory 0xC000 (exactly three quarters of 65536, and the card's levels before
// its first poll, so nothing jumps); 0 is silence.
// A stereo volume's gain is the mean of its channels. Mutes and list items are 0 or 1, and a
// recording-source list has exactly one item at 1.
//
// State file. Text, one control per line: "<device key> <control id> <values...>", after a
// "softcard-mixer-state 1" header line. The device key is the kind, with the occurrence number
// appended from the second device of a kind on ("standard2"), so a device's values survive when
// the topology changes around it. Lines of devices this process does not know are kept as they
// are; lines that are malformed or hold values the control cannot take are ignored and the
// control keeps its factory value.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/softcard/Softcard.h"
#include "platform/softcard/mixer/MixerApi.h"

namespace platform::mixerstate {

// The standard device's lines. The topology is built from these names and the card's levels find
// their lines by them.
inline constexpr std::string_view kSpeakers = "Speakers";
inline constexpr std::string_view kRecordingControl = "Recording Control";
inline constexpr std::string_view kSwSynth = "SW Synth";
inline constexpr std::string_view kWave = "Wave";
inline constexpr std::string_view kCdAudio = "CD Audio";
inline constexpr std::string_view kLineIn = "Line In";
inline constexpr std::string_view kMicrophone = "Microphone";
inline constexpr std::string_view kStereoMix = "Stereo Mix";

enum class OpenFault { None, NoNotify, NotifyEveryOther, Never };

// Faults of the test topology, so callers can be seen to survive them.
enum class ControlFault { None, ReadFails, NamesFail };

struct ListItem {
  DWORD lineId = 0;  // the source line the item stands for
  std::string name;
};

struct ControlDef {
  DWORD id = 0;
  DWORD type = 0;
  DWORD flags = 0;
  DWORD items = 0;             // cMultipleItems: list items of a MULTIPLE control, else 0
  DWORD channels = 1;          // stored channel values: 1 when uniform, else the line's channels
  std::vector<ListItem> list;  // names of the items of a MULTIPLE control
  std::vector<std::int32_t> factory;
  ControlFault fault = ControlFault::None;

  std::size_t ValueCount() const { return channels * (items ? items : 1); }
  std::int32_t Minimum() const { return 0; }
  std::int32_t Maximum() const { return type == MIXERCONTROL_CONTROLTYPE_VOLUME ? 65535 : 1; }
};

struct LineDef {
  DWORD id = 0;
  std::string name;
  DWORD channels = 2;
  std::vector<ControlDef> controls;
  bool queryFails = false;    // mixerGetLineInfoA fails on this line
  bool controlsFail = false;  // mixerGetLineControlsA fails on this line
};

struct DestinationDef {
  LineDef line;
  std::vector<LineDef> sources;
};

struct DeviceDef {
  std::string key;  // the device's name in the state file
  std::string kind;
  std::string name;
  WORD mid = 0;
  WORD pid = 0;
  MMVERSION version = 0;
  OpenFault openFault = OpenFault::None;
  std::vector<DestinationDef> destinations;

  const ControlDef* FindControl(DWORD id) const;
  // The line that owns control `id` (destination or source), or null.
  const LineDef* LineOfControl(DWORD id) const;
  const LineDef* FindLine(DWORD id) const;
};

// Values of every control, by device key and control id.
using Values = std::map<std::string, std::map<DWORD, std::vector<std::int32_t>>>;

// The devices named by a comma list of kinds, as SOFTCARD_TOPOLOGY holds it; unknown kinds are
// skipped.
std::vector<DeviceDef> BuildTopology(std::string_view kinds);
// The card's own device, on which the sound depends.
const DeviceDef& StandardDevice();

// The factory values of every control of `devices`.
Values FactoryValues(const std::vector<DeviceDef>& devices);

// True when `values` is something the control can hold (count, range, one list item selected).
bool ValidValues(const ControlDef& control, const std::vector<std::int32_t>& values);

// Parses a state file; lines that cannot be read are left out. Never throws on bad text.
Values ParseState(std::string_view text);
std::string FormatState(const Values& values);

// The values of `devices`: factory values overlaid with those of `stored` that the controls can
// hold; stored entries of devices not in `devices` are carried over unchanged.
Values Resolve(const std::vector<DeviceDef>& devices, const Values& stored);

// The card's gains from the standard device's values (factory values where they are missing).
softcard::Levels LevelsFrom(const Values& values);

// Where the state file lives: SOFTCARD_STATE_DIR, else $XDG_STATE_HOME/softcard, else
// ~/.local/state/softcard; empty when none of them can be found.
std::string StateDirectory();

}  // namespace platform::mixerstate
