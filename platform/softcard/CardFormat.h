#pragma once
// The card's own audio format: every signal inside the card (synthesiser, wave line, mix,
// recording line) is float stereo at kCardRate, rendered kCardPeriod frames at a time.

namespace platform::softcard {

inline constexpr int kCardRate = 44100;  // frames per second of card time
// Frames per render period: a few ms of card time, short enough for a fine-grained tick count and
// a quick reaction to the mixer, long enough that the per-period work is small next to the
// synthesiser's.
inline constexpr int kCardPeriod = 256;

}  // namespace platform::softcard
