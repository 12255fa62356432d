// The mixer state file is read from disk on every change another process makes (or a user's hand
// edit): any text must give usable values, and what the mixer then writes must read back the same.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/softcard/mixer/MixerState.h"

using namespace platform::mixerstate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<DeviceDef> devices = BuildTopology("standard,quirks,flaky");
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Values resolved = Resolve(devices, ParseState(text));
  for (const auto& device : devices) {
    for (const auto& [id, numbers] : resolved[device.key]) {
      const ControlDef* control = device.FindControl(id);
      if (!control || !ValidValues(*control, numbers)) std::abort();
    }
  }
  if (ParseState(FormatState(resolved)) != resolved) std::abort();
  auto levels = LevelsFrom(resolved);
  // The taper amplifies a little above its unity point, up to full scale and no further.
  static const float top = platform::softcard::TaperGain(1.0, 0.75);
  for (float g : {levels.speakerMaster, levels.speakerSynth, levels.speakerWave, levels.recordLine,
                  levels.recordMaster}) {
    if (!(g >= 0.0f && g <= top)) std::abort();
  }
  return 0;
}
