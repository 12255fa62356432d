#include "platform/softcard/WaveIn.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/softcard/CaptureStream.h"
#include "platform/softcard/Softcard.h"

namespace platform {

namespace {

// Largest period the card hands to Record; the card's own is smaller.
constexpr int kMaxPeriod = 4096;

struct Registry;
Registry& State();

}  // namespace

// One open capture. Its fields below the constants are guarded by the registry's mutex.
struct WaveInDevice final : softcard::CaptureClient {
  WaveInDevice(const PCMWAVEFORMAT& f, WaveInProc cb, std::uintptr_t inst)
      : format(f),
        callback(cb),
        instance(inst),
        stream(f.nSamplesPerSec, f.nChannels, f.wBitsPerSample, kMaxPeriod),
        pending(stream.MaxBytes()) {}

  void Record(std::uint64_t end, const float* left, const float* right, int frames) override;
  void Deliver() override;
  bool Holds() override;
  bool Recording() override;

  // Copies pending bytes into the queued buffers, whole frames only; full buffers move to the
  // done list. Registry mutex held.
  void Place();
  // Hands the done list back through the callback on the calling thread. Registry mutex held on
  // entry and on return, released during the callbacks.
  void HandBack(std::unique_lock<std::mutex>& lock);

  const PCMWAVEFORMAT format;
  const WaveInProc callback;  // null: CALLBACK_NULL, the caller polls WHDR_DONE
  const std::uintptr_t instance;

  softcard::CaptureStream stream;
  std::vector<std::uint8_t> pending;  // converted bytes not yet placed in a buffer
  std::size_t pendingBegin = 0, pendingEnd = 0;
  bool started = false;
  bool closed = false;
  WAVEHDR* queueHead = nullptr;  // queued buffers, linked through `reserved`
  WAVEHDR* queueTail = nullptr;
  WAVEHDR* doneHead = nullptr;  // filled, not yet handed back, linked through `reserved`
  WAVEHDR* doneTail = nullptr;
  bool handingBack = false;  // callbacks are running for this device
  std::thread::id handingBackOn;
};

namespace {

struct Registry {
  // Guards the device map and every device's mutable fields.
  std::mutex mu;
  std::condition_variable handedBack;  // a device's handingBack went false
  std::map<WaveInDevice*, std::shared_ptr<WaveInDevice>> devices;
};

Registry& State() {
  // Never freed: the card's render thread may still use a device while the process exits.
  static Registry* registry = new Registry;
  return *registry;
}

// Returns the device if `h` is an open handle. Registry mutex held.
WaveInDevice* Find(HWAVEIN h) {
  auto& devices = State().devices;
  auto it = devices.find(h);
  return it == devices.end() ? nullptr : it->second.get();
}

// Returns the device of `h` once no callback of it runs on another thread, or null when `h` is
// not open (also when another thread closed it meanwhile). Registry mutex held.
WaveInDevice* FindIdle(HWAVEIN h, std::unique_lock<std::mutex>& lock) {
  for (;;) {
    WaveInDevice* d = Find(h);
    if (d == nullptr || !d->handingBack || d->handingBackOn == std::this_thread::get_id()) return d;
    State().handedBack.wait(lock);
  }
}

void Append(WAVEHDR*& head, WAVEHDR*& tail, WAVEHDR* h) {
  h->reserved = nullptr;
  if (tail != nullptr) {
    tail->reserved = h;
  } else {
    head = h;
  }
  tail = h;
}

}  // namespace

void WaveInDevice::Place() {
  const std::size_t align = format.nBlockAlign;
  while (pendingBegin < pendingEnd && queueHead != nullptr) {
    WAVEHDR* h = queueHead;
    const std::size_t room = (h->dwBufferLength - h->dwBytesRecorded) / align * align;
    const std::size_t n = std::min(room, pendingEnd - pendingBegin);
    std::memcpy(h->lpData + h->dwBytesRecorded, pending.data() + pendingBegin, n);
    h->dwBytesRecorded += static_cast<std::uint32_t>(n);
    pendingBegin += n;
    if (h->dwBufferLength - h->dwBytesRecorded < align) {
      queueHead = h->reserved;
      if (queueHead == nullptr) queueTail = nullptr;
      Append(doneHead, doneTail, h);
    }
  }
  if (pendingBegin == pendingEnd) pendingBegin = pendingEnd = 0;
}

void WaveInDevice::Record(std::uint64_t, const float* left, const float* right, int frames) {
  std::lock_guard lock(State().mu);
  if (!started || closed) return;
  Place();
  // Whatever is still pending had no room: lost, as on a real card. (Without pacing the card does
  // not render while a device holds pending bytes, so this drops nothing there.)
  pendingBegin = pendingEnd = 0;
  pendingEnd = stream.Convert(left, right, std::min(frames, kMaxPeriod), pending.data());
  Place();
  if (!softcard::Card::Instance().Unpaced()) pendingBegin = pendingEnd = 0;
}

bool WaveInDevice::Recording() {
  std::lock_guard lock(State().mu);
  return started && !closed;
}

bool WaveInDevice::Holds() {
  std::lock_guard lock(State().mu);
  if (!started || closed) return false;
  Place();
  return pendingBegin < pendingEnd || queueHead == nullptr;
}

void WaveInDevice::Deliver() {
  std::unique_lock lock(State().mu);
  if (closed || doneHead == nullptr) return;
  HandBack(lock);
}

void WaveInDevice::HandBack(std::unique_lock<std::mutex>& lock) {
  WAVEHDR* h = doneHead;
  doneHead = doneTail = nullptr;
  handingBack = true;
  handingBackOn = std::this_thread::get_id();
  lock.unlock();
  while (h != nullptr) {
    WAVEHDR* next = h->reserved;  // read first: the callback may queue this header again
    h->reserved = nullptr;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (callback != nullptr) {
      callback(this, WIM_DATA, instance, reinterpret_cast<std::uintptr_t>(h), 0);
    }
    h = next;
  }
  lock.lock();
  handingBack = false;
  handingBackOn = std::thread::id();
  State().handedBack.notify_all();
}

std::uint32_t waveInGetNumDevs() { return 1; }

MMRESULT waveInOpen(HWAVEIN* handle, std::uint32_t deviceId, const PCMWAVEFORMAT* format,
                    WaveInProc callback, std::uintptr_t instance, std::uint32_t flags) {
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (format == nullptr || (handle == nullptr && !query)) return MMSYSERR_INVALPARAM;
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if ((flags & ~(CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_MAPPED)) != 0) {
    return MMSYSERR_INVALFLAG;
  }
  const std::uint32_t kind = flags & CALLBACK_TYPEMASK;
  if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
  if (kind == CALLBACK_FUNCTION && callback == nullptr && !query) return MMSYSERR_INVALPARAM;

  const PCMWAVEFORMAT& f = *format;
  if (f.wFormatTag != WAVE_FORMAT_PCM ||
      !softcard::CaptureStream::ValidFormat(static_cast<int>(f.nSamplesPerSec), f.nChannels,
                                            f.wBitsPerSample) ||
      f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8 ||
      f.nAvgBytesPerSec != f.nSamplesPerSec * f.nBlockAlign) {
    return WAVERR_BADFORMAT;
  }
  if (query) return MMSYSERR_NOERROR;

  auto device =
      std::make_shared<WaveInDevice>(f, kind == CALLBACK_FUNCTION ? callback : nullptr, instance);
  {
    std::lock_guard lock(State().mu);
    State().devices.emplace(device.get(), device);
  }
  softcard::Card::Instance().AddCaptureClient(device);
  *handle = device.get();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header) {
  std::lock_guard lock(State().mu);
  if (Find(device) == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header) {
  std::lock_guard lock(State().mu);
  if (Find(device) == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header) {
  {
    std::lock_guard lock(State().mu);
    WaveInDevice* d = Find(device);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    // A buffer that cannot hold one frame would come back empty at once, again and again.
    if (header->dwBufferLength < d->format.nBlockAlign) return MMSYSERR_INVALPARAM;
    header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    header->dwBytesRecorded = 0;
    Append(d->queueHead, d->queueTail, header);
  }
  softcard::Card::Instance().Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
  MMRESULT result = MMSYSERR_NOERROR;
  // Under the card lock, so that the recording starts exactly at the card time the caller sees.
  softcard::Card::Instance().WithSynth([&](softcard::MidiSink&) {
    std::lock_guard lock(State().mu);
    WaveInDevice* d = Find(device);
    if (d == nullptr) {
      result = MMSYSERR_INVALHANDLE;
      return;
    }
    if (d->started) return;
    d->started = true;
    d->stream.Restart();
    d->pendingBegin = d->pendingEnd = 0;
  });
  return result;
}

MMRESULT waveInReset(HWAVEIN device) {
  {
    std::unique_lock lock(State().mu);
    WaveInDevice* d = FindIdle(device, lock);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    d->started = false;
    d->pendingBegin = d->pendingEnd = 0;
    while (d->queueHead != nullptr) {
      WAVEHDR* h = d->queueHead;
      d->queueHead = h->reserved;
      Append(d->doneHead, d->doneTail, h);
    }
    d->queueTail = nullptr;
    if (d->doneHead != nullptr) d->HandBack(lock);
  }
  softcard::Card::Instance().Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
  std::shared_ptr<WaveInDevice> d;
  {
    std::unique_lock lock(State().mu);
    if (FindIdle(device, lock) == nullptr) return MMSYSERR_INVALHANDLE;
    auto it = State().devices.find(device);
    if (it->second->queueHead != nullptr || it->second->doneHead != nullptr) {
      return WAVERR_STILLPLAYING;
    }
    d = it->second;
    d->closed = true;
    State().devices.erase(it);
  }
  softcard::Card::Instance().RemoveCaptureClient(d.get());
  return MMSYSERR_NOERROR;
}

}  // namespace platform
