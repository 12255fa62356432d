// The wave player's WAV parser on any bytes, and a few periods of playing what it accepts. Besides
// crashes, it stops when an accepted file has a format the player cannot play, or when what it
// plays is not a finite signal.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/softcard/mci/WavePlayer.h"

using platform::WavePlayer;
using platform::WaveStatus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WavePlayer player;
  if (player.Parse(std::span(data, size)) != WaveStatus::Ok) return 0;
  if ((player.Bits() != 8 && player.Bits() != 16) ||
      (player.Channels() != 1 && player.Channels() != 2) || player.Rate() < WavePlayer::kMinRate ||
      player.Rate() > WavePlayer::kMaxRate)
    std::abort();
  player.Play();
  constexpr int kPeriod = platform::softcard::kCardPeriod;
  std::vector<float> left(kPeriod), right(kPeriod);
  std::uint64_t frame = 0;
  for (int i = 0; i < 2 && player.Playing(); ++i, frame += kPeriod) {
    player.Mix(frame, left.data(), right.data(), kPeriod);
  }
  for (int i = 0; i < kPeriod; ++i) {
    if (!std::isfinite(left[i]) || !std::isfinite(right[i])) std::abort();
  }
  if (player.PositionMs(frame) > player.LengthMs()) std::abort();
  return 0;
}
