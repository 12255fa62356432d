#include "converter/MixerSettings.h"

#include <vector>

#include "converter/ProgramFolder.h"
#include "mixer/AMixer.h"

namespace tw {

void ForEachSourceLine(
    const std::function<void(TAudioMixer& walker, int device, int dest, int conn)>& visit) {
  TAudioMixer walker(nullptr);  // opens device 0 when there is one
  for (int i = 0; i < walker.MixerCount;) {
    const int destinations = walker.Destinations->Count();
    for (int d = 0; d < destinations; ++d) {
      const int connections = walker.Destinations->Get(d)->Connections->Count();
      for (int c = 0; c < connections; ++c) visit(walker, i, d, c);
    }
    if (++i < walker.MixerCount) walker.SetMixerId(i);
  }
}

std::vector<MixerSettingsLine> CurrentMixerSettings() {
  std::vector<MixerSettingsLine> lines;
  ForEachSourceLine([&](TAudioMixer& mixer, int a, int d, int c) {
    std::int32_t left = -1, right = -1, mute = -1;
    bool stereo = false, volDisabled = false, muteDisabled = false, isSelect = false;
    // The result is not looked at: a line that cannot be read is written with -1 values.
    mixer.GetVolume(d, c, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
    lines.push_back({a, d, c, left, right, mute});
  });
  return lines;
}

void savmixsettoxml(const std::string& FileName) {
  WriteSettingsFile(ProgramFile(FileName), CurrentMixerSettings());
}

bool ApplySettingsLine(const MixerSettingsLine& line, TAudioMixer& mixer) {
  // A line of a device this machine does not have (a file from another machine, or a device that
  // is gone) would otherwise apply to whichever device is open.
  if (line.A < 0 || line.A >= mixer.MixerCount) return false;
  mixer.SetMixerId(line.A);
  mixer.SetVolume(line.B, line.C, line.L, line.R, line.M);
  return true;
}

void ApplySettingsFileToMixer(const std::string& path, TAudioMixer& mixer,
                              const std::function<void(const MixerSettingsLine&)>& afterLine) {
  ApplySettingsFile(path, [&](const MixerSettingsLine& line) {
    if (ApplySettingsLine(line, mixer) && afterLine) afterLine(line);
  });
}

}  // namespace tw
