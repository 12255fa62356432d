#include "platform/runtime/Stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  std::int64_t got = count > 0 ? Read(buffer, count) : 0;
  if (got != std::max<std::int64_t>(count, 0))
    throw EReadError("Cannot read from " + Describe() + ": it ends before the expected data.");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count <= 0) return;
  if (Write(buffer, count) != count)
    throw EWriteError("Cannot write to " + Describe() + ": not every byte could be written.");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::int64_t>(count, 65536)));
  std::int64_t left = count;
  while (left > 0) {
    std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size()));
    source.ReadBuffer(block.data(), n);
    WriteBuffer(block.data(), n);
    left -= n;
  }
  return count;
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  const bool create = (mode & 0xFF00) == fmCreate;
  int flags = O_CLOEXEC;
  if (create)
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  else if ((mode & 3) == fmOpenReadWrite)
    flags |= O_RDWR;
  else if ((mode & 3) == fmOpenWrite)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  fd_ = ::open(fileName.c_str(), flags, 0644);
  if (fd_ < 0) {
    int error = errno;
    throw EFOpenError(std::string(create ? "Cannot create file \"" : "Cannot open file \"") +
                      fileName + "\": " + Reason(error) + ".");
  }
  int lockMode = 0;
  if (!create && (mode & 0xF0) == fmShareExclusive) lockMode = LOCK_EX;
  if (!create && (mode & 0xF0) == fmShareDenyWrite) lockMode = LOCK_SH;
  if (lockMode && ::flock(fd_, lockMode | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError(
        "Cannot open file \"" + fileName + "\": " +
        (error == EWOULDBLOCK ? std::string("it is in use by another program") : Reason(error)) +
        ".");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

bool TFileStream::StillNamed() const {
  struct stat open {
  }, named{};
  if (::fstat(fd_, &open) != 0 || ::stat(fileName_.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

FileIdentity TFileStream::Identity() const {
  struct stat open {};
  if (::fstat(fd_, &open) != 0) return {};
  return {static_cast<std::uint64_t>(open.st_dev), static_cast<std::uint64_t>(open.st_ino)};
}

bool RemoveFileIfEmpty(const std::string& path, const FileIdentity& identity) {
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_size != 0)
    return false;
  const FileIdentity found{static_cast<std::uint64_t>(named.st_dev),
                           static_cast<std::uint64_t>(named.st_ino)};
  return found == identity && ::unlink(path.c_str()) == 0;
}

std::string TFileStream::Describe() const { return "file \"" + fileName_ + "\""; }

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, out + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      throw EReadError("Cannot read from " + Describe() + ": " + Reason(error) + ".");
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, in + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;
      throw EWriteError("Cannot write to " + Describe() + ": " + Reason(error) + ".");
    }
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) {
    int error = errno;
    throw EStreamError("Cannot move in " + Describe() + ": " + Reason(error) + ".");
  }
  return at;
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    int error = errno;
    throw EStreamError("Cannot get the size of " + Describe() + ": " + Reason(error) + ".");
  }
  return st.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    int error = errno;
    throw EWriteError("Cannot change the size of " + Describe() + ": " + Reason(error) + ".");
  }
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t n =
      std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) data_.resize(static_cast<std::size_t>(position_ + count));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
  std::int64_t at = base + offset;
  if (at < 0) throw EStreamError("Cannot move before the start of a memory stream.");
  position_ = at;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

}  // namespace platform
