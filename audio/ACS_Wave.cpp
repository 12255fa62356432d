#include "audio/ACS_Wave.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "audio/WaveConverter.h"
#include "platform/runtime/ByteOrder.h"

namespace {

using platform::GetLE16;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;

constexpr std::int64_t kWalkLimit = 8192;   // bytes the header walk may consume
constexpr std::int64_t kWalkWindow = 4096;  // bytes of a chunk body the walk keeps

std::int16_t GetS16(const std::uint8_t* p) { return static_cast<std::int16_t>(GetLE16(p)); }
void PutId(std::uint8_t* p, const char* id) { std::memcpy(p, id, 4); }

void Write32At(platform::TStream& s, std::int64_t at, std::uint32_t v) {
  std::uint8_t b[4];
  PutLE32(b, v);
  s.SetPosition(at);
  s.WriteBuffer(b, 4);
}

int ClampToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<int>::max()));
}

// Samples per channel in one IMA ADPCM block, computed in 16 bits as the format defines it.
int ImaSamplesPerBlock(int channels, int blockSize) {
  return (2 / channels) * (blockSize - 4 * channels) + 1;
}

// Whether IMA ADPCM blocks of this size fit the block layout for this channel count, and their
// samples per block the 16-bit field of the header (mono blocks above 32 KB do not).
bool ImaLayoutFits(int channels, int blockSize) {
  const bool layout = channels == 1   ? blockSize >= 4 && blockSize % 4 == 0
                      : channels == 2 ? blockSize >= 8 && blockSize % 8 == 0
                                      : false;
  return layout && ImaSamplesPerBlock(channels, blockSize) <= 0xFFFF;
}

// One IMA ADPCM expansion step: the code applied to predictor and step index.
std::int16_t ImaExpand(int code, int& predictor, int& index) {
  const int step = kImaStepTable[index];
  int delta = step >> 3;
  if (code & 4) delta += step;
  if (code & 2) delta += step >> 1;
  if (code & 1) delta += step >> 2;
  predictor += (code & 8) ? -delta : delta;
  predictor = std::clamp(predictor, -32767, 32767);
  index = std::clamp(index + kImaIndexTable[code], 0, 88);
  return static_cast<std::int16_t>(predictor);
}

// One IMA ADPCM quantiser step: the code for sample, with predictor and step index updated as the
// decoder will update them.
int ImaQuantise(int sample, int& predictor, int& index) {
  const int step = kImaStepTable[index];
  int d = sample - predictor;
  int code = 0;
  if (d < 0) {
    code = 8;
    d = -d;
  }
  if (d >= step) {
    code |= 4;
    d -= step;
  }
  if (d >= step / 2) {
    code |= 2;
    d -= step / 2;
  }
  if (d >= step / 4) code |= 1;
  int delta = step / 8;
  if (code & 4) delta += step;
  if (code & 2) delta += step / 2;
  if (code & 1) delta += step / 4;
  if (code & 8) delta = -delta;
  predictor = std::clamp(predictor + delta, -32767, 32767);
  index = std::clamp(index + kImaIndexTable[code], 0, 88);
  return code;
}

// Reads the next block of an ADPCM file, a short last block padded with zeros; false at the end.
bool ReadBlock(platform::TStream& s, std::vector<std::uint8_t>& block) {
  std::fill(block.begin(), block.end(), 0);
  return s.Read(block.data(), static_cast<std::int64_t>(block.size())) > 0;
}

const int kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                               768, 614, 512, 409, 307, 230, 230, 230};

// The header walk shared by the reader and the writer. `onFmt` receives the fmt body (at most
// kWalkWindow bytes of it) and its declared length, and returns the state to go on with: kFact,
// kData, or kStop to give up (unsupported format). `onFact` receives the fact body's first four
// bytes as a count and the file offset of that count.
enum WalkState { kRiff, kWave, kFmt, kFact, kData, kStop };

struct WalkResult {
  bool found = false;
  std::int64_t dataSizePosition = 0;
  std::int64_t dataStart = 0;
  std::uint32_t dataSize = 0;
};

class HeaderWalk {
 public:
  HeaderWalk(platform::TStream& s, std::int64_t size) : s_(s), size_(size) {}

  // Leaves the stream just behind the last byte the walk looked at.
  WalkResult Run(const std::function<WalkState(const std::uint8_t*, std::uint32_t)>& onFmt,
                 const std::function<void(std::uint32_t, std::int64_t)>& onFact) {
    const WalkResult r = Walk(onFmt, onFact);
    if (len_ > pos_) s_.Seek(pos_ - len_, platform::soCurrent);
    return r;
  }

 private:
  WalkResult Walk(const std::function<WalkState(const std::uint8_t*, std::uint32_t)>& onFmt,
                  const std::function<void(std::uint32_t, std::int64_t)>& onFact) {
    WalkResult r;
    if (!Read(4)) return r;
    WalkState state = kRiff;
    for (;;) {
      switch (state) {
        case kRiff:
          if (!SlideTo("RIFF", kWave, state)) return r;
          break;
        case kWave:
          if (!SlideTo("WAVE", kFmt, state)) return r;
          break;
        case kFmt:
          if (SameChunkId(Id(), "fmt ")) {
            std::uint32_t length;
            if (!Body(length)) return r;
            WalkState next = onFmt(body_.data(), length);
            if (next == kStop || !Read(4)) return r;
            state = next;
          } else if (!SkipChunk()) {
            return r;
          }
          break;
        case kFact:
          if (SameChunkId(Id(), "fact")) {
            std::uint32_t length;
            const std::int64_t countAt = count_ + 4;
            if (!Body(length) || length < 4) return r;
            onFact(GetLE32(body_.data()), countAt);
            if (!Read(4)) return r;
            state = kData;
          } else if (!SkipChunk()) {
            return r;
          }
          break;
        case kData:
          if (SameChunkId(Id(), "data")) {
            const std::int64_t sizeAt = count_;
            if (!Read(4)) return r;
            r.found = true;
            r.dataSizePosition = sizeAt;
            r.dataStart = count_;
            r.dataSize = GetLE32(window_);
            return r;
          }
          if (!SkipChunk()) return r;
          break;
        case kStop:
          return r;
      }
      if (count_ >= size_ || count_ >= kWalkLimit) return r;
    }
  }

  const char* Id() const { return reinterpret_cast<const char*>(window_); }

  // Reads n bytes; the window then holds the last four bytes read.
  bool Read(int n) {
    std::uint8_t b[4];
    if (Fetch(b, n) != n) return false;
    count_ += n;
    if (n >= 4) {
      std::memcpy(window_, b + n - 4, 4);
    } else {
      std::memmove(window_, window_ + n, 4 - n);
      std::memcpy(window_ + 4 - n, b, n);
    }
    return true;
  }

  // While the window does not hold `id`, it slides on by one byte; once it does, the next four
  // bytes are read and the walk goes on in state `next`. False at the end of the file.
  bool SlideTo(const char* id, WalkState next, WalkState& state) {
    if (!SameChunkId(Id(), id)) return Read(1);
    if (!Read(4)) return false;
    state = next;
    return true;
  }

  // Reads a chunk's length and body; keeps at most kWalkWindow bytes of the body and skips the
  // rest. Fails on a body that runs past the end of the file.
  bool Body(std::uint32_t& length) {
    if (!Read(4)) return false;
    length = GetLE32(window_);
    if (count_ + length > size_) return false;
    const std::int64_t kept = std::min<std::int64_t>(length, kWalkWindow);
    body_.assign(static_cast<std::size_t>(std::max<std::int64_t>(kept, 4)), 0);
    if (kept > 0 && Fetch(body_.data(), kept) != kept) return false;
    if (length > kept) Skip(length - kept);
    count_ += length;
    return true;
  }

  // Passes over a chunk that is not looked for, and reads the next id.
  bool SkipChunk() {
    if (!Read(4)) return false;
    const std::uint32_t length = GetLE32(window_);
    if (count_ + length > size_) return false;
    if (length) Skip(length);
    count_ += length;
    return Read(4);
  }

  // The walk looks at the file a few bytes at a time (one at a time while it slides): it reads
  // through a buffer of its own, so that a file stream is not asked for every byte.
  std::int64_t Fetch(std::uint8_t* to, std::int64_t n) {
    std::int64_t got = 0;
    while (got < n) {
      if (pos_ == len_) {
        pos_ = 0;
        len_ = std::max<std::int64_t>(s_.Read(buffer_, sizeof buffer_), 0);
        if (len_ == 0) break;
      }
      const std::int64_t take = std::min(n - got, len_ - pos_);
      std::memcpy(to + got, buffer_ + pos_, static_cast<std::size_t>(take));
      pos_ += take;
      got += take;
    }
    return got;
  }

  void Skip(std::int64_t n) {
    const std::int64_t buffered = std::min(n, len_ - pos_);
    pos_ += buffered;
    if (n > buffered) s_.Seek(n - buffered, platform::soCurrent);
  }

  platform::TStream& s_;
  std::int64_t size_;
  std::int64_t count_ = 0;
  std::uint8_t window_[4] = {};
  std::vector<std::uint8_t> body_;
  std::uint8_t buffer_[4096];
  std::int64_t pos_ = 0;  // next byte of buffer_ to hand out
  std::int64_t len_ = 0;  // bytes in buffer_
};

}  // namespace

const int kImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

bool SameChunkId(const char* A, const char* B) {
  for (int i = 0; i < 4; ++i) {
    const int a = static_cast<std::uint8_t>(A[i]);
    const int b = static_cast<std::uint8_t>(B[i]);
    if (a != b && a - b != 32 && b - a != 32) return false;
  }
  return true;
}

namespace {

// The 36 bytes both headers start with: "RIFF" size "WAVE" "fmt " and its length, then the fields
// every fmt body starts with.
template <typename Header>
void PackRiffAndFmt(const Header& h, std::uint32_t FmtLength, std::uint8_t* Out) {
  PutId(Out, "RIFF");
  PutLE32(Out + 4, h.RIFFSize);
  PutId(Out + 8, "WAVE");
  PutId(Out + 12, "fmt ");
  PutLE32(Out + 16, FmtLength);
  platform::PutFmtFields(Out + 20, h);
}

// Writes a new file's header; returns its length in bytes.
template <typename Header>
int WriteHeader(platform::TStream& s, const Header& h) {
  std::uint8_t bytes[Header::kBytes];
  h.Pack(bytes);
  s.WriteBuffer(bytes, sizeof bytes);
  return Header::kBytes;
}

}  // namespace

void TWaveHeader::Pack(std::uint8_t* Out) const {
  PackRiffAndFmt(*this, 16, Out);
  PutId(Out + 36, "data");
  PutLE32(Out + 40, DataSize);
}

void TDVIADPCMHeader::Pack(std::uint8_t* Out) const {
  PackRiffAndFmt(*this, 20, Out);
  PutLE16(Out + 36, cbSize);
  PutLE16(Out + 38, wSamplesPerBlock);
  PutId(Out + 40, "fact");
  PutLE32(Out + 44, 4);
  PutLE32(Out + 48, FactSamples);
  PutId(Out + 52, "data");
  PutLE32(Out + 56, DataSize);
}

TDVIADPCMHeader TDVIADPCMHeader::Unpack(const std::uint8_t* In) {
  TDVIADPCMHeader h;
  h.RIFFSize = GetLE32(In + 4);
  platform::GetFmtFields(In + 20, h);
  h.cbSize = GetLE16(In + 36);
  h.wSamplesPerBlock = GetLE16(In + 38);
  h.FactSamples = GetLE32(In + 48);
  h.DataSize = GetLE32(In + 56);
  return h;
}

// =============================================================================================
// TWaveOut

TWaveOut::TWaveOut(platform::TComponent* AOwner) : TACSFileOut(AOwner), FWriteBack(kWriteBack) {}

TWaveOut::~TWaveOut() {
  EndWorker();
  // A run abandoned by the destruction keeps what it had recorded.
  try {
    if (FStream) FlushData();
  } catch (...) {
  }
}

void TWaveOut::WriteData(const std::uint8_t* Data, int Count) {
  while (Count > 0) {
    const int room = static_cast<int>(kWriteBack - (FWriteBackAt + FWriteBackBytes) % kWriteBack);
    const int take = std::min(Count, room);
    std::memcpy(FWriteBack.data() + FWriteBackBytes, Data, static_cast<std::size_t>(take));
    FWriteBackBytes += take;
    Data += take;
    Count -= take;
    if (take == room) FlushData();
  }
}

void TWaveOut::FlushData() {
  const int bytes = FWriteBackBytes;
  FWriteBackBytes = 0;
  FWriteBackAt += bytes;
  if (bytes > 0) FStream->WriteBuffer(FWriteBack.data(), bytes);
}

void TWaveOut::SetWavType(TWavType Value) {
  if (Busy()) return;
  if (Value == wtPCM || Value == wtDVIADPCM) FWavType = Value;
}

void TWaveOut::SetBlockSize(std::uint16_t Value) {
  if (Busy()) return;
  if (Value != 0 && Value % 4 == 0) FBlockSize = Value;
}

void TWaveOut::SetFileMode(TFileOutputMode NewMode) { FFileMode = NewMode; }

void TWaveOut::WritePcmWaveHeader(TWaveHeader& Header) {
  TACSInput* in = Input();
  const int channels = in->GetChannels();
  const int bits = in->GetBitsPerSample();
  const int rate = in->GetSampleRate();
  Header.RIFFSize = static_cast<std::uint32_t>(in->Size()) + 36;
  Header.wFormatTag = 1;
  Header.nChannels = static_cast<std::uint16_t>(channels);
  Header.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  Header.nBlockAlign = static_cast<std::uint16_t>(bits * channels / 8);
  Header.nAvgBytesPerSec = Header.nSamplesPerSec * Header.nBlockAlign;
  Header.wBitsPerSample = static_cast<std::uint16_t>(bits);
  Header.DataSize = static_cast<std::uint32_t>(in->Size());
}

void TWaveOut::WriteDviWaveHeader(TDVIADPCMHeader& Header) {
  TACSInput* in = Input();
  const int channels = in->GetChannels();
  const int rate = in->GetSampleRate();
  const int bytesPerSample = in->GetBitsPerSample() / 8;
  const auto spb = static_cast<std::uint16_t>(ImaSamplesPerBlock(channels, FBlockSize));
  const std::int64_t n = static_cast<std::int64_t>(in->Size()) / bytesPerSample / channels;
  const std::int64_t blocks =
      static_cast<std::int64_t>(std::nearbyint(static_cast<double>(n) / static_cast<double>(spb)));
  const std::uint32_t dataSize = static_cast<std::uint32_t>(blocks * FBlockSize);
  Header.RIFFSize = dataSize + 52;
  Header.wFormatTag = 17;
  Header.nChannels = static_cast<std::uint16_t>(channels);
  Header.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  Header.nAvgBytesPerSec = (static_cast<std::uint32_t>(rate) / spb) * FBlockSize;
  Header.nBlockAlign = FBlockSize;
  Header.wBitsPerSample = 4;
  Header.cbSize = 2;
  Header.wSamplesPerBlock = spb;
  Header.FactSamples = static_cast<std::uint32_t>(n);
  Header.DataSize = dataSize;
}

void TWaveOut::DecodeAppendFmt(const std::uint8_t* Body) {
  FExistingChannels = GetLE16(Body + 2);
  FExistingRate = GetLE32(Body + 4);
  FBlockSize = GetLE16(Body + 12);
  FExistingBits = GetLE16(Body + 14);
}

void TWaveOut::ReadAppendHeader() {
  FExistingType = wtUnsupported;
  FStream->SetPosition(0);
  HeaderWalk walk(*FStream, FStream->Size());
  TWavType found = wtUnsupported;
  WalkResult r = walk.Run(
      [&](const std::uint8_t* body, std::uint32_t length) {
        if (length < 16) return kStop;
        const std::uint16_t tag = GetLE16(body);
        if (tag != 1 && tag != 17) return kStop;
        DecodeAppendFmt(body);
        found = tag == 1 ? wtPCM : wtDVIADPCM;
        return found == wtPCM ? kData : kFact;
      },
      [&](std::uint32_t, std::int64_t countAt) { FFactPosition = countAt; });
  if (!r.found) return;
  FDataSizePosition = r.dataSizePosition;
  FDataStart = r.dataStart;
  FExistingType = found;
}

void TWaveOut::Prepare() {
  FEndOfInput = false;
  FAppended = false;
  FWriteBackBytes = 0;
  FDataWritten = 0;
  FFramesTaken = 0;
  FCheckpointed = false;
  if (FFileName.empty()) throw EACSException("File name is not assigned.");
  std::error_code ec;
  const bool exists = std::filesystem::exists(FFileName, ec);
  if (FFileMode == foAppend && exists)
    FStream = std::make_unique<platform::TFileStream>(
        FFileName, platform::fmOpenReadWrite | platform::fmShareExclusive);
  else
    FStream = std::make_unique<platform::TFileStream>(FFileName, platform::fmCreate);
  try {
    TACSInput* in = Input();
    in->Init();
    try {
      FChannels = in->GetChannels();
      FPlannedSize = in->Size();
      const int bits = in->GetBitsPerSample();
      const int rate = in->GetSampleRate();
      FBytesPerSecond = std::max<std::int64_t>(1, std::int64_t{rate} * FChannels * (bits / 8));
      FUntilCheckpoint = FBytesPerSecond;
      const bool appending = FFileMode == foAppend && FStream->Size() > 0;
      if (appending) {
        ReadAppendHeader();
        if (FExistingType != wtPCM && FExistingType != wtDVIADPCM)
          throw EACSException("Cannot append data to this .wav file.");
        FWavType = FExistingType;
      }
      if (FWavType == wtPCM) {
        if (appending) {
          if (static_cast<std::uint32_t>(rate) != FExistingRate ||
              static_cast<std::uint16_t>(bits) != FExistingBits ||
              static_cast<std::uint16_t>(FChannels) != FExistingChannels)
            throw EACSException("Cannot append data in different audio format.");
          FWriteBackAt = FStream->Seek(0, platform::soEnd);
          FAppended = true;
        } else {
          TWaveHeader header;
          WritePcmWaveHeader(header);
          FWriteBackAt = WriteHeader(*FStream, header);
          FPlannedData = header.DataSize;
        }
      } else {
        if (bits != 16) throw EACSException("Cannot encode 8 bit sound into ADPCM.");
        if (appending) {
          if (static_cast<std::uint32_t>(rate) != FExistingRate ||
              static_cast<std::uint16_t>(FChannels) != FExistingChannels)
            throw EACSException("Cannot append data in different audio format.");
          // A block size the layout cannot hold would make the encoder write past its block.
          if (!ImaLayoutFits(FChannels, FBlockSize))
            throw EACSException("Cannot append data to this .wav file.");
          FWriteBackAt = FStream->Seek(0, platform::soEnd);
          FAppended = true;
        } else {
          if (!ImaLayoutFits(FChannels, FBlockSize))
            throw EACSException(
                "Cannot encode this sound into ADPCM: it needs one or two channels, and a block "
                "size that is a multiple of 8 for two.");
          TDVIADPCMHeader header;
          WriteDviWaveHeader(header);
          FWriteBackAt = WriteHeader(*FStream, header);
          FPlannedData = header.DataSize;
          FLeftStepIndex = 0;
          FRightStepIndex = 0;
        }
        const int spb = ImaSamplesPerBlock(FChannels, FBlockSize);
        FPcmBlock.assign(static_cast<std::size_t>(spb * FChannels), 0);
        FCodeBlock.assign(FBlockSize, 0);
      }
    } catch (...) {
      in->Flush();
      throw;
    }
  } catch (...) {
    FStream.reset();
    throw;
  }
}

bool TWaveOut::DoOutput(bool Abort) {
  if (!CanOutput) return true;
  if (Abort || FEndOfInput) return false;
  if (FWavType == wtPCM) {
    int got;
    try {
      got = GetInputData(FBuffer, kBufferSize);
    } catch (...) {
      // The input has failed: the recording ends here, with what was written so far.
      return false;
    }
    if (got <= 0) return false;
    WriteData(FBuffer, got);
    FDataWritten += got;
    CheckpointEverySecond(got);
    return true;
  }
  if (FWavType == wtDVIADPCM) {
    std::fill(FPcmBlock.begin(), FPcmBlock.end(), 0);
    auto* into = reinterpret_cast<std::uint8_t*>(FPcmBlock.data());
    const int wanted = static_cast<int>(FPcmBlock.size() * 2);
    int filled = 0;
    try {
      WithInputLocked([&](TACSInput* in) {
        while (filled < wanted) {
          int n = in ? in->GetData(into + filled, wanted - filled) : 0;
          if (n <= 0) {
            FEndOfInput = true;
            break;
          }
          filled += n;
        }
        return 0;
      });
    } catch (...) {
      return false;
    }
    FFramesTaken += filled / (2 * FChannels);
    std::fill(FCodeBlock.begin(), FCodeBlock.end(), 0);
    FLeftPredictor = FPcmBlock[0];
    if (FChannels == 2) {
      FRightPredictor = FPcmBlock[1];
      EncodeImaBlockStereo(FPcmBlock.data() + 2, FCodeBlock.data());
    } else {
      EncodeImaBlockMono(FPcmBlock.data() + 1, FCodeBlock.data());
    }
    WriteData(FCodeBlock.data(), FBlockSize);
    FDataWritten += FBlockSize;
    CheckpointEverySecond(filled);
    return true;
  }
  return true;
}

void TWaveOut::EncodeImaBlockMono(const std::int16_t* Samples, std::uint8_t* Block) {
  std::memset(Block, 0, FBlockSize);
  PutLE16(Block, static_cast<std::uint16_t>(FLeftPredictor));
  Block[2] = FLeftStepIndex;
  Block[3] = 0;
  int predictor = FLeftPredictor, index = FLeftStepIndex;
  const int count = 2 * (FBlockSize - 4);
  for (int k = 0; k < count; ++k) {
    const int code = ImaQuantise(Samples[k], predictor, index);
    Block[4 + k / 2] |= static_cast<std::uint8_t>(k % 2 ? code << 4 : code);
  }
  FLeftStepIndex = static_cast<std::uint8_t>(index);
}

void TWaveOut::EncodeImaBlockStereo(const std::int16_t* Samples, std::uint8_t* Block) {
  std::memset(Block, 0, FBlockSize);
  PutLE16(Block, static_cast<std::uint16_t>(FLeftPredictor));
  Block[2] = FLeftStepIndex;
  PutLE16(Block + 4, static_cast<std::uint16_t>(FRightPredictor));
  Block[6] = FRightStepIndex;
  const int count = FBlockSize - 8;  // codes per channel
  for (int channel = 0; channel < 2; ++channel) {
    int predictor = channel ? FRightPredictor : FLeftPredictor;
    int index = channel ? FRightStepIndex : FLeftStepIndex;
    for (int k = 0; k < count; ++k) {
      const int code = ImaQuantise(Samples[2 * k + channel], predictor, index);
      const int at = 8 + (k / 8) * 8 + channel * 4 + (k % 8) / 2;
      Block[at] |= static_cast<std::uint8_t>(k % 2 ? code << 4 : code);
    }
    (channel ? FRightStepIndex : FLeftStepIndex) = static_cast<std::uint8_t>(index);
  }
}

void TWaveOut::CheckpointEverySecond(int InputBytes) {
  FUntilCheckpoint -= InputBytes;
  if (FUntilCheckpoint > 0) return;
  FUntilCheckpoint = FBytesPerSecond;
  // The data first: a header written before it could claim bytes the file does not hold yet.
  FlushData();
  PatchHeader();
  FCheckpointed = true;
  FStream->SetPosition(FWriteBackAt);
}

void TWaveOut::PatchHeader() {
  const std::int64_t length = FStream->Size();
  if (FAppended) {
    const std::int64_t dataSize = length - FDataStart;
    Write32At(*FStream, FDataSizePosition, static_cast<std::uint32_t>(dataSize));
    if (FWavType == wtDVIADPCM) {
      const std::uint32_t spb = ImaSamplesPerBlock(FExistingChannels, FBlockSize);
      Write32At(*FStream, FFactPosition, static_cast<std::uint32_t>(spb * (dataSize / FBlockSize)));
    }
  } else {
    // A new file keeps the sizes Prepare planned when they came true; otherwise (open length,
    // a stopped or overlong recording) it gets the sizes of what was written.
    if (FPlannedSize >= 0 && FFileMode != foAppend && FDataWritten == FPlannedData &&
        !FCheckpointed)
      return;
    if (FWavType == wtPCM) {
      Write32At(*FStream, 40, static_cast<std::uint32_t>(length - TWaveHeader::kBytes));
    } else {
      std::uint8_t bytes[TDVIADPCMHeader::kBytes];
      FStream->SetPosition(0);
      FStream->ReadBuffer(bytes, sizeof bytes);
      TDVIADPCMHeader header = TDVIADPCMHeader::Unpack(bytes);
      header.DataSize = static_cast<std::uint32_t>(length - TDVIADPCMHeader::kBytes);
      // The samples actually recorded, not the silence that pads the last block.
      header.FactSamples = static_cast<std::uint32_t>(FFramesTaken);
      header.Pack(bytes);
      FStream->SetPosition(0);
      FStream->WriteBuffer(bytes, sizeof bytes);
    }
  }
  Write32At(*FStream, 4, static_cast<std::uint32_t>(length - 8));
}

void TWaveOut::Done() {
  std::exception_ptr failure;
  if (FStream) {
    try {
      FlushData();
    } catch (...) {
      failure = std::current_exception();
    }
    // Even after a failed write the header should describe what the file holds.
    try {
      PatchHeader();
      CheckFileStillNamed();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  // Released and forgotten whatever happened, so that no later Done touches it again.
  FStream.reset();
  FPcmBlock.clear();
  FCodeBlock.clear();
  FlushInput();
  if (failure) std::rethrow_exception(failure);
}

// =============================================================================================
// TWaveIn

TWaveIn::TWaveIn(platform::TComponent* AOwner) : TACSFileIn(AOwner) {}

TWaveIn::~TWaveIn() { Destroying(); }

TWavType TWaveIn::WavType() {
  return WithFileOpen([this] { return FWavType; });
}

void TWaveIn::ReadWaveHeader() {
  FWavType = wtUnsupported;
  FStreamSize = FStream->Size();
  HeaderWalk walk(*FStream, FStreamSize);
  TWavType found = wtUnsupported;
  WalkResult r = walk.Run(
      [&](const std::uint8_t* body, std::uint32_t length) {
        if (length < 16) return kStop;
        const std::uint16_t tag = GetLE16(body);
        switch (tag) {
          case 1:
            found = wtPCM;
            break;
          case 2:
            found = wtMSADPCM;
            break;
          case 17:
            found = wtDVIADPCM;
            break;
          case 85:
            found = wtACM;
            break;
          default:
            return kStop;
        }
        FChan = GetLE16(body + 2);
        FSR = static_cast<int>(std::min<std::uint32_t>(GetLE32(body + 4), 0x7FFFFFFF));
        FBPS = GetLE16(body + 14);
        const std::uint16_t blockAlign = GetLE16(body + 12);
        const std::uint16_t samplesPerBlock = length >= 20 ? GetLE16(body + 18) : 0;
        if (found == wtDVIADPCM) {
          FDviBlockAlign = blockAlign;
          FDviSamplesPerBlock = samplesPerBlock;
        } else {
          FMsBlockAlign = blockAlign;
          if (found != wtPCM) FMsSamplesPerBlock = samplesPerBlock;
        }
        if (found == wtMSADPCM) {
          // The coefficient table holds 32 pairs; a file that declares more, or whose fmt chunk
          // is too short for what it declares, cannot be decoded.
          if (length < 22) return kStop;
          FNumCoef = GetLE16(body + 20);
          if (FNumCoef == 0 || FNumCoef > 32 || 22u + 4u * FNumCoef > length) return kStop;
          for (int i = 0; i < FNumCoef; ++i) {
            FCoefs[i][0] = GetS16(body + 22 + 4 * i);
            FCoefs[i][1] = GetS16(body + 24 + 4 * i);
          }
        }
        return found == wtPCM ? kData : kFact;
      },
      [&](std::uint32_t count, std::int64_t) {
        const auto value = static_cast<std::int32_t>(std::min<std::uint32_t>(count, 0x7FFFFFFF));
        if (found == wtDVIADPCM)
          FDviSampleCount = value;
        else
          FMsSampleCount = value;
      });
  if (!r.found) return;
  FDataStart = r.dataStart;
  FDataSize = r.dataSize;
  if (found == wtPCM) {
    // What the file holds beyond the data start bounds the data: a size left at 0xFFFFFFFF by an
    // unfinished writer, or one past a truncated end, reads what is there.
    FSize = ClampToInt(std::min<std::int64_t>(r.dataSize, FStreamSize - r.dataStart));
  }
  FWavType = found;
}

void TWaveIn::ValidateFormat() {
  const int channels = FChan;
  switch (FWavType) {
    case wtPCM: {
      const int frame = (FBPS / 8) * channels;
      if (frame <= 0) {
        FWavType = wtUnsupported;
        return;
      }
      FTotalSamples = FSize / frame;
      return;
    }
    case wtDVIADPCM: {
      const int align = FDviBlockAlign;
      const int bytes = channels == 1 ? 4 * align - 14 : 4 * align - 28;
      if (!ImaLayoutFits(channels, align) || bytes > kBufferSize) {
        FWavType = wtUnsupported;
        return;
      }
      FBPS = 16;
      FTotalSamples = std::max(FDviSampleCount, 0);
      FSize = ClampToInt(static_cast<std::int64_t>(FTotalSamples) * 2 * channels);
      return;
    }
    case wtMSADPCM: {
      const int spb = FMsSamplesPerBlock;
      const int align = FMsBlockAlign;
      const bool fits = (channels == 1 || channels == 2) && spb >= 2 &&
                        2 * channels * spb <= kBufferSize && align >= 7 * channels &&
                        (channels == 1 ? (spb - 2) / 2 <= align - 7 : spb - 2 <= align - 14);
      if (!fits) {
        FWavType = wtUnsupported;
        return;
      }
      FBPS = 16;
      FTotalSamples = std::max(FMsSampleCount, 0);
      FSize = ClampToInt(static_cast<std::int64_t>(FTotalSamples) * 2 * channels);
      return;
    }
    default:
      return;
  }
}

void TWaveIn::OpenFile() {
  if (FOpened == 0) {
    FWavType = wtUnsupported;
    FSize = 0;
    FTotalSamples = 0;
    FKeptStream.reset();
    FStream = std::make_unique<platform::TFileStream>(
        FFileName, platform::fmOpenRead | platform::fmShareDenyWrite);
    ReadWaveHeader();
    if (FWavType == wtACM)
      OpenAcm();
    else
      ValidateFormat();
    FBlock.assign(FWavType == wtDVIADPCM  ? FDviBlockAlign
                  : FWavType == wtMSADPCM ? FMsBlockAlign
                                          : 0,
                  0);
  }
  ++FOpened;
}

void TWaveIn::OpenAcm() {
  auto image = std::make_unique<platform::TMemoryStream>();
  FStream->SetPosition(0);
  bool converted = false;
  try {
    converted = ConvertAcmImage(*FStream, *image);
  } catch (...) {
    converted = false;
  }
  if (!converted) {
    // No PCM image: the file delivers nothing.
    FSize = 0;
    FTotalSamples = 0;
    return;
  }
  FKeptStream = std::move(FStream);
  FStream = std::move(image);
  FStream->SetPosition(0);
  ReadWaveHeader();
  if (FWavType == wtPCM) {
    ValidateFormat();
    if (FWavType == wtPCM) {
      FStream->SetPosition(FDataStart);
      FWavType = wtACM;
      return;
    }
  }
  FWavType = wtACM;
  FSize = 0;
  FTotalSamples = 0;
  FStream = std::move(FKeptStream);
}

bool TWaveIn::ConvertAcmImage(platform::TStream& File, platform::TMemoryStream& Image) {
  TWaveConverter converter;
  converter.LoadFromWave(File);
  // Ask for PCM and let the compression manager fill in the rest of the format.
  converter.NewFormat[0] = MSAcm::WAVE_FORMAT_PCM & 0xFF;
  converter.NewFormat[1] = MSAcm::WAVE_FORMAT_PCM >> 8;
  if (MSAcm::acmFormatSuggest(nullptr, converter.CurrentFormat, converter.NewFormat,
                              MSAcm::kFormatRecordSize,
                              MSAcm::ACM_FORMATSUGGESTF_WFORMATTAG) != MSAcm::MMSYSERR_NOERROR)
    return false;
  if (converter.Convert() != 0) return false;
  return converter.SaveWaveTo(Image) == 0;
}

void TWaveIn::CloseFile() {
  if (FOpened == 1) {
    FStream.reset();
    FKeptStream.reset();
  }
  if (FOpened > 0) --FOpened;
}

bool TWaveIn::Seek(int Sample) {
  OpenFile();
  const std::int64_t sample = std::max(Sample, 0);
  std::int64_t at = -1;
  switch (FWavType) {
    case wtPCM:
      at = FDataStart + sample * (FBPS / 8) * FChan;
      break;
    case wtDVIADPCM:
      // The decoder's block length comes from the block align, so does the seek.
      at = FDataStart + (sample / ImaSamplesPerBlock(FChan, FDviBlockAlign)) * FDviBlockAlign;
      break;
    case wtMSADPCM:
      at = FDataStart + (sample / FMsSamplesPerBlock) * FMsBlockAlign;
      break;
    default:
      break;
  }
  if (at >= 0) FStream->SetPosition(at);
  CloseFile();
  return at >= 0;
}

int TWaveIn::ReadPcm(std::uint8_t* Into, int Wanted) {
  auto read = [&] {
    const std::int64_t left = static_cast<std::int64_t>(FSize) - FPosition;
    if (left <= 0) return 0;
    const int want = static_cast<int>(std::min<std::int64_t>(Wanted, left));
    return static_cast<int>(FStream->Read(Into, want));
  };
  int n = read();
  if (n == 0 && FLoop) {
    Restart();
    n = read();
  }
  return n;
}

void TWaveIn::Restart() {
  Flush();
  Init();
}

int TWaveIn::GetData(void* Buffer, int BufferSize) {
  if (!Busy()) throw EACSException("The Stream is not opened");
  if (BufferSize <= 0) return 0;
  if (FBufStart > FBufEnd) {
    switch (FWavType) {
      case wtPCM:
      case wtACM: {
        // A request for at least a whole refill goes straight into the caller's buffer: the same
        // bytes as through the staging buffer, without the copy.
        if (BufferSize >= kBufferSize) {
          const int n = ReadPcm(static_cast<std::uint8_t*>(Buffer), kBufferSize);
          FPosition += n;
          return n;
        }
        const int n = ReadPcm(FBuffer, kBufferSize);
        if (n == 0) return 0;
        FBufStart = 1;
        FBufEnd = n;
        break;
      }
      case wtDVIADPCM:
      case wtMSADPCM: {
        if (FPosition >= FSize) {
          if (!FLoop) return 0;
          Restart();
        }
        int n;
        if (FWavType == wtDVIADPCM) {
          if (!ReadImaBlock()) return 0;
          n = FChan == 2 ? DecodeImaBlockStereo() : DecodeImaBlockMono();
        } else {
          if (!ReadMsAdpcmBlock()) return 0;
          n = FChan == 2 ? DecodeMsAdpcmBlockStereo() : DecodeMsAdpcmBlockMono();
        }
        FBufStart = 1;
        FBufEnd = n;
        break;
      }
      default:
        return 0;
    }
  }
  const int n = std::min(BufferSize, FBufEnd - FBufStart + 1);
  std::memcpy(Buffer, FBuffer + FBufStart - 1, static_cast<std::size_t>(n));
  FBufStart += n;
  FPosition += n;
  return n;
}

bool TWaveIn::ReadImaBlock() {
  if (!ReadBlock(*FStream, FBlock)) return false;
  FLeftPredictor = GetS16(&FBlock[0]);
  FLeftStepIndex = FBlock[2];
  if (FChan == 2) {
    FRightPredictor = GetS16(&FBlock[4]);
    FRightStepIndex = FBlock[6];
  }
  // A step index outside the table cannot be decoded: the data ends here.
  return FLeftStepIndex <= 88 && (FChan != 2 || FRightStepIndex <= 88);
}

int TWaveIn::DecodeImaBlockMono() {
  auto* out = reinterpret_cast<std::int16_t*>(FBuffer);
  int predictor = FLeftPredictor, index = FLeftStepIndex;
  int k = 0;
  out[k++] = FLeftPredictor;
  for (int i = 4; i < FDviBlockAlign; ++i) {
    out[k++] = ImaExpand(FBlock[i] & 0x0F, predictor, index);
    out[k++] = ImaExpand(FBlock[i] >> 4, predictor, index);
  }
  return k * 2;
}

int TWaveIn::DecodeImaBlockStereo() {
  auto* out = reinterpret_cast<std::int16_t*>(FBuffer);
  out[0] = FLeftPredictor;
  out[1] = FRightPredictor;
  const int codes = FDviBlockAlign - 8;  // per channel
  for (int channel = 0; channel < 2; ++channel) {
    int predictor = channel ? FRightPredictor : FLeftPredictor;
    int index = channel ? FRightStepIndex : FLeftStepIndex;
    for (int k = 0; k < codes; ++k) {
      const std::uint8_t byte = FBlock[8 + (k / 8) * 8 + channel * 4 + (k % 8) / 2];
      const int code = k % 2 ? byte >> 4 : byte & 0x0F;
      out[2 * (k + 1) + channel] = ImaExpand(code, predictor, index);
    }
  }
  return (codes + 1) * 4;
}

bool TWaveIn::ReadMsAdpcmBlock() {
  if (!ReadBlock(*FStream, FBlock)) return false;
  const std::uint8_t* b = FBlock.data();
  if (FChan == 2) {
    FLeftPredictorChoice = b[0];
    FRightPredictorChoice = b[1];
    FLeftDelta = GetS16(b + 2);
    FRightDelta = GetS16(b + 4);
    FLeftSample1 = GetS16(b + 6);
    FRightSample1 = GetS16(b + 8);
    FLeftSample2 = GetS16(b + 10);
    FRightSample2 = GetS16(b + 12);
  } else {
    FLeftPredictorChoice = b[0];
    FLeftDelta = GetS16(b + 1);
    FLeftSample1 = GetS16(b + 3);
    FLeftSample2 = GetS16(b + 5);
  }
  // A predictor choice outside the file's table cannot be decoded: the data ends here.
  return FLeftPredictorChoice < FNumCoef && (FChan != 2 || FRightPredictorChoice < FNumCoef);
}

namespace {

struct MsChannel {
  int coef1, coef2;
  std::int16_t& delta;
  std::int16_t& sample1;
  std::int16_t& sample2;

  std::int16_t Expand(int code) {
    const std::int64_t predicted =
        (static_cast<std::int64_t>(sample1) * coef1 + static_cast<std::int64_t>(sample2) * coef2) /
        256;
    const int signedCode = code >= 8 ? code - 16 : code;
    const auto sample = static_cast<std::int16_t>(std::clamp<std::int64_t>(
        predicted + static_cast<std::int64_t>(signedCode) * delta, -32768, 32767));
    int next = delta * kMsAdaptation[code] / 256;
    if (next < 16) next = 16;
    delta = static_cast<std::int16_t>(next);
    sample2 = sample1;
    sample1 = sample;
    return sample;
  }
};

}  // namespace

int TWaveIn::DecodeMsAdpcmBlockMono() {
  auto* out = reinterpret_cast<std::int16_t*>(FBuffer);
  MsChannel left{FCoefs[FLeftPredictorChoice][0], FCoefs[FLeftPredictorChoice][1], FLeftDelta,
                 FLeftSample1, FLeftSample2};
  int k = 0;
  out[k++] = FLeftSample2;
  out[k++] = FLeftSample1;
  const int bytes = (FMsSamplesPerBlock - 2) / 2;
  for (int i = 0; i < bytes; ++i) {
    const std::uint8_t b = FBlock[7 + i];
    out[k++] = left.Expand(b >> 4);
    out[k++] = left.Expand(b & 0x0F);
  }
  return k * 2;
}

int TWaveIn::DecodeMsAdpcmBlockStereo() {
  auto* out = reinterpret_cast<std::int16_t*>(FBuffer);
  MsChannel left{FCoefs[FLeftPredictorChoice][0], FCoefs[FLeftPredictorChoice][1], FLeftDelta,
                 FLeftSample1, FLeftSample2};
  MsChannel right{FCoefs[FRightPredictorChoice][0], FCoefs[FRightPredictorChoice][1], FRightDelta,
                  FRightSample1, FRightSample2};
  int k = 0;
  out[k++] = FLeftSample2;
  out[k++] = FRightSample2;
  out[k++] = FLeftSample1;
  out[k++] = FRightSample1;
  const int bytes = FMsSamplesPerBlock - 2;
  for (int i = 0; i < bytes; ++i) {
    const std::uint8_t b = FBlock[14 + i];
    out[k++] = left.Expand(b >> 4);
    out[k++] = right.Expand(b & 0x0F);
  }
  return k * 2;
}
