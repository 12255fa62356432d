#pragma once
// The mixer walks over settings files: writing the state of every mixer device to a file, and
// applying a file to a mixer, line by line, by the reading rule of MixerSettingsFile.h. Shared by
// Tunewisp's windows and by Knobwarden.

#include <functional>
#include <string>

#include "converter/MixerSettingsFile.h"

class TAudioMixer;

namespace tw {

// Writes every source line of every destination of every mixer device to the file FileName in the
// program folder, replacing it. The walk uses a mixer object of its own, not a window's. A machine
// without mixer devices gets an empty file. Throws EInOutError when the file cannot be written.
void savmixsettoxml(const std::string& FileName);

// The reading rule applied to `mixer`: for each line, SetMixerId(A) and SetVolume(B, C, L, R, M),
// then `afterLine` (when given) with the line. Throws as ApplySettingsFile does; the lines before a
// malformed one stay applied. The mixer stays on the device of the last line.
void ApplySettingsFileToMixer(const std::string& path, TAudioMixer& mixer,
                              const std::function<void(const MixerSettingsLine&)>& afterLine = {});

}  // namespace tw
