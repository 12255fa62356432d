#pragma once
// TMP3Out: the file sink that encodes the PCM of its Input into an MPEG audio layer III file
// through the LAME encoder, bound at run time (audio/lame.h).
//
// Construction loads the library (LoadLameLibrary) and raises EACSException "lame_enc.dll library
// could not be loaded." when it is missing; destruction ends the writer's use of it.
//
// A run: Prepare (GUI thread, from Run) creates FileName anew, initialises the Input and sets up
// the encoder from the properties; each pass of the worker reads one block of up to 16384 bytes and
// encodes it; Done writes the ID3 tag texts, the encoder's last frames and, when the encoder
// reserved it, the VBR/Info frame at the start of the file, then closes the file and flushes the
// Input. A stopped run ends through Done like a complete one, so the file is always complete and
// playable.
//
// Input: 16-bit signed or 8-bit unsigned PCM, mono or stereo. 8-bit blocks are widened to 16 bits
// before encoding. A mono Input reaches the encoder as two equal channels (Mode MONO mixes them
// down again). Prepare refuses other formats, and a library that lacks an entry point the writer
// calls, with an EACSException.
//
// FileMode stays foRewrite whatever is assigned: an MP3 file is always written anew. The properties
// take effect at the next Prepare, the ID3 texts at the end of the run.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ACS_Classes.h"
#include "audio/lame.h"

enum TMP3BitRate {
  br8,
  br16,
  br24,
  br32,
  br40,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br144,
  br160,
  br192,
  br224,
  br256,
  br320
};

// Output sample rate; srDefault lets the encoder choose. Not in rate order.
enum TMP3SampleRate { srDefault, sr11kHz, sr22kHz, sr44kHz, sr32kHz, sr41kHz, sr48kHz };

// Channel mode; the ordinal is the encoder's own mode number.
enum TMP3Mode { STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO };

// Encoder quality, 0 (best, slowest) to 9 (fastest).
enum TMP3Quality { ql0, ql1, ql2, ql3, ql4, ql5, ql6, ql7, ql8, ql9 };

// kbit/s of a TMP3BitRate.
int MP3BitRateKbps(TMP3BitRate rate);
// Hz passed to the encoder for a TMP3SampleRate (0 for srDefault; sr41kHz passes 44100, as LAME has
// no 41 kHz rate).
int MP3SampleRateHz(TMP3SampleRate rate);

class TMP3Out : public TACSFileOut {
 public:
  explicit TMP3Out(platform::TComponent* AOwner);
  ~TMP3Out() override;

  TMP3BitRate BitRate() const { return FBitRate; }
  void SetBitRate(TMP3BitRate Value) { FBitRate = Value; }
  const std::string& Id3TagTitle() const { return FId3TagTitle; }
  void SetId3TagTitle(const std::string& Value) { FId3TagTitle = Value; }
  const std::string& Id3TagArtist() const { return FId3TagArtist; }
  void SetId3TagArtist(const std::string& Value) { FId3TagArtist = Value; }
  const std::string& Id3TagAlbum() const { return FId3TagAlbum; }
  void SetId3TagAlbum(const std::string& Value) { FId3TagAlbum = Value; }
  const std::string& Id3TagYear() const { return FId3TagYear; }
  void SetId3TagYear(const std::string& Value) { FId3TagYear = Value; }
  const std::string& Id3TagTrack() const { return FId3TagTrack; }
  void SetId3TagTrack(const std::string& Value) { FId3TagTrack = Value; }
  const std::string& Id3TagComment() const { return FId3TagComment; }
  void SetId3TagComment(const std::string& Value) { FId3TagComment = Value; }
  const std::string& Id3TagGenre() const { return FId3TagGenre; }
  void SetId3TagGenre(const std::string& Value) { FId3TagGenre = Value; }
  TMP3Quality Quality() const { return FQuality; }
  void SetQuality(TMP3Quality Value) { FQuality = Value; }
  TMP3SampleRate SampleRate() const { return FSampleRate; }
  void SetSampleRate(TMP3SampleRate Value) { FSampleRate = Value; }
  TMP3Mode Mode() const { return FMode; }
  void SetMode(TMP3Mode Value) { FMode = Value; }
  bool CRC() const { return FCRC; }
  void SetCRC(bool Value) { FCRC = Value; }
  bool Copyright() const { return FCopyright; }
  void SetCopyright(bool Value) { FCopyright = Value; }
  bool Original() const { return FOriginal; }
  void SetOriginal(bool Value) { FOriginal = Value; }
  bool WriteVBRHeader() const { return FWriteVBRHeader; }
  void SetWriteVBRHeader(bool Value) { FWriteVBRHeader = Value; }
  bool EnableVBR() const { return FEnableVBR; }
  void SetEnableVBR(bool Value) { FEnableVBR = Value; }
  TMP3Quality VBRQuality() const { return FVBRQuality; }
  void SetVBRQuality(TMP3Quality Value) { FVBRQuality = Value; }
  // kbit/s. When the maximum is below the minimum, Prepare exchanges the two (and they stay so).
  int VBRMinBitrate() const { return FVBRMinBitrate; }
  void SetVBRMinBitrate(int Value) { FVBRMinBitrate = Value; }
  int VBRMaxBitrate() const { return FVBRMaxBitrate; }
  void SetVBRMaxBitrate(int Value) { FVBRMaxBitrate = Value; }

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  // Undoes what a Prepare that fails half-way has opened.
  void ReleaseRun();

  std::array<std::int16_t, 8192> FBuffer{};  // one block of input, widened to 16 bits when needed
  std::array<std::uint8_t, 8192> FNarrow{};  // one block of 8-bit input before widening
  TMP3BitRate FBitRate = br128;
  acs::lame_t FHandle = nullptr;          // valid from Prepare to Done
  std::vector<unsigned char> FOutBuffer;  // encoded bytes; allocated by Prepare, freed by Done
  int FOutBufferSize = 0;
  std::string FId3TagTitle, FId3TagArtist, FId3TagAlbum, FId3TagYear, FId3TagTrack, FId3TagComment,
      FId3TagGenre;
  bool FCopyright = false;
  bool FOriginal = true;
  bool FEnableVBR = false;
  bool FWriteVBRHeader = false;
  bool FCRC = false;
  TMP3Quality FVBRQuality = ql5;
  int FVBRMinBitrate = 128;
  int FVBRMaxBitrate = 192;
  TMP3Quality FQuality = ql5;
  TMP3Mode FMode = STEREO;
  TMP3SampleRate FSampleRate = srDefault;
  std::int64_t FStreamStart = 0;  // where this run's MP3 data begins in the file
};
