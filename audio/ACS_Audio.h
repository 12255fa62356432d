#pragma once
// TAudioIn: the audio source that records from the sound card's wave-in device.
//
// The recording ends by size: Init plans InBitsPerSample / 8 x RecTime x InChannels x InSampleRate
// bytes, and GetData returns 0 (the end) at the first request made once that many bytes or more
// have been delivered. Each delivery is one whole capture buffer (or what is left of it after a
// smaller request), so the stream may run past the plan by less than one delivery. A negative
// RecTime plans a negative count: only a stop ends such a recording.
//
// Order of calls and threads:
//   Init (GUI thread, from the sink's Prepare): opens and starts the device; no buffer is queued
//     yet, so what the card records before the first GetData is lost, as on a real card.
//   GetData (sink's worker): keeps four 16384-byte buffers with the device and hands out the
//     oldest filled one through the staging buffer.
//   Flush (sink's worker, from the sink's Done): waits for the buffers still with the device,
//     stops the device, discards their audio and closes the device.
//   The device hands filled buffers back on the card's thread (WaveInCallback); they wait in a
//   queue guarded by the capture lock until the worker takes them.
//
// Failures (EACSException): Init while busy, a recording too long for a WAV file, a device that
// cannot be opened (Init then leaves the component idle), a buffer the device refuses or a device
// that stops returning buffers (GetData). Flush never waits for ever: when the device stops
// returning buffers it gives up after a bounded stretch of card time and closes the device.
//
// The properties are read at Init; changing them during a run has no effect on it.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/ACS_Classes.h"
#include "platform/softcard/WaveIn.h"

class TAudioIn : public TACSInput {
 public:
  static constexpr int kBufferSize = 16384;  // bytes per capture buffer
  static constexpr int kQueuedBuffers = 4;   // buffers kept with the device during a run

  explicit TAudioIn(platform::TComponent* AOwner);
  ~TAudioIn() override;

  int GetBitsPerSample() override { return FInBitsPerSample; }
  int GetChannels() override { return FInChannels; }
  int GetSampleRate() override { return FInSampleRate; }
  int GetTotalTime() override { return FRecTime; }
  int GetData(void* Buffer, int BufferSize) override;
  void Init() override;
  void Flush() override;

  int BaseChannel() const { return FBaseChannel; }
  // Raises EACSException "Component is buisy" while busy and "Channel <n> is not available" for a
  // device number the card does not have.
  void SetBaseChannel(int n);
  int InBitsPerSample() const { return FInBitsPerSample; }
  void SetInBitsPerSample(int Value) { FInBitsPerSample = Value; }
  int InChannels() const { return FInChannels; }
  void SetInChannels(int Value) { FInChannels = Value; }
  int InSampleRate() const { return FInSampleRate; }
  void SetInSampleRate(int Value) { FInSampleRate = Value; }
  int RecTime() const { return FRecTime; }
  void SetRecTime(int Value) { FRecTime = Value; }
  // The longest RecTime, in whole seconds, that Init accepts for a format.
  static int LongestRecTime(int bitsPerSample, int channels, int sampleRate);

 private:
  struct CaptureBuffer {
    platform::WAVEHDR Header;
    std::array<char, kBufferSize> Data;
  };

  void OpenWaveIn();
  void CloseWaveIn();
  // Hands one empty buffer to the device; raises when the device refuses it.
  void QueueWaveBuffer();
  // Waits for the oldest filled buffer and takes it out of the done queue; raises when the device
  // stops returning buffers.
  CaptureBuffer* TakeFilledBuffer();
  // Unprepares a buffer the device has handed back and keeps it for reuse.
  void Recycle(CaptureBuffer* buffer);
  // Stops the device and takes back every buffer it still holds, discarding their audio.
  void ResetDevice();
  static void WaveInCallback(platform::HWAVEIN Device, std::uint32_t Msg, std::uintptr_t Instance,
                             std::uintptr_t Param1, std::uintptr_t Param2);

  int FBaseChannel = 0;
  int FInBitsPerSample = 8;
  int FInChannels = 1;
  int FInSampleRate = 8000;
  int FRecTime = 600;

  platform::HWAVEIN FDevice = nullptr;
  int FOpenCount = 0;
  int FPlannedBytes = 0;
  int FBytesPerSecond = 0;  // of the current run's format

  // Guarded by the unit-wide capture lock (the card's thread hands buffers back while the worker
  // takes them): the done queue, linked through the headers' lpNext, and the queued count.
  platform::WAVEHDR* FDoneHead = nullptr;
  platform::WAVEHDR** FDoneTail = &FDoneHead;
  int FQueued = 0;
  std::condition_variable FReturned;  // signalled under the capture lock when a buffer comes back

  // Worker only (and Init/Flush/destructor while no buffer is with the device): every buffer this
  // component owns, and those neither with the device nor in the done queue.
  std::vector<std::unique_ptr<CaptureBuffer>> FBuffers;
  std::vector<CaptureBuffer*> FFree;

  std::array<char, kBufferSize> FStaging;  // the buffer being consumed; cursors in TACSInput
};
