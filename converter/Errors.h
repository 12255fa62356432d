#pragma once
// The two run-time failures the converter's file code reports: a file that cannot be opened, read
// or written, and a text that is not an integer. The windows catch them and show their message.

#include <stdexcept>
#include <string>
#include <utility>

namespace tw {

// What went wrong with a file, in parts, beside the English sentence of what(): a window puts the
// file (and line) into a sentence of the user's language and adds the reason as it stands.
struct FileFault {
  std::string path;    // empty: the failure concerns no file
  int line = 0;        // 1-based line of a text file; 0 for the file as a whole
  std::string reason;  // a sentence saying why
};

class EFileError : public std::runtime_error {
 public:
  explicit EFileError(const std::string& message, FileFault fault = {})
      : std::runtime_error(message), fault_(std::move(fault)) {}
  const FileFault& Fault() const { return fault_; }

 private:
  FileFault fault_;
};

class EInOutError : public EFileError {
 public:
  using EFileError::EFileError;
};

class EConvertError : public EFileError {
 public:
  using EFileError::EFileError;
};

// Plain signed decimal: an optional sign and 1 to n digits, nothing else (no blanks), within the
// range of a signed 32-bit integer. Anything else throws EConvertError("'text' is not a valid
// integer value").
int StrToInt(const std::string& text);

// The same rule without the exception.
bool TryStrToInt(const std::string& text, int& value);

}  // namespace tw
