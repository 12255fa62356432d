#pragma once
// TSoundIndicator: a converter that passes its Input's audio through unchanged and measures, on the
// way, a 32-band spectrum of it.
//
// Each GetData call analyses what it delivers in blocks of 64 frames: the block is mixed down to
// mono (8-bit samples as unsigned 0..255, anything else as signed 16-bit; any channel count other
// than 1 as two interleaved channels), shaped by the rising start of a 1024-point Hann window,
// transformed, and turned into log10 magnitudes (negative logarithms count as 0). Band k is line k
// of the 64-point transform, k x sample rate / 64 Hz, for k = 0..31. After a call each band level
// is (its previous value + the sum of the call's block levels) / the call's block count; a call
// with fewer than 64 frames leaves the levels as they were. Init sets them to 0; they keep their
// last values after Flush.
//
// Threads: Init on the GUI thread, GetData and Flush on the sink's worker; Levels() on any thread.

#include <array>
#include <atomic>
#include <mutex>

#include "audio/ACS_Classes.h"

class TSoundIndicator : public TACSConverter {
 public:
  static constexpr int kBands = 32;

  explicit TSoundIndicator(platform::TComponent* AOwner);
  ~TSoundIndicator() override;

  // The Input's format; EACSException "Input is not assigned." without an Input.
  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;
  int GetData(void* Buffer, int BufferSize) override;
  void Init() override;
  void Flush() override;

  // A copy of the 32 band levels as the last GetData left them.
  std::array<double, kBands> Levels() const;

 private:
  TACSInput* RequireInput() const;
  // Analyses n bytes of PCM in the given format into the band levels.
  void Analyse(const unsigned char* data, int n, int bits, int channels);

  static constexpr int kBlock = 64;
  static constexpr int kWindow = 1024;

  std::atomic<bool> FAnalysing{false};  // the analysis guard
  std::array<double, kWindow> FWindow;  // Hann window, symmetric, computed once

  mutable std::mutex FLevelsLock;  // guards FLevels: the worker writes them, any thread reads
  std::array<double, kBands> FLevels{};
};
