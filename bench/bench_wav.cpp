// WAV round trip through the stream framework against plain file I/O.
//
// Framework: 512 MB of 16-bit stereo PCM pulled from an in-memory source by TWaveOut (on its
// worker, in 16384-byte blocks) into a file, then read back through TWaveIn in 16384-byte requests.
// Plain: the same bytes written and read back with write()/read() in 16384-byte blocks.
// Each side runs three times, alternating; the best time of each counts.
// Last line: RESULT wav_roundtrip_ratio <plain time / framework time> (target >= 0.8).
// BENCH_WAV_MB changes the amount (for a quick look).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/ACS_Wave.h"
#include "platform/runtime/GuiThread.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBlock = 16384;

class MemorySource : public TACSInput {
 public:
  explicit MemorySource(const std::vector<std::uint8_t>& data) : TACSInput(nullptr), data_(data) {}
  ~MemorySource() override { Destroying(); }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  void Init() override {
    FBusy = true;
    FPosition = 0;
    FSize = static_cast<int>(data_.size());
    at_ = 0;
  }
  void Flush() override { FBusy = false; }
  int GetData(void* buffer, int size) override {
    if (!Busy()) throw EACSException("The Stream is not opened");
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), data_.size() - at_);
    std::memcpy(buffer, data_.data() + at_, n);
    at_ += n;
    FPosition += static_cast<int>(n);
    return static_cast<int>(n);
  }

 private:
  const std::vector<std::uint8_t>& data_;
  std::size_t at_ = 0;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Returns the time taken, or a negative value on failure.
double Framework(const std::vector<std::uint8_t>& data, const std::string& path,
                 std::uint64_t& checksum) {
  MemorySource source(data);
  TWaveOut out(nullptr);
  out.SetFileName(path);
  out.SetInput(&source);
  std::atomic<bool> done{false}, failed{false};
  out.OnDone = [&](platform::TComponent*) { done = true; };
  out.OnThreadException = [&](platform::TComponent*, const std::exception& e) {
    std::fprintf(stderr, "write failed: %s\n", e.what());
    failed = true;
  };
  auto start = Clock::now();
  out.Run();
  while (!done && !failed) {
    platform::ProcessMessages();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (failed) return -1;
  const double written = Seconds(Clock::now() - start);
  TWaveIn in(nullptr);
  in.SetFileName(path);
  in.Init();
  std::vector<std::uint8_t> buffer(kBlock);
  std::uint64_t sum = 0, total = 0;
  while (int n = in.GetData(buffer.data(), kBlock)) {
    sum += buffer[0] + buffer[static_cast<std::size_t>(n) - 1];
    total += static_cast<std::uint64_t>(n);
  }
  in.Flush();
  double t = Seconds(Clock::now() - start);
  std::printf("  framework: write %.3f s, read %.3f s\n", written, t - written);
  checksum = sum;
  return total == data.size() ? t : -1;
}

double Plain(const std::vector<std::uint8_t>& data, const std::string& path,
             std::uint64_t& checksum) {
  auto start = Clock::now();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  for (std::size_t at = 0; at < data.size(); at += kBlock) {
    const std::size_t n = std::min<std::size_t>(kBlock, data.size() - at);
    if (::write(fd, data.data() + at, n) != static_cast<ssize_t>(n)) return -1;
  }
  ::close(fd);
  const double written = Seconds(Clock::now() - start);
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<std::uint8_t> buffer(kBlock);
  std::uint64_t sum = 0, total = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), kBlock);
    if (n <= 0) break;
    sum += buffer[0] + buffer[static_cast<std::size_t>(n) - 1];
    total += static_cast<std::uint64_t>(n);
  }
  ::close(fd);
  double t = Seconds(Clock::now() - start);
  std::printf("  plain: write %.3f s, read %.3f s\n", written, t - written);
  checksum = sum;
  return total == data.size() ? t : -1;
}

}  // namespace

int main() {
  std::size_t mb = 512;
  if (const char* env = std::getenv("BENCH_WAV_MB")) mb = std::max(1, std::atoi(env));
  std::vector<std::uint8_t> data(mb << 20);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 31 + i / 977);

  const auto dir =
      std::filesystem::temp_directory_path() / ("bench_wav_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string framePath = (dir / "framework.wav").string();
  const std::string plainPath = (dir / "plain.raw").string();

  double bestFramework = 1e30, bestPlain = 1e30;
  bool ok = true;
  for (int round = 0; round < 3 && ok; ++round) {
    std::uint64_t sumF = 0, sumP = 0;
    double p = Plain(data, plainPath, sumP);
    double f = Framework(data, framePath, sumF);
    std::filesystem::remove(framePath);
    std::filesystem::remove(plainPath);
    if (f < 0 || p < 0 || sumF != sumP) {
      std::fprintf(stderr, "round %d failed (framework %.3f s, plain %.3f s)\n", round, f, p);
      ok = false;
      break;
    }
    std::printf("round %d: framework %.3f s, plain %.3f s\n", round, f, p);
    bestFramework = std::min(bestFramework, f);
    bestPlain = std::min(bestPlain, p);
  }
  std::filesystem::remove_all(dir);
  if (!ok) {
    std::printf("RESULT wav_roundtrip_ratio 0\n");
    return 1;
  }
  std::printf("%zu MB: best framework %.3f s (%.0f MB/s), best plain %.3f s (%.0f MB/s)\n", mb,
              bestFramework, 2.0 * mb / bestFramework, bestPlain, 2.0 * mb / bestPlain);
  std::printf("RESULT wav_roundtrip_ratio %.3f\n", bestPlain / bestFramework);
  return 0;
}
