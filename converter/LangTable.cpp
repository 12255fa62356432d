#include "converter/LangTable.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "converter/Errors.h"
#include "platform/runtime/WholeFile.h"

namespace tw {
namespace {

// Splits at LF, CR LF and CR. A line end after the last line adds no line.
template <typename Fn>
void ForEachLine(const std::string& text, Fn&& fn) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      fn(text.substr(start));
      return;
    }
    if (!fn(text.substr(start, end - start))) return;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

}  // namespace

int LanguageIndexOfCode(const std::string& code) {
  for (std::size_t i = 0; i < kLanguages.size(); ++i)
    if (code == kLanguages[i].code) return static_cast<int>(i);
  return -1;
}

namespace {

// Throws the EInOutError for a read of `path` that gave `result` (not Ok); errno tells why a file
// could not be opened.
[[noreturn]] void ThrowReadError(const std::string& path, platform::WholeFileRead result,
                                 std::uint64_t maxBytes) {
  switch (result) {
    case platform::WholeFileRead::NotAFile:
      throw EInOutError("Cannot read \"" + path + "\": it is not a file",
                        {path, 0, "It is a folder or a device, not a file."});
    case platform::WholeFileRead::TooLarge: {
      const std::string limit = std::to_string(maxBytes / 1024) + " KiB";
      throw EInOutError(
          "Cannot read \"" + path + "\": it is larger than " + limit,
          {path, 0, "The file is larger than " + limit + ", more than a file of its kind holds."});
    }
    case platform::WholeFileRead::Ok:
    case platform::WholeFileRead::CannotOpen:
      break;
  }
  const std::string reason = errno ? std::strerror(errno) : "The file cannot be opened";
  throw EInOutError("Cannot open file \"" + path + "\": " + reason, {path, 0, reason + "."});
}

}  // namespace

std::string ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
  std::string content;
  errno = 0;
  const platform::WholeFileRead result = platform::ReadWholeFile(path, maxBytes, content);
  if (result != platform::WholeFileRead::Ok) ThrowReadError(path, result, maxBytes);
  return content;
}

namespace {

int ParseTextTable(const std::string& content, TLangTexts& texts) {
  std::size_t k = 0;
  ForEachLine(content, [&](std::string line) {
    texts[k++] = std::move(line);
    return k < texts.size();
  });
  return static_cast<int>(k);
}

}  // namespace

int LoadTextTable(const std::string& path, TLangTexts& texts) {
  return ParseTextTable(ReadWholeFile(path, kMaxTextTableBytes), texts);
}

const TLangTexts& BuiltInEnglish() {
  static const TLangTexts texts = [] {
    TLangTexts t;
    ParseTextTable(BuiltInEnglishTable(), t);
    return t;
  }();
  return texts;
}

std::string ReadLanguageCode(const std::string& path) {
  std::string content;
  errno = 0;
  const platform::WholeFileRead result =
      platform::ReadFileStart(path, kMaxLanguageCodeBytes, content);
  if (result != platform::WholeFileRead::Ok) ThrowReadError(path, result, kMaxLanguageCodeBytes);
  std::string first;
  ForEachLine(content, [&](std::string line) {
    first = std::move(line);
    return false;
  });
  return first;
}

void WriteLanguageFile(const std::string& path, const std::string& code) {
  std::string why;
  if (!platform::ReplaceWholeFile(path, code + "\r\n", why))
    throw EInOutError("Cannot write file \"" + path + "\": " + why);
}

}  // namespace tw
