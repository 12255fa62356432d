#include "platform/softcard/mci/WavePlayer.h"

#include <soxr.h>

#include <algorithm>

#include "platform/runtime/ByteOrder.h"
#include "platform/runtime/WholeFile.h"

namespace platform {

namespace {

constexpr std::size_t kChunkFrames = 1024;  // input frames converted per resampler call

struct Layout {
  WaveStatus status = WaveStatus::NotWave;
  int rate = 0;
  int channels = 0;
  int bits = 0;
  std::size_t dataOffset = 0;
  std::size_t dataBytes = 0;  // whole frames only
};

// Finds the format and the sample data. A data chunk that claims more than the file holds is
// taken up to the end of the file: a recording cut short still plays what it has.
Layout FindLayout(std::span<const std::uint8_t> b) {
  Layout l;
  if (b.size() < 12 || !IsChunkId(b.data(), "RIFF") || !IsChunkId(b.data() + 8, "WAVE")) return l;
  bool haveFmt = false;
  bool haveData = false;
  std::size_t pos = 12;
  while (b.size() - pos >= 8 && !(haveFmt && haveData)) {
    const std::uint32_t len = GetLE32(b.data() + pos + 4);
    const std::size_t avail = b.size() - pos - 8;
    const std::size_t have = std::min<std::size_t>(len, avail);
    const std::uint8_t* c = b.data() + pos + 8;
    if (IsChunkId(b.data() + pos, "fmt ") && !haveFmt) {
      if (have < 16) return l;
      haveFmt = true;
      std::uint16_t tag = GetLE16(c);
      // The extensible form names its real format in the first bytes of its sub-format.
      if (tag == 0xFFFE && have >= 26) tag = GetLE16(c + 24);
      l.channels = GetLE16(c + 2);
      l.rate = static_cast<int>(std::min<std::uint32_t>(GetLE32(c + 4), 1u << 30));
      l.bits = GetLE16(c + 14);
      if (tag != 1 || (l.bits != 8 && l.bits != 16) || (l.channels != 1 && l.channels != 2) ||
          l.rate < WavePlayer::kMinRate || l.rate > WavePlayer::kMaxRate) {
        l.status = WaveStatus::Unsupported;
        return l;
      }
    } else if (IsChunkId(b.data() + pos, "data") && !haveData) {
      haveData = true;
      l.dataOffset = pos + 8;
      l.dataBytes = have;
    }
    pos += 8 + have + (have & 1 && have < avail ? 1 : 0);
  }
  if (!haveFmt || !haveData) return l;
  const std::size_t frameBytes = static_cast<std::size_t>(l.channels * l.bits / 8);
  l.dataBytes -= l.dataBytes % frameBytes;
  l.status = WaveStatus::Ok;
  return l;
}

}  // namespace

void WavePlayer::SoxrDelete::operator()(soxr* s) const { soxr_delete(s); }

WavePlayer::WavePlayer() = default;
WavePlayer::~WavePlayer() = default;

WaveStatus WavePlayer::Load(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  const WholeFileRead read = ReadWholeFile(path, kMaxFileBytes, bytes);
  if (read == WholeFileRead::TooLarge) return WaveStatus::TooLarge;
  if (read != WholeFileRead::Ok) return WaveStatus::CannotOpen;
  return Parse(bytes);
}

WaveStatus WavePlayer::Parse(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxFileBytes) return WaveStatus::TooLarge;
  const Layout l = FindLayout(bytes);
  if (l.status != WaveStatus::Ok) return l.status;

  std::lock_guard lock(mu_);
  rate_ = l.rate;
  channels_ = l.channels;
  bits_ = l.bits;
  const auto data = bytes.subspan(l.dataOffset, l.dataBytes);
  data_.assign(data.begin(), data.end());
  inFrames_ = l.dataBytes / static_cast<std::size_t>(channels_ * bits_ / 8);
  playing_ = false;
  ended_ = inFrames_ == 0;
  inPos_ = 0;
  outPos_ = 0;
  lastEnd_ = 0;
  lastHanded_ = 0;
  resampler_.reset();
  if (rate_ != softcard::kCardRate) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    resampler_.reset(soxr_create(rate_, softcard::kCardRate, 2, &err, &io, &q, nullptr));
    if (err || !resampler_) {
      resampler_.reset();
      return WaveStatus::Unsupported;
    }
  }
  // Room for a few periods of the card, so the render thread rarely has to allocate.
  in_.resize(kChunkFrames * 2);
  out_.resize(8192 * 2);
  return WaveStatus::Ok;
}

float WavePlayer::Sample(std::size_t index) const {
  if (bits_ == 8) return (static_cast<float>(data_[index]) - 128.0f) / 128.0f;
  const auto v = static_cast<std::int16_t>(data_[2 * index] | (data_[2 * index + 1] << 8));
  return static_cast<float>(v) / 32768.0f;
}

void WavePlayer::Play() {
  std::lock_guard lock(mu_);
  if (!ended_) playing_ = true;
}

void WavePlayer::Stop() {
  std::lock_guard lock(mu_);
  playing_ = false;
}

bool WavePlayer::Playing() const {
  std::lock_guard lock(mu_);
  return playing_ && !ended_;
}

std::uint32_t WavePlayer::LengthMs() const {
  if (rate_ == 0) return 0;
  return static_cast<std::uint32_t>(std::uint64_t{inFrames_} * 1000 / static_cast<unsigned>(rate_));
}

std::uint32_t WavePlayer::PositionMs(std::uint64_t cardFrames) const {
  std::uint64_t out;
  {
    std::lock_guard lock(mu_);
    // The render thread mixes a period before the card counts its frames. Under the lock it is
    // not mixing, so every period but the last has been counted; the last one has when the card's
    // count has reached its end.
    const bool lastCounted = cardFrames >= lastEnd_;
    if (ended_ && lastCounted) return LengthMs();
    out = outPos_ - (lastCounted ? 0 : lastHanded_);
  }
  return std::min(static_cast<std::uint32_t>(out * 1000 / softcard::kCardRate), LengthMs());
}

std::size_t WavePlayer::Render(std::size_t frames) {
  const auto fill = [this](float* dst, std::size_t from, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t f = from + i;
      const float l = Sample(f * static_cast<std::size_t>(channels_));
      dst[2 * i] = l;
      dst[2 * i + 1] = channels_ == 2 ? Sample(f * 2 + 1) : l;
    }
  };
  if (!resampler_) {
    const std::size_t n = std::min(frames, inFrames_ - inPos_);
    fill(out_.data(), inPos_, n);
    inPos_ += n;
    if (inPos_ >= inFrames_) ended_ = true;
    return n;
  }
  std::size_t produced = 0;
  while (produced < frames) {
    std::size_t odone = 0;
    float* dst = out_.data() + 2 * produced;
    if (inPos_ < inFrames_) {
      const std::size_t n = std::min(kChunkFrames, inFrames_ - inPos_);
      fill(in_.data(), inPos_, n);
      std::size_t idone = 0;
      soxr_process(resampler_.get(), in_.data(), n, &idone, dst, frames - produced, &odone);
      inPos_ += idone;
      if (idone == 0 && odone == 0) break;
    } else {
      // A null input tells the resampler the input is over; it then hands out what it still holds.
      soxr_process(resampler_.get(), nullptr, 0, nullptr, dst, frames - produced, &odone);
      if (odone == 0) {
        ended_ = true;
        break;
      }
    }
    produced += odone;
  }
  return produced;
}

void WavePlayer::Mix(std::uint64_t frame, float* left, float* right, int frames) {
  if (frames <= 0) return;
  std::lock_guard lock(mu_);
  if (!playing_ || ended_) return;
  const auto want = static_cast<std::size_t>(frames);
  if (out_.size() < want * 2) out_.resize(want * 2);
  const std::size_t n = Render(want);
  for (std::size_t i = 0; i < n; ++i) {
    left[i] += out_[2 * i];
    right[i] += out_[2 * i + 1];
  }
  outPos_ += n;
  lastEnd_ = frame + want;
  lastHanded_ = n;
}

}  // namespace platform
