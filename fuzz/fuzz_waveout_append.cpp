// The WAV writer appending to an existing file of any content: the header walk that finds its
// format, data size and fact count, the format checks, and the header patched at the end. The
// appended sound has the format the file's canonical header fields name, so that appending is
// often accepted. Besides crashes, it stops when an append that was accepted leaves a file shorter
// than it found it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "audio/ACS_Wave.h"
#include "fuzz/FuzzFile.h"
#include "platform/runtime/ByteOrder.h"

namespace {

// A second of silence, at most, in the format it is given.
class Silence : public TACSInput {
 public:
  Silence(int bits, int channels, int rate)
      : TACSInput(nullptr), bits_(bits), channels_(channels), rate_(rate) {}
  ~Silence() override { Destroying(); }
  int GetBitsPerSample() override { return bits_; }
  int GetChannels() override { return channels_; }
  int GetSampleRate() override { return rate_; }
  void Init() override {
    FBusy = true;
    FPosition = 0;
    FSize = 3000;
  }
  void Flush() override { FBusy = false; }
  int GetData(void* buffer, int size) override {
    const int n = std::min(size, FSize - FPosition);
    std::memset(buffer, 0, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
  }

 private:
  int bits_, channels_, rate_;
};

// Runs the writer's steps on this thread, as its worker would.
class Writer : public TWaveOut {
 public:
  Writer() : TWaveOut(nullptr) {}
  ~Writer() override { EndWorker(); }
  bool Append(TACSInput& in, const std::string& path) {
    SetInput(&in);
    SetFileName(path);
    SetFileMode(foAppend);
    try {
      Prepare();
    } catch (const EACSException&) {
      return false;  // refused: not a file this writer can append to
    }
    CanOutput = true;
    for (int pass = 0; pass < 64 && DoOutput(false); ++pass) {
    }
    CanOutput = false;
    Done();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile(data, size, "_append.wav");
  if (path.empty() || size < 36) return 0;
  const int channels = platform::GetLE16(data + 22) % 3;
  const int rate = static_cast<int>(platform::GetLE32(data + 24) % 200000);
  const int bits = platform::GetLE16(data + 34) == 8 ? 8 : 16;
  Silence in(bits, channels == 0 ? 1 : channels, rate == 0 ? 8000 : rate);
  static Writer writer;  // one worker thread for the whole run
  if (writer.Append(in, path) && std::filesystem::file_size(path) < size) std::abort();
  writer.SetInput(nullptr);
  return 0;
}
