#pragma once
// TAudioMixer: a component that opens one mixer device of the sound card and keeps a model of it,
// and reads and writes the volume, mute and recording selection of its lines.
//
// The model is a snapshot taken when a device is chosen (SetMixerId): its destination lines
// (TMixerDestinations), each destination's source lines (TMixerConnections) and each line's
// controls (TMixerControls). Lines whose information cannot be read are left out, so list indices
// count only the lines that could be read; a destination index and a source-line index into these
// lists (-1 for the destination line itself) address a line. The lists are never re-read; values
// are always read and written live. Every object taken from the model becomes invalid at the next
// SetMixerId or CloseMixer.
//
// Values (GetVolume, SetVolume): volumes are the raw values of the line's first volume control
// (0..65535 on the card); mute or selection is 0 or 1. Read, -1 means the line has no such control;
// written, -1 as Left or as MuteOrSelect leaves that control alone and -1 as Right gives the right
// channel the Left value. For a source line whose destination has a single-select source list, mute
// stands for the selection: a write sends the line's item as the given value and every other item
// as 0, and the line's own mute control is then never written. Controls whose channels x items
// exceed the 101 values an operation keeps are read as absent and never written.
//
// Change notifications of the device (line and control changes) reach OnLineChange and
// OnControlChange on the GUI thread, when the device could be opened with notifications.
//
// GUI thread only, like every component.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/Component.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "platform/runtime/NotifyWindow.h"

class TAudioMixer;

using TMixerChange =
    std::function<void(platform::TComponent* Sender, std::int32_t MixerH, std::int32_t ID)>;

// An owning list of untyped pointers: Clear (and the destructor) hand each item to FreeItem.
class TPointerList {
 public:
  using TFreeItem = std::function<void(void* Item)>;

  TPointerList();
  ~TPointerList();
  TPointerList(const TPointerList&) = delete;
  TPointerList& operator=(const TPointerList&) = delete;

  void Add(void* Item);
  // The item at Index, or null when Index is negative or not below Count.
  void* Get(int Index) const;
  int Count() const;
  // Calls FreeItem (when set) for every item in order, then empties the list.
  void Clear();

  TFreeItem FreeItem;  // unset by default
  std::unique_ptr<std::vector<void*>> List;
};

// The controls of one line, in the order the platform lists them.
class TMixerControls {
 public:
  TMixerControls(TAudioMixer* AMixer, const platform::MIXERLINE& ALine);
  TMixerControls(const TMixerControls&) = delete;
  TMixerControls& operator=(const TMixerControls&) = delete;

  platform::MIXERCONTROL* Get(int Index) const;
  int Count() const;

  std::vector<platform::MIXERCONTROL> ControlBlock;  // the records, back to back
  TPointerList Items;                                // pointers into ControlBlock
};

// One source line.
class TMixerConnection {
 public:
  TMixerConnection(TAudioMixer* AMixer, const platform::MIXERLINE& ALine);
  TMixerConnection(const TMixerConnection&) = delete;
  TMixerConnection& operator=(const TMixerConnection&) = delete;

  TAudioMixer* ParentMixer;  // borrowed: the mixer owns the model
  platform::MIXERLINE LineInfo;
  std::unique_ptr<TMixerControls> Controls;
};

// The source lines of one destination.
class TMixerConnections {
 public:
  TMixerConnections(TAudioMixer* AMixer, const platform::MIXERLINE& ADestination);
  TMixerConnections(const TMixerConnections&) = delete;
  TMixerConnections& operator=(const TMixerConnections&) = delete;

  TMixerConnection* Get(int Index) const;
  int Count() const;

  TAudioMixer* ParentMixer;  // borrowed
  TPointerList Items;        // owns its TMixerConnection items
};

// One destination line with its own controls and its source lines.
class TMixerDestination {
 public:
  TMixerDestination(TAudioMixer* AMixer, const platform::MIXERLINE& ALine);
  ~TMixerDestination();
  TMixerDestination(const TMixerDestination&) = delete;
  TMixerDestination& operator=(const TMixerDestination&) = delete;

  TAudioMixer* ParentMixer;  // borrowed
  platform::MIXERLINE LineInfo;
  std::unique_ptr<TMixerControls> Controls;
  std::unique_ptr<TMixerConnections> Connections;
};

// The destination lines of the open device (none without a mixer).
class TMixerDestinations {
 public:
  explicit TMixerDestinations(TAudioMixer* AMixer);
  TMixerDestinations(const TMixerDestinations&) = delete;
  TMixerDestinations& operator=(const TMixerDestinations&) = delete;

  TMixerDestination* Get(int Index) const;
  int Count() const;

  TPointerList Items;  // owns its TMixerDestination items
};

class TAudioMixer : public platform::TComponent {
 public:
  // Opens device 0 when there is one.
  explicit TAudioMixer(platform::TComponent* AOwner);
  ~TAudioMixer() override;

  // Number of the open device, -1 when none is open.
  std::int32_t MixerId() const { return FMixerId; }
  // Closes the open device and opens device Value (also when it is the open one), rebuilding the
  // model. A Value outside 0..MixerCount-1 changes nothing.
  void SetMixerId(std::int32_t Value);
  // Leaves the component with no device and an empty model.
  void CloseMixer();

  std::uint32_t DriverVersion() const { return FDriverVersion; }
  // "Microsoft" for manufacturer id 1, else the id in decimal followed by " = Unknown".
  const std::string& Manufacturer() const { return FManufacturer; }
  std::uint16_t ProductId() const { return FProductId; }
  std::int32_t NumberOfLine() const { return FNumberOfLine; }
  const std::string& ProductName() const { return FProductName; }

  // Reads the line (Dest, Conn). False when Dest names no destination; otherwise true, with -1 in
  // each value the line lacks (see above). Stereo: the volume has two or more channel values.
  // IsSelect: MuteOrSelect is the line's item of its destination's selection list.
  bool GetVolume(std::int32_t Dest, std::int32_t Conn, std::int32_t& Left, std::int32_t& Right,
                 std::int32_t& MuteOrSelect, bool& Stereo, bool& VolDisabled, bool& MuteDisabled,
                 bool& IsSelect);
  // Writes the line (Dest, Conn). False when Dest names no destination (nothing written); true
  // otherwise, whatever was written.
  bool SetVolume(std::int32_t Dest, std::int32_t Conn, std::int32_t Left, std::int32_t Right,
                 std::int32_t MuteOrSelect);

  platform::HWND NotifyWindow = 0;
  // The open device's model; an empty list when no device is open.
  std::unique_ptr<TMixerDestinations> Destinations;
  // Number of mixer devices, counted at construction.
  std::int32_t MixerCount = 0;
  platform::HMIXER MixerHandle = 0;
  platform::MIXERCAPS MixerCaps;

  TMixerChange OnLineChange;
  TMixerChange OnControlChange;

 private:
  void MixerWndProc(platform::TMessage& Msg);

  std::int32_t FMixerId = -1;
  std::uint32_t FDriverVersion = 0;
  std::string FManufacturer;
  std::uint16_t FProductId = 0;
  std::int32_t FNumberOfLine = 0;
  std::string FProductName;
};
