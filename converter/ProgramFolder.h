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

}  // namespace tw
