#include "platform/system/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

HANDLE CreateFileA(const char* lpFileName, std::uint32_t dwDesiredAccess,
                   std::uint32_t /*dwShareMode*/, void* /*lpSecurityAttributes*/,
                   std::uint32_t dwCreationDisposition, std::uint32_t /*dwFlagsAndAttributes*/,
                   HANDLE /*hTemplateFile*/) {
  if (!lpFileName) return INVALID_HANDLE_VALUE;
  const bool read = dwDesiredAccess & GENERIC_READ;
  const bool write = dwDesiredAccess & GENERIC_WRITE;
  int flags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (dwCreationDisposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
  // Without O_NONBLOCK, opening a FIFO waits for the other end, for ever if none comes; nothing
  // but a regular file is taken anyway.
  const int fd = ::open(lpFileName, flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::uint32_t GetFileSize(HANDLE hFile, std::uint32_t* lpFileSizeHigh) {
  struct stat st {};
  if (hFile < 0 || ::fstat(static_cast<int>(hFile), &st) != 0) return 0xFFFFFFFFu;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
  return static_cast<std::uint32_t>(size);
}

bool CloseHandle(HANDLE hObject) { return hObject >= 0 && ::close(static_cast<int>(hObject)) == 0; }

bool SetCurrentDirectoryA(const char* lpPathName) { return lpPathName && ::chdir(lpPathName) == 0; }

}  // namespace platform
