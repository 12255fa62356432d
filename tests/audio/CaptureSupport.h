#pragma once
// Shared pieces of the capture tests: a card signal that counts frames and its continuity check, a
// WAV file check, a link that slows the worker down, and a fixture that sets the card up.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/ACS_Audio.h"
#include "audio/ACS_Classes.h"
#include "platform/softcard/Softcard.h"
#include "tests/audio/TestSupport.h"
#include "tests/support/WavFiles.h"

namespace tw_test {

using platform::softcard::Card;
using platform::softcard::kCardRate;
using platform::softcard::kSpeedMax;

// Adds to the card's "Wave" line a signal that counts card frames: frame F carries the 16-bit value
// (F mod 50000) - 25000. With every mixer gain at 1 the card records it exactly (at its own rate
// no resampler is involved), so each recorded sample must be its predecessor + 1 (wrapping from
// 24999 to -25000): a lost, repeated or reordered stretch of any length below 50000 frames shows.
class CounterClient : public platform::softcard::WaveClient {
 public:
  void Mix(std::uint64_t frame, float* left, float* right, int frames) override {
    for (int i = 0; i < frames; ++i) {
      const float v =
          static_cast<float>(static_cast<double>((frame + i) % kWrap) - kWrap / 2) / 32767.0f;
      left[i] += v;
      right[i] += v;
    }
  }
  static constexpr int kWrap = 50000;
};

// Registers a CounterClient for the lifetime of the object.
class CounterOnCard {
 public:
  CounterOnCard() : client_(std::make_shared<CounterClient>()) {
    Card::Instance().AddWaveClient(client_);
  }
  ~CounterOnCard() { Card::Instance().RemoveWaveClient(client_.get()); }

 private:
  std::shared_ptr<CounterClient> client_;
};

// Index of the first 16-bit frame that does not follow its predecessor in the count (every channel
// must carry the count), or npos when the whole recording is continuous.
inline std::size_t FirstBreak(const std::vector<std::uint8_t>& bytes, int channels) {
  const std::size_t frames = bytes.size() / 2 / channels;
  auto sample = [&](std::size_t frame, int ch) {
    const std::size_t at = (frame * channels + ch) * 2;
    return static_cast<int>(static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8));
  };
  for (std::size_t f = 0; f < frames; ++f) {
    for (int ch = 0; ch < channels; ++ch) {
      const int v = sample(f, ch);
      if (v < -CounterClient::kWrap / 2 || v >= CounterClient::kWrap / 2) return f;
      if (f == 0) continue;
      const int prev = sample(f - 1, ch);
      const int expected =
          prev == CounterClient::kWrap / 2 - 1 ? -CounterClient::kWrap / 2 : prev + 1;
      if (v != expected) return f;
    }
  }
  return std::string::npos;
}

// Reads a PCM WAV file and checks that its header agrees with the file: RIFF size = length - 8 and
// the data chunk runs exactly to the end of the file.
struct WavFile {
  int channels = 0, rate = 0, bits = 0;
  std::vector<std::uint8_t> data;
};
inline ::testing::AssertionResult ReadWav(const std::string& path, WavFile& out) {
  if (!std::ifstream(path)) return ::testing::AssertionFailure() << "cannot open " << path;
  const Bytes f = ReadFile(path);
  if (f.size() < 44 || std::memcmp(f.data(), "RIFF", 4) != 0 || std::memcmp(&f[8], "WAVE", 4) != 0)
    return ::testing::AssertionFailure() << "not a RIFF/WAVE file";
  if (At32(f, 4) != f.size() - 8)
    return ::testing::AssertionFailure() << "RIFF size " << At32(f, 4) << ", file " << f.size();
  std::size_t at = 12;
  bool fmt = false;
  while (at + 8 <= f.size()) {
    const std::uint32_t len = At32(f, at + 4);
    if (std::memcmp(&f[at], "fmt ", 4) == 0) {
      if (At16(f, at + 8) != 1) return ::testing::AssertionFailure() << "not PCM";
      out.channels = At16(f, at + 10);
      out.rate = static_cast<int>(At32(f, at + 12));
      out.bits = At16(f, at + 22);
      fmt = true;
    } else if (std::memcmp(&f[at], "data", 4) == 0) {
      if (!fmt) return ::testing::AssertionFailure() << "data before fmt";
      if (at + 8 + len != f.size())
        return ::testing::AssertionFailure()
               << "data size " << len << " but " << f.size() - at - 8 << " bytes follow";
      out.data.assign(f.begin() + static_cast<long>(at + 8), f.end());
      return ::testing::AssertionSuccess();
    }
    at += 8 + len + (len & 1);
  }
  return ::testing::AssertionFailure() << "no data chunk";
}

// A link that makes the worker slow: after chosen requests it waits for card time to pass.
class SlowLink : public PassThrough {
 public:
  explicit SlowLink(platform::TComponent* owner) : PassThrough(owner) {}
  ~SlowLink() override { Destroying(); }
  void Init() override {
    PassThrough::Init();
    calls = 0;
  }
  int GetData(void* buffer, int size) override {
    const int n = GetInputData(buffer, size);
    FPosition = Input()->Position();
    // After the request, while the capture has its buffers queued: waiting before the first one
    // (or after the last) would, on an unpaced card, hold the clock it waits for.
    const int call = calls++;
    std::uint64_t wait = everyCall;
    if (call == stallAtCall) wait = stall;
    if (n > 0 && wait > 0) Card::Instance().WaitUntil(Card::Instance().Frames() + wait);
    return n;
  }

  std::uint64_t everyCall = 0;  // card frames waited after every request
  int stallAtCall = -1;         // one request after which it waits `stall` frames instead
  std::uint64_t stall = 0;
  int calls = 0;
};

// Runs the card as fast as it renders, with every mixer gain at 1.
class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Before the card first reads the mixer state: a state of these tests' own, not the user's.
    ::setenv("SOFTCARD_STATE_DIR", TW_CAPTURE_STATE_DIR, 1);
    Card::Instance().SetSpeed(kSpeedMax);
    // Every gain at 1, recording what the speakers play: the card records the wave line exactly.
    platform::softcard::Levels unity;
    unity.speakerMaster = unity.speakerSynth = unity.speakerWave = 1.0f;
    unity.recordSource = platform::softcard::Levels::RecordSource::StereoMix;
    unity.recordLine = unity.recordMaster = 1.0f;
    Card::Instance().SetLevels(unity);
  }

  void Configure(TAudioIn& in, int bits, int channels, int rate, int seconds) {
    in.SetInBitsPerSample(bits);
    in.SetInChannels(channels);
    in.SetInSampleRate(rate);
    in.SetRecTime(seconds);
  }

  // Configures `in` and opens it.
  void Start(TAudioIn& in, int bits, int channels, int rate, int seconds) {
    Configure(in, bits, channels, rate, seconds);
    in.Init();
  }

  // Pulls the whole stream as a sink's worker would; returns the sizes of the deliveries.
  std::vector<int> PullAll(TAudioIn& in, int request, std::vector<std::uint8_t>* bytes = nullptr) {
    Pulled r = tw_test::PullAll(in, request);
    if (bytes) bytes->insert(bytes->end(), r.data.begin(), r.data.end());
    return r.calls;
  }

  platform::TComponent owner_{nullptr};
};

}  // namespace tw_test
