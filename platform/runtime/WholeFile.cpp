#include "platform/runtime/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace platform {
namespace {

// Closes the descriptor without disturbing errno, which tells the caller why a read failed.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ < 0) return;
    const int saved = errno;
    ::close(fd_);
    errno = saved;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Opens `path` for reading when it is a regular file; `size` is its size then.
WholeFileRead OpenRegular(const std::string& path, Fd& fd, std::uint64_t& size) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer, for ever if none comes. A regular file
  // reads the same either way, and nothing else is read.
  fd.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return WholeFileRead::CannotOpen;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return WholeFileRead::CannotOpen;
  if (!S_ISREG(st.st_mode)) return WholeFileRead::NotAFile;
  size = static_cast<std::uint64_t>(st.st_size);
  return WholeFileRead::Ok;
}

template <class Bytes>
WholeFileRead Read(const std::string& path, std::uint64_t maxBytes, Bytes& bytes) {
  bytes.clear();
  Fd fd(-1);
  std::uint64_t size = 0;
  if (const WholeFileRead opened = OpenRegular(path, fd, size); opened != WholeFileRead::Ok)
    return opened;
  if (size > maxBytes) return WholeFileRead::TooLarge;
  // The size is only a hint: a file that grows while it is read is read to its end, up to the
  // limit.
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() >= maxBytes) {
        // At the limit: one more byte means the file is larger than allowed.
        char probe;
        const ssize_t n = ::read(fd.get(), &probe, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (n > 0) {
          bytes.clear();
          return WholeFileRead::TooLarge;
        }
        return WholeFileRead::Ok;
      }
      bytes.resize(std::min<std::uint64_t>(maxBytes, bytes.size() + 4096 + bytes.size() / 2));
    }
    const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      bytes.resize(used);
      return WholeFileRead::Ok;
    }
    used += static_cast<std::size_t>(n);
  }
  const int saved = errno;
  bytes.clear();
  errno = saved;
  return WholeFileRead::CannotOpen;
}

}  // namespace

WholeFileRead ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes) {
  return Read(path, maxBytes, bytes);
}

WholeFileRead ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                            std::vector<std::uint8_t>& bytes) {
  return Read(path, maxBytes, bytes);
}

WholeFileRead ReadFileStart(const std::string& path, std::size_t maxBytes, std::string& bytes) {
  bytes.clear();
  Fd fd(-1);
  std::uint64_t size = 0;
  if (const WholeFileRead opened = OpenRegular(path, fd, size); opened != WholeFileRead::Ok)
    return opened;
  bytes.resize(maxBytes);
  std::size_t used = 0;
  while (used < maxBytes) {
    const ssize_t n = ::read(fd.get(), bytes.data() + used, maxBytes - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      bytes.clear();
      errno = saved;
      return WholeFileRead::CannotOpen;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  bytes.resize(used);
  return WholeFileRead::Ok;
}

std::string FinalLinkTarget(const std::string& path) {
  std::filesystem::path target(path);
  std::error_code ec;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, ec); ++hops) {
    const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
    if (ec) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target.string();
}

bool ReplaceWholeFile(const std::string& linkOrPath, std::string_view content, std::string& error) {
  // A name that is a symbolic link keeps it: the file it leads to is the one replaced.
  const std::filesystem::path target(FinalLinkTarget(linkOrPath));
  const std::string path = target.string();
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) {
    error = "it is not a file";
    return false;
  }
  // A name of its own per process and call, created exclusively: a new file gets the permissions
  // the user's umask gives, a replaced one keeps its own.
  static std::atomic<unsigned> serial{0};
  int fd = -1;
  std::string temp;
  // A name of the file's own length plus a suffix would not fit beside a name near the file
  // system's limit: the temporary name is short instead, and it stays in the same folder, so that
  // the rename is atomic.
  const std::filesystem::path folder = target.parent_path();
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    const std::string name = ".new-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    temp = folder.empty() ? name : (folder / name).string();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  int failure = 0;
  if (existed && ::fchmod(fd, old.st_mode & 07777) != 0) failure = errno;
  for (std::size_t at = 0; failure == 0 && at < content.size();) {
    const ssize_t n = ::write(fd, content.data() + at, content.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : ENOSPC;
      break;
    }
    at += static_cast<std::size_t>(n);
  }
  // On disk before the rename, so that a crash cannot leave the new name on an empty file.
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temp.c_str());
    error = std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace platform
