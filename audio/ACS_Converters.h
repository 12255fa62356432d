#pragma once
// Converters that change the sample rate or the sample width of the PCM they read from their Input.
//
// TRateConverter: 16-bit PCM, mono or stereo, to OutSampleRate, through a windowed-sinc low-pass
// filter of KernelWidth taps whose cut-off lies at 0.4 x the lower of the two rates.
//   - Falling rate (input rate > OutSampleRate): the filter runs at the input rate and every output
//     is the filtered input at the sample it falls on (OutSampleRate outputs per input-rate inputs
//     on average, no interpolation between samples).
//   - Rising or equal rate: each output sample is first interpolated linearly between two input
//     samples, then the filter runs at the output rate. A run starts from silence: the first value
//     interpolated is the "previous sample" 0, so equal rates deliver the input delayed by one
//     sample and filtered; the last KernelWidth - 1 filter sums of a run are not delivered.
//   Outputs are rounded to the nearest integer, halves to even, and clipped to -32768..32767.
//   One input channel is handled as mono, any other count as stereo (the first two channels).
//
// TSampleConverter: 16-bit signed PCM to 8-bit unsigned and any other width (8-bit) to 16-bit.
//
// Both read blocks of up to 32768 bytes from the Input (reading on until the block is full or the
// Input ends) and deliver the converted block in pieces of whatever size the reader asks for.
// Size is the Input's Size scaled by the conversion (an open Size, -1, stays open); Position is the
// Input's Position scaled the same way.
//
// Failures: "Input not assigned" (EACSException) from Init and the format getters without an Input;
// "The Stream is not opened" from GetData outside Init..Flush. Property values out of range, or any
// change while Busy, are ignored.

#include <cstdint>
#include <vector>

#include "audio/ACS_Classes.h"
#include "audio/ACS_Procs.h"

class TRateConverter : public TACSConverter {
 public:
  explicit TRateConverter(platform::TComponent* AOwner);
  ~TRateConverter() override;

  int GetBitsPerSample() override;  // 16
  int GetChannels() override;       // the Input's
  int GetSampleRate() override;     // OutSampleRate
  int GetData(void* Buffer, int BufferSize) override;
  void Init() override;
  void Flush() override;

  TFilterWindowType FilterWindow() const { return FFilterWindow; }
  void SetFilterWindow(TFilterWindowType Value) { FFilterWindow = Value; }
  int KernelWidth() const { return FKernelWidth; }
  void SetKernelWidth(int Value);  // > 1, not while Busy
  int OutSampleRate() const { return FOutSampleRate; }
  void SetOutSampleRate(int Value);  // > 0, not while Busy

  // Bytes requested from the Input per block (set by Init).
  int ReadSize() const { return FReadSize; }

 private:
  // Converts `frames` frames from FIn into FOut; returns the bytes produced.
  int ConvertBlock(int frames, int inRate);
  template <int CH>
  int Falling(int frames, int inRate);
  template <int CH>
  int Rising(int frames, int inRate);

  int FOutSampleRate = 22050;
  int FReadSize = 0;
  bool FEndOfInput = false;
  std::int64_t FPhase = -1;  // between input and output samples; -1 = not started
  float FRatio = 1.0f;       // OutSampleRate / input rate at Init
  bool FStereo = false;
  int FKernelWidth = 30;
  TFilterWindowType FFilterWindow = fwBlackman;

  std::vector<std::uint8_t> FIn;   // the block read from the Input
  std::vector<std::int16_t> FOut;  // the converted block, interleaved, delivered from FBufStart
  std::vector<double> FKernel;
  std::vector<double> FKernelFrames;  // FKernel with each tap repeated per channel
  // Frames of one (mono) or two (left, right) doubles, like the PCM they come from:
  //   FWork: the falling filter's input, the last KernelWidth - 1 frames of the previous block
  //          (the carry) followed by this block's frames;
  //   FAcc:  the rising filter's sums, the first KernelWidth - 1 frames carried over from the
  //          previous block.
  std::vector<double> FWork;
  std::vector<double> FAcc;
  // The last input frame of the previous block.
  int FPrev[2] = {0, 0};
};

class TSampleConverter : public TACSConverter {
 public:
  explicit TSampleConverter(platform::TComponent* AOwner);
  ~TSampleConverter() override;

  int GetBitsPerSample() override;  // 8 for a 16-bit Input, otherwise 16
  int GetChannels() override;       // the Input's
  int GetSampleRate() override;     // the Input's
  int GetData(void* Buffer, int BufferSize) override;
  void Init() override;
  void Flush() override;

  int ReadSize() const { return FReadSize; }

 private:
  static constexpr int kBufferSize = 32768;

  int FReadSize = 0;
  bool FEndOfInput = false;
  bool FFromSixteen = false;          // the Input delivers 16-bit samples (set by Init)
  std::uint8_t FBuffer[kBufferSize];  // each block is read and converted in place
};
