#include "platform/runtime/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

 private:
  int fd_;
};

template <class Bytes>
WholeFileRead Read(const std::string& path, std::uint64_t maxBytes, Bytes& bytes) {
  bytes.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return WholeFileRead::CannotOpen;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return WholeFileRead::CannotOpen;
  if (!S_ISREG(st.st_mode)) return WholeFileRead::NotAFile;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return WholeFileRead::TooLarge;
  // The size is only a hint: a file that grows while it is read is read to its end, up to the
  // limit.
  bytes.resize(static_cast<std::size_t>(st.st_size));
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

}  // namespace platform
