#pragma once
// Standard MIDI File reader: turns a .mid file (or a RIFF "RMID" wrapper around one) into one
// time-ordered list of channel and system-exclusive events with their times in microseconds.
//
// Formats 0 and 1 play every track together; format 2 plays its first track. Time divisions in
// ticks per quarter note follow the file's tempo map (tempo changes from any played track); SMPTE
// divisions give ticks a fixed length. Meta events other than tempo are read over and dropped, but
// still count for the length, which is the time of the file's last event of any kind.
//
// Damage is tolerated as far as music can still be played: a track that ends early or stops making
// sense is played up to the damage (Truncated() tells), data bytes with the top bit set are taken
// as data and clamped to 127, unknown chunks are skipped. A file that is not MIDI at all, has a
// header that cannot be played, has no track, or is larger than kMaxFileBytes is refused with a
// status.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

enum class SmfStatus {
  Ok,
  CannotOpen,  // the file cannot be read
  TooLarge,    // larger than SmfFile::kMaxFileBytes
  NotMidi,     // neither an "MThd" header nor a RIFF "RMID" file holding one
  BadHeader,   // header too short, unknown format or a time division of zero
  NoTracks,    // no track chunk at all
};

// One event to send to the synthesiser. Channel messages carry their status (0x80..0xEF) and up to
// two data bytes (0..127); system-exclusive messages carry status 0xF0 and their bytes (without the
// leading 0xF0 and the closing 0xF7) in SmfFile::Sysex().
struct SmfEvent {
  std::int64_t timeUs = 0;  // from the start of the file
  std::uint32_t sysex = 0;  // index of the message's bytes, for status 0xF0
  std::uint8_t status = 0;
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
};

// Events that fall on one instant are ordered thus: note-offs (and note-ons with velocity 0) come
// first, so that a note ending where the same note starts again does not cut the new one short;
// then every other event in file order (track by track, and in track order). A note-off that ends a
// note its own track began at that same instant stays after its note-on, so that a zero-length note
// cannot hang.
class SmfFile {
 public:
  // Larger files are refused: real MIDI files are well under a megabyte, and every byte read can
  // become an event kept in memory.
  static constexpr std::uint64_t kMaxFileBytes = 16u << 20;
  // Times past this (about 12 days) are held at it, so that garbage deltas and tempos cannot
  // overflow any later arithmetic on times.
  static constexpr std::int64_t kMaxTimeUs = std::int64_t{1} << 40;

  SmfStatus Load(const std::string& path);
  SmfStatus Parse(std::span<const std::uint8_t> bytes);

  int Format() const { return format_; }
  int TrackCount() const { return tracks_; }  // track chunks read (played or not)
  bool Truncated() const { return truncated_; }
  bool Smpte() const { return smpte_; }

  std::int64_t LengthUs() const { return lengthUs_; }
  std::uint32_t LengthMs() const { return static_cast<std::uint32_t>(lengthUs_ / 1000); }

  const std::vector<SmfEvent>& Events() const { return events_; }
  std::span<const std::uint8_t> Sysex(const SmfEvent& e) const;

 private:
  void Clear();

  int format_ = 0;
  int tracks_ = 0;
  bool truncated_ = false;
  bool smpte_ = false;
  std::int64_t lengthUs_ = 0;
  std::vector<SmfEvent> events_;
  std::vector<std::uint8_t> sysexBytes_;
  std::vector<std::uint32_t> sysexStart_;  // sysex i is [sysexStart_[i], sysexStart_[i + 1])
};

}  // namespace platform
