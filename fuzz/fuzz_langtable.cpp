// Text tables and the language file on any bytes. Besides crashes, it stops when an entry holds a
// line end, when more entries change than the file has lines, or when the language file's code
// holds a line end.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "converter/Errors.h"
#include "converter/LangTable.h"
#include "fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile(data, size, ".ini");
  if (path.empty()) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  static const tw::TLangTexts before = [] {
    tw::TLangTexts t;
    t.fill("\x01unchanged");
    return t;
  }();
  tw::TLangTexts texts = before;
  try {
    tw::LoadTextTable(path, texts);
  } catch (const tw::EInOutError&) {
    // Only a table over the size limit is refused, and it changes nothing.
    if (size <= tw::kMaxTextTableBytes || texts != before) std::abort();
  }
  std::size_t changed = 0;
  for (std::size_t k = 0; k < texts.size(); ++k) {
    if (texts[k].find_first_of("\r\n") != std::string::npos) std::abort();
    if (texts[k] != before[k]) changed = k + 1;
  }
  // Every line end starts at most one more line.
  std::size_t lines = text.empty() ? 0 : 1;
  for (char c : text) lines += c == '\n' || c == '\r';
  if (changed > lines) std::abort();

  const std::string code = tw::ReadLanguageCode(path);
  if (code.find_first_of("\r\n") != std::string::npos || code.size() > text.size()) std::abort();
  const int index = tw::LanguageIndexOfCode(code);
  if (index < -1 || index >= static_cast<int>(tw::kLanguages.size())) std::abort();
  return 0;
}
