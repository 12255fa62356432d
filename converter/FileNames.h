#pragma once
// Output file names: the extension swap of the output-type buttons and the conversion list, and the
// test that keeps a conversion from writing over its own input or its temporary recording.

#include <string>

namespace tw {

// `name` with its extension replaced by `extension` (which starts with "."), or with `extension`
// appended when it has none. The extension is the text after the last "." of the file name (what
// follows the last "/"), when that text is 1 to 4 ASCII letters or digits: "song.midi" gives
// "song.mp3", while "Track 1. Intro" and "/music/out" keep their whole name and get ".mp3" added.
std::string WithExtension(const std::string& name, const std::string& extension);

// Whether the two names reach the same file, existing or not: the same file through another
// spelling, a link or a hard link counts. Relative names start from the current folder.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tw
