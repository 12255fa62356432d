#pragma once
// Writes small Standard MIDI Files for the tests: format 0, 120 beats a minute, 480 ticks a beat
// (so 500 ms is 480 ticks), a piano note every half second, the last event at `lengthMs`.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline void WriteMidiFile(const std::string& path, int lengthMs) {
  std::vector<std::uint8_t> track;
  auto var = [&](std::uint32_t v) {
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = v & 0x7F;
    while (v >>= 7) bytes[n++] = static_cast<std::uint8_t>((v & 0x7F) | 0x80);
    while (n) track.push_back(bytes[--n]);
  };
  auto ticks = [](int ms) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(ms) * 480 / 500);
  };
  var(0);
  track.insert(track.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // tempo 500000 us a beat
  var(0);
  track.insert(track.end(), {0xC0, 0x00});  // piano
  std::uint32_t now = 0;
  const std::uint8_t notes[] = {60, 64, 67, 72, 67, 64};
  int i = 0;
  for (int on = 0; on + 400 <= lengthMs; on += 500, ++i) {
    var(ticks(on) - now);
    now = ticks(on);
    track.insert(track.end(), {0x90, notes[i % 6], 0x64});
    var(ticks(on + 400) - now);
    now = ticks(on + 400);
    track.insert(track.end(), {0x80, notes[i % 6], 0x40});
  }
  var(ticks(lengthMs) - now);
  track.insert(track.end(), {0xFF, 0x2F, 0x00});

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  const std::uint32_t size = static_cast<std::uint32_t>(track.size());
  const std::uint8_t trackHeader[] = {'M',
                                      'T',
                                      'r',
                                      'k',
                                      static_cast<std::uint8_t>(size >> 24),
                                      static_cast<std::uint8_t>(size >> 16),
                                      static_cast<std::uint8_t>(size >> 8),
                                      static_cast<std::uint8_t>(size)};
  out.write(reinterpret_cast<const char*>(trackHeader), sizeof trackHeader);
  out.write(reinterpret_cast<const char*>(track.data()),
            static_cast<std::streamsize>(track.size()));
}
