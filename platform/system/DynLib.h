#pragma once
// Dynamic libraries: LoadLibraryExA, GetProcAddress and FreeLibrary over dlopen.
//
// The programs name the encoder libraries by their Windows file names. Those names map to the
// Debian sonames of the same libraries (case does not matter, as on Windows):
//   lame_enc.dll -> libmp3lame.so.0     ogg.dll -> libogg.so.0         vorbis.dll -> libvorbis.so.0
//   vorbisenc.dll -> libvorbisenc.so.2  vorbisfile.dll -> libvorbisfile.so.3  MADLib.dll ->
//   libmad.so.0
// Any other name is used as it stands. A name without a '/' is looked for in the program folder
// (the folder of the running executable) first, then through the system's usual library search.
//
// Loads and frees are counted per library, as on Windows: a library stays loaded until every
// successful LoadLibraryExA has been matched by a FreeLibrary.
//
// Tests can make a library or an entry point "missing":
//   - the environment variable TW_REFUSE_LIBRARIES lists library names (Windows names or sonames)
//     that LoadLibraryExA refuses as if the file did not exist;
//   - TW_REFUSE_SYMBOLS lists entry-point names that GetProcAddress reports as absent;
//   - SetRefusedLibraries / SetRefusedSymbols add lists of their own from code.
// Lists are separated by commas or blanks. The environment is read at every call.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ModuleTag;
using HMODULE = ModuleTag*;  // null: no library
using FARPROC = void (*)();  // an entry point of unknown type; cast to its real type before calling

// Loads the library `fileName` (see the mapping above). `file` and `flags` are accepted for the
// callers' sake and must be null and 0. Returns null when the library cannot be loaded or is
// refused.
HMODULE LoadLibraryExA(const char* fileName, void* file = nullptr, std::uint32_t flags = 0);

// The entry point `procName` of `module`, or null when the library lacks it, it is refused, or
// `module` is null.
FARPROC GetProcAddress(HMODULE module, const char* procName);

// Drops one load of `module`. Returns false for a null module or when the system refuses.
bool FreeLibrary(HMODULE module);

// The file name a library name is loaded under: the soname for a known Windows name, else the name.
std::string LibraryFileName(const std::string& fileName);

// Code-side lists of refused names (added to those of the environment); an empty list clears.
void SetRefusedLibraries(std::vector<std::string> names);
void SetRefusedSymbols(std::vector<std::string> names);

}  // namespace platform
