#include "platform/softcard/mci/Mci.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Sequencer.h"
#include "platform/softcard/mci/Smf.h"
#include "platform/softcard/mci/WavePlayer.h"

namespace platform {

namespace mci {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    const std::size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    if (i > start) words.push_back(Lower(s.substr(start, i - start)));
  }
  return words;
}

// Position of the blank that starts the last " alias " (a blank, the word in any case, a blank),
// or npos.
std::size_t FindAlias(std::string_view rest) {
  for (std::size_t i = rest.size(); i-- > 0;) {
    if (i + 7 <= rest.size() && IsBlank(rest[i]) && Lower(rest.substr(i + 1, 5)) == "alias" &&
        IsBlank(rest[i + 6]))
      return i;
  }
  return std::string_view::npos;
}

Command Fail(MCIERROR e) {
  Command c;
  c.error = e;
  return c;
}

}  // namespace

Command ParseCommand(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return Fail(MCIERR_MISSING_COMMAND_STRING);
  std::size_t verbEnd = 0;
  while (verbEnd < text.size() && !IsBlank(text[verbEnd])) ++verbEnd;
  const std::string verb = Lower(text.substr(0, verbEnd));

  Command c;
  if (verb == "open") {
    // The path is every character between "open " and the last " alias ", blanks and quotes
    // included: file names may start or end with blanks or hold quotes, and nothing of them may be
    // lost. Searched from the end, so that "alias" inside the path does no harm.
    const std::size_t at = FindAlias(text.substr(verbEnd));
    if (at == std::string_view::npos || at <= 1) return Fail(MCIERR_MISSING_PARAMETER);
    // The command is trimmed, so a name follows the blank behind "alias".
    const std::vector<std::string> tail = Words(text.substr(verbEnd + at + 6));
    if (tail.size() > 1) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    c.verb = Command::Verb::Open;
    c.path = std::string(text.substr(verbEnd + 1, at - 1));
    c.alias = tail[0];
    return c;
  }

  const std::string_view rest = Trim(text.substr(verbEnd));
  const std::vector<std::string> w = Words(rest);
  if (verb == "play" || verb == "stop" || verb == "close") {
    if (w.empty()) return Fail(MCIERR_MISSING_DEVICE_NAME);
    if (w.size() > 1) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    c.verb = verb == "play"   ? Command::Verb::Play
             : verb == "stop" ? Command::Verb::Stop
                              : Command::Verb::Close;
  } else if (verb == "set") {
    if (w.empty()) return Fail(MCIERR_MISSING_DEVICE_NAME);
    if (w.size() < 2) return Fail(MCIERR_MISSING_PARAMETER);
    if (w[1] != "time") return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    if (w.size() < 4 || w[2] != "format") return Fail(MCIERR_MISSING_PARAMETER);
    if (w[3] != "ms" && w[3] != "milliseconds") return Fail(MCIERR_BAD_TIME_FORMAT);
    if (w.size() > 4) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    c.verb = Command::Verb::SetTimeFormat;
  } else if (verb == "status") {
    if (w.empty()) return Fail(MCIERR_MISSING_DEVICE_NAME);
    if (w.size() < 2) return Fail(MCIERR_MISSING_PARAMETER);
    if (w.size() > 2) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    if (w[1] == "length")
      c.verb = Command::Verb::StatusLength;
    else if (w[1] == "position")
      c.verb = Command::Verb::StatusPosition;
    else
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
  } else {
    return Fail(MCIERR_UNRECOGNIZED_COMMAND);
  }
  c.alias = w[0];
  return c;
}

}  // namespace mci

namespace {

// How long an unpaced card waits after a MIDI starts for the recorder that usually follows it.
constexpr std::chrono::milliseconds kCaptureGrace{500};

// One open MCI device. Opening loads the whole file, so that a damaged one is refused at once.
class Device {
 public:
  virtual ~Device() = default;
  virtual void Play() = 0;
  virtual void Stop() = 0;
  // Takes the device off the card. Not done by the destructor: devices left open at exit must not
  // reach a card that may already be gone.
  virtual void Close() = 0;
  virtual std::uint32_t LengthMs() const = 0;
  virtual std::uint32_t PositionMs() const = 0;
};

class SequencerDevice final : public Device {
 public:
  explicit SequencerDevice(std::shared_ptr<const SmfFile> file)
      : seq_(std::make_shared<Sequencer>(std::move(file))) {
    softcard::Card::Instance().AddMidiClient(seq_);
  }
  void Play() override {
    softcard::Card& card = softcard::Card::Instance();
    // Under the card lock, so that the music starts with the next period and that period already
    // waits for the recorder.
    card.WithSynth([&](softcard::MidiSink&) {
      seq_->Play(card.Frames());
      card.HoldForCapture(kCaptureGrace);
    });
    played_ = true;
  }
  void Stop() override {
    if (seq_->Stop(softcard::Card::Instance().Frames())) Silence();
  }
  void Close() override {
    seq_->Stop(softcard::Card::Instance().Frames());
    softcard::Card::Instance().RemoveMidiClient(seq_.get());
    // Notes still ringing (or hanging, when the file ended with notes held) must not outlive it.
    if (played_) Silence();
  }
  std::uint32_t LengthMs() const override { return seq_->LengthMs(); }
  std::uint32_t PositionMs() const override {
    return seq_->PositionMs(softcard::Card::Instance().Frames());
  }

 private:
  static void Silence() {
    softcard::Card::Instance().WithSynth([](softcard::MidiSink& out) { Sequencer::Silence(out); });
  }
  std::shared_ptr<Sequencer> seq_;
  bool played_ = false;
};

class WaveDevice final : public Device {
 public:
  explicit WaveDevice(std::shared_ptr<WavePlayer> player) : player_(std::move(player)) {
    softcard::Card::Instance().AddWaveClient(player_);
  }
  void Play() override {
    // Under the card lock, as the sequencer starts: an idle card's clock stands still from here
    // until the render thread mixes the first period, so the wave starts at the card time at which
    // it was played, however long the render thread takes to wake (the unlock wakes it).
    softcard::Card::Instance().WithSynth([&](softcard::MidiSink&) { player_->Play(); });
  }
  void Stop() override { player_->Stop(); }
  void Close() override {
    player_->Stop();
    softcard::Card::Instance().RemoveWaveClient(player_.get());
  }
  std::uint32_t LengthMs() const override { return player_->LengthMs(); }
  std::uint32_t PositionMs() const override {
    return player_->PositionMs(softcard::Card::Instance().Frames());
  }

 private:
  std::shared_ptr<WavePlayer> player_;
};

struct Devices {
  std::mutex mu;  // guards `open`, and serialises the commands on the devices in it
  std::map<std::string, std::unique_ptr<Device>> open;
};

Devices& TheDevices() {
  static Devices d;
  return d;
}

MCIERROR FileError(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) ? MCIERR_FILE_READ : MCIERR_FILE_NOT_FOUND;
}

// Opens a loaded MIDI file on the sequencer.
MCIERROR OpenSequencer(std::shared_ptr<SmfFile> file, std::unique_ptr<Device>& device) {
  // Without a SoundFont the synthesiser is silent: a recording would be digital silence taken for
  // music, so the sequencer refuses the file instead.
  if (softcard::Card::Instance().SoundFont().empty()) return MCIERR_SEQ_NOMIDIPRESENT;
  device = std::make_unique<SequencerDevice>(std::move(file));
  return 0;
}

MCIERROR Open(const std::string& path, std::unique_ptr<Device>& device) {
  const std::string ext = mci::Lower(std::filesystem::path(path).extension().string());
  if (ext == ".mid" || ext == ".midi" || ext == ".rmi") {
    auto file = std::make_shared<SmfFile>();
    switch (file->Load(path)) {
      case SmfStatus::Ok:
        break;
      case SmfStatus::CannotOpen:
        return FileError(path);
      case SmfStatus::TooLarge:
        return MCIERR_OUT_OF_MEMORY;
      case SmfStatus::NotMidi:
      case SmfStatus::BadHeader:
      case SmfStatus::NoTracks:
        return MCIERR_INVALID_FILE;
    }
    return OpenSequencer(std::move(file), device);
  }
  if (ext == ".wav") {
    auto player = std::make_shared<WavePlayer>();
    switch (player->Load(path)) {
      case WaveStatus::Ok:
        break;
      case WaveStatus::CannotOpen:
        return FileError(path);
      case WaveStatus::TooLarge:
        return MCIERR_OUT_OF_MEMORY;
      case WaveStatus::NotWave:
        return MCIERR_INVALID_FILE;
      case WaveStatus::Unsupported:
        return MCIERR_UNSUPPORTED_FORMAT;
    }
    device = std::make_unique<WaveDevice>(std::move(player));
    return 0;
  }
  // Any other name (a karaoke ".kar", a file without an extension): a file whose bytes are a MIDI
  // file plays on the sequencer; anything else keeps the error of an unknown extension.
  auto file = std::make_shared<SmfFile>();
  if (file->Load(path) != SmfStatus::Ok) return MCIERR_EXTENSION_NOT_FOUND;
  return OpenSequencer(std::move(file), device);
}

MCIERROR Run(const mci::Command& c, std::string& reply) {
  using Verb = mci::Command::Verb;
  Devices& d = TheDevices();
  std::lock_guard lock(d.mu);
  auto it = d.open.find(c.alias);
  if (c.verb == Verb::Open) {
    if (it != d.open.end()) return MCIERR_DUPLICATE_ALIAS;
    std::unique_ptr<Device> device;
    if (const MCIERROR e = Open(c.path, device)) return e;
    d.open.emplace(c.alias, std::move(device));
    return 0;
  }
  if (it == d.open.end()) return MCIERR_INVALID_DEVICE_NAME;
  Device& dev = *it->second;
  switch (c.verb) {
    case Verb::Play:
      dev.Play();
      break;
    case Verb::Stop:
      dev.Stop();
      break;
    case Verb::Close:
      dev.Close();
      d.open.erase(it);
      break;
    case Verb::SetTimeFormat:
      break;
    case Verb::StatusLength:
      reply = std::to_string(dev.LengthMs());
      break;
    case Verb::StatusPosition:
      reply = std::to_string(dev.PositionMs());
      break;
    case Verb::Open:
      break;
  }
  return 0;
}

std::mutex observerMutex;  // guards observer
std::function<void(std::string_view)> observer;

}  // namespace

void SetMciObserver(std::function<void(std::string_view)> watch) {
  std::lock_guard lock(observerMutex);
  observer = std::move(watch);
}

MCIERROR mciSendStringA(const char* command, char* returnString, std::uint32_t returnLength,
                        void*) {
  if (returnString && returnLength > 0) returnString[0] = '\0';
  if (!command) return MCIERR_MISSING_COMMAND_STRING;
  {
    std::function<void(std::string_view)> watch;
    {
      std::lock_guard lock(observerMutex);
      watch = observer;
    }
    if (watch) watch(command);
  }
  const mci::Command c = mci::ParseCommand(command);
  if (c.error) return c.error;
  std::string reply;
  if (const MCIERROR e = Run(c, reply)) return e;
  if (reply.empty()) return 0;
  if (!returnString || returnLength <= reply.size()) return MCIERR_PARAM_OVERFLOW;
  std::memcpy(returnString, reply.c_str(), reply.size() + 1);
  return 0;
}

std::uint32_t GetShortPathNameA(const char* longPath, char* shortPath, std::uint32_t bufferLength) {
  if (!longPath) return 0;
  std::error_code ec;
  if (!std::filesystem::exists(longPath, ec)) return 0;
  const std::size_t len = std::strlen(longPath);
  if (!shortPath || bufferLength <= len) return static_cast<std::uint32_t>(len + 1);
  std::memmove(shortPath, longPath, len + 1);  // the two may be the same buffer
  return static_cast<std::uint32_t>(len);
}

}  // namespace platform
