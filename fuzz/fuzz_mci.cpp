// MCI command strings on any text. Besides crashes, it stops when a command that parses does not
// parse the same once written out again ("open " + path + " alias " + name), or when an alias is
// not one lower-case word.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/softcard/mci/Mci.h"

using platform::mci::Command;
using platform::mci::ParseCommand;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Command c = ParseCommand(text);
  if (c.error != 0) return 0;
  if (c.alias.empty()) std::abort();
  for (char ch : c.alias) {
    if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || (ch >= 'A' && ch <= 'Z'))
      std::abort();
  }
  if (c.verb == Command::Verb::Open) {
    if (c.path.empty()) std::abort();
    const Command again = ParseCommand("open " + c.path + " alias " + c.alias);
    if (again.error != 0 || again.path != c.path || again.alias != c.alias) std::abort();
  }
  return 0;
}
