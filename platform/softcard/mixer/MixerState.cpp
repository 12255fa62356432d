#include "platform/softcard/mixer/MixerState.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace platform::mixerstate {
namespace {

constexpr std::int32_t kFactoryVolume = 0xC000;  // three quarters: a gain of exactly 0.75
constexpr std::string_view kHeader = "softcard-mixer-state 1";
constexpr std::size_t kMaxStoredValues = 4096;  // far above any control; bounds a hostile file

// Line ids are (destination + 1) << 16 plus (source + 1), 0 for the destination itself; control
// ids count from 1 on each device. The two ranges never meet, so passing one for the other fails.
DWORD LineId(std::size_t destination, int source) {
  return static_cast<DWORD>(((destination + 1) << 16) + static_cast<std::size_t>(source + 1));
}

class Builder {
 public:
  Builder(std::string key, std::string kind, std::string name, WORD mid, WORD pid,
          MMVERSION version) {
    device_.key = std::move(key);
    device_.kind = std::move(kind);
    device_.name = std::move(name);
    device_.mid = mid;
    device_.pid = pid;
    device_.version = version;
  }

  std::size_t Destination(std::string name, DWORD channels = 2) {
    std::size_t index = device_.destinations.size();
    DestinationDef d;
    d.line.id = LineId(index, -1);
    d.line.name = std::move(name);
    d.line.channels = channels;
    device_.destinations.push_back(std::move(d));
    return index;
  }

  LineDef& Dest(std::size_t d) { return device_.destinations[d].line; }

  LineDef& Source(std::size_t d, std::string name, DWORD channels = 2) {
    auto& sources = device_.destinations[d].sources;
    LineDef line;
    line.id = LineId(d, static_cast<int>(sources.size()));
    line.name = std::move(name);
    line.channels = channels;
    sources.push_back(std::move(line));
    return sources.back();
  }

  ControlDef& Volume(LineDef& line, std::vector<std::int32_t> factory = {}, bool uniform = false) {
    ControlDef c =
        New(MIXERCONTROL_CONTROLTYPE_VOLUME, uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0);
    c.channels = uniform ? 1 : line.channels;
    c.factory = factory.empty() ? std::vector<std::int32_t>(c.channels, kFactoryVolume) : factory;
    line.controls.push_back(std::move(c));
    return line.controls.back();
  }

  ControlDef& Mute(LineDef& line, bool muted = false) {
    ControlDef c = New(MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM);
    c.factory = {muted ? 1 : 0};
    line.controls.push_back(std::move(c));
    return line.controls.back();
  }

  // A single-select list on destination `d` over the given source lines (by index), selecting
  // the item at `selected`; `extraItems` names further items that stand for no line.
  ControlDef& Mux(std::size_t d, const std::vector<int>& sources, std::size_t selected,
                  int extraItems = 0) {
    auto& dest = device_.destinations[d];
    ControlDef c = New(MIXERCONTROL_CONTROLTYPE_MUX,
                       MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE);
    for (int s : sources) {
      const LineDef& line = dest.sources[static_cast<std::size_t>(s)];
      c.list.push_back({line.id, line.name});
    }
    for (int i = 1; i <= extraItems; ++i) c.list.push_back({0, "Item " + std::to_string(i)});
    c.items = static_cast<DWORD>(c.list.size());
    c.factory.assign(c.items, 0);
    c.factory[selected] = 1;
    dest.line.controls.push_back(std::move(c));
    return dest.line.controls.back();
  }

  ControlDef New(DWORD type, DWORD flags) {
    ControlDef c;
    c.id = nextControl_++;
    c.type = type;
    c.flags = flags;
    return c;
  }

  DeviceDef Take() { return std::move(device_); }

 private:
  DeviceDef device_;
  DWORD nextControl_ = 1;
};

DeviceDef Standard(std::string key, std::string kind, std::string name, OpenFault fault) {
  Builder b(std::move(key), std::move(kind), std::move(name), 0x5343, 1, 0x0100);
  std::size_t speakers = b.Destination(std::string(kSpeakers));
  b.Volume(b.Dest(speakers));
  b.Mute(b.Dest(speakers));
  for (std::string_view name : {kSwSynth, kWave, kCdAudio, kLineIn, kMicrophone}) {
    LineDef& line = b.Source(speakers, std::string(name));
    b.Volume(line);
    b.Mute(line, name == kMicrophone);
  }
  std::size_t recording = b.Destination(std::string(kRecordingControl));
  b.Volume(b.Dest(recording));
  for (std::string_view name : {kStereoMix, kSwSynth, kCdAudio, kLineIn, kMicrophone}) {
    b.Volume(b.Source(recording, std::string(name)));
  }
  b.Mux(recording, {0, 1, 2, 3, 4}, 0);
  DeviceDef d = b.Take();
  d.openFault = fault;
  return d;
}

DeviceDef Quirks(std::string key) {
  Builder b(std::move(key), "quirks", "Softcard Test Mixer", 1, 2, 0x0203);

  std::size_t playback = b.Destination("Playback");
  b.Volume(b.Dest(playback));
  b.Mute(b.Dest(playback));
  {
    LineDef& mono = b.Source(playback, "Mono In", 1);
    b.Volume(mono, {30000});
    b.Mute(mono);
  }
  {
    LineDef& broken = b.Source(playback, "Broken");
    broken.queryFails = true;
    b.Volume(broken);
  }
  {
    LineDef& disabled = b.Source(playback, "Disabled");
    b.Volume(disabled).flags |= MIXERCONTROL_CONTROLF_DISABLED;
    b.Mute(disabled).flags |= MIXERCONTROL_CONTROLF_DISABLED;
  }
  b.Source(playback, "Silent Line");
  {
    LineDef& surround = b.Source(playback, "Surround", 4);
    b.Volume(surround, {1000, 2000, 3000, 4000});
    b.Mute(surround);
  }
  b.Volume(b.Source(playback, "Wide", 110));
  {
    LineDef& line = b.Source(playback, "Controls Fail");
    line.controlsFail = true;
    b.Volume(line);
    b.Mute(line);
  }
  {
    LineDef& line = b.Source(playback, "Read Fails");
    b.Volume(line).fault = ControlFault::ReadFails;
    b.Mute(line, true);
  }
  {
    // A list-type mute before the plain one, and two volumes: only the first plain ones count.
    LineDef& line = b.Source(playback, "Many Controls");
    ControlDef split = b.New(MIXERCONTROL_CONTROLTYPE_MUTE,
                             MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE);
    split.items = 2;
    split.list = {{0, "Front"}, {0, "Rear"}};
    split.factory = {0, 0};
    line.controls.push_back(std::move(split));
    b.Volume(line, {111, 222});
    b.Volume(line, {333, 444});
    b.Mute(line, true);
  }

  std::size_t lost = b.Destination("Broken Destination");
  b.Dest(lost).queryFails = true;
  b.Volume(b.Source(lost, "Lost"));

  // Items in reverse order of the sources, and "Aux" is not among them.
  std::size_t recording = b.Destination("Recording");
  b.Volume(b.Dest(recording), {20000}, true);
  b.Volume(b.Source(recording, std::string(kStereoMix)));
  for (const char* name : {"Mic", "Aux"}) {
    LineDef& line = b.Source(recording, name);
    b.Volume(line);
    b.Mute(line);
  }
  b.Mux(recording, {1, 0}, 1);

  // Two lists: the first cannot give its item names, the second lists both lines.
  std::size_t select = b.Destination("Select Test");
  {
    LineDef& a = b.Source(select, "Src A");
    b.Volume(a);
    b.Mute(a);
    b.Volume(b.Source(select, "Src B"));
  }
  b.Mux(select, {0, 1}, 0).fault = ControlFault::NamesFail;
  b.Mux(select, {1, 0}, 0);

  // A list with more items than callers keep values for.
  std::size_t wide = b.Destination("Wide Select");
  {
    LineDef& c = b.Source(wide, "Src C");
    b.Volume(c);
    b.Mute(c);
  }
  b.Mux(wide, {0}, 0, 101);

  DeviceDef d = b.Take();
  return d;
}

bool ValidKey(std::string_view key) {
  if (key.empty() || key.size() > 32) return false;
  return std::all_of(key.begin(), key.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

template <typename T>
bool ParseNumber(std::string_view token, T& out) {
  if (token.empty()) return false;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), out);
  return ec == std::errc() && end == token.data() + token.size();
}

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
    if (out.size() > kMaxStoredValues + 2) break;
  }
  return out;
}

const std::vector<std::int32_t>& Get(const Values& values, const DeviceDef& device,
                                     const ControlDef& control) {
  auto d = values.find(device.key);
  if (d != values.end()) {
    auto c = d->second.find(control.id);
    if (c != d->second.end() && ValidValues(control, c->second)) return c->second;
  }
  return control.factory;
}

float Gain(const std::vector<std::int32_t>& volume) {
  if (volume.empty()) return 0.0f;
  double sum = 0;
  for (std::int32_t v : volume) sum += v;
  // The factory 0xC000 is exactly three quarters of 65536: unity gain.
  return softcard::TaperGain(sum / static_cast<double>(volume.size()) / 65536.0, 0.75);
}

const ControlDef* FirstOfType(const LineDef& line, DWORD type) {
  for (const auto& c : line.controls) {
    if (c.type == type) return &c;
  }
  return nullptr;
}

}  // namespace

const ControlDef* DeviceDef::FindControl(DWORD id) const {
  const LineDef* line = LineOfControl(id);
  if (!line) return nullptr;
  for (const auto& c : line->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const LineDef* DeviceDef::LineOfControl(DWORD id) const {
  auto owns = [id](const LineDef& line) {
    return std::any_of(line.controls.begin(), line.controls.end(),
                       [id](const ControlDef& c) { return c.id == id; });
  };
  for (const auto& d : destinations) {
    if (owns(d.line)) return &d.line;
    for (const auto& s : d.sources) {
      if (owns(s)) return &s;
    }
  }
  return nullptr;
}

const LineDef* DeviceDef::FindLine(DWORD id) const {
  for (const auto& d : destinations) {
    if (d.line.id == id) return &d.line;
    for (const auto& s : d.sources) {
      if (s.id == id) return &s;
    }
  }
  return nullptr;
}

std::vector<DeviceDef> BuildTopology(std::string_view kinds) {
  std::vector<DeviceDef> devices;
  std::map<std::string, int> seen;
  std::size_t start = 0;
  while (start <= kinds.size()) {
    std::size_t comma = kinds.find(',', start);
    if (comma == std::string_view::npos) comma = kinds.size();
    std::string kind(kinds.substr(start, comma - start));
    kind.erase(0, kind.find_first_not_of(" \t"));
    kind.erase(kind.find_last_not_of(" \t") + 1);
    start = comma + 1;
    std::string key = kind;
    int n = ++seen[kind];
    if (n > 1) key += std::to_string(n);
    if (kind == "standard") {
      devices.push_back(Standard(key, kind, "Softcard Mixer", OpenFault::None));
    } else if (kind == "nonotify") {
      devices.push_back(Standard(key, kind, "Softcard Mixer (no notify)", OpenFault::NoNotify));
    } else if (kind == "flaky") {
      devices.push_back(Standard(key, kind, "Softcard Mixer (flaky)", OpenFault::NotifyEveryOther));
    } else if (kind == "unopenable") {
      devices.push_back(Standard(key, kind, "Softcard Mixer (unopenable)", OpenFault::Never));
    } else if (kind == "quirks") {
      devices.push_back(Quirks(key));
    } else {
      --seen[kind];
    }
  }
  return devices;
}

const DeviceDef& StandardDevice() {
  static const DeviceDef device =
      Standard("standard", "standard", "Softcard Mixer", OpenFault::None);
  return device;
}

Values FactoryValues(const std::vector<DeviceDef>& devices) {
  Values values;
  for (const auto& device : devices) {
    auto& controls = values[device.key];
    for (const auto& d : device.destinations) {
      for (const auto& c : d.line.controls) controls[c.id] = c.factory;
      for (const auto& s : d.sources) {
        for (const auto& c : s.controls) controls[c.id] = c.factory;
      }
    }
  }
  return values;
}

bool ValidValues(const ControlDef& control, const std::vector<std::int32_t>& values) {
  if (values.size() != control.ValueCount()) return false;
  for (std::int32_t v : values) {
    if (v < control.Minimum() || v > control.Maximum()) return false;
  }
  if (control.type == MIXERCONTROL_CONTROLTYPE_MUX) {
    std::size_t items = control.items ? control.items : 1;
    for (std::size_t ch = 0; ch < control.channels; ++ch) {
      auto first = values.begin() + static_cast<std::ptrdiff_t>(ch * items);
      if (std::count(first, first + static_cast<std::ptrdiff_t>(items), 1) != 1) return false;
    }
  }
  return true;
}

Values ParseState(std::string_view text) {
  Values values;
  bool header = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    auto tokens = Tokens(line);
    if (tokens.empty() || tokens[0].front() == '#') continue;
    if (!header) {
      // A file of another format (or garbage) gives nothing rather than a misread.
      if (tokens.size() != 2 || std::string(tokens[0]) + " " + std::string(tokens[1]) != kHeader) {
        return {};
      }
      header = true;
      continue;
    }
    if (tokens.size() < 3 || tokens.size() > kMaxStoredValues + 2 || !ValidKey(tokens[0])) {
      continue;
    }
    DWORD id = 0;
    if (!ParseNumber(tokens[1], id)) continue;
    std::vector<std::int32_t> numbers;
    bool ok = true;
    for (std::size_t i = 2; i < tokens.size() && ok; ++i) {
      std::int32_t v = 0;
      ok = ParseNumber(tokens[i], v);
      numbers.push_back(v);
    }
    if (ok) values[std::string(tokens[0])][id] = std::move(numbers);
  }
  return values;
}

std::string FormatState(const Values& values) {
  std::string out(kHeader);
  out += '\n';
  for (const auto& [key, controls] : values) {
    for (const auto& [id, numbers] : controls) {
      out += key;
      out += ' ';
      out += std::to_string(id);
      for (std::int32_t v : numbers) {
        out += ' ';
        out += std::to_string(v);
      }
      out += '\n';
    }
  }
  return out;
}

Values Resolve(const std::vector<DeviceDef>& devices, const Values& stored) {
  Values values = FactoryValues(devices);
  for (const auto& [key, controls] : stored) {
    auto device = std::find_if(devices.begin(), devices.end(),
                               [&key = key](const DeviceDef& d) { return d.key == key; });
    if (device == devices.end()) {
      values[key] = controls;
      continue;
    }
    for (const auto& [id, numbers] : controls) {
      const ControlDef* control = device->FindControl(id);
      if (control && ValidValues(*control, numbers)) values[key][id] = numbers;
    }
  }
  return values;
}

softcard::Levels LevelsFrom(const Values& values) {
  const DeviceDef& device = StandardDevice();
  const DestinationDef& speakers = device.destinations[0];
  const DestinationDef& recording = device.destinations[1];

  auto level = [&](const LineDef* line) {
    if (!line) return 0.0f;
    const ControlDef* volume = FirstOfType(*line, MIXERCONTROL_CONTROLTYPE_VOLUME);
    float gain = volume ? Gain(Get(values, device, *volume)) : 1.0f;
    const ControlDef* mute = FirstOfType(*line, MIXERCONTROL_CONTROLTYPE_MUTE);
    if (mute && Get(values, device, *mute)[0] != 0) gain = 0.0f;
    return gain;
  };
  // A line the device does not have is silent.
  auto source = [](const DestinationDef& d, std::string_view name) -> const LineDef* {
    auto it = std::find_if(d.sources.begin(), d.sources.end(),
                           [name](const LineDef& l) { return l.name == name; });
    return it == d.sources.end() ? nullptr : &*it;
  };

  softcard::Levels levels;
  levels.speakerMaster = level(&speakers.line);
  levels.speakerSynth = level(source(speakers, kSwSynth));
  levels.speakerWave = level(source(speakers, kWave));
  levels.recordMaster = level(&recording.line);

  levels.recordSource = softcard::Levels::RecordSource::Silent;
  levels.recordLine = 0.0f;
  const ControlDef* mux = FirstOfType(recording.line, MIXERCONTROL_CONTROLTYPE_MUX);
  if (!mux) return levels;
  const auto& selection = Get(values, device, *mux);
  for (std::size_t k = 0; k < selection.size() && k < mux->list.size(); ++k) {
    if (selection[k] != 1) continue;
    const LineDef* line = device.FindLine(mux->list[k].lineId);
    if (!line) break;
    levels.recordLine = level(line);
    if (line->name == kStereoMix) {
      levels.recordSource = softcard::Levels::RecordSource::StereoMix;
    } else if (line->name == kSwSynth) {
      levels.recordSource = softcard::Levels::RecordSource::Synth;
    }
    break;
  }
  return levels;
}

std::string StateDirectory() {
  auto env = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v ? v : "";
  };
  if (std::string dir = env("SOFTCARD_STATE_DIR"); !dir.empty()) return dir;
  if (std::string xdg = env("XDG_STATE_HOME"); !xdg.empty() && xdg.front() == '/') {
    return xdg + "/softcard";
  }
  if (std::string home = env("HOME"); !home.empty()) return home + "/.local/state/softcard";
  return "";
}

}  // namespace platform::mixerstate
