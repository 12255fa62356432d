#pragma once
// The two run-time failures the converter's file code reports: a file that cannot be opened, read
// or written, and a text that is not an integer. The windows catch them and show their message.

#include <stdexcept>
#include <string>

namespace tw {

class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Plain signed decimal: an optional sign and 1 to n digits, nothing else (no blanks), within the
// range of a signed 32-bit integer. Anything else throws EConvertError("'text' is not a valid
// integer value").
int StrToInt(const std::string& text);

// The same rule without the exception.
bool TryStrToInt(const std::string& text, int& value);

}  // namespace tw
