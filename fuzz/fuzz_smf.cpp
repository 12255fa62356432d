// Feeds arbitrary bytes to the MIDI file reader. Besides crashes and sanitizer reports, it stops on
// any broken promise of the reader: events out of time order, bytes out of range, a length before
// the last event, or a refused file that kept events.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/softcard/mci/Smf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::SmfFile f;
  if (f.Parse(std::span(data, size)) != platform::SmfStatus::Ok) {
    if (!f.Events().empty() || f.LengthUs() != 0) std::abort();
    return 0;
  }
  std::int64_t last = 0;
  for (const platform::SmfEvent& e : f.Events()) {
    if (e.timeUs < last || e.timeUs > platform::SmfFile::kMaxTimeUs) std::abort();
    last = e.timeUs;
    if (e.status == 0xF0) {
      if (f.Sysex(e).empty()) std::abort();
    } else if (e.status < 0x80 || e.status > 0xEF || e.data1 > 127 || e.data2 > 127) {
      std::abort();
    }
  }
  if (f.LengthUs() < last) std::abort();
  return 0;
}
