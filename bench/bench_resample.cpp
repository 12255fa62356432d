// Resampling speed: 600 s of 44100 Hz stereo to 22050 Hz through TRateConverter (30 taps) and
// through libsoxr at its "quick" quality. Last line: RESULT resample_speed_ratio <soxr time /
// TRateConverter time>.

#include <soxr.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/ACS_Converters.h"

namespace {

constexpr int kRate = 44100;
constexpr int kOutRate = 22050;
constexpr int kSeconds = 600;
constexpr long kFrames = static_cast<long>(kRate) * kSeconds;

// Ten seconds of a chord with a little noise, repeated: the same bytes feed both resamplers.
std::vector<std::int16_t> makeLoop() {
  std::vector<std::int16_t> v(static_cast<std::size_t>(kRate) * 10 * 2);
  std::uint32_t x = 7;
  for (std::size_t i = 0; i < v.size() / 2; ++i) {
    x = x * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / kRate;
    const double noise = static_cast<double>(static_cast<int>(x >> 20) - 2048);
    v[2 * i] = static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * 440 * t) + noise);
    v[2 * i + 1] = static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * 660 * t) + noise);
  }
  return v;
}

// Delivers kFrames frames from the loop, as a file reader would: straight copies.
class LoopSource : public TACSInput {
 public:
  explicit LoopSource(const std::vector<std::int16_t>& loop) : TACSInput(nullptr), loop_(loop) {}
  ~LoopSource() override { Destroying(); }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return kRate; }
  void Init() override {
    FBusy = true;
    FPosition = 0;
    FSize = static_cast<int>(kFrames * 4);
    left_ = kFrames * 4;
    at_ = 0;
  }
  void Flush() override { FBusy = false; }
  int GetData(void* buffer, int size) override {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(loop_.data());
    const long loopBytes = static_cast<long>(loop_.size() * 2);
    long n = std::min<long>({size, left_, loopBytes - at_});
    std::memcpy(buffer, bytes + at_, static_cast<std::size_t>(n));
    at_ = (at_ + n) % loopBytes;
    left_ -= n;
    FPosition += static_cast<int>(n);
    return static_cast<int>(n);
  }

 private:
  const std::vector<std::int16_t>& loop_;
  long left_ = 0;
  long at_ = 0;
};

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  const auto loop = makeLoop();

  // TRateConverter, read as a sink reads it, in blocks of 16384 bytes.
  LoopSource src(loop);
  TRateConverter rc(nullptr);
  rc.SetInput(&src);
  rc.SetKernelWidth(30);
  rc.SetOutSampleRate(kOutRate);
  std::vector<std::uint8_t> block(16384);
  long rcBytes = 0;
  std::uint32_t rcCheck = 0;
  auto t0 = std::chrono::steady_clock::now();
  rc.Init();
  for (;;) {
    const int n = rc.GetData(block.data(), static_cast<int>(block.size()));
    if (n == 0) break;
    rcBytes += n;
    rcCheck += block[0];
  }
  rc.Flush();
  const double rcTime = seconds(std::chrono::steady_clock::now() - t0);

  // libsoxr "quick", fed the same frames in the same block sizes.
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_QQ, 0);
  t0 = std::chrono::steady_clock::now();
  soxr_t soxr = soxr_create(kRate, kOutRate, 2, &error, &io, &quality, nullptr);
  if (!soxr) {
    std::fprintf(stderr, "soxr_create: %s\n", error);
    return 1;
  }
  std::vector<std::int16_t> out(8192 * 2);
  long soxrFrames = 0;
  const long loopFrames = static_cast<long>(loop.size() / 2);
  long at = 0;
  for (long left = kFrames; left > 0;) {
    const long n = std::min<long>({8192, left, loopFrames - at});
    std::size_t done = 0;
    soxr_process(soxr, loop.data() + at * 2, static_cast<std::size_t>(n), nullptr, out.data(),
                 out.size() / 2, &done);
    soxrFrames += static_cast<long>(done);
    at = (at + n) % loopFrames;
    left -= n;
  }
  for (;;) {
    std::size_t done = 0;
    soxr_process(soxr, nullptr, 0, nullptr, out.data(), out.size() / 2, &done);
    if (done == 0) break;
    soxrFrames += static_cast<long>(done);
  }
  soxr_delete(soxr);
  const double soxrTime = seconds(std::chrono::steady_clock::now() - t0);

  std::printf("TRateConverter: %ld frames out in %.3f s (%.1f x real time) check %u\n", rcBytes / 4,
              rcTime, kSeconds / rcTime, rcCheck);
  std::printf("libsoxr quick:  %ld frames out in %.3f s (%.1f x real time)\n", soxrFrames, soxrTime,
              kSeconds / soxrTime);
  std::printf("RESULT resample_speed_ratio %.3f\n", soxrTime / rcTime);
  return 0;
}
