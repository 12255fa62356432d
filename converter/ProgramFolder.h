#pragma once
// The program folder: the folder of the running executable. Both programs keep every file of theirs
// there (settings files, language files, the temporary recording, each other's executable).

#include <string>

namespace tw {

// The folder without a trailing separator, e.g. "/opt/tunewisp/bin".
std::string ProgramFolder();

// Makes ProgramFolder() return `folder` (trailing separators removed) instead of the executable's
// folder; an empty text goes back to the executable's folder. Tests use it to run in a folder of
// their own.
void SetProgramFolder(const std::string& folder);

// ProgramFolder() + "/" + name.
std::string ProgramFile(const std::string& name);

// Whether a file (or anything else) of that name exists.
bool FileExists(const std::string& path);

// Holds a program folder for one running copy of a program: two copies of Tunewisp in one folder
// would record into the same temporary file and overwrite each other's files, two wizards would
// take each other's zeroed lines for the user's state. The hold is a lock on the file `lockFile`
// in the folder, which the system lets go when the process ends, however it ends; programs the
// holder starts do not inherit it.
class TProgramFolderLock {
 public:
  explicit TProgramFolderLock(const std::string& folder,
                              const std::string& lockFile = "tunewisp.lock");
  ~TProgramFolderLock();
  TProgramFolderLock(const TProgramFolderLock&) = delete;
  TProgramFolderLock& operator=(const TProgramFolderLock&) = delete;

  // False when another process holds the folder. A folder where the lock file cannot be made
  // counts as held: no copy can write its files there either.
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = true;
};

// Whether the file `path` can be written, found out without harm to it: a file that is there is
// opened for writing but not truncated; a missing one is created and, when still empty, removed
// again. Returns false with the reason in `why` when it cannot be written, or is not a regular file
// (a FIFO is not waited for).
bool CanWriteFile(const std::string& path, std::string& why);

}  // namespace tw
