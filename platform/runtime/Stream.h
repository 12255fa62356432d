#pragma once
// Byte streams: the run-time library's streams as the components use them. A file source reads its
// file through a TFileStream, a file sink writes through one, and an in-memory image of a file is a
// TMemoryStream. Positions and sizes are 64-bit byte counts.
//
// Failures raise: EFOpenError when a file cannot be opened or created, EReadError when ReadBuffer
// gets fewer bytes than asked, EWriteError when a write cannot be completed (disk full, file
// removed...). Each message names the file and says why.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/runtime/Exception.h"

namespace platform {

class EStreamError : public Exception {
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  TStream() = default;
  virtual ~TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes count bytes; returns how many were written (raises where the failure has a reason).
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // Read or write exactly count bytes, or raise EReadError / EWriteError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);

  // Copies count bytes from source's position (the whole of source from its start when count is
  // 0) to this stream's position; returns the count copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

 protected:
  // What the error messages call the stream ("file "x.wav"", "memory stream").
  virtual std::string Describe() const = 0;
};

// Open modes, combined with a share mode: fmOpenRead | fmShareDenyWrite, fmCreate...
enum : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,  // nobody else may open the file with a share mode meanwhile
  fmShareDenyWrite = 0x0020,  // others may read, nobody may hold it exclusively
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,  // create or truncate, for reading and writing
};

// Which file an open file stream has open, to know it again by its name after the stream is closed.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Removes the name `path` when it still names the file `identity` and that file holds nothing;
// true when it did. For a writer whose failed run wrote nothing to the file it had created: a file
// with data, or another file put under the name meanwhile, stays.
bool RemoveFileIfEmpty(const std::string& path, const FileIdentity& identity);

// Sharing is advisory (flock): it keeps our own openers apart, as the share modes do for the
// programs that use them, and does not stop other programs.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

  const std::string& FileName() const { return fileName_; }
  // False once the name the stream was opened with no longer names the file it has open: the file
  // was deleted, renamed, or replaced by another one. What was written then reached no one.
  bool StillNamed() const;
  FileIdentity Identity() const;

 protected:
  std::string Describe() const override;

 private:
  std::string fileName_;
  int fd_ = -1;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  void Clear();
  const std::uint8_t* Memory() const { return data_.data(); }
  std::uint8_t* Memory() { return data_.data(); }

 protected:
  std::string Describe() const override { return "memory stream"; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

}  // namespace platform
