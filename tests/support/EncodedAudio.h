#pragma once
// Test support for the encoder tests: known input signals as WAV files, and decoders (libmpg123,
// libvorbisfile, used only here) that read the writers' files back for checking.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace enctest {

// `seconds` of a sine pair as PCM bytes: stereo carries `leftHz` on the left and `rightHz` on the
// right channel, mono carries both tones mixed. Each tone has the amplitude `amplitude` (full scale
// 1). 8-bit samples are unsigned, 16-bit ones signed little-endian.
std::vector<std::uint8_t> TonePcm(int rate, int channels, int bits, double seconds, double leftHz,
                                  double rightHz, double amplitude = 0.3);

// Writes a PCM WAV file of `seconds` of a sine pair: a stereo file carries `leftHz` on the left and
// `rightHz` on the right channel, a mono file carries both tones mixed. Each tone has the amplitude
// `amplitude` (full scale 1). 8-bit files hold unsigned samples, 16-bit ones signed.
void WriteToneWav(const std::string& path, int rate, int channels, int bits, double seconds,
                  double leftHz, double rightHz, double amplitude = 0.3);

// Decoded audio: interleaved samples, full scale 1.
struct Pcm {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;
  std::size_t Frames() const { return channels ? samples.size() / channels : 0; }
  double Seconds() const { return rate ? double(Frames()) / rate : 0.0; }
};

// Decodes a whole MP3 file (gapless where the file carries an encoder tag). Empty Pcm on failure.
Pcm DecodeMp3(const std::string& path);

// Decodes every logical stream of an Ogg Vorbis file, one after the other. Empty Pcm on failure.
Pcm DecodeOgg(const std::string& path);

struct OggStreamInfo {
  int channels = 0;
  long rate = 0;
  long bitrateUpper = 0, bitrateNominal = 0, bitrateLower = 0;
  int serial = 0;
  std::int64_t frames = 0;
  std::vector<std::string> comments;  // "NAME=value", as stored
};
// One entry per logical stream; empty when the file cannot be opened as Ogg Vorbis.
std::vector<OggStreamInfo> ReadOggStreams(const std::string& path);

// Amplitude of the `hz` component of one channel (Goertzel over the middle of the signal, leaving
// out the first and the last `marginSeconds`). A full-scale sine gives about 1.
double ToneAmplitude(const Pcm& pcm, int channel, double hz, double marginSeconds = 0.25);

struct Id3v1 {
  bool present = false;
  std::string title, artist, album, year, comment;
  int track = 0;
  int genre = -1;
};
Id3v1 ReadId3v1(const std::string& path);

// The tag of the first MPEG frame's VBR header: "Xing", "Info", or empty when the first frame holds
// none (or the file does not start with a frame).
std::string VbrHeaderTag(const std::string& path);

// The MPEG audio frames of an MP3 file, from its start (after an ID3v2 tag) to the first byte that
// is not a frame header (an ID3v1 tag, the end).
struct Mp3Frame {
  std::size_t offset = 0;
  std::size_t size = 0;
  int version = 0;  // 10 for MPEG 1, 20 for MPEG 2, 25 for MPEG 2.5
  int bitrateKbps = 0;
  int sampleRate = 0;
  int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  bool crc = false;
  bool copyright = false;
  bool original = false;
};
std::vector<Mp3Frame> Mp3Frames(const std::vector<std::uint8_t>& file);

// The pages of an Ogg file, in file order.
struct OggPage {
  std::size_t offset = 0;
  bool bos = false;
  bool eos = false;
  std::uint32_t serial = 0;
  std::int64_t granule = 0;
};
std::vector<OggPage> OggPages(const std::vector<std::uint8_t>& file);

}  // namespace enctest
