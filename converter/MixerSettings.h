#pragma once
// The mixer walks over settings files: writing the state of every mixer device to a file, and
// applying a file to a mixer, line by line, by the reading rule of MixerSettingsFile.h. Shared by
// Tunewisp's windows and by Knobwarden.

#include <functional>
#include <string>
#include <vector>

#include "converter/MixerSettingsFile.h"

class TAudioMixer;

namespace tw {

// Walks every source line of every destination of every mixer device, device by device, with a
// mixer object of its own opened on each device in turn: visit(walker, device, destination, line).
// A machine without mixer devices visits nothing.
void ForEachSourceLine(
    const std::function<void(TAudioMixer& walker, int device, int dest, int conn)>& visit);

// The volumes and mute or selection of every source line of every device, in walking order; -1
// for what a line lacks or what cannot be read.
std::vector<MixerSettingsLine> CurrentMixerSettings();

// Writes every source line of every destination of every mixer device to the file FileName in the
// program folder, replacing it. The walk uses a mixer object of its own, not a window's. A machine
// without mixer devices gets an empty file. Throws EInOutError when the file cannot be written.
void savmixsettoxml(const std::string& FileName);

// One line applied to `mixer` by the reading rule: SetMixerId(A), then SetVolume(B, C, L, R, M).
// A line of a device this machine does not have is skipped (false).
bool ApplySettingsLine(const MixerSettingsLine& line, TAudioMixer& mixer);

// The reading rule applied to `mixer`: for each line, SetMixerId(A) and SetVolume(B, C, L, R, M),
// then `afterLine` (when given) with the line. A line whose device A does not exist is skipped.
// Throws as ApplySettingsFile does; the lines before a malformed one stay applied. The mixer stays
// on the device of the last line.
void ApplySettingsFileToMixer(const std::string& path, TAudioMixer& mixer,
                              const std::function<void(const MixerSettingsLine&)>& afterLine = {});

}  // namespace tw
