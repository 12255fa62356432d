#pragma once
// The few file calls the programs make directly: the size probe (CreateFileA, GetFileSize,
// CloseHandle) and changing the current folder (SetCurrentDirectoryA).

#include <cstdint>

namespace platform {

using HANDLE = std::intptr_t;  // an open file: its descriptor
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t FILE_SHARE_READ = 1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 2;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// Opens a regular file. Only the access and creation arguments matter here; sharing is not
// enforced. Returns INVALID_HANDLE_VALUE when the file cannot be opened (or is a folder).
HANDLE CreateFileA(const char* lpFileName, std::uint32_t dwDesiredAccess, std::uint32_t dwShareMode,
                   void* lpSecurityAttributes, std::uint32_t dwCreationDisposition,
                   std::uint32_t dwFlagsAndAttributes, HANDLE hTemplateFile);

// Low 32 bits of the size; the high 32 bits go to *lpFileSizeHigh when it is given.
// 0xFFFFFFFF when the handle is invalid.
std::uint32_t GetFileSize(HANDLE hFile, std::uint32_t* lpFileSizeHigh);

bool CloseHandle(HANDLE hObject);

bool SetCurrentDirectoryA(const char* lpPathName);

}  // namespace platform
