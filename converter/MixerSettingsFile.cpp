#include "converter/MixerSettingsFile.h"

#include "converter/Errors.h"
#include "converter/LangTable.h"
#include "platform/runtime/WholeFile.h"

namespace tw {

void getfromstrxml(const std::string& Line, const std::string& Tag, std::string& Value) {
  const std::string open = "<" + Tag + ">";
  const std::string close = "</" + Tag + ">";
  // 1-based positions as the format's readers have always counted them: 0 means "absent", so a
  // missing opening tag makes the value start right after where a tag at position 1 would end.
  const std::size_t foundOpen = Line.find(open);
  const std::size_t foundClose = Line.find(close);
  const long p1 = foundOpen == std::string::npos ? 0 : static_cast<long>(foundOpen) + 1;
  const long p2 = foundClose == std::string::npos ? 0 : static_cast<long>(foundClose) + 1;
  long start = p1 + static_cast<long>(open.size());
  if (start < 1) start = 1;
  const long count = p2 - start;
  if (count <= 0 || start > static_cast<long>(Line.size())) {
    Value.clear();
    return;
  }
  Value = Line.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
}

std::string FormatSettingsLine(const MixerSettingsLine& l) {
  auto field = [](const char* tag, int v) {
    return std::string("<") + tag + ">" + std::to_string(v) + "</" + tag + ">";
  };
  return field("A", l.A) + field("B", l.B) + field("C", l.C) + field("L", l.L) + field("R", l.R) +
         field("M", l.M);
}

MixerSettingsLine ParseSettingsLine(const std::string& line) {
  auto field = [&](const char* tag) {
    std::string value;
    getfromstrxml(line, tag, value);
    int number = 0;
    if (TryStrToInt(value, number)) return number;
    const std::string name = std::string("<") + tag + ">";
    throw EConvertError(value.empty() ? "The " + name + " field is missing or empty."
                                      : "The " + name + " field holds \"" + value +
                                            "\", which is not a whole number.");
  };
  MixerSettingsLine l;
  l.A = field("A");
  l.B = field("B");
  l.C = field("C");
  l.L = field("L");
  l.R = field("R");
  l.M = field("M");
  return l;
}

void ApplySettingsFile(const std::string& path,
                       const std::function<void(const MixerSettingsLine&)>& apply) {
  const std::string content = ReadWholeFile(path, kMaxSettingsFileBytes);
  std::size_t start = 0;
  for (int number = 1; start < content.size(); ++number) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = content.size();
    MixerSettingsLine line;
    try {
      line = ParseSettingsLine(content.substr(start, end - start));
    } catch (const EConvertError& e) {
      throw EConvertError("Line " + std::to_string(number) + " of the mixer settings file \"" +
                              path + "\" cannot be read: " + e.what(),
                          {path, number, e.what()});
    }
    apply(line);
    start = end + 1;
    if (end < content.size() && content[end] == '\r' && start < content.size() &&
        content[start] == '\n')
      ++start;
  }
}

void WriteSettingsFile(const std::string& path, const std::vector<MixerSettingsLine>& lines) {
  std::string content;
  for (const auto& l : lines) content += FormatSettingsLine(l) + "\r\n";
  std::string why;
  if (!platform::ReplaceWholeFile(path, content, why))
    throw EInOutError("Cannot write file \"" + path + "\": " + why);
}

}  // namespace tw
