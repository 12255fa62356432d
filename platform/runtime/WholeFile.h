#pragma once
// Reading a whole file into memory: the one reader behind every file the card, its devices and the
// programs load at once (MIDI and wave files, the mixer state, language and settings files).

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class WholeFileRead {
  Ok,
  CannotOpen,  // missing, unreadable or a read failed; errno says why
  NotAFile,    // a folder or another non-regular file
  TooLarge,    // more than the caller's limit; nothing was read
};

// Reads the regular file `path` into `bytes` (replacing its content) when it holds at most
// `maxBytes` bytes. On anything but Ok, `bytes` is left empty.
WholeFileRead ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes);
WholeFileRead ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                            std::vector<std::uint8_t>& bytes);

}  // namespace platform
