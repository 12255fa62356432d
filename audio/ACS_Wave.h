#pragma once
// WAV files: TWaveOut writes the PCM of its Input as a RIFF/WAVE file (plain PCM or IMA/DVI ADPCM,
// new or appended); TWaveIn reads a WAV file (PCM, IMA/DVI ADPCM, Microsoft ADPCM, compressed data
// through the compression manager) and delivers PCM.
//
// File layout (all fields little-endian):
//   PCM, 44-byte header: "RIFF" size "WAVE" "fmt " 16 {tag 1, channels, rate, bytes/s, block
//   align, bits} "data" size, then the samples as the input delivered them.
//   IMA/DVI ADPCM, 60-byte header: "RIFF" size "WAVE" "fmt " 20 {tag 17, channels, rate, bytes/s,
//   block size, 4 bits, cbSize 2, samples per block} "fact" 4 {samples per channel} "data" size,
//   then blocks of BlockSize bytes. A block starts with one 4-byte header per channel (first
//   sample, step index 0..88, a zero byte) followed by 4-bit codes: mono two per byte, the earlier
//   sample in the low nibble; stereo in groups of 8 bytes, 4 bytes (8 codes) of the first channel
//   then 4 of the second. A block holds spb = (2 div channels) x (BlockSize - 4 x channels) + 1
//   samples per channel (1017 mono and 505 stereo at 512 bytes).
//
// Both classes find the chunks of an existing file with the same header walk: a window of 4 bytes
// slides to "RIFF" and then "WAVE"; after that chunks are taken in turn, looking for "fmt ", then
// (for ADPCM and compressed files) "fact", then "data", skipping any other chunk by its length.
// Chunk ids compare with SameChunkId. The walk gives up at the end of the file, once 8192 bytes
// have been consumed, or on a chunk whose length runs past the end of the file; odd chunk lengths
// get no pad byte.

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/ACS_Classes.h"

enum TWavType : std::uint8_t {
  wtUnsupported = 0,
  wtPCM = 1,
  wtDVIADPCM = 2,
  wtMSADPCM = 3,
  wtACM = 4,
};

// Two chunk ids match when at each of the four positions the bytes are equal or differ by exactly
// 32: letters match regardless of case, and "fmt " matches "fmt" followed by a zero byte.
bool SameChunkId(const char* A, const char* B);

// The 44-byte PCM header, as written by TWaveOut.
struct TWaveHeader {
  std::uint32_t RIFFSize = 0;
  std::uint16_t wFormatTag = 1;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  std::uint32_t DataSize = 0;

  static constexpr int kBytes = 44;
  void Pack(std::uint8_t* Out) const;
};

// The 60-byte IMA/DVI ADPCM header, as written by TWaveOut.
struct TDVIADPCMHeader {
  std::uint32_t RIFFSize = 0;
  std::uint16_t wFormatTag = 17;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 4;
  std::uint16_t cbSize = 2;
  std::uint16_t wSamplesPerBlock = 0;
  std::uint32_t FactSamples = 0;  // samples per channel
  std::uint32_t DataSize = 0;

  static constexpr int kBytes = 60;
  void Pack(std::uint8_t* Out) const;
  static TDVIADPCMHeader Unpack(const std::uint8_t* In);
};

// The IMA ADPCM tables: 89 quantiser steps and the step-index change per 4-bit code.
extern const int kImaStepTable[89];
extern const int kImaIndexTable[16];

// ---------------------------------------------------------------------------------------------
// TWaveOut: the WAV file sink.
//
// Prepare (GUI thread, from Run) creates FileName, or with FileMode foAppend opens an existing
// non-empty file exclusively and walks its header; it calls the Input's Init and writes the header
// (sizes from the Input's Size), or checks that the Input's format matches the file appended to and
// moves to its end. Failures raise EACSException:
//   "File name is not assigned."                    FileName empty
//   "Cannot append data to this .wav file."          the file appended to is not PCM or IMA ADPCM
//                                                    (or its header cannot be walked)
//   "Cannot append data in different audio format."  rate, channels or (PCM) bits differ
//   "Cannot encode 8 bit sound into ADPCM."          WavType wtDVIADPCM with a non-16-bit Input
//   "Cannot encode this sound into ADPCM: ..."       IMA ADPCM needs one or two channels and, for
//                                                    two, a BlockSize that is a multiple of 8
// and, for files that cannot be opened, the stream's EFOpenError. Nothing stays open after a
// failure.
//
// DoOutput (worker) pulls up to 16384 bytes (PCM) or one block's worth of samples (ADPCM) under the
// input lock and writes them. A failure of the Input ends the run normally (with OnDone); a failure
// to write (disk full, file removed) is raised and so ends the run through OnThreadException.
// An ADPCM block is always written whole: the Input's last samples are followed by silence, and an
// Input that ends at a block boundary gets one block of silence more.
//
// While it records, once per second of the Input's audio, the writer puts what it holds on file and
// sets the header's sizes to the data written so far, so that a program killed in the middle leaves
// a file whose header claims no more than it holds and loses at most that second.
//
// Done (worker) gives the header the sizes of the data written (unless they came out as planned),
// then closes the file and flushes the Input. An output that was deleted or replaced meanwhile is a
// failure.
class TWaveOut : public TACSFileOut {
 public:
  explicit TWaveOut(platform::TComponent* AOwner);
  ~TWaveOut() override;

  TWavType WavType() const { return FWavType; }
  // Takes wtPCM or wtDVIADPCM while the sink is idle; ignores anything else.
  void SetWavType(TWavType Value);
  std::uint16_t BlockSize() const { return FBlockSize; }
  // Takes a non-zero multiple of 4 while the sink is idle; ignores anything else.
  void SetBlockSize(std::uint16_t Value);
  void SetFileMode(TFileOutputMode NewMode) override;

  static constexpr int kBufferSize = 16384;

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

  void WritePcmWaveHeader(TWaveHeader& Header);
  void WriteDviWaveHeader(TDVIADPCMHeader& Header);
  // Walks the header of the file being appended to and fills the existing-file fields.
  void ReadAppendHeader();
  // Encode one block from the samples after the block's first sample (mono: spb - 1 samples;
  // stereo: spb - 1 interleaved frames), with the current predictors and step indices.
  void EncodeImaBlockMono(const std::int16_t* Samples, std::uint8_t* Block);
  void EncodeImaBlockStereo(const std::int16_t* Samples, std::uint8_t* Block);

  // Encoder state, carried from block to block (the predictors are re-seeded by every block).
  std::int16_t FLeftPredictor = 0;
  std::uint8_t FLeftStepIndex = 0;
  std::int16_t FRightPredictor = 0;
  std::uint8_t FRightStepIndex = 0;

 private:
  void DecodeAppendFmt(const std::uint8_t* Body);
  // Sets the header's sizes to those of the data on file.
  void PatchHeader();
  // Every second of the Input's audio: what the buffer holds goes to the file, then the header
  // gets the sizes of the data written so far.
  void CheckpointEverySecond(int InputBytes);
  // Data goes to the file through a write-back buffer whose writes end on 64 KB file offsets:
  // the 44- or 60-byte header would otherwise leave every block write straddling page boundaries,
  // which costs the page cache about as much again as the write itself.
  void WriteData(const std::uint8_t* Data, int Count);
  // Writes what the buffer holds; the buffer is empty afterwards, also after a failure.
  void FlushData();

  bool FEndOfInput = false;
  std::uint8_t FBuffer[kBufferSize];
  TWavType FWavType = wtPCM;
  std::uint16_t FBlockSize = 512;

  // The file appended to, as ReadAppendHeader found it.
  std::uint32_t FExistingRate = 0;
  std::uint16_t FExistingChannels = 0;
  std::uint16_t FExistingBits = 0;
  std::int64_t FFactPosition = 0;
  std::int64_t FDataSizePosition = 0;
  TWavType FExistingType = wtUnsupported;
  std::int64_t FDataStart = 0;

  // The current run.
  bool FAppended = false;                // Prepare found a non-empty file and moved to its end
  int FChannels = 0;                     // the Input's channel count
  int FPlannedSize = 0;                  // the Input's Size at Prepare (-1 = open length)
  std::int64_t FPlannedData = 0;         // data bytes the header announced
  std::int64_t FDataWritten = 0;         // data bytes written by this run
  std::int64_t FFramesTaken = 0;         // ADPCM: samples per channel taken from the Input
  std::int64_t FBytesPerSecond = 0;      // of the Input's audio
  std::int64_t FUntilCheckpoint = 0;     // Input bytes until the next checkpoint
  bool FCheckpointed = false;            // the header no longer holds the planned sizes
  std::vector<std::int16_t> FPcmBlock;   // ADPCM: one block's samples, interleaved
  std::vector<std::uint8_t> FCodeBlock;  // ADPCM: one encoded block
  static constexpr int kWriteBack = 65536;
  std::vector<std::uint8_t> FWriteBack;  // kWriteBack bytes, allocated once
  int FWriteBackBytes = 0;               // bytes waiting in FWriteBack
  std::int64_t FWriteBackAt = 0;         // file offset of FWriteBack's first byte
};

// ---------------------------------------------------------------------------------------------
// TWaveIn: the WAV file source.
//
// OpenFile walks the header (see above) and prepares by type:
//   wtPCM       the samples as stored; Size = the data size (cut to what the file holds, so a size
//               left at 0xFFFFFFFF by an unfinished writer reads up to the end of the file).
//   wtDVIADPCM  16-bit PCM decoded block by block; Size = fact samples x 2 x channels.
//   wtMSADPCM   16-bit PCM decoded block by block with the file's coefficient table; Size idem.
//   wtACM       compressed data (format tag 85): converted as a whole into an in-memory PCM image,
//               which is then read as PCM. A file the compression manager cannot convert
//               delivers nothing.
//   wtUnsupported  anything else, and files whose header cannot be walked or whose values would not
//               fit the decoders (more than two ADPCM channels, a decoded block larger than the
//               16384-byte staging buffer, stereo IMA blocks not made of 8-byte groups, more than
//               32 coefficient pairs, a zero frame size...): delivers nothing.
// ADPCM blocks are delivered whole, so after the last block Position may pass Size. A block whose
// header holds a step index above 88 or a coefficient index outside the file's table ends the data.
// Seek moves to the frame (PCM) or to the start of the block that holds the sample (ADPCM).
class TWaveIn : public TACSFileIn {
 public:
  explicit TWaveIn(platform::TComponent* AOwner);
  ~TWaveIn() override;

  int GetData(void* Buffer, int BufferSize) override;
  void OpenFile() override;
  void CloseFile() override;
  bool Seek(int Sample) override;

  // The kind of file; opens and closes like the format getters.
  TWavType WavType();

  static constexpr int kBufferSize = 16384;

 protected:
  void ReadWaveHeader();
  // Read the next block into the decoder's fields; False at the end of the data or for a block
  // that cannot be decoded.
  bool ReadImaBlock();
  bool ReadMsAdpcmBlock();
  // Decode the block just read into the staging buffer; return the bytes of PCM produced.
  int DecodeImaBlockMono();
  int DecodeImaBlockStereo();
  int DecodeMsAdpcmBlockMono();
  int DecodeMsAdpcmBlockStereo();

 private:
  // The compression manager's part of OpenFile: converts the whole file (FStream, at its start)
  // into a PCM WAV image in Image. Returns False when the compression manager suggests no PCM
  // format or the conversion fails; failures are not raised.
  bool ConvertAcmImage(platform::TStream& File, platform::TMemoryStream& Image);
  void OpenAcm();
  void ValidateFormat();
  // Reads up to Wanted bytes of PCM data, not past Size; at the end of the data a looping reader
  // starts again (Restart) and reads from there. 0 at the end.
  int ReadPcm(std::uint8_t* Into, int Wanted);
  void Restart();

  std::uint8_t FBuffer[kBufferSize];
  TWavType FWavType = wtUnsupported;
  std::uint16_t FDviBlockAlign = 0;
  std::uint16_t FDviSamplesPerBlock = 0;
  std::int32_t FDviSampleCount = 0;
  std::int16_t FLeftPredictor = 0;
  std::uint8_t FLeftStepIndex = 0;
  std::int16_t FRightPredictor = 0;
  std::uint8_t FRightStepIndex = 0;
  std::uint16_t FMsBlockAlign = 0;
  std::uint16_t FMsSamplesPerBlock = 0;
  std::int32_t FMsSampleCount = 0;
  std::uint16_t FNumCoef = 0;
  std::int16_t FCoefs[32][2] = {};
  std::uint8_t FLeftPredictorChoice = 0, FRightPredictorChoice = 0;
  std::int16_t FLeftDelta = 0, FRightDelta = 0;
  std::int16_t FLeftSample1 = 0, FRightSample1 = 0;
  std::int16_t FLeftSample2 = 0, FRightSample2 = 0;
  std::int64_t FDataStart = 0;
  std::uint32_t FDataSize = 0;                     // the data chunk's size as written
  std::int64_t FStreamSize = 0;                    // length of the stream being read
  std::vector<std::uint8_t> FBlock;                // the ADPCM block being decoded
  std::unique_ptr<platform::TStream> FKeptStream;  // the file, while its PCM image is read
};
