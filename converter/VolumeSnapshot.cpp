#include "converter/VolumeSnapshot.h"

#include <algorithm>

#include "mixer/AMixer.h"

namespace tw {
namespace {

// Puts `mixer` back on `device` after a walk over all devices, so that the next write of a window
// goes to the device it shows.
void ReturnTo(TAudioMixer& mixer, std::int32_t device) {
  if (device >= 0 && mixer.MixerId() != device) mixer.SetMixerId(device);
}

}  // namespace

void TVolumeSnapshot::Capture(TAudioMixer& mixer) {
  const std::int32_t before = mixer.MixerId();
  devices_.resize(static_cast<std::size_t>(std::max(mixer.MixerCount, 0)));
  for (int m = 0; m < mixer.MixerCount; ++m) {
    mixer.SetMixerId(m);
    // A device that cannot be opened would be read through whatever device is still open.
    if (mixer.MixerId() != m) continue;
    auto& device = devices_[static_cast<std::size_t>(m)];
    device.assign(static_cast<std::size_t>(mixer.Destinations->Count()), {});
    for (int j = 0; j < mixer.Destinations->Count(); ++j) {
      const int sources = mixer.Destinations->Get(j)->Connections->Count();
      auto& lines = device[static_cast<std::size_t>(j)];
      lines.resize(static_cast<std::size_t>(sources) + 1);
      for (int i = 0; i <= sources; ++i) {
        TSavedLine& line = lines[static_cast<std::size_t>(i)];
        bool stereo = false, volDisabled = false, muteDisabled = false;
        line = TSavedLine{};
        mixer.GetVolume(j, i - 1, line.Left, line.Right, line.MuteOrSelect, stereo, volDisabled,
                        muteDisabled, line.IsSelect);
      }
    }
  }
  ReturnTo(mixer, before);
}

void TVolumeSnapshot::Restore(TAudioMixer& mixer) const {
  const std::int32_t before = mixer.MixerId();
  for (int m = 0; m < static_cast<int>(devices_.size()) && m < mixer.MixerCount; ++m) {
    const auto& device = devices_[static_cast<std::size_t>(m)];
    if (device.empty()) continue;
    mixer.SetMixerId(m);
    if (mixer.MixerId() != m) continue;
    for (int j = 0; j < static_cast<int>(device.size()); ++j) {
      const auto& lines = device[static_cast<std::size_t>(j)];
      for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const TSavedLine& line = lines[static_cast<std::size_t>(i)];
        // Writing 0 to a list item would ask for no source selected, which the card refuses: the
        // selected line alone is written, and that write clears the other items.
        const std::int32_t mute =
            line.IsSelect ? (line.MuteOrSelect > 0 ? 1 : -1) : line.MuteOrSelect;
        mixer.SetVolume(j, i - 1, line.Left, line.Right, mute);
      }
    }
  }
  ReturnTo(mixer, before);
}

}  // namespace tw
