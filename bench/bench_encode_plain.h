#pragma once
// The reference encoders of bench_encode: plain loops that call libmp3lame and libvorbisenc
// directly (linked, not bound at run time) on PCM held in memory.

#include <cstdint>
#include <string>
#include <vector>

// Encodes interleaved 16-bit stereo PCM to `path` with LAME: constant 128 kbit/s, quality 5, the
// MP3 writer's other settings, blocks of 4096 frames.
void PlainMp3Encode(const std::vector<std::int16_t>& pcm, int rate, const std::string& path);

// Encodes interleaved 16-bit stereo PCM to `path` with libvorbisenc at 128 kbit/s (maximum,
// nominal and minimum), blocks of 16384 frames.
void PlainOggEncode(const std::vector<std::int16_t>& pcm, int rate, const std::string& path);
