#pragma once
// Turns the card's recording line (kCardRate, float stereo) into PCM bytes of a capture format:
// 8-bit unsigned or 16-bit signed little-endian, mono or stereo, 8000 to 48000 Hz.
//
// The byte count is exact: after n card frames the stream has produced exactly
// floor(n x rate / kCardRate) frames, whatever the resampler's own buffering. The resampler
// (libsoxr) is primed with silence so that its output never runs short; the recording is
// therefore delayed by a few hundred frames at rates other than kCardRate, and not at all at
// kCardRate.

#include <cstddef>
#include <cstdint>
#include <vector>

typedef struct soxr* soxr_t;

namespace platform::softcard {

class CaptureStream {
 public:
  static bool ValidFormat(int rate, int channels, int bits);

  // The format must be valid. `maxFrames` is the largest card period passed to Convert.
  CaptureStream(int rate, int channels, int bits, int maxFrames);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // Starts a fresh recording (card frame count 0, resampler emptied and primed).
  void Restart();

  // Converts `frames` card frames and writes the bytes now due to `out`, which must hold
  // MaxBytes(); returns the byte count. Allocates nothing.
  std::size_t Convert(const float* left, const float* right, int frames, std::uint8_t* out);

  std::size_t MaxBytes() const;
  int BlockAlign() const { return channels_ * bits_ / 8; }
  std::uint64_t FramesOut() const { return framesOut_; }

 private:
  void Emit(const float* samples, std::size_t frames, std::uint8_t* out) const;

  int rate_, channels_, bits_, maxFrames_;
  soxr_t soxr_ = nullptr;  // owned; null at kCardRate
  std::uint64_t framesIn_ = 0;
  std::uint64_t framesOut_ = 0;
  std::vector<float> in_;    // the period, interleaved at the capture's channel count
  std::vector<float> fifo_;  // resampled frames not yet due, interleaved
  std::size_t fifoFrames_ = 0;
};

}  // namespace platform::softcard
