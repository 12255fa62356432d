#pragma once
// Output file names: the extension swap of the output-type buttons and the conversion list, the
// output name the conversion list gives a dropped file, the order of the list's texts, and the test
// that keeps a conversion from writing over its own input or its temporary recording. Text work,
// apart from SameFile.

#include <string>

namespace tw {

// `name` with its extension replaced by `extension` (which starts with "."), or with `extension`
// appended when it has none. The extension is the text after the last "." of the file name (what
// follows the last "/"), when that text is 1 to 4 ASCII letters or digits: "song.midi" gives
// "song.mp3", while "Track 1. Intro" and "/music/out" keep their whole name and get ".mp3" added.
std::string WithExtension(const std::string& name, const std::string& extension);

// The text after the last "/" or "\" of a path (the whole path when it has neither).
std::string FileNameOf(const std::string& path);

// Where the conversion list writes a dropped file: `directory`, "/", and the dropped file's name
// with its extension swapped for `extension` (which starts with "."). An empty `directory` stands
// for `programFolder`, so an output never lands at the root of the file system.
std::string DroppedOutputName(const std::string& directory, const std::string& droppedPath,
                              const std::string& extension, const std::string& programFolder);

// -1, 0 or 1 as `a` sorts before, with or after `b`, comparing bytes as unsigned characters; a text
// that is the start of the other comes first.
int CompareBytes(const std::string& a, const std::string& b);

// Whether the two names reach the same file, existing or not: the same file through another
// spelling, a link or a hard link counts. Relative names start from the current folder.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tw
