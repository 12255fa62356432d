#pragma once
// A small General MIDI song of any length for the card's recording tests and benchmark: piano
// chords, a bass line, sustained strings and a drum pattern at 120 beats per minute, so that the
// recording's loudness moves with every beat and the synthesiser has a realistic number of voices.

#include <algorithm>

#include "tests/support/SmfBuilder.h"

namespace smftest {

// `seconds` of music (whole beats of 0.5 s), format 1, 480 ticks per beat.
inline Bytes Song(int seconds) {
  const int beats = seconds * 2;
  const std::uint32_t q = 480;
  Track tempo;
  tempo.Tempo(0, 500000).End(beats * q);

  Track piano, bass, strings, drums;
  piano.Ev(0, {0xC0, 0});
  bass.Ev(0, {0xC1, 33});
  strings.Ev(0, {0xC2, 48}).Ev(0, {0xB2, 7, 70});
  static const int roots[4] = {60, 57, 53, 55};  // C, A minor, F, G
  for (int bar = 0; bar * 4 < beats; ++bar) {
    const int root = roots[bar % 4];
    const int barBeats = std::min(4, beats - bar * 4);
    strings.On(0, 2, root - 12, 60).On(0, 2, root - 5, 60);
    for (int b = 0; b < barBeats; ++b) {
      const int third = root + ((bar % 4 == 1) ? 3 : 4);
      piano.On(0, 0, root, 90).On(0, 0, third, 80).On(0, 0, root + 7, 80);
      piano.Off(q / 2, 0, root).Off(0, 0, third).Off(0, 0, root + 7).Ev(q / 2, {0x90, 0, 0});
      bass.On(0, 1, root - 24, 100).Off(q - q / 8, 1, root - 24).Ev(q / 8, {0x91, 0, 0});
      drums.On(0, 9, b % 2 == 0 ? 36 : 38, 110).On(0, 9, 42, 70);
      drums.Off(q / 2, 9, b % 2 == 0 ? 36 : 38).Off(0, 9, 42).On(0, 9, 42, 50).Off(q / 2, 9, 42);
    }
    strings.Off(barBeats * q, 2, root - 12).Off(0, 2, root - 5);
  }
  // Every track ends with the song: the velocity-0 note-ons of key 0 above (note-offs of a key that
  // never sounds) fill each beat up to exactly `q` ticks.
  piano.End();
  bass.End();
  strings.End();
  drums.End();
  return File(1, q, {tempo, piano, bass, strings, drums});
}

// `seconds` of the loudest music a file can ask for: all 16 channels, each with its own instrument
// (drums on channel 10), four-note chords at velocity 127 on every beat.
inline Bytes Dense(int seconds) {
  const std::uint32_t q = 480;
  std::vector<Track> tracks(17);
  tracks[0].Tempo(0, 500000).End(static_cast<std::uint32_t>(seconds) * 2 * q);
  for (int ch = 0; ch < 16; ++ch) {
    Track& t = tracks[ch + 1];
    t.Ev(0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(ch == 9 ? 0 : ch * 8)});
    const int root = ch == 9 ? 35 : 36 + ch * 3;
    for (int beat = 0; beat < seconds * 2; ++beat) {
      for (int k : {0, 4, 7, 12}) t.On(0, ch, root + k, 127);
      t.Off(q - 10, ch, root).Off(0, ch, root + 4).Off(0, ch, root + 7).Off(0, ch, root + 12);
      t.Ev(10, {static_cast<std::uint8_t>(0x90 | ch), 0, 0});
    }
    t.End();
  }
  return File(1, q, tracks);
}

}  // namespace smftest
