#pragma once
// Test fixtures for compressed audio: MPEG layer 3 data made with libmp3lame from a known signal,
// and the WAV files (format tag 85) that carry such data.

#include <cstdint>
#include <vector>

namespace testsupport {

// `frames` frames of a sine per channel: channel c has frequency freqs[c] Hz and peak `amplitude`.
std::vector<std::int16_t> Sine(int rate, int channels, int frames, const std::vector<double>& freqs,
                               double amplitude);

// Encodes interleaved 16-bit PCM at a constant bit rate, without an info tag (as data inside a WAV
// file has it). Returns the MP3 frames.
std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& pcm, int rate, int channels,
                                    int kbps);

// The bit rate in kbit/s that LAME writes when asked for `kbps` at `rate` Hz (input and output)
// with `channels` input channels, mixed down to mono when `mono`; -1 when it refuses the set-up.
int Mp3BitRateWritten(int rate, int channels, bool mono, int kbps);

// A WAV file of format tag 85 around mp3 data: a 30-byte fmt body (the 18 fixed bytes with cbSize
// 12 and the layer-3 extra fields), a fact chunk and the data chunk. `riff` is the first chunk id.
std::vector<std::uint8_t> Mp3Wave(const std::vector<std::uint8_t>& mp3, int rate, int channels,
                                  int kbps, const char* riff = "RIFF");

// Amplitude of the `freq` Hz component of one channel of interleaved PCM, over `count` frames from
// frame `first` (Goertzel; a full-scale-relative peak amplitude, as Sine's `amplitude`).
double ToneAmplitude(const std::vector<std::int16_t>& pcm, int channels, int channel, int rate,
                     double freq, int first, int count);

}  // namespace testsupport
