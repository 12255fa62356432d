#pragma once
// TVorbisOut: the file sink that encodes the PCM of its Input into an Ogg Vorbis file through
// libvorbis, libvorbisenc and libogg, bound at run time (audio/ogg.h, Codec.h, VorbisEnc.h).
//
// The libraries are loaded when the program starts. Construction raises EACSException with the
// message of the first one missing, in the order ogg, vorbis, vorbisfile, vorbisenc:
// "ogg.dll library could not be loaded." and so on (vorbisfile is required although nothing calls
// it).
//
// Encoder set-up at Prepare:
//   - DesiredNominalBitrate bbrAutoSelect: quality mode, with Compression as the quality (-0.1..1).
//   - otherwise bit-rate mode with the nominal rate, the maximum (at least the nominal;
//   bbrAutoSelect
//     gives the nominal) and the minimum (bbrAutoSelect gives the nominal).
//   The three bit-rate setters keep minimum <= nominal <= maximum (comparing ordinals); see below.
//   A set-up the encoder refuses (a bit rate it cannot reach at that sample rate) fails Prepare
//   with an EACSException that says so.
//
// A run: Prepare creates FileName anew, or with FileMode foAppend opens an existing file and adds a
// new logical stream after its bytes; then it initialises the Input and writes the three header
// packets on pages of their own. Each worker pass encodes one block of up to 65536 bytes; the pass
// that meets the end of the input writes the rest of the stream down to its end-of-stream page, and
// the next pass ends the run. Done closes the file, flushes the Input and clears Comments (comment
// lines apply to one run). A run that is stopped early still gets its stream completed by Done, so
// the file stays a valid Ogg Vorbis file (and a later append to it stays readable).
//
// Comments: one line per comment, "NAME=value"; a line without "=" gives an empty name.
//
// Input: 16-bit signed or 8-bit unsigned PCM, mono or stereo; Prepare refuses other formats, and a
// library that lacks an entry point the writer calls, with an EACSException.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ACS_Classes.h"
#include "audio/Codec.h"
#include "audio/VorbisEnc.h"
#include "audio/ogg.h"

// Bit rates in rising order; bbrAutoSelect means "no value".
enum TVorbisBitRate {
  bbrAutoSelect,
  bbr45,
  bbr48,
  bbr56,
  bbr64,
  bbr80,
  bbr96,
  bbr112,
  bbr128,
  bbr144,
  bbr160,
  bbr192,
  bbr224,
  bbr256,
  bbr320,
  bbr499
};

// bit/s of a TVorbisBitRate; -1 for bbrAutoSelect.
int VorbisBitRateValue(TVorbisBitRate rate);

class TVorbisOut : public TACSFileOut {
 public:
  explicit TVorbisOut(platform::TComponent* AOwner);
  ~TVorbisOut() override;

  float Compression() const { return FCompression; }
  void SetCompression(float Value) { FCompression = Value; }

  // The comment lines of the next run. Done clears them.
  const std::vector<std::string>& Comments() const { return FComments; }
  std::vector<std::string>& Comments() { return FComments; }
  void SetComments(const std::vector<std::string>& Value) { FComments = Value; }

  TVorbisBitRate DesiredMaximumBitrate() const { return FDesiredMaximumBitrate; }
  // Ignored while the nominal is bbrAutoSelect; otherwise taken when it is bbrAutoSelect or not
  // below the nominal.
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  TVorbisBitRate DesiredNominalBitrate() const { return FDesiredNominalBitrate; }
  // Lowers the minimum to the new nominal and raises the maximum to it; bbrAutoSelect resets the
  // maximum (and so all three) to bbrAutoSelect.
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  TVorbisBitRate MinimumBitrate() const { return FMinimumBitrate; }
  // Taken when not above the nominal.
  void SetMinimumBitrate(TVorbisBitRate Value);

  int Serial() const { return FSerial; }
  void SetSerial(int Value) { FSerial = Value; }

  // Stores the mode: foAppend is honoured.
  void SetFileMode(TFileOutputMode NewMode) override;

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  // Sets up the encoder settings for the input's format; raises when the encoder refuses them.
  void SetUpEncoder(int channels, int rate);
  // Hands `frames` frames of FBuffer (16-bit, `channels` interleaved) to the encoder; 0 ends the
  // input.
  void Analyse(int channels, int frames);
  // Encodes what the encoder has ready and writes every finished page.
  void WritePages();
  void WritePage();
  // Clears the library state and closes the file (whatever Prepare got to).
  void ReleaseRun();

  std::array<std::int16_t, 32768> FBuffer{};  // one block of input, widened to 16 bits when needed
  std::array<std::uint8_t, 32768> FNarrow{};  // one block of 8-bit input before widening
  std::vector<std::string> FComments;
  int FSerial = 0;
  TVorbisBitRate FDesiredNominalBitrate = bbrAutoSelect;
  TVorbisBitRate FDesiredMaximumBitrate = bbrAutoSelect;
  TVorbisBitRate FMinimumBitrate = bbrAutoSelect;
  ogg_stream_state OggSS{};
  ogg_page OggPg{};
  ogg_packet OggPk{};
  vorbis_info VInfo{};
  vorbis_comment VComm{};
  vorbis_dsp_state Vdsp{};
  vorbis_block VBlock{};
  ogg_packet header{}, header_comm{}, header_cb{};
  float FCompression = 0.2f;
  bool EndOfStream = false;
  // How far Prepare got, so that Done and a failed Prepare release exactly that.
  bool FInfoReady = false;      // VInfo initialised
  bool FCommentReady = false;   // VComm initialised
  bool FAnalysisReady = false;  // Vdsp, VBlock and OggSS initialised
};
