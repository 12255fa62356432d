#include "audio/WaveConverter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/runtime/ByteOrder.h"

using namespace MSAcm;

namespace {

using platform::GetLE32;
using platform::IsChunkId;

// Source bytes handed to the compression manager at a time, and room for what one call decodes.
constexpr std::uint32_t kSourcePiece = 65536;
constexpr std::uint32_t kDestinationPiece = 65536;
// The most samples a compressed frame decodes to (an MPEG-1 layer-3 frame).
constexpr std::uint32_t kLongestFrameSamples = 1152;

void putId(platform::TStream& s, const char* id) { s.WriteBuffer(id, 4); }

void put32(platform::TStream& s, std::uint32_t v) {
  std::uint8_t b[4];
  platform::PutLE32(b, v);
  s.WriteBuffer(b, 4);
}

// The scan for chunk ids reads 8 bytes at every byte offset of the file; served from a window of
// the file kept in memory, so that a file stream is not asked for a seek and a read per byte.
class ScanReader {
 public:
  explicit ScanReader(platform::TStream& s) : stream_(s), length_(s.Size()) {}

  std::int64_t Length() const { return length_; }

  // Reads up to count bytes at pos (fewer at the end of the stream); returns how many.
  std::int64_t ReadAt(std::int64_t pos, void* dst, std::int64_t count) {
    count = std::clamp<std::int64_t>(length_ - pos, 0, count);
    if (count == 0) return 0;
    if (count > kWindow / 2) return direct(pos, dst, count);
    if (pos < start_ || pos + count > start_ + filled_) {
      start_ = pos;
      filled_ = direct(pos, window_.data(), std::min<std::int64_t>(kWindow, length_ - pos));
      count = std::min(count, filled_);
    }
    std::memcpy(dst, window_.data() + (pos - start_), static_cast<std::size_t>(count));
    return count;
  }

 private:
  static constexpr std::int64_t kWindow = 65536;

  std::int64_t direct(std::int64_t pos, void* dst, std::int64_t count) {
    stream_.SetPosition(pos);
    auto* out = static_cast<std::uint8_t*>(dst);
    std::int64_t done = 0;
    while (done < count) {
      const std::int64_t n = stream_.Read(out + done, count - done);
      if (n <= 0) break;
      done += n;
    }
    return done;
  }

  platform::TStream& stream_;
  const std::int64_t length_;
  std::vector<std::uint8_t> window_ = std::vector<std::uint8_t>(
      static_cast<std::size_t>(std::clamp<std::int64_t>(length_, 0, kWindow)));
  std::int64_t start_ = 0;
  std::int64_t filled_ = 0;
};

// Closes a stream, or unprepares a header, on the way out of a failed conversion.
struct StreamCloser {
  HACMSTREAM has;
  ~StreamCloser() {
    if (has) acmStreamClose(has, 0);
  }
};

struct HeaderUnpreparer {
  HACMSTREAM has;
  ACMSTREAMHEADER* header;
  ~HeaderUnpreparer() {
    if (header) acmStreamUnprepareHeader(has, *header, 0);
  }
};

}  // namespace

TWaveConverter::TWaveConverter() {
  std::uint32_t size = 0;
  acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, size);
  FMaxFmtSize = std::min(size, kFormatRecordSize);
  std::fill_n(CurrentFormat.begin(), FMaxFmtSize, 0);
  std::fill_n(NewFormat.begin(), FMaxFmtSize, 0);
}

void TWaveConverter::LoadFromWave(platform::TStream& Stream) {
  ScanReader in(Stream);
  std::uint8_t head[12] = {};
  in.ReadAt(0, head, 12);
  if (!IsChunkId(head, "RIFF") || !IsChunkId(head + 8, "WAVE")) return;
  const std::int64_t length = in.Length();
  std::int64_t n = 12;
  // The 8-byte window (an id and a length) moves one byte at a time; after a body has been read it
  // goes on from the body's last 7 bytes.
  while (n < length - 1) {
    n -= 7;
    std::uint8_t w[8] = {};
    n += in.ReadAt(n, w, 8);
    const std::uint32_t L = GetLE32(w + 4);
    if (IsChunkId(w, "fmt ")) {
      const std::int64_t body = std::min<std::int64_t>(L, length - n);
      if (L <= kFormatRecordSize) {
        n += in.ReadAt(n, CurrentFormat.data(), body);
      } else {
        // A format bigger than the record is not taken; its body is passed over all the same.
        n += std::max<std::int64_t>(body, 0);
      }
    } else if (IsChunkId(w, "fact")) {
      n += std::max<std::int64_t>(std::min<std::int64_t>(L, length - n), 0);
    } else if (IsChunkId(w, "data") && L > 0) {
      const std::int64_t body = std::max<std::int64_t>(std::min<std::int64_t>(L, length - n), 0);
      SetSize(body);
      const std::int64_t got = body > 0 ? in.ReadAt(n, Memory(), body) : 0;
      SetSize(got);
      n += got;
    }
  }
  SetPosition(0);
}

int TWaveConverter::Convert() {
  HACMSTREAM has = nullptr;
  MMRESULT r = acmStreamOpen(&has, nullptr, CurrentFormat, NewFormat, nullptr, 0, 0,
                             ACM_STREAMOPENF_NONREALTIME);
  if (r != MMSYSERR_NOERROR) return static_cast<int>(r);
  // Every exit closes the stream, also the failed ones, so no stream is left behind.
  StreamCloser closer{has};

  if (Size() > 0xFFFFFFFFll) return static_cast<int>(MMSYSERR_INVALPARAM);
  const auto srcLength = static_cast<std::uint32_t>(Size());
  std::uint32_t dstLength = 0;
  r = acmStreamSize(has, srcLength, dstLength, ACM_STREAMSIZEF_SOURCE);
  if (r != MMSYSERR_NOERROR) return static_cast<int>(r);

  // The estimate comes from the byte rate the file declares, which nothing checks against the
  // data: random bytes declaring a low rate would "need" a hundred times their size. So the data
  // is converted in pieces, what it decodes to is all that is held, and data that does not decode
  // is refused at its first piece.
  const std::uint32_t align = std::max<std::uint32_t>(FormatOf(CurrentFormat).nBlockAlign, 1);
  const std::uint32_t srcPiece = align < kSourcePiece ? kSourcePiece - kSourcePiece % align : align;
  std::vector<std::uint8_t> converted;
  std::vector<std::uint8_t> piece(std::clamp<std::uint32_t>(dstLength, 1, kDestinationPiece));
  std::uint32_t offset = 0;
  bool first = true;
  while (converted.size() < dstLength) {
    ACMSTREAMHEADER header;
    header.cbStruct = sizeof(ACMSTREAMHEADER);
    header.pbSrc = Memory() + offset;
    header.cbSrcLength = std::min(srcPiece, srcLength - offset);
    header.pbDst = piece.data();
    header.cbDstLength = static_cast<std::uint32_t>(piece.size());
    const bool last = header.cbSrcLength == srcLength - offset;
    const std::uint32_t from = offset;
    r = acmStreamPrepareHeader(has, header, 0);
    if (r != MMSYSERR_NOERROR) return static_cast<int>(r);
    HeaderUnpreparer unpreparer{has, &header};
    // The decoder keeps what does not fit for the next call: it is asked again, without more
    // source, until it has given everything.
    do {
      r = acmStreamConvert(has, header,
                           ACM_STREAMCONVERTF_BLOCKALIGN | (first ? ACM_STREAMCONVERTF_START : 0));
      if (r != MMSYSERR_NOERROR) return static_cast<int>(r);
      first = false;
      offset += header.cbSrcLengthUsed;
      const std::uint32_t room = dstLength - static_cast<std::uint32_t>(converted.size());
      converted.insert(converted.end(), piece.begin(),
                       piece.begin() + std::min(header.cbDstLengthUsed, room));
      header.cbSrcLength = 0;
    } while (header.cbDstLengthUsed == header.cbDstLength && converted.size() < dstLength);
    unpreparer.header = nullptr;
    r = acmStreamUnprepareHeader(has, header, 0);
    if (r != MMSYSERR_NOERROR) return static_cast<int>(r);
    if (last || offset == from) break;  // a tail shorter than a block is not converted
  }

  std::copy_n(NewFormat.begin(), FMaxFmtSize, CurrentFormat.begin());
  // The estimate, as the manager gives it, when the data decodes to about that much: the part of
  // the last frame the decoder did not fill is silence. Never more than one frame beyond what the
  // data decoded to.
  const std::uint64_t frameBytes = std::uint64_t{kLongestFrameSamples} *
                                   std::max<std::uint32_t>(FormatOf(NewFormat).nBlockAlign, 1);
  const auto size =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(dstLength, converted.size() + frameBytes));
  converted.resize(size, 0);
  SetSize(size);
  SetPosition(0);
  if (size > 0) WriteBuffer(converted.data(), size);

  closer.has = nullptr;
  r = acmStreamClose(has, 0);
  return static_cast<int>(r);
}

int TWaveConverter::SaveWaveTo(platform::TStream& Stream) {
  const std::int64_t position = Position();
  int result = 0;
  try {
    putId(Stream, "RIFF");
    put32(Stream, 0);
    putId(Stream, "WAVE");
    putId(Stream, "fmt ");
    put32(Stream, 16);
    Stream.WriteBuffer(CurrentFormat.data(), 16);
    putId(Stream, "data");
    put32(Stream, static_cast<std::uint32_t>(Size()));
    if (Size() > 0) Stream.WriteBuffer(Memory(), Size());
    Stream.SetPosition(0);
    putId(Stream, "RIFF");
    put32(Stream, static_cast<std::uint32_t>(Stream.Size() - 8));
  } catch (const platform::Exception&) {
    result = MCIERR_FILE_NOT_SAVED;
  }
  SetPosition(position);
  return result;
}
