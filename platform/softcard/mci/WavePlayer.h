#pragma once
// The wave player behind the MCI "waveaudio" device: plays a PCM WAV file (8 or 16 bits, mono or
// stereo, any rate from kMinRate to kMaxRate) into the card's "Wave" line.
//
// The file's samples are held in memory as read (files above kMaxFileBytes are refused) and
// converted to the card's rate with libsoxr while they play, in the render thread: the same
// resampler the card's capture uses, and memory that stays the size of the file.
//
// Threads: Load, Play, Stop, Position... come from the thread that drives the device; Mix comes
// from the card's render thread. A lock of the player's own guards the playing state and the
// resampler. The position counts the frames the player has handed to the card in periods the card
// has finished rendering, so it is never ahead of the card's clock.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/softcard/Softcard.h"

struct soxr;

namespace platform {

enum class WaveStatus {
  Ok,
  CannotOpen,   // the file cannot be read
  TooLarge,     // larger than WavePlayer::kMaxFileBytes
  NotWave,      // no RIFF "WAVE" file with a format and a data chunk
  Unsupported,  // not 8- or 16-bit PCM, not one or two channels, or a rate out of range
};

class WavePlayer final : public softcard::WaveClient {
 public:
  static constexpr std::uint64_t kMaxFileBytes = 128u << 20;
  static constexpr int kMinRate = 1000;
  static constexpr int kMaxRate = 192000;

  WavePlayer();
  ~WavePlayer() override;
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  // Call before the player is given to the card.
  WaveStatus Load(const std::string& path);
  WaveStatus Parse(std::span<const std::uint8_t> bytes);

  int Rate() const { return rate_; }
  int Channels() const { return channels_; }
  int Bits() const { return bits_; }

  void Play();  // starts or resumes; nothing at the end of the file
  void Stop();  // pauses
  bool Playing() const;
  // `cardFrames`: the card's frame count now. The period the render thread mixed last counts only
  // once the card has counted its frames.
  std::uint32_t PositionMs(std::uint64_t cardFrames) const;
  std::uint32_t LengthMs() const;

  // Render thread.
  void Mix(std::uint64_t frame, float* left, float* right, int frames) override;
  bool Sounding() override { return Playing(); }

 private:
  float Sample(std::size_t index) const;  // one channel sample, full scale +-1
  // Produces up to `frames` stereo frames at the card rate into out_; returns how many.
  std::size_t Render(std::size_t frames);

  int rate_ = 0;
  int channels_ = 0;
  int bits_ = 0;
  std::vector<std::uint8_t> data_;  // the file's sample frames, as stored
  std::size_t inFrames_ = 0;

  mutable std::mutex mu_;  // guards everything below
  bool playing_ = false;
  bool ended_ = false;
  std::size_t inPos_ = 0;         // next input frame for the resampler
  std::uint64_t outPos_ = 0;      // frames handed to the card
  std::uint64_t lastEnd_ = 0;     // the card frame at which the last mixed period is counted
  std::uint64_t lastHanded_ = 0;  // frames handed in that period
  struct SoxrDelete {
    void operator()(soxr* s) const;
  };
  std::unique_ptr<soxr, SoxrDelete> resampler_;  // null when the file is at the card rate
  std::vector<float> in_;                        // scratch: interleaved stereo input
  std::vector<float> out_;                       // scratch: interleaved stereo output
};

}  // namespace platform
