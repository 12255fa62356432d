#pragma once
// Shared pieces of the audio tests: a GUI-thread wait that pumps messages, an in-memory PCM source,
// a converter that passes its data through, a sink's events, reading a source to its end, the
// message of a failure, a fixture for tests that read files they write; and (TempDir.h) a
// temporary folder per test.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/ACS_Classes.h"
#include "audio/ACS_Wave.h"
#include "platform/runtime/GuiThread.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavFiles.h"

namespace tw_test {

// Processes GUI-thread messages until pred holds; false after `limit`.
inline bool PumpUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::ProcessMessages();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Delivers the bytes of `data` with a given format. Options: an open length (Size -1), an endless
// stream, a failure after a number of bytes.
class MemSource : public TACSInput {
 public:
  MemSource(platform::TComponent* owner, std::vector<std::uint8_t> data, int bits = 16,
            int channels = 2, int rate = 44100)
      : TACSInput(owner), data_(std::move(data)), bits_(bits), channels_(channels), rate_(rate) {}
  ~MemSource() override { Destroying(); }

  int GetBitsPerSample() override { return bits_; }
  int GetChannels() override { return channels_; }
  int GetSampleRate() override { return rate_; }

  void Init() override {
    if (Busy()) throw EACSException("The component is Busy");
    ++inits;
    FBusy = true;
    FPosition = 0;
    FSize = openLength ? -1 : static_cast<int>(data_.size());
    at_ = 0;
  }
  void Flush() override {
    ++flushes;
    FBusy = false;
  }
  int GetData(void* buffer, int size) override {
    if (!Busy()) throw EACSException("The Stream is not opened");
    ++requests;
    if (failAfter >= 0 && at_ >= static_cast<std::size_t>(failAfter))
      throw EACSException("source failed");
    std::size_t n;
    if (endless) {
      n = static_cast<std::size_t>(size);
      std::memset(buffer, 0, n);
    } else {
      n = std::min<std::size_t>(static_cast<std::size_t>(size), data_.size() - at_);
      if (maxBlock > 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(maxBlock));
      if (n > 0) std::memcpy(buffer, data_.data() + at_, n);
    }
    at_ += n;
    FPosition += static_cast<int>(n);
    return static_cast<int>(n);
  }

  // For progress tests: the counters a sink reads.
  void SetCounters(int position, int size) {
    FPosition = position;
    FSize = size;
  }

  bool openLength = false;
  bool endless = false;
  long failAfter = -1;
  int maxBlock = 0;
  std::atomic<int> inits{0}, flushes{0}, requests{0};

 private:
  std::vector<std::uint8_t> data_;
  std::size_t at_ = 0;
  int bits_, channels_, rate_;
};

// Passes its input's data through unchanged, as the level indicator does.
class PassThrough : public TACSConverter {
 public:
  explicit PassThrough(platform::TComponent* owner) : TACSConverter(owner) {}
  ~PassThrough() override { Destroying(); }
  int GetBitsPerSample() override { return Input()->GetBitsPerSample(); }
  int GetChannels() override { return Input()->GetChannels(); }
  int GetSampleRate() override { return Input()->GetSampleRate(); }
  void Init() override {
    FBusy = true;
    Input()->Init();
    FSize = Input()->Size();
    FPosition = 0;
  }
  void Flush() override {
    if (Input()) Input()->Flush();
    FBusy = false;
  }
  int GetData(void* buffer, int size) override {
    if (!Busy()) throw EACSException("The Stream is not opened");
    int n = GetInputData(buffer, size);
    FPosition += n;
    return n;
  }
  TInputLock& Lock() { return FInputLock; }
};

// What a sink's events reported (see Wire).
struct SinkEvents {
  std::atomic<int> done{0}, failures{0};
  std::vector<int> progress;  // every OnProgress value, GUI thread only
  std::mutex mutex;           // guards failure and failureThread (set on the worker or the caller)
  std::string failure;        // the text of the last failure
  std::thread::id failureThread;

  std::string Failure() {
    std::lock_guard lock(mutex);
    return failure;
  }
};

// Counts OnDone and OnThreadException, keeping the last failure's text and thread.
inline void WireEnd(TACSOutput& sink, SinkEvents& ev) {
  sink.OnDone = [&ev](platform::TComponent*) { ++ev.done; };
  sink.OnThreadException = [&ev](platform::TComponent*, const std::exception& e) {
    std::lock_guard lock(ev.mutex);
    ev.failure = e.what();
    ev.failureThread = std::this_thread::get_id();
    ++ev.failures;
  };
}

// WireEnd, and every OnProgress value.
inline void Wire(TACSOutput& sink, SinkEvents& ev) {
  WireEnd(sink, ev);
  sink.OnProgress = [&ev, &sink](platform::TComponent*) { ev.progress.push_back(sink.Progress()); };
}

// What PullAll read: the bytes, and the size of each delivery.
struct Pulled {
  std::vector<std::uint8_t> data;
  std::vector<int> calls;
};

// Requests `request` bytes at a time until the source delivers 0 (or `limit` requests have
// delivered), as a sink's worker would.
inline Pulled PullAll(TACSInput& in, int request, int limit = std::numeric_limits<int>::max()) {
  Pulled r;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(request));
  for (int i = 0; i < limit; ++i) {
    const int n = in.GetData(buf.data(), request);
    if (n == 0) break;
    r.calls.push_back(n);
    r.data.insert(r.data.end(), buf.begin(), buf.begin() + n);
  }
  return r;
}

// The text of the EACSException fn raises.
inline std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EACSException& e) {
    return e.what();
  }
  return "(no exception)";
}

// SaveSeed under the name `prefix`, the running test's name, "_" and `name`.
inline void SaveTestSeed(const std::string& prefix, const std::string& name, const Bytes& b) {
  SaveSeed(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name,
           b);
}

// A folder for the files a test writes, and an owner for the components that read them.
class WaveFileTest : public ::testing::Test {
 protected:
  // Writes `file` into the folder as `name`, keeps it as a seed for the WAV reader's fuzzer (see
  // SaveTestSeed), and returns a new reader of it, owned by `owner`.
  TWaveIn& OpenReader(const Bytes& file, const std::string& name, const std::string& seedPrefix) {
    const std::string path = dir / name;
    WriteFile(path, file);
    SaveTestSeed(seedPrefix, name, file);
    auto* in = new TWaveIn(&owner);
    in->SetFileName(path);
    return *in;
  }

  TempDir dir;
  platform::TComponent owner{nullptr};
};

// Bytes 0, 1, 2 ... 255, 0, 1 ... of the given length: wrong order or lost blocks show.
inline std::vector<std::uint8_t> Ramp(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return v;
}

}  // namespace tw_test
