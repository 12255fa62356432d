#include "converter/ProgramFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace tw {
namespace {

std::mutex overrideMutex;  // guards folderOverride
std::string folderOverride;

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  return exe.parent_path().string();
}

}  // namespace

std::string ProgramFolder() {
  {
    std::lock_guard lock(overrideMutex);
    if (!folderOverride.empty()) return folderOverride;
  }
  static const std::string folder = ExecutableFolder();
  return folder;
}

void SetProgramFolder(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  std::lock_guard lock(overrideMutex);
  folderOverride = f;
}

std::string ProgramFile(const std::string& name) { return ProgramFolder() + "/" + name; }

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

TProgramFolderLock::TProgramFolderLock(const std::string& folder, const std::string& lockFile) {
  // Close-on-exec: the wizard, started for the hand-over, must not keep the folder held when it
  // starts Tunewisp again.
  fd_ = ::open((folder + "/" + lockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  held_ = result == 0 || errno != EWOULDBLOCK;
}

TProgramFolderLock::~TProgramFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool CanWriteFile(const std::string& path, std::string& why) {
  // Without O_NONBLOCK, opening a FIFO for writing waits for a reader, for ever if none comes.
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  bool created = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  if (fd < 0) {
    why = errno == ENXIO ? "it is not a file" : std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (known && !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = "it is not a file";
    return false;
  }
  // Only the probe's own file goes, and only while nobody has written into it meanwhile.
  if (created && known && st.st_size == 0) ::unlink(path.c_str());
  ::close(fd);
  return true;
}

}  // namespace tw
