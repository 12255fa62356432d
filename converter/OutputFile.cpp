#include "converter/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "converter/ProgramFolder.h"
#include "platform/runtime/WholeFile.h"

// Set on a file or folder that is the root of a mount (Linux 5.8 and later).
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace tw {
namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string CannotCreate(const std::string& name, int error) {
  return "Cannot create file " + Quoted(name) + ": " + std::strerror(error) + ".";
}

// What a file that is not a regular file is, for the sentence refusing it.
const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// A file mounted over another (a bind mount of a single file) cannot be replaced by a rename.
bool MountedOnItsOwn(const std::string& path, const struct stat& st) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  // An older kernel does not tell; a file on another device than its folder is mounted.
  struct stat folder {};
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return ::stat(parent.empty() ? "." : parent.c_str(), &folder) == 0 && folder.st_dev != st.st_dev;
}

// Creates a new file with a name of its own in `folder`, exclusively; its descriptor, or -1 with
// errno set.
int MakeTemporary(const std::string& folder, std::string& name) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string file = "tunewisp-" + std::to_string(::getpid()) + "-" +
                             std::to_string(serial.fetch_add(1)) + ".part";
    name = folder.empty() ? file : (std::filesystem::path(folder) / file).string();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool TOutputFile::Plan(const std::string& output, std::string& why) {
  output_ = output;
  target_ = platform::FinalLinkTarget(output);
  folder_ = std::filesystem::path(target_).parent_path().string();
  writeName_ = output;
  inPlace_ = true;
  created_ = false;
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    why = CannotCreate(output, errno);
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    why = "The output file " + Quoted(output) + " is " + Kind(st.st_mode) + ", not a file.";
    return false;
  }
  // A rename would replace a file the user may not write; it is refused as a plain write is.
  if (exists && ::access(target_.c_str(), W_OK) != 0) {
    why = CannotCreate(output, errno);
    return false;
  }
  replaces_ = exists;
  mode_ = st.st_mode & 07777;
  if (!(exists && MountedOnItsOwn(target_, st))) {
    std::string probe;
    const int fd = MakeTemporary(folder_, probe);
    if (fd >= 0) {
      ::close(fd);
      ::unlink(probe.c_str());
      inPlace_ = false;
      return true;
    }
    // Where no file of ours can be made beside it, the output is written as it is; any other
    // failure (a missing folder, a full disk) would hit the output all the same.
    if (errno != EACCES && errno != EPERM && errno != ENAMETOOLONG) {
      why = CannotCreate(output, errno);
      return false;
    }
  }
  std::string reason;
  if (!CanWriteFile(output, reason)) {
    why = "Cannot create file " + Quoted(output) + ": " + reason + ".";
    return false;
  }
  return true;
}

bool TOutputFile::Create(std::string& why) {
  if (inPlace_) return true;
  std::string name;
  const int fd = MakeTemporary(folder_, name);
  if (fd < 0) {
    why = CannotCreate(name, errno);
    return false;
  }
  // The new file is to take the old one's place: the same permissions, whatever the umask.
  if (replaces_) ::fchmod(fd, mode_);
  ::close(fd);
  writeName_ = name;
  created_ = true;
  return true;
}

bool TOutputFile::Commit(std::string& why) {
  if (!created_) return true;
  created_ = false;
  int error = 0;
  // On disk before the move: a power loss after it must not leave the name on a file whose data
  // never arrived.
  const int fd = ::open(writeName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) error = errno;
  if (fd >= 0) ::close(fd);
  if (error == 0 && ::rename(writeName_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    why = "The recording could not be moved from " + Quoted(writeName_) + " to " + Quoted(output_) +
          ": " + std::strerror(error) + ". The whole recording is in " + Quoted(writeName_) + ".";
    return false;
  }
  // The move itself reaches the disk with its folder.
  const int dir =
      ::open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void TOutputFile::Discard() {
  if (!created_) return;
  created_ = false;
  ::unlink(writeName_.c_str());
}

}  // namespace tw
