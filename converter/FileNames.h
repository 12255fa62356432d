#pragma once
// Output file names: the extension swap of the output-type buttons and the conversion list, the
// output name the conversion list gives a dropped file, the order of the list's texts, and the test
// that keeps a conversion from writing over its own input or its temporary recording. Text work,
// apart from FileIdentity, SameFile and ListFiles.

#include <string>
#include <unordered_set>

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

// What a name reaches, for telling whether two names reach the same file: an existing file by its
// device and inode (another spelling, a link or a hard link to it gives the same identity), a file
// still to be written by the absolute name the writer would create: a final symbolic link (a chain
// of them) followed to the name it leads to, and the folders' links resolved. Relative names start
// from the current folder. Empty when neither can be told.
std::string FileIdentity(const std::string& name);

// Whether the two names reach the same file, existing or not (their identities are the same).
bool SameFile(const std::string& a, const std::string& b);

// The files the rows of a conversion list read and write, by identity, so that the list never
// destroys a file of its own: one row writing over another row's output, or over the MIDI file
// another row reads, or reading a file another row writes.
class ListFiles {
 public:
  // Takes a row's files as they are.
  void Add(const std::string& input, const std::string& output);
  // Takes a row with these names unless its output reaches a file a row taken so far reads or
  // writes, or its input reaches a file such a row writes. False, taking nothing, when refused.
  bool Admit(const std::string& input, const std::string& output);

 private:
  void AddIdentities(const std::string& in, const std::string& out);
  std::unordered_set<std::string> inputs_, outputs_;
};

}  // namespace tw
