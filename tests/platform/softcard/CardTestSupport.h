#pragma once
// Helpers for the tests that drive the virtual card: a MIDI client that plays a fixed list of
// events, a wave client with a fixed signal, and a recorder that captures through wave-in.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/softcard/Softcard.h"
#include "platform/softcard/WaveIn.h"
#include "tests/support/WavFiles.h"

namespace cardtest {

using platform::softcard::kNever;
using tw_test::Samples16;

struct MidiEvent {
  std::uint64_t frame;
  int channel, key, velocity;  // velocity 0: note off
};

// Plays `events` (sorted by frame) and records the card frame at which each was dispatched.
class ListClient final : public platform::softcard::MidiClient {
 public:
  explicit ListClient(std::vector<MidiEvent> events) : events_(std::move(events)) {}
  std::uint64_t NextEventFrame() override {
    return next_ < events_.size() ? events_[next_].frame : kNever;
  }
  void Dispatch(std::uint64_t frame, platform::softcard::MidiSink& synth) override {
    while (next_ < events_.size() && events_[next_].frame <= frame) {
      const MidiEvent& e = events_[next_++];
      if (e.velocity > 0) {
        synth.Send(static_cast<std::uint8_t>(0x90 | e.channel), static_cast<std::uint8_t>(e.key),
                   static_cast<std::uint8_t>(e.velocity));
      } else {
        synth.Send(static_cast<std::uint8_t>(0x80 | e.channel), static_cast<std::uint8_t>(e.key),
                   0);
      }
      std::lock_guard lock(mu_);
      dispatched_.push_back(frame);
    }
  }
  std::vector<std::uint64_t> Dispatched() {
    std::lock_guard lock(mu_);
    return dispatched_;
  }

 private:
  std::vector<MidiEvent> events_;
  std::size_t next_ = 0;  // render thread only
  std::mutex mu_;         // guards dispatched_
  std::vector<std::uint64_t> dispatched_;
};

// A constant signal on the "Wave" line.
class DcClient final : public platform::softcard::WaveClient {
 public:
  DcClient(float left, float right) : left_(left), right_(right) {}
  void Mix(std::uint64_t, float* l, float* r, int frames) override {
    for (int i = 0; i < frames; ++i) {
      l[i] += left_;
      r[i] += right_;
    }
  }

 private:
  float left_, right_;
};

// A signal that counts card frames: sample n of the line is (n mod 256) / 256, so a recording at
// the card's rate shows every lost or repeated frame.
class RampClient final : public platform::softcard::WaveClient {
 public:
  void Mix(std::uint64_t frame, float* l, float* r, int frames) override {
    for (int i = 0; i < frames; ++i) {
      const float v = static_cast<float>((frame + i) % 256) / 256.0f;
      l[i] += v;
      r[i] += v;
    }
  }
};

inline platform::PCMWAVEFORMAT Format(int rate, int channels, int bits) {
  platform::PCMWAVEFORMAT f;
  f.nChannels = static_cast<std::uint16_t>(channels);
  f.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  f.wBitsPerSample = static_cast<std::uint16_t>(bits);
  f.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  return f;
}

// Records through wave-in the way the capture component does: a few buffers queued, each refilled
// from the callback until `target` bytes have come back. Remembers the card frame at which each
// buffer came back.
class Recorder {
 public:
  Recorder(const platform::PCMWAVEFORMAT& format, std::size_t target, int buffers = 4,
           std::uint32_t bufferBytes = 16384)
      : target_(target), blocks_(buffers), headers_(buffers) {
    EXPECT_EQ(platform::waveInOpen(&device_, 0, &format, &Callback,
                                   reinterpret_cast<std::uintptr_t>(this),
                                   platform::CALLBACK_FUNCTION | platform::WAVE_MAPPED),
              platform::MMSYSERR_NOERROR);
    for (int i = 0; i < buffers; ++i) {
      blocks_[i].resize(bufferBytes);
      headers_[i].lpData = blocks_[i].data();
      headers_[i].dwBufferLength = bufferBytes;
      EXPECT_EQ(platform::waveInPrepareHeader(device_, &headers_[i]), platform::MMSYSERR_NOERROR);
    }
  }

  // Starts, lets `before` (if any) set up what is to be recorded, then queues the buffers; returns
  // the card frame at which the recording starts. Without pacing the card holds until the buffers
  // are queued, so `before` may schedule events relative to the start.
  std::uint64_t Start(const std::function<void(std::uint64_t)>& before = {}) {
    std::uint64_t start = 0;
    auto& card = platform::softcard::Card::Instance();
    card.WithSynth([&](platform::softcard::MidiSink&) {
      EXPECT_EQ(platform::waveInStart(device_), platform::MMSYSERR_NOERROR);
      start = card.Frames();
    });
    if (before) before(start);
    for (auto& h : headers_) {
      EXPECT_EQ(platform::waveInAddBuffer(device_, &h), platform::MMSYSERR_NOERROR);
    }
    return start;
  }

  void Wait() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return data_.size() >= target_; });
  }

  void Stop() {
    StopRefilling();
    EXPECT_EQ(platform::waveInReset(device_), platform::MMSYSERR_NOERROR);
    for (auto& h : headers_) {
      EXPECT_EQ(platform::waveInUnprepareHeader(device_, &h), platform::MMSYSERR_NOERROR);
    }
    EXPECT_EQ(platform::waveInClose(device_), platform::MMSYSERR_NOERROR);
  }

  // The first `target` bytes recorded.
  std::vector<std::uint8_t> Data() {
    std::lock_guard lock(mu_);
    std::vector<std::uint8_t> d(data_.begin(), data_.begin() + std::min(target_, data_.size()));
    return d;
  }
  std::vector<std::pair<std::size_t, std::uint64_t>> Returns() {  // bytes so far, card frame
    std::lock_guard lock(mu_);
    return returns_;
  }

 private:
  static void Callback(platform::HWAVEIN device, std::uint32_t msg, std::uintptr_t instance,
                       std::uintptr_t p1, std::uintptr_t) {
    if (msg != platform::WIM_DATA) return;
    auto* self = reinterpret_cast<Recorder*>(instance);
    auto* h = reinterpret_cast<platform::WAVEHDR*>(p1);
    bool more;
    {
      std::lock_guard lock(self->mu_);
      self->data_.insert(self->data_.end(), h->lpData, h->lpData + h->dwBytesRecorded);
      self->returns_.emplace_back(self->data_.size(),
                                  platform::softcard::Card::Instance().Frames());
      more = self->data_.size() < self->target_ && !self->stopping_;
    }
    self->cv_.notify_all();
    if (more) platform::waveInAddBuffer(device, h);
  }

 public:
  void StopRefilling() {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }

 private:
  platform::HWAVEIN device_ = nullptr;
  std::size_t target_;
  std::vector<std::vector<char>> blocks_;
  std::vector<platform::WAVEHDR> headers_;
  std::mutex mu_;  // guards data_, returns_, stopping_
  std::condition_variable cv_;
  std::vector<std::uint8_t> data_;
  std::vector<std::pair<std::size_t, std::uint64_t>> returns_;
  bool stopping_ = false;
};

// What RecordWhilePlaying recorded, and the card frames at which the events were dispatched.
struct Played {
  std::vector<std::uint8_t> data;
  std::vector<std::uint64_t> dispatched;
};

// Records `bytes` bytes at the card's rate, 16-bit stereo, while a ListClient plays `events`, whose
// frames count from the start of the recording.
inline Played RecordWhilePlaying(std::vector<MidiEvent> events, std::size_t bytes) {
  auto& card = platform::softcard::Card::Instance();
  Recorder rec(Format(platform::softcard::kCardRate, 2, 16), bytes);
  std::shared_ptr<ListClient> client;
  rec.Start([&](std::uint64_t start) {
    for (auto& e : events) e.frame += start;
    client = std::make_shared<ListClient>(std::move(events));
    card.AddMidiClient(client);
  });
  rec.Wait();
  rec.Stop();
  card.RemoveMidiClient(client.get());
  return {rec.Data(), client->Dispatched()};
}

inline int Peak(const std::vector<std::int16_t>& s) {
  int peak = 0;
  for (auto v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
  return peak;
}

}  // namespace cardtest
