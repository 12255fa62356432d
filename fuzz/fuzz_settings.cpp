// Mixer settings files as the programs read them: the reading rule, the field reader and the
// integer conversion on any text. Besides crashes, it stops when a line's values do not come back
// the same after writing them, when a field reader returns text that is not in the line, or when
// the integer conversion disagrees with the standard library's.

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "converter/Errors.h"
#include "converter/MixerSettingsFile.h"
#include "fuzz/FuzzFile.h"

namespace {

void CheckInteger(const std::string& text) {
  int value = 0;
  const bool ok = tw::TryStrToInt(text, value);
  // The same rule through from_chars, which takes no '+' and no blanks either.
  const std::string digits =
      !text.empty() && text[0] == '+' && text.size() > 1 && text[1] != '-' ? text.substr(1) : text;
  std::int32_t expected = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), expected);
  const bool agrees = ec == std::errc() && end == digits.data() + digits.size();
  if (ok != agrees || (ok && value != expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckInteger(text);

  for (const char* tag : {"A", "M", ""}) {
    std::string value = "unset";
    tw::getfromstrxml(text, tag, value);
    if (!value.empty() && text.find(value) == std::string::npos) std::abort();
  }

  const std::string path = fuzz::InputFile(data, size, ".set");
  if (path.empty()) return 0;
  try {
    tw::ApplySettingsFile(path, [](const tw::MixerSettingsLine& line) {
      if (tw::ParseSettingsLine(tw::FormatSettingsLine(line)) != line) std::abort();
    });
  } catch (const tw::EConvertError&) {
    // A malformed line ends the reading: expected.
  } catch (const tw::EInOutError&) {
    // An input over the size limit is refused unread: expected.
  }
  return 0;
}
