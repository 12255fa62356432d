#include "platform/softcard/Synth.h"

#include <dlfcn.h>
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/softcard/Softcard.h"

namespace platform::softcard {

namespace fs = std::filesystem;

namespace {

bool IsSoundFontName(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".sf2" || ext == ".sf3";
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);  // follows the alternatives symlink
}

// FluidSynth loads a SoundFont's samples in an OpenMP parallel region sized by the thread's
// OpenMP setting (all cores by default), which would leave a pool of idle threads in every
// process. libgomp read OMP_NUM_THREADS when it was loaded, so the setting is changed for this
// thread instead; looked up at run time so that nothing links OpenMP directly.
void UseOneOpenMpThread() {
  using SetThreads = void (*)(int);
  if (auto fn = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"))) fn(1);
}

// What makes the card's synthesiser instead of the constructor (tests).
std::atomic<SynthMaker> g_synthMaker{nullptr};

}  // namespace

std::string FindSoundFont(const char* explicitPath, const std::string& defaultPath,
                          const std::vector<std::string>& folders) {
  if (explicitPath != nullptr && *explicitPath != '\0') {
    // A SoundFont named on purpose is used or nothing is: falling back to another one would hide
    // the mistake behind music that sounds almost right.
    return IsFile(explicitPath) ? std::string(explicitPath) : std::string();
  }
  if (!defaultPath.empty() && IsFile(defaultPath)) return defaultPath;
  for (const auto& folder : folders) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
      if (IsSoundFontName(it->path()) && IsFile(it->path())) found.push_back(it->path());
    }
    if (!found.empty()) return std::min_element(found.begin(), found.end())->string();
  }
  return {};
}

std::string FindSoundFont() {
  return FindSoundFont(std::getenv("SOFTCARD_SOUNDFONT"), "/usr/share/sounds/sf2/default-GM.sf2",
                       {"/usr/share/sounds/sf2", "/usr/share/soundfonts"});
}

SoundFontStatus SoundFontStatusOf(const char* explicitPath, const std::string& found, bool loaded) {
  using Kind = SoundFontStatus::Kind;
  if (loaded) return {Kind::Loaded, found};
  if (explicitPath != nullptr && *explicitPath != '\0') {
    // Something that exists but is no file (a folder) cannot be loaded either.
    std::error_code ec;
    const bool exists = fs::exists(explicitPath, ec);
    return {exists ? Kind::Unloadable : Kind::NamedMissing, explicitPath};
  }
  if (found.empty()) return {Kind::NoneInstalled, {}};
  return {Kind::Unloadable, found};
}

Synth::Synth(const std::string& soundFont) {
  settings_ = new_fluid_settings();
  fluid_settings_setnum(settings_, "synth.sample-rate", kCardRate);
  // One core: the card renders on its own thread and must not start FluidSynth's worker threads.
  fluid_settings_setint(settings_, "synth.cpu-cores", 1);
  synth_ = new_fluid_synth(settings_);
  if (synth_ != nullptr && !soundFont.empty()) {
    UseOneOpenMpThread();
    if (fluid_synth_sfload(synth_, soundFont.c_str(), 1) != FLUID_FAILED) {
      soundFont_ = soundFont;
    } else {
      std::fprintf(
          stderr, "softcard: the SoundFont \"%s\" could not be loaded; the synthesiser is silent\n",
          soundFont.c_str());
    }
  }
}

Synth::~Synth() {
  if (synth_ != nullptr) delete_fluid_synth(synth_);
  if (settings_ != nullptr) delete_fluid_settings(settings_);
}

int Synth::ActiveVoices() const {
  return synth_ != nullptr ? fluid_synth_get_active_voice_count(synth_) : 0;
}

void Synth::Send(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  if (!synth_) return;
  const int chan = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth_, chan, data1);
      break;
    case 0x90:
      if (data2 == 0)
        fluid_synth_noteoff(synth_, chan, data1);
      else
        fluid_synth_noteon(synth_, chan, data1, data2);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth_, chan, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth_, chan, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth_, chan, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth_, chan, data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth_, chan, data1 | (data2 << 7));
      break;
    default:
      break;
  }
}

void Synth::SendSysex(std::span<const std::uint8_t> bytes) {
  if (!synth_ || bytes.empty()) return;
  // The synthesiser ignores messages it does not know; resets and tunings are what files send.
  fluid_synth_sysex(synth_, reinterpret_cast<const char*>(bytes.data()),
                    static_cast<int>(bytes.size()), nullptr, nullptr, nullptr, 0);
}

void Synth::Reset() {
  if (synth_) fluid_synth_system_reset(synth_);
}

void Synth::SoundOff() {
  if (synth_) fluid_synth_all_sounds_off(synth_, -1);
}

void Synth::Render(float* left, float* right, int frames) {
  if (synth_ == nullptr) {
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    return;
  }
  fluid_synth_write_float(synth_, frames, left, 0, 1, right, 0, 1);
}

std::unique_ptr<Synth> MakeSynth(const std::string& soundFont) {
  if (const SynthMaker maker = g_synthMaker.load()) return maker(soundFont);
  return std::make_unique<Synth>(soundFont);
}

void SetSynthMakerForTesting(SynthMaker maker) { g_synthMaker.store(maker); }

}  // namespace platform::softcard
