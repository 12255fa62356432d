#include "audio/ACS_Audio.h"

#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "platform/softcard/Softcard.h"

namespace {

using platform::MMRESULT;
using platform::MMSYSERR_NOERROR;
using platform::softcard::Card;
using platform::softcard::kCardRate;

// The capture lock: one for every capture input, as the device's callback thread knows only the
// component it reports to. It guards each component's done queue and queued count.
std::mutex& CaptureLock() {
  static std::mutex lock;
  return lock;
}

// Devices added while the program runs are not seen, as with a real card's device list.
int NumDevs() {
  static const int count = static_cast<int>(platform::waveInGetNumDevs());
  return count;
}

// Card time allowed beyond the time the queued buffers need to fill before the device counts as
// having stopped. Generous: under sanitizers the card renders slowly but steadily.
constexpr double kGraceSeconds = 2.0;
// Card time that does not move at all for this long (wall time) means the card itself has stopped
// (it shuts down at process exit): waiting longer for card time would hang.
constexpr auto kStalledClock = std::chrono::seconds(5);

// Waits under `lock` until `ready` holds or `limit` frames of card time have passed (or card time
// has stood still for kStalledClock). Returns whether `ready` holds.
template <typename Ready>
bool WaitInCardTime(std::unique_lock<std::mutex>& lock, std::condition_variable& signal,
                    std::uint64_t limit, Ready ready) {
  if (ready()) return true;
  Card& card = Card::Instance();
  const std::uint64_t start = card.Frames();
  std::uint64_t seen = start;
  auto lastMove = std::chrono::steady_clock::now();
  while (!ready()) {
    // The signal wakes the wait at once; the timeout only lets it look at the card clock.
    signal.wait_for(lock, std::chrono::milliseconds(20));
    if (ready()) return true;
    const std::uint64_t now = card.Frames();
    if (now - start >= limit) return false;
    if (now != seen) {
      seen = now;
      lastMove = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - lastMove > kStalledClock) {
      return false;
    }
  }
  return true;
}

std::string ChannelWords(int channels) {
  if (channels == 1) return "mono";
  if (channels == 2) return "stereo";
  return std::to_string(channels) + "-channel";
}

std::string FormatWords(int bits, int channels, int rate) {
  return std::to_string(bits) + "-bit " + ChannelWords(channels) + " audio at " +
         std::to_string(rate) + " Hz";
}

}  // namespace

TAudioIn::TAudioIn(platform::TComponent* AOwner) : TACSInput(AOwner) { FSize = -1; }

TAudioIn::~TAudioIn() {
  Destroying();
  if (FDevice != nullptr) {
    // Destroyed during a run: take the buffers back from the device before their memory goes.
    platform::waveInReset(FDevice);
    platform::waveInClose(FDevice);
    FDevice = nullptr;
  }
}

void TAudioIn::SetBaseChannel(int n) {
  if (Busy()) throw EACSException("Component is buisy");
  // A negative number would reach the device layer as its "any device" number.
  if (n < 0 || n >= NumDevs()) {
    throw EACSException("Channel " + std::to_string(n) + " is not available");
  }
  FBaseChannel = n;
}

int TAudioIn::LongestRecTime(int bitsPerSample, int channels, int sampleRate) {
  // The stream may run past its plan by up to one buffer, and Position and the WAV header's sizes
  // must hold that too.
  const long long bytesPerSecond =
      std::max<long long>(static_cast<long long>(bitsPerSample / 8) * channels * sampleRate, 1);
  return static_cast<int>((std::numeric_limits<int>::max() - kBufferSize) / bytesPerSecond);
}

void TAudioIn::Init() {
  if (Busy()) throw EACSException("The component is busy");
  FBufEnd = 0;
  FBufStart = 1;
  FPosition = 0;

  // In 64 bits: 16-bit stereo at 44100 Hz passes 32 bits after 12,174 s.
  const long long bytesPerSecond =
      static_cast<long long>(FInBitsPerSample / 8) * FInChannels * FInSampleRate;
  const long long planned = bytesPerSecond * FRecTime;
  const int longest = LongestRecTime(FInBitsPerSample, FInChannels, FInSampleRate);
  if (FRecTime > longest) {
    throw EACSException("A recording of " + std::to_string(FRecTime) + " seconds of " +
                        FormatWords(FInBitsPerSample, FInChannels, FInSampleRate) +
                        " is too long for a WAV file; the longest is " + std::to_string(longest) +
                        " seconds");
  }
  // A negative plan never ends by size, however negative it is.
  FPlannedBytes = static_cast<int>(std::max<long long>(planned, std::numeric_limits<int>::min()));
  FBytesPerSecond = static_cast<int>(
      std::min<long long>(std::max<long long>(bytesPerSecond, 1), std::numeric_limits<int>::max()));

  FBusy = true;
  try {
    OpenWaveIn();
    const MMRESULT result = platform::waveInStart(FDevice);
    if (result != MMSYSERR_NOERROR) {
      throw EACSException("Cannot start recording on wave-in device " +
                          std::to_string(FBaseChannel) + " (error " + std::to_string(result) + ")");
    }
  } catch (...) {
    // Left busy, the component would refuse every later Init.
    CloseWaveIn();
    FBusy = false;
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(CaptureLock());
    FDoneHead = nullptr;
    FDoneTail = &FDoneHead;
    FQueued = 0;
  }
  FSize = FPlannedBytes;
}

int TAudioIn::GetData(void* Buffer, int BufferSize) {
  if (!Busy()) throw EACSException("The Stream is not opened");
  if (FPlannedBytes >= 0 && Position() >= FPlannedBytes) return 0;
  if (BufferSize <= 0) return 0;

  // Every request tops the device up to its four buffers, so that a worker that falls behind has
  // the whole queue's time to catch up. A buffer handed back empty (which happens only at a reset)
  // is skipped rather than read as the end of the stream.
  for (;;) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(CaptureLock());
        if (FQueued >= kQueuedBuffers) break;
      }
      QueueWaveBuffer();
    }
    if (FBufStart <= FBufEnd) break;
    CaptureBuffer* buffer = TakeFilledBuffer();
    const int recorded = static_cast<int>(std::min<std::uint32_t>(
        buffer->Header.dwBytesRecorded, static_cast<std::uint32_t>(kBufferSize)));
    std::memcpy(FStaging.data(), buffer->Data.data(), static_cast<std::size_t>(recorded));
    FBufStart = 1;
    FBufEnd = recorded;
    Recycle(buffer);
  }

  const int n = std::min(BufferSize, FBufEnd - FBufStart + 1);
  std::memcpy(Buffer, FStaging.data() + (FBufStart - 1), static_cast<std::size_t>(n));
  FBufStart += n;
  FPosition += n;
  return n;
}

void TAudioIn::Flush() {
  if (FDevice != nullptr) {
    {
      // The device keeps recording into the buffers it holds; they are waited for, then dropped.
      std::unique_lock<std::mutex> lock(CaptureLock());
      const double seconds =
          static_cast<double>(FQueued) * kBufferSize / FBytesPerSecond + kGraceSeconds;
      WaitInCardTime(lock, FReturned, static_cast<std::uint64_t>(seconds * kCardRate),
                     [this] { return FQueued <= 0; });
    }
    ResetDevice();
  }
  CloseWaveIn();
  FBusy = false;
}

void TAudioIn::OpenWaveIn() {
  if (FOpenCount == 0) {
    const int bits = FInBitsPerSample;
    const int channels = FInChannels;
    const int rate = FInSampleRate;
    const int blockAlign = channels * bits / 8;
    const bool representable = bits > 0 && bits <= 0xFFFF && channels > 0 && channels <= 0xFFFF &&
                               rate > 0 && blockAlign > 0 && blockAlign <= 0xFFFF;
    MMRESULT result = platform::WAVERR_BADFORMAT;
    if (representable) {
      platform::PCMWAVEFORMAT format;
      format.wFormatTag = platform::WAVE_FORMAT_PCM;
      format.nChannels = static_cast<std::uint16_t>(channels);
      format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
      format.nBlockAlign = static_cast<std::uint16_t>(blockAlign);
      format.nAvgBytesPerSec = static_cast<std::uint32_t>(rate) * format.nBlockAlign;
      format.wBitsPerSample = static_cast<std::uint16_t>(bits);
      result =
          platform::waveInOpen(&FDevice, static_cast<std::uint32_t>(FBaseChannel), &format,
                               &TAudioIn::WaveInCallback, reinterpret_cast<std::uintptr_t>(this),
                               platform::CALLBACK_FUNCTION | platform::WAVE_MAPPED);
    }
    if (result != MMSYSERR_NOERROR) {
      FDevice = nullptr;
      std::string why;
      switch (result) {
        case platform::WAVERR_BADFORMAT:
          why = "it cannot record " + FormatWords(bits, channels, rate);
          break;
        case platform::MMSYSERR_BADDEVICEID:
        case platform::MMSYSERR_NODRIVER:
          why = "there is no such device";
          break;
        case platform::MMSYSERR_ALLOCATED:
          why = "the device is in use";
          break;
        case platform::MMSYSERR_NOMEM:
          why = "out of memory";
          break;
        default:
          why = "error " + std::to_string(result);
          break;
      }
      throw EACSException("Cannot record from wave-in device " + std::to_string(FBaseChannel) +
                          ": " + why);
    }
  }
  ++FOpenCount;
}

void TAudioIn::CloseWaveIn() {
  if (FOpenCount == 1 && FDevice != nullptr) {
    if (platform::waveInClose(FDevice) == MMSYSERR_NOERROR) FDevice = nullptr;
  }
  if (FOpenCount > 0) --FOpenCount;
}

void TAudioIn::QueueWaveBuffer() {
  CaptureBuffer* buffer;
  if (FFree.empty()) {
    FBuffers.push_back(std::make_unique<CaptureBuffer>());
    buffer = FBuffers.back().get();
  } else {
    buffer = FFree.back();
    FFree.pop_back();
  }
  buffer->Header = platform::WAVEHDR{};
  buffer->Header.lpData = buffer->Data.data();
  buffer->Header.dwBufferLength = kBufferSize;
  buffer->Header.dwUser = reinterpret_cast<std::uintptr_t>(buffer);

  MMRESULT result = platform::waveInPrepareHeader(FDevice, &buffer->Header);
  if (result == MMSYSERR_NOERROR) {
    // Counted before the device has it, so that its return can never make the count drop below
    // the number of buffers really outstanding.
    {
      std::lock_guard<std::mutex> lock(CaptureLock());
      ++FQueued;
    }
    result = platform::waveInAddBuffer(FDevice, &buffer->Header);
    if (result != MMSYSERR_NOERROR) {
      {
        std::lock_guard<std::mutex> lock(CaptureLock());
        --FQueued;
      }
      platform::waveInUnprepareHeader(FDevice, &buffer->Header);
    }
  }
  if (result != MMSYSERR_NOERROR) {
    FFree.push_back(buffer);
    throw EACSException("The sound card refused a recording buffer on wave-in device " +
                        std::to_string(FBaseChannel) + " (error " + std::to_string(result) + ")");
  }
}

TAudioIn::CaptureBuffer* TAudioIn::TakeFilledBuffer() {
  std::unique_lock<std::mutex> lock(CaptureLock());
  // The oldest queued buffer is full at the latest when all of them are.
  const double seconds =
      static_cast<double>(kQueuedBuffers) * kBufferSize / FBytesPerSecond + kGraceSeconds;
  if (!WaitInCardTime(lock, FReturned, static_cast<std::uint64_t>(seconds * kCardRate),
                      [this] { return FDoneHead != nullptr; })) {
    throw EACSException("The sound card returned no recorded audio from wave-in device " +
                        std::to_string(FBaseChannel));
  }
  platform::WAVEHDR* header = FDoneHead;
  FDoneHead = header->lpNext;
  if (FDoneHead == nullptr) FDoneTail = &FDoneHead;
  header->lpNext = nullptr;
  return reinterpret_cast<CaptureBuffer*>(header->dwUser);
}

void TAudioIn::Recycle(CaptureBuffer* buffer) {
  platform::waveInUnprepareHeader(FDevice, &buffer->Header);
  FFree.push_back(buffer);
}

void TAudioIn::ResetDevice() {
  // The device hands every buffer it holds back through the callback before waveInReset returns.
  platform::waveInReset(FDevice);
  platform::WAVEHDR* header;
  int stillQueued;
  {
    std::lock_guard<std::mutex> lock(CaptureLock());
    header = FDoneHead;
    FDoneHead = nullptr;
    FDoneTail = &FDoneHead;
    stillQueued = FQueued;
  }
  while (header != nullptr) {
    platform::WAVEHDR* next = header->lpNext;
    Recycle(reinterpret_cast<CaptureBuffer*>(header->dwUser));
    header = next;
  }
  // A long run with a slow worker may have needed many buffers; keep none of them idle. A buffer
  // the device failed to give back must stay allocated, as the device may still write into it.
  if (stillQueued <= 0) {
    FFree.clear();
    FBuffers.clear();
  }
}

void TAudioIn::WaveInCallback(platform::HWAVEIN, std::uint32_t Msg, std::uintptr_t Instance,
                              std::uintptr_t Param1, std::uintptr_t) {
  if (Msg != platform::WIM_DATA) return;
  auto* self = reinterpret_cast<TAudioIn*>(Instance);
  auto* header = reinterpret_cast<platform::WAVEHDR*>(Param1);
  std::lock_guard<std::mutex> lock(CaptureLock());
  header->lpNext = nullptr;
  *self->FDoneTail = header;
  self->FDoneTail = &header->lpNext;
  --self->FQueued;
  self->FReturned.notify_all();
}
