#pragma once
// What the conversion benchmarks share: the music they convert, and running the command-line
// programs they compare against.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "converter/ProgramFolder.h"
#include "tests/support/RunProgram.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// `seconds` of music on four channels: melody, chords, bass and drums, 120 beats a minute.
inline void WriteBenchMidi(const std::string& path, int seconds = 60) {
  struct Event {
    std::uint32_t tick;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Event> events;
  auto note = [&](std::uint32_t at, std::uint32_t length, std::uint8_t channel, std::uint8_t key,
                  std::uint8_t velocity) {
    events.push_back({at, {static_cast<std::uint8_t>(0x90 | channel), key, velocity}});
    events.push_back({at + length, {static_cast<std::uint8_t>(0x80 | channel), key, 0x40}});
  };
  events.push_back({0, {0xC0, 0}});   // piano melody
  events.push_back({0, {0xC1, 48}});  // strings
  events.push_back({0, {0xC2, 33}});  // bass
  const std::uint32_t beat = 480, end = static_cast<std::uint32_t>(seconds) * 2 * beat;
  const std::uint8_t scale[] = {60, 62, 64, 65, 67, 69, 71, 72};
  const std::uint8_t roots[] = {48, 53, 55, 48};
  for (std::uint32_t t = 0, i = 0; t < end; t += beat / 2, ++i)
    note(t, beat / 2 - 20, 0, scale[(i * 3) % 8], 90);
  for (std::uint32_t t = 0, bar = 0; t < end; t += 4 * beat, ++bar) {
    const std::uint8_t root = roots[bar % 4];
    for (std::uint8_t k :
         {root, static_cast<std::uint8_t>(root + 4), static_cast<std::uint8_t>(root + 7)})
      note(t, 4 * beat - 40, 1, k + 12, 60);
    for (std::uint32_t b = 0; b < 4; ++b) note(t + b * beat, beat - 40, 2, root - 12, 100);
  }
  for (std::uint32_t t = 0, i = 0; t < end; t += beat / 2, ++i)
    note(t, 60, 9, i % 2 ? 42 : (i % 4 ? 38 : 36), 100);
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.tick < b.tick; });

  std::vector<std::uint8_t> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
  std::uint32_t now = 0;
  for (const auto& e : events) {
    std::uint32_t delta = e.tick - now;
    now = e.tick;
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = delta & 0x7F;
    while (delta >>= 7) bytes[n++] = static_cast<std::uint8_t>((delta & 0x7F) | 0x80);
    while (n) track.push_back(bytes[--n]);
    track.insert(track.end(), e.bytes.begin(), e.bytes.end());
  }
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  const auto size = static_cast<std::uint32_t>(track.size());
  const char trackHeader[] = {'M',
                              'T',
                              'r',
                              'k',
                              static_cast<char>(size >> 24),
                              static_cast<char>(size >> 16),
                              static_cast<char>(size >> 8),
                              static_cast<char>(size)};
  out.write(trackHeader, sizeof trackHeader);
  out.write(reinterpret_cast<const char*>(track.data()),
            static_cast<std::streamsize>(track.size()));
}

using tw_test::Run;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A folder of the benchmark's own under the temporary folder, with the card's mixer state in it.
// Call before the card exists; remove the folder at the end.
inline std::filesystem::path MakeWorkFolder(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path work = fs::temp_directory_path() / (name + "." + std::to_string(getpid()));
  fs::create_directories(work / "state");
  setenv("SOFTCARD_STATE_DIR", (work / "state").c_str(), 1);
  setenv("OMP_NUM_THREADS", "1", 1);
  return work;
}

// A work folder (MakeWorkFolder) that is also the program folder: the shipped text tables, and an
// empty default settings file so that Tunewisp stays (and applies no presets). Call before the card
// or any window exists; remove the folder at the end.
inline std::filesystem::path MakeProgramFolder(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path work = MakeWorkFolder(name);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (const auto& entry : fs::directory_iterator(tw::ProgramFolder()))
    if (entry.path().extension() == ".ini")
      fs::copy_file(entry.path(), work / entry.path().filename());
  std::ofstream(work / "default.set").close();
  tw::SetProgramFolder(work.string());
  return work;
}

}  // namespace bench
