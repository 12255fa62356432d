#pragma once
// The user's own mixer state, taken when the converter starts (and again when the user asks), so
// that it can be given back after a conversion or playback changed the mixer for its recording,
// and at exit.
//
// A snapshot holds, for every line of every mixer device (each destination line and every source
// line of every destination), its left and right volume and its mute or recording selection, as
// GetVolume reads them. Writing it back gives every line exactly what was read: volumes, mutes, and
// on a destination that selects one source at a time, the source that was selected.

#include <cstdint>
#include <vector>

class TAudioMixer;

namespace tw {

struct TSavedLine {
  std::int32_t Left = -1;  // -1: no such control
  std::int32_t Right = -1;
  std::int32_t MuteOrSelect = -1;
  bool IsSelect = false;  // MuteOrSelect is the line's item of its destination's selection list
};

class TVolumeSnapshot {
 public:
  // Reads every line of every device through `mixer`. A device that cannot be opened keeps what an
  // earlier capture took of it. `mixer` is left on the device it had open before.
  void Capture(TAudioMixer& mixer);
  // Writes every captured line back through `mixer`. A saved -1 leaves that control alone; on a
  // selection list only the line that was selected is written, so the list ends with that item
  // selected (and a list whose selection was not captured keeps its current one). `mixer` is left
  // on the device it had open before.
  void Restore(TAudioMixer& mixer) const;

 private:
  // [device][destination][line: 0 the destination line, i >= 1 its source line i - 1]; each
  // destination holds its own line count.
  std::vector<std::vector<std::vector<TSavedLine>>> devices_;
};

}  // namespace tw
