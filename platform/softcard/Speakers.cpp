#include "platform/softcard/Speakers.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/softcard/Softcard.h"

namespace platform::softcard {

namespace {

void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJack(const char*) {}

class NoSpeakers final : public Speakers {
 public:
  void Write(const float*, const float*, int) override {}
};

// The render thread is paced by the wall clock and the device by its own crystal, so the two
// drift apart slowly; a ring of a few periods between them absorbs the jitter, and what overflows
// or underruns is dropped or played as silence rather than ever blocking the card.
class PortAudioSpeakers final : public Speakers {
 public:
  static std::unique_ptr<Speakers> Open() {
    // PortAudio probes every ALSA device and the JACK server, and those libraries print each
    // failed probe on stderr: pages of noise on a machine without sound hardware, where discarding
    // the mix silently is the expected outcome.
    snd_lib_error_set_handler(&IgnoreAlsa);
    jack_set_error_function(&IgnoreJack);
    jack_set_info_function(&IgnoreJack);
    if (Pa_Initialize() != paNoError) return nullptr;
    std::unique_ptr<PortAudioSpeakers> s(new PortAudioSpeakers());
    if (Pa_OpenDefaultStream(&s->stream_, 0, 2, paFloat32, kCardRate, kCardPeriod, &Callback,
                             s.get()) != paNoError ||
        Pa_StartStream(s->stream_) != paNoError) {
      return nullptr;  // the destructor closes what was opened and terminates PortAudio
    }
    return s;
  }

  ~PortAudioSpeakers() override {
    if (stream_ != nullptr) {
      Pa_StopStream(stream_);
      Pa_CloseStream(stream_);
    }
    Pa_Terminate();
  }

  void Write(const float* left, const float* right, int frames) override {
    // Single producer (render thread), single consumer (PortAudio's callback).
    const std::size_t w = write_.load(std::memory_order_relaxed);
    const std::size_t r = read_.load(std::memory_order_acquire);
    const std::size_t room = kRing - (w - r);
    const std::size_t n = std::min<std::size_t>(room, static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < n; ++i) {
      ring_[((w + i) % kRing) * 2] = left[i];
      ring_[((w + i) % kRing) * 2 + 1] = right[i];
    }
    write_.store(w + n, std::memory_order_release);
  }

 private:
  static constexpr std::size_t kRing = 8192;  // frames, about 190 ms

  PortAudioSpeakers() : ring_(kRing * 2) {}

  static int Callback(const void*, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioSpeakers*>(user);
    auto* out = static_cast<float*>(output);
    const std::size_t r = self->read_.load(std::memory_order_relaxed);
    const std::size_t w = self->write_.load(std::memory_order_acquire);
    const std::size_t n = std::min<std::size_t>(w - r, frames);
    for (std::size_t i = 0; i < n; ++i) {
      out[i * 2] = self->ring_[((r + i) % kRing) * 2];
      out[i * 2 + 1] = self->ring_[((r + i) % kRing) * 2 + 1];
    }
    std::fill(out + n * 2, out + frames * 2, 0.0f);
    self->read_.store(r + n, std::memory_order_release);
    return paContinue;
  }

  PaStream* stream_ = nullptr;  // owned
  std::vector<float> ring_;     // interleaved stereo, kRing frames
  std::atomic<std::size_t> write_{0};
  std::atomic<std::size_t> read_{0};
};

}  // namespace

std::string SpeakerBackends() { return "portaudio, none"; }

std::unique_ptr<Speakers> OpenSpeakers(std::string_view name, std::string* error) {
  if (name.empty() || name == "portaudio") {
    if (auto s = PortAudioSpeakers::Open()) return s;
    return std::make_unique<NoSpeakers>();
  }
  if (name != "none" && error != nullptr) {
    *error = "The speaker output \"" + std::string(name) + "\" does not exist; the outputs are " +
             SpeakerBackends() + ".";
  }
  return std::make_unique<NoSpeakers>();
}

}  // namespace platform::softcard
