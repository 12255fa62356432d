#pragma once
// Reading a whole file into memory: the one reader behind every file the card, its devices and the
// programs load at once (MIDI and wave files, the mixer state, language and settings files); and
// replacing a whole file safely, for the programs' small text files.

#include <cstdint>
#include <string>
#include <string_view>
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

// Reads at most the first `maxBytes` bytes of the regular file `path` into `bytes`, for a file of
// which only the start matters; the rest is not read. Never TooLarge.
WholeFileRead ReadFileStart(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Replaces the file `path` with `content`: writes a new file in the same folder and renames it over
// the old one, so that a failed write (a full disk) leaves the old file as it was, never an empty
// or half-written one. The new file's name is short, whatever the length of `path`'s name, and
// starts with a dot and ends with digits, so no listing by extension takes it for one of the
// programs' files. A file that was there keeps its permissions, and a symbolic link stays a
// link to the file replaced. Returns false with the reason in `error` when the file cannot be
// replaced; nothing is left behind then.
bool ReplaceWholeFile(const std::string& path, std::string_view content, std::string& error);

// The name a write to `path` finally reaches: when `path` is a symbolic link, the name it leads to,
// through chains of links, each relative target taken from its link's folder; the target need not
// exist. `path` itself when it is no link. A loop of links ends after 40 steps at the name reached.
std::string FinalLinkTarget(const std::string& path);

}  // namespace platform
