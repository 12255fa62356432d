#include "platform/softcard/CaptureStream.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/softcard/Softcard.h"

namespace platform::softcard {

namespace {

// libsoxr releases its output in blocks: measured at 256-frame periods, its output trails the
// frames due by up to about 1000 frames at every rate from 8000 to 48000 Hz. Priming the queue of
// due frames with more silence than that means the due frames are always there.
constexpr std::size_t kPrime = 1280;
// Room for the prime, the resampler's largest release and a period on top.
constexpr std::size_t kFifoFrames = 8192;

}  // namespace

bool CaptureStream::ValidFormat(int rate, int channels, int bits) {
  return rate >= 8000 && rate <= 48000 && (channels == 1 || channels == 2) &&
         (bits == 8 || bits == 16);
}

CaptureStream::CaptureStream(int rate, int channels, int bits, int maxFrames)
    : rate_(rate),
      channels_(channels),
      bits_(bits),
      maxFrames_(maxFrames),
      in_(static_cast<std::size_t>(maxFrames) * channels),
      fifo_(kFifoFrames * channels) {
  if (rate_ != kCardRate) {
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_ = soxr_create(kCardRate, rate_, channels_, &err, &io, &quality, &runtime);
    if (soxr_ == nullptr || err != nullptr)
      throw std::runtime_error("the resampler could not start");
  }
  Restart();
}

CaptureStream::~CaptureStream() {
  if (soxr_ != nullptr) soxr_delete(soxr_);
}

void CaptureStream::Restart() {
  framesIn_ = 0;
  framesOut_ = 0;
  if (soxr_ != nullptr) soxr_clear(soxr_);
  fifoFrames_ = soxr_ != nullptr ? kPrime : 0;
  std::fill(fifo_.begin(), fifo_.end(), 0.0f);
}

std::size_t CaptureStream::MaxBytes() const {
  // Frames due per period: at most ceil(maxFrames x rate / kCardRate), plus one for rounding.
  const std::size_t frames = static_cast<std::size_t>(maxFrames_) * rate_ / kCardRate + 2;
  return frames * BlockAlign();
}

std::size_t CaptureStream::Convert(const float* left, const float* right, int frames,
                                   std::uint8_t* out) {
  frames = std::min(frames, maxFrames_);
  if (channels_ == 2) {
    for (int i = 0; i < frames; ++i) {
      in_[2 * i] = left[i];
      in_[2 * i + 1] = right[i];
    }
  } else {
    for (int i = 0; i < frames; ++i) in_[i] = 0.5f * (left[i] + right[i]);
  }
  framesIn_ += frames;
  const std::uint64_t due = framesIn_ * rate_ / kCardRate - framesOut_;

  if (soxr_ == nullptr) {
    Emit(in_.data(), due, out);  // due == frames at the card's own rate
    framesOut_ += due;
    return due * BlockAlign();
  }

  std::size_t used = 0, made = 0;
  soxr_process(soxr_, in_.data(), frames, &used, fifo_.data() + fifoFrames_ * channels_,
               kFifoFrames - fifoFrames_, &made);
  fifoFrames_ += made;
  // Should the resampler ever trail by more than the prime, the missing frames are silence: the
  // byte count stays exact and the recording keeps its place in time.
  const std::size_t have = std::min<std::size_t>(due, fifoFrames_);
  Emit(fifo_.data(), have, out);
  if (have < due) {
    std::fill(out + have * BlockAlign(), out + due * BlockAlign(), bits_ == 8 ? 0x80 : 0x00);
  }
  std::memmove(fifo_.data(), fifo_.data() + have * channels_,
               (fifoFrames_ - have) * channels_ * sizeof(float));
  fifoFrames_ -= have;
  framesOut_ += due;
  return due * BlockAlign();
}

void CaptureStream::Emit(const float* samples, std::size_t frames, std::uint8_t* out) const {
  const std::size_t n = frames * channels_;
  if (bits_ == 16) {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = std::clamp(samples[i], -1.0f, 1.0f);
      const auto s = static_cast<std::int16_t>(std::lrintf(v * 32767.0f));
      out[2 * i] = static_cast<std::uint8_t>(s & 0xFF);
      out[2 * i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = std::clamp(samples[i], -1.0f, 1.0f);
      out[i] = static_cast<std::uint8_t>(128 + std::lrintf(v * 127.0f));
    }
  }
}

}  // namespace platform::softcard
