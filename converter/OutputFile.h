#pragma once
// How a conversion writes its output file so that a failed or killed run never costs the file that
// already has the output's name: the writer writes a temporary file beside it, and only a complete
// output is moved onto the name. A write that fails, an encoder that fails or a process that is
// killed leaves the previous file as it was (a killed run leaves its temporary file behind, holding
// what it had written).
//
// The temporary file lies in the folder of the file the output's name finally leads to, symbolic
// links followed, so that the move stays on one file system and a link stays a link. Its name is
// short whatever the output's name ("tunewisp-<pid>-<n>.part"), has no leading dot, and is created
// exclusively with the permission bits of the file it will replace. Where no such file can be made
// (a folder the user may not write to, a path too long) or cannot be moved (a file mounted on its
// own), the output is written in place under its own name, as a plain writer would.
//
// One object per conversion, used on the GUI thread: Plan before anything starts, Create when the
// writer is about to run, then Commit after the writer's done event or Discard after its failure.

#include <string>

namespace tw {

class TOutputFile {
 public:
  TOutputFile() = default;
  ~TOutputFile() = default;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Looks at the output name `output` before anything is played or recorded, without harm to a
  // file of that name. False, with the sentence to show in `why`, when it cannot be written: it
  // leads to something other than a regular file (a folder, a FIFO, a device, a socket), an
  // existing file the user may not write, or, for an output written in place, a file that cannot
  // be opened or created. When a temporary file is to be used, one is made and removed again, to
  // know that it can be.
  bool Plan(const std::string& output, std::string& why);

  // Makes the temporary file the writer is to write (nothing for an output written in place).
  // False with the sentence in `why` when it cannot be made.
  bool Create(std::string& why);

  // The name to give the writer: the temporary file, or the output's name when written in place.
  const std::string& WriteName() const { return writeName_; }

  // The writer has ended with the file complete: its data go to disk and the temporary file is
  // moved onto the output's name. False, with a sentence naming both files in `why`, when the move
  // fails; the temporary file then stays, as it holds the whole recording.
  bool Commit(std::string& why);

  // The writer failed: the temporary file goes, and the output's name keeps what it had.
  void Discard();

 private:
  std::string output_;     // as given
  std::string target_;     // the name the output finally leads to, links followed
  std::string folder_;     // target_'s folder, where the temporary file lies
  std::string writeName_;  // what the writer writes
  bool inPlace_ = true;
  bool created_ = false;   // the temporary file exists and is ours
  bool replaces_ = false;  // a file of the output's name exists
  unsigned mode_ = 0;      // its permission bits, which the temporary file gets
};

}  // namespace tw
