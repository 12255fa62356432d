#include "mixer/AMixer.h"

#include <array>
#include <cstring>

using namespace platform;

namespace {

constexpr std::size_t kValueBufferSize = 101;
using TValueBuffer = std::array<std::int32_t, kValueBufferSize>;

// Appends a newly made model object to an owning list without leaking it if the append throws.
template <typename T>
void AddOwned(TPointerList& list, std::unique_ptr<T> item) {
  list.Add(item.get());
  item.release();
}

bool HasFlag(const MIXERCONTROL& c, DWORD flag) { return (c.fdwControl & flag) != 0; }

// Fills the detail record of `control`, a control of `line`, to read or write its values through
// `buffer`. False when the control has more values than the buffer holds (or none at all): such a
// control is treated as absent, so nothing is ever read or written past the buffer.
bool FillDetails(MIXERCONTROLDETAILS& details, const MIXERCONTROL& control, const MIXERLINE& line,
                 TValueBuffer& buffer) {
  details = MIXERCONTROLDETAILS{};
  details.dwControlID = control.dwControlID;
  details.cChannels = HasFlag(control, MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.cChannels;
  details.cMultipleItems =
      HasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE) ? control.cMultipleItems : 0;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = buffer.data();
  std::uint64_t values =
      std::uint64_t{details.cChannels} * (details.cMultipleItems ? details.cMultipleItems : 1);
  return values > 0 && values <= kValueBufferSize;
}

// The index of the record naming `line` among the item names of the list control `details` was
// filled for, searched at the last channel's records; -1 when the names cannot be read or the line
// is not among them.
int FindItem(HMIXER mixer, const MIXERCONTROLDETAILS& details, const MIXERLINE& line) {
  MIXERCONTROLDETAILS names = details;
  std::vector<MIXERCONTROLDETAILS_LISTTEXT> block(std::size_t{details.cChannels} *
                                                  details.cMultipleItems);
  names.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
  names.paDetails = block.data();
  if (mixerGetControlDetailsA(mixer, &names, MIXER_GETCONTROLDETAILSF_LISTTEXT) !=
      MMSYSERR_NOERROR) {
    return -1;
  }
  const std::int64_t items = details.cMultipleItems;
  const std::int64_t step = details.cChannels;
  for (std::int64_t k = step - 1; k < items; k += step) {
    if (block[static_cast<std::size_t>(k)].dwParam1 == line.dwLineID) return static_cast<int>(k);
  }
  return -1;
}

// The line a GetVolume or SetVolume call addresses, with its controls: the destination's own line
// for connection -1, else the connection's; both null when that connection does not exist.
struct TAddressedLine {
  const MIXERLINE* line = nullptr;
  TMixerControls* controls = nullptr;
};

TAddressedLine AddressedLine(TMixerDestination& destination, std::int32_t Conn,
                             TMixerConnection* connection) {
  if (Conn == -1) return {&destination.LineInfo, destination.Controls.get()};
  if (connection) return {&connection->LineInfo, connection->Controls.get()};
  return {};
}

}  // namespace

// ---- TPointerList

TPointerList::TPointerList() : List(std::make_unique<std::vector<void*>>()) {}

TPointerList::~TPointerList() { Clear(); }

void TPointerList::Add(void* Item) { List->push_back(Item); }

void* TPointerList::Get(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return (*List)[static_cast<std::size_t>(Index)];
}

int TPointerList::Count() const { return static_cast<int>(List->size()); }

void TPointerList::Clear() {
  if (FreeItem) {
    for (void* item : *List) FreeItem(item);
  }
  List->clear();
}

// ---- TMixerControls

TMixerControls::TMixerControls(TAudioMixer* AMixer, const MIXERLINE& ALine)
    : ControlBlock(ALine.cControls) {
  MIXERLINECONTROLS controls;
  controls.dwLineID = ALine.dwLineID;
  controls.cControls = ALine.cControls;
  controls.pamxctrl = ControlBlock.data();
  if (mixerGetLineControlsA(AMixer->MixerHandle, &controls, MIXER_GETLINECONTROLSF_ALL) !=
      MMSYSERR_NOERROR) {
    return;  // a line whose controls cannot be listed has none
  }
  for (auto& control : ControlBlock) Items.Add(&control);
}

MIXERCONTROL* TMixerControls::Get(int Index) const {
  return static_cast<MIXERCONTROL*>(Items.Get(Index));
}

int TMixerControls::Count() const { return Items.Count(); }

// ---- TMixerConnection(s)

TMixerConnection::TMixerConnection(TAudioMixer* AMixer, const MIXERLINE& ALine)
    : ParentMixer(AMixer),
      LineInfo(ALine),
      Controls(std::make_unique<TMixerControls>(AMixer, ALine)) {}

TMixerConnections::TMixerConnections(TAudioMixer* AMixer, const MIXERLINE& ADestination)
    : ParentMixer(AMixer) {
  Items.FreeItem = [](void* Item) { delete static_cast<TMixerConnection*>(Item); };
  MIXERLINE line;
  line.dwDestination = ADestination.dwDestination;
  for (DWORD j = 0; j < ADestination.cConnections; ++j) {
    line.dwSource = j;
    if (mixerGetLineInfoA(AMixer->MixerHandle, &line, MIXER_GETLINEINFOF_SOURCE) ==
        MMSYSERR_NOERROR) {
      AddOwned(Items, std::make_unique<TMixerConnection>(AMixer, line));
    }
  }
}

TMixerConnection* TMixerConnections::Get(int Index) const {
  return static_cast<TMixerConnection*>(Items.Get(Index));
}

int TMixerConnections::Count() const { return Items.Count(); }

// ---- TMixerDestination(s)

TMixerDestination::TMixerDestination(TAudioMixer* AMixer, const MIXERLINE& ALine)
    : ParentMixer(AMixer), LineInfo(ALine) {
  Connections = std::make_unique<TMixerConnections>(AMixer, ALine);
  Controls = std::make_unique<TMixerControls>(AMixer, ALine);
}

TMixerDestination::~TMixerDestination() {
  Controls.reset();
  Connections.reset();
}

TMixerDestinations::TMixerDestinations(TAudioMixer* AMixer) {
  Items.FreeItem = [](void* Item) { delete static_cast<TMixerDestination*>(Item); };
  if (!AMixer) return;
  for (DWORD i = 0; i < AMixer->MixerCaps.cDestinations; ++i) {
    MIXERLINE line;
    line.dwDestination = i;
    if (mixerGetLineInfoA(AMixer->MixerHandle, &line, MIXER_GETLINEINFOF_DESTINATION) ==
        MMSYSERR_NOERROR) {
      AddOwned(Items, std::make_unique<TMixerDestination>(AMixer, line));
    }
  }
}

TMixerDestination* TMixerDestinations::Get(int Index) const {
  return static_cast<TMixerDestination*>(Items.Get(Index));
}

int TMixerDestinations::Count() const { return Items.Count(); }

// ---- TAudioMixer

TAudioMixer::TAudioMixer(TComponent* AOwner) : TComponent(AOwner) {
  NotifyWindow = AllocateHWnd([this](TMessage& Msg) { MixerWndProc(Msg); });
  MixerCount = static_cast<std::int32_t>(mixerGetNumDevs());
  FMixerId = -1;
  if (MixerCount == 0) {
    Destinations = std::make_unique<TMixerDestinations>(nullptr);
  } else {
    SetMixerId(0);
  }
}

TAudioMixer::~TAudioMixer() {
  CloseMixer();
  if (NotifyWindow != 0) DeallocateHWnd(NotifyWindow);
}

void TAudioMixer::SetMixerId(std::int32_t Value) {
  if (Value < 0 || Value >= MixerCount) return;
  CloseMixer();
  const UINT device = static_cast<UINT>(Value);
  // A driver may refuse notifications now and then: try twice before opening without them.
  if (mixerOpen(&MixerHandle, device, NotifyWindow, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR &&
      mixerOpen(&MixerHandle, device, NotifyWindow, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR &&
      mixerOpen(&MixerHandle, device, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    FMixerId = -1;
    Destinations = std::make_unique<TMixerDestinations>(nullptr);
    return;
  }
  FMixerId = Value;
  // Cleared first so that a failed query leaves an empty model rather than the last device's.
  MixerCaps = MIXERCAPS{};
  mixerGetDevCapsA(device, &MixerCaps, sizeof MixerCaps);
  FManufacturer = MixerCaps.wMid == 1 ? "Microsoft" : std::to_string(MixerCaps.wMid) + " = Unknown";
  FDriverVersion = MixerCaps.vDriverVersion;
  FProductId = MixerCaps.wPid;
  FProductName = std::string(MixerCaps.szPname, strnlen(MixerCaps.szPname, MAXPNAMELEN));
  FNumberOfLine = static_cast<std::int32_t>(MixerCaps.cDestinations);
  Destinations = std::make_unique<TMixerDestinations>(this);
}

void TAudioMixer::CloseMixer() {
  if (FMixerId >= 0) {
    mixerClose(MixerHandle);
    FMixerId = -1;
  }
  // An empty list rather than none, so that a caller walking the destinations after a close finds
  // nothing instead of a missing list.
  Destinations = std::make_unique<TMixerDestinations>(nullptr);
}

void TAudioMixer::MixerWndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case MM_MIXM_LINE_CHANGE:
      if (OnLineChange) {
        OnLineChange(this, static_cast<std::int32_t>(Msg.WParam),
                     static_cast<std::int32_t>(Msg.LParam));
      }
      break;
    case MM_MIXM_CONTROL_CHANGE:
      if (OnControlChange) {
        OnControlChange(this, static_cast<std::int32_t>(Msg.WParam),
                        static_cast<std::int32_t>(Msg.LParam));
      }
      break;
    default:
      Msg.Result = DefWindowProcA(NotifyWindow, Msg.Msg, Msg.WParam, Msg.LParam);
  }
}

bool TAudioMixer::GetVolume(std::int32_t Dest, std::int32_t Conn, std::int32_t& Left,
                            std::int32_t& Right, std::int32_t& MuteOrSelect, bool& Stereo,
                            bool& VolDisabled, bool& MuteDisabled, bool& IsSelect) {
  Left = Right = MuteOrSelect = -1;
  Stereo = false;
  VolDisabled = true;
  MuteDisabled = true;
  IsSelect = false;
  TMixerDestination* destination = Destinations ? Destinations->Get(Dest) : nullptr;
  if (!destination) return false;

  TValueBuffer ValueBuffer{};
  MIXERCONTROLDETAILS details;
  TMixerConnection* connection = Conn != -1 ? destination->Connections->Get(Conn) : nullptr;

  // A source line that is an item of a selection list of its destination reads its selection as
  // its mute; every list is tried until one names the line.
  if (connection) {
    for (int i = 0; i < destination->Controls->Count() && MuteOrSelect == -1; ++i) {
      const MIXERCONTROL& control = *destination->Controls->Get(i);
      if (control.dwControlType != MIXERCONTROL_CONTROLTYPE_MUX) continue;
      if (!FillDetails(details, control, destination->LineInfo, ValueBuffer)) continue;
      if (mixerGetControlDetailsA(MixerHandle, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
          MMSYSERR_NOERROR) {
        continue;
      }
      int k = FindItem(MixerHandle, details, connection->LineInfo);
      if (k < 0) continue;
      MuteOrSelect = ValueBuffer[static_cast<std::size_t>(k)];
      MuteDisabled = HasFlag(control, MIXERCONTROL_CONTROLF_DISABLED);
      IsSelect = true;
    }
  }

  const auto [line, controls] = AddressedLine(*destination, Conn, connection);
  if (!line) return true;

  for (int i = 0; i < controls->Count() && (Left == -1 || MuteOrSelect == -1); ++i) {
    const MIXERCONTROL& control = *controls->Get(i);
    bool volume = control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && Left == -1;
    bool mute = control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && MuteOrSelect == -1;
    if (!volume && !mute) continue;
    if (HasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE)) continue;
    if (!FillDetails(details, control, *line, ValueBuffer)) continue;
    if (mixerGetControlDetailsA(MixerHandle, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
      continue;
    }
    if (volume) {
      VolDisabled = HasFlag(control, MIXERCONTROL_CONTROLF_DISABLED);
      Left = ValueBuffer[0];
      if (details.cChannels >= 2) {
        Right = ValueBuffer[1];
        Stereo = true;
      } else {
        Right = Left;
      }
    } else {
      MuteDisabled = HasFlag(control, MIXERCONTROL_CONTROLF_DISABLED);
      MuteOrSelect = ValueBuffer[0] != 0 ? 1 : 0;
    }
  }
  return true;
}

bool TAudioMixer::SetVolume(std::int32_t Dest, std::int32_t Conn, std::int32_t Left,
                            std::int32_t Right, std::int32_t MuteOrSelect) {
  TMixerDestination* destination = Destinations ? Destinations->Get(Dest) : nullptr;
  if (!destination) return false;
  TMixerConnection* connection = Conn != -1 ? destination->Connections->Get(Conn) : nullptr;
  bool volumeDone = Left == -1;
  bool muteDone = MuteOrSelect == -1;

  TValueBuffer ValueBuffer{};
  MIXERCONTROLDETAILS details;

  // On a destination with a selection list the source line's mute is its item in the first list:
  // the line's item gets the value and every other item 0.
  if (!muteDone && connection) {
    for (int i = 0; i < destination->Controls->Count(); ++i) {
      const MIXERCONTROL& control = *destination->Controls->Get(i);
      if (control.dwControlType != MIXERCONTROL_CONTROLTYPE_MUX) continue;
      muteDone = true;
      if (FillDetails(details, control, destination->LineInfo, ValueBuffer)) {
        mixerGetControlDetailsA(MixerHandle, &details, MIXER_GETCONTROLDETAILSF_VALUE);
        for (DWORD k = 0; k < details.cMultipleItems; ++k) ValueBuffer[k] = 0;
        int k = FindItem(MixerHandle, details, connection->LineInfo);
        if (k >= 0) {
          ValueBuffer[static_cast<std::size_t>(k)] = MuteOrSelect;
          mixerSetControlDetails(MixerHandle, &details, MIXER_SETCONTROLDETAILSF_VALUE);
        }
      }
      break;
    }
  }

  const auto [line, controls] = AddressedLine(*destination, Conn, connection);
  if (!line) return true;

  for (int i = 0; i < controls->Count() && (!volumeDone || !muteDone); ++i) {
    const MIXERCONTROL& control = *controls->Get(i);
    bool volume = control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !volumeDone;
    bool mute = control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && !muteDone;
    if (!volume && !mute) continue;
    if (HasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE)) continue;
    if (!FillDetails(details, control, *line, ValueBuffer)) continue;
    if (volume) {
      // Beyond two channels, Left goes to the even and Right to the odd ones.
      const std::int32_t right = Right == -1 ? Left : Right;
      for (DWORD ch = 0; ch < details.cChannels; ++ch) ValueBuffer[ch] = ch % 2 ? right : Left;
      volumeDone = true;
    } else {
      for (DWORD ch = 0; ch < details.cChannels; ++ch) ValueBuffer[ch] = MuteOrSelect;
      muteDone = true;
    }
    mixerSetControlDetails(MixerHandle, &details, MIXER_SETCONTROLDETAILSF_VALUE);
  }
  return true;
}
