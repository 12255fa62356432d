#pragma once
// Where the card's playback mix goes. One small interface, one implementation per back-end, chosen
// by name: "portaudio" (the host's default output) or "none" (discard).

#include <memory>
#include <string>
#include <string_view>

namespace platform::softcard {

class Speakers {
 public:
  virtual ~Speakers() = default;
  // Render thread: one period of the playback mix (kCardRate, floats, full scale +-1). Never
  // blocks; what the output cannot take is dropped.
  virtual void Write(const float* left, const float* right, int frames) = 0;
};

// The back-end names, in the order they are tried when none is asked for.
std::string SpeakerBackends();  // e.g. "portaudio, none"

// Opens the back-end `name`. An empty name tries each real back-end and falls back to "none".
// A back-end that cannot open (no sound server, no device) gives "none" silently; an unknown name
// gives "none" and sets `error` to a sentence that lists the back-ends that exist.
std::unique_ptr<Speakers> OpenSpeakers(std::string_view name, std::string* error);

}  // namespace platform::softcard
