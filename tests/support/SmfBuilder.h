#pragma once
// Builds Standard MIDI Files byte by byte for the tests, so that every file's answer is known.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/WavFiles.h"

namespace smftest {

using tw_test::Bytes;

inline Bytes Vlq(std::uint32_t v) {
  Bytes out{static_cast<std::uint8_t>(v & 0x7F)};
  while (v >>= 7) out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
  return out;
}

inline void Be(Bytes& b, std::uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One track's events; each call appends a delta time and the event's bytes as given (so running
// status, top-bit data bytes and damage are written exactly as a test wants them).
class Track {
 public:
  Track& Ev(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
    Append(Vlq(delta));
    data_.insert(data_.end(), bytes);
    return *this;
  }
  Track& Tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    return Ev(delta, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(usPerQuarter >> 16),
                      static_cast<std::uint8_t>(usPerQuarter >> 8),
                      static_cast<std::uint8_t>(usPerQuarter)});
  }
  Track& On(std::uint32_t delta, int ch, int key, int vel = 100) {
    return Ev(delta, {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(key),
                      static_cast<std::uint8_t>(vel)});
  }
  Track& Off(std::uint32_t delta, int ch, int key) {
    return Ev(delta, {static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(key), 0});
  }
  Track& End(std::uint32_t delta = 0) { return Ev(delta, {0xFF, 0x2F, 0x00}); }
  Track& Raw(const Bytes& b) {
    Append(b);
    return *this;
  }
  const Bytes& Data() const { return data_; }

 private:
  void Append(const Bytes& b) { data_.insert(data_.end(), b.begin(), b.end()); }
  Bytes data_;
};

inline Bytes Chunk(const char* id, const Bytes& body, std::int64_t declaredLength = -1) {
  Bytes out(id, id + 4);
  Be(out,
     declaredLength < 0 ? static_cast<std::uint32_t>(body.size())
                        : static_cast<std::uint32_t>(declaredLength),
     4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline Bytes Header(int format, int tracks, std::uint16_t division) {
  Bytes h;
  Be(h, static_cast<std::uint32_t>(format), 2);
  Be(h, static_cast<std::uint32_t>(tracks), 2);
  Be(h, division, 2);
  return Chunk("MThd", h);
}

inline Bytes File(int format, std::uint16_t division, const std::vector<Track>& tracks) {
  Bytes f = Header(format, static_cast<int>(tracks.size()), division);
  for (const Track& t : tracks) {
    const Bytes c = Chunk("MTrk", t.Data());
    f.insert(f.end(), c.begin(), c.end());
  }
  return f;
}

// The file wrapped in a RIFF "RMID" container, with an extra chunk before its "data" chunk.
inline Bytes Rmid(const Bytes& smf) {
  Bytes body{'R', 'M', 'I', 'D'};
  const Bytes info = tw_test::Chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'x'});
  body.insert(body.end(), info.begin(), info.end());
  body.push_back(0);  // pad byte of the odd-sized chunk
  const Bytes data = tw_test::Chunk("data", smf);
  body.insert(body.end(), data.begin(), data.end());
  return tw_test::Chunk("RIFF", body);
}

// A melody of `lengthMs`: format 0, 120 beats a minute, 480 ticks a beat (so 500 ms is 480
// ticks), a piano note every half second, the end of the track at `lengthMs`.
inline Bytes Melody(int lengthMs) {
  auto ticks = [](int ms) { return static_cast<std::uint32_t>(std::int64_t{ms} * 480 / 500); };
  static const int notes[] = {60, 64, 67, 72, 67, 64};
  Track track;
  track.Tempo(0, 500000).Ev(0, {0xC0, 0x00});
  std::uint32_t now = 0;
  for (int on = 0, i = 0; on + 400 <= lengthMs; on += 500, ++i) {
    track.On(ticks(on) - now, 0, notes[i % 6]).Off(ticks(on + 400) - ticks(on), 0, notes[i % 6]);
    now = ticks(on + 400);
  }
  track.End(ticks(lengthMs) - now);
  return File(0, 480, {track});
}

inline void WriteMidiFile(const std::string& path, int lengthMs) {
  tw_test::WriteFile(path, Melody(lengthMs));
}

}  // namespace smftest
