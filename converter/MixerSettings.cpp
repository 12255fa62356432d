#include "converter/MixerSettings.h"

#include <vector>

#include "converter/ProgramFolder.h"
#include "mixer/AMixer.h"

namespace tw {

void savmixsettoxml(const std::string& FileName) {
  std::vector<MixerSettingsLine> lines;
  {
    TAudioMixer mixer(nullptr);  // opens device 0 when there is one
    for (int i = 0; i < mixer.MixerCount;) {
      const int a = mixer.MixerId();
      const int destinations = mixer.Destinations->Count();
      for (int d = 0; d < destinations; ++d) {
        const int connections = mixer.Destinations->Get(d)->Connections->Count();
        for (int c = 0; c < connections; ++c) {
          std::int32_t left = -1, right = -1, mute = -1;
          bool stereo = false, volDisabled = false, muteDisabled = false, isSelect = false;
          // The result is not looked at: a line that cannot be read is written with -1 values.
          mixer.GetVolume(d, c, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
          lines.push_back({a, d, c, left, right, mute});
        }
      }
      if (++i < mixer.MixerCount) mixer.SetMixerId(i);
    }
  }
  WriteSettingsFile(ProgramFile(FileName), lines);
}

void ApplySettingsFileToMixer(const std::string& path, TAudioMixer& mixer,
                              const std::function<void(const MixerSettingsLine&)>& afterLine) {
  ApplySettingsFile(path, [&](const MixerSettingsLine& line) {
    mixer.SetMixerId(line.A);
    mixer.SetVolume(line.B, line.C, line.L, line.R, line.M);
    if (afterLine) afterLine(line);
  });
}

}  // namespace tw
