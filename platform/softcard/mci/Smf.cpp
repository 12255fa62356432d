#include "platform/softcard/mci/Smf.h"

#include <algorithm>

#include "platform/runtime/ByteOrder.h"
#include "platform/runtime/WholeFile.h"

namespace platform {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 bpm

// An event while the file is read: its tick still unconverted, and its place in the order of one
// instant (0 goes first).
struct RawEvent {
  std::uint64_t tick = 0;
  std::uint32_t sysex = 0;
  std::uint8_t status = 0;
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
  std::uint8_t rank = 1;
};

struct Tempo {
  std::uint64_t tick;
  std::uint32_t usPerQuarter;
};

bool IsNoteOff(const RawEvent& e) {
  const int kind = e.status & 0xF0;
  return kind == 0x80 || (kind == 0x90 && e.data2 == 0);
}

bool IsNoteOn(const RawEvent& e) { return (e.status & 0xF0) == 0x90 && e.data2 != 0; }

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::uint8_t Data(std::uint8_t b) { return b > 127 ? 127 : b; }

// Reads the events of one track chunk. Returns false when the chunk was damaged (it then holds the
// events before the damage).
class TrackReader {
 public:
  TrackReader(std::span<const std::uint8_t> chunk, std::vector<RawEvent>& events,
              std::vector<Tempo>& tempos, std::vector<std::uint8_t>& sysexBytes,
              std::vector<std::uint32_t>& sysexStart)
      : p_(chunk),
        events_(events),
        tempos_(tempos),
        sysexBytes_(sysexBytes),
        sysexStart_(sysexStart) {}

  // lastTick: raised to the tick of every complete event, meta events included.
  bool Read(std::uint64_t& lastTick) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (pos_ < p_.size()) {
      std::uint32_t delta;
      if (!Vlq(delta)) return false;
      tick += delta;
      if (pos_ >= p_.size()) return false;
      const std::uint8_t b = p_[pos_];
      if (b == 0xFF) {
        ++pos_;
        if (pos_ >= p_.size()) return false;
        const std::uint8_t type = p_[pos_++];
        std::uint32_t len;
        if (!Vlq(len) || len > p_.size() - pos_) return false;
        lastTick = std::max(lastTick, tick);
        if (type == 0x2F) return true;  // end of track: anything after it is not played
        if (type == 0x51 && len >= 3) {
          const std::uint32_t t =
              (std::uint32_t{p_[pos_]} << 16) | (p_[pos_ + 1] << 8) | p_[pos_ + 2];
          if (t != 0) tempos_.push_back({tick, t});  // a zero tempo would stop time
        }
        pos_ += len;
      } else if (b == 0xF0 || b == 0xF7) {
        ++pos_;
        std::uint32_t len;
        if (!Vlq(len) || len > p_.size() - pos_) return false;
        Sysex(tick, b, p_.subspan(pos_, len));
        pos_ += len;
        lastTick = std::max(lastTick, tick);
      } else if (b > 0xF0) {
        // System common and real-time bytes have no place in a file; some writers leave them in.
        // Step over them with their data so the rest of the track still plays.
        ++pos_;
        const std::size_t n = (b == 0xF2) ? 2 : (b == 0xF1 || b == 0xF3) ? 1 : 0;
        if (n > p_.size() - pos_) return false;
        pos_ += n;
        lastTick = std::max(lastTick, tick);
      } else {
        std::uint8_t status = running;
        if (b & 0x80) {
          status = b;
          ++pos_;
        }
        // Running status is kept across meta and system-exclusive events: files that rely on it
        // play as their authors heard them, and valid files never notice.
        if (status == 0) return false;
        running = status;
        const int kind = status & 0xF0;
        const std::size_t n = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (n > p_.size() - pos_) return false;
        RawEvent e;
        e.tick = tick;
        e.status = status;
        e.data1 = Data(p_[pos_]);
        if (n == 2) e.data2 = Data(p_[pos_ + 1]);
        pos_ += n;
        const std::size_t note = (status & 0x0F) * 128u + e.data1;
        if (IsNoteOn(e)) {
          noteOnTick_[note] = tick;
        } else if (IsNoteOff(e) && noteOnTick_[note] != tick) {
          // Ends a note begun before this instant: it goes ahead of the instant's other events.
          // One that ends a note begun at this very instant in this track keeps its place.
          e.rank = 0;
        }
        events_.push_back(e);
        lastTick = std::max(lastTick, tick);
      }
    }
    return true;  // no end-of-track event, but nothing is cut either
  }

 private:
  // Variable-length quantity of at most four bytes.
  bool Vlq(std::uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= p_.size()) return false;
      const std::uint8_t b = p_[pos_++];
      v = (v << 7) | (b & 0x7F);
      if (!(b & 0x80)) return true;
    }
    return false;
  }

  void Sysex(std::uint64_t tick, std::uint8_t kind, std::span<const std::uint8_t> body) {
    // An 0xF7 packet is either the tail of a divided message or an escape carrying raw bytes; only
    // an escape that holds a whole system-exclusive message means something to the synthesiser.
    if (kind == 0xF7) {
      if (body.empty() || body[0] != 0xF0) return;
      body = body.subspan(1);
    }
    if (!body.empty() && body.back() == 0xF7) body = body.first(body.size() - 1);
    if (body.empty()) return;
    RawEvent e;
    e.tick = tick;
    e.status = 0xF0;
    e.sysex = static_cast<std::uint32_t>(sysexStart_.size() - 1);
    sysexBytes_.insert(sysexBytes_.end(), body.begin(), body.end());
    sysexStart_.push_back(static_cast<std::uint32_t>(sysexBytes_.size()));
    events_.push_back(e);
  }

  std::span<const std::uint8_t> p_;
  std::size_t pos_ = 0;
  std::vector<RawEvent>& events_;
  std::vector<Tempo>& tempos_;
  std::vector<std::uint8_t>& sysexBytes_;
  std::vector<std::uint32_t>& sysexStart_;
  std::vector<std::uint64_t> noteOnTick_ = std::vector<std::uint64_t>(16 * 128, ~std::uint64_t{0});
};

// Converts ticks (asked in non-decreasing order) into microseconds.
class TickClock {
 public:
  // Ticks per quarter note, following the tempo map.
  TickClock(std::uint32_t division, std::vector<Tempo> tempos)
      : division_(division), tempos_(std::move(tempos)) {}
  // A fixed tick length: num / den microseconds.
  TickClock(std::uint64_t num, std::uint64_t den) : num_(num), den_(den) {}

  std::int64_t At(std::uint64_t tick) {
    using U = unsigned __int128;
    U us;
    if (den_ != 0) {
      us = U{tick} * num_ / den_;
    } else {
      while (next_ < tempos_.size() && tempos_[next_].tick <= tick) {
        sum_ += U{tempos_[next_].tick - segTick_} * tempo_;
        segTick_ = tempos_[next_].tick;
        tempo_ = tempos_[next_].usPerQuarter;
        ++next_;
      }
      us = (sum_ + U{tick - segTick_} * tempo_) / division_;
    }
    return us > U{SmfFile::kMaxTimeUs} ? SmfFile::kMaxTimeUs : static_cast<std::int64_t>(us);
  }

 private:
  std::uint32_t division_ = 0;
  std::vector<Tempo> tempos_;
  std::size_t next_ = 0;
  std::uint64_t segTick_ = 0;
  std::uint32_t tempo_ = kDefaultTempo;
  unsigned __int128 sum_ = 0;  // sum of ticks x tempo up to segTick_
  std::uint64_t num_ = 0;
  std::uint64_t den_ = 0;
};

}  // namespace

void SmfFile::Clear() {
  format_ = 0;
  tracks_ = 0;
  truncated_ = false;
  smpte_ = false;
  lengthUs_ = 0;
  events_.clear();
  sysexBytes_.clear();
  sysexStart_.assign(1, 0);
}

std::span<const std::uint8_t> SmfFile::Sysex(const SmfEvent& e) const {
  if (e.status != 0xF0 || e.sysex + 1 >= sysexStart_.size()) return {};
  return std::span(sysexBytes_)
      .subspan(sysexStart_[e.sysex], sysexStart_[e.sysex + 1] - sysexStart_[e.sysex]);
}

SmfStatus SmfFile::Load(const std::string& path) {
  Clear();
  std::vector<std::uint8_t> bytes;
  const WholeFileRead read = ReadWholeFile(path, kMaxFileBytes, bytes);
  if (read == WholeFileRead::TooLarge) return SmfStatus::TooLarge;
  if (read != WholeFileRead::Ok) return SmfStatus::CannotOpen;
  return Parse(bytes);
}

SmfStatus SmfFile::Parse(std::span<const std::uint8_t> bytes) {
  Clear();
  if (bytes.size() > kMaxFileBytes) return SmfStatus::TooLarge;

  // A RIFF "RMID" file carries the MIDI file in its "data" chunk.
  if (bytes.size() >= 12 && IsChunkId(bytes.data(), "RIFF")) {
    if (!IsChunkId(bytes.data() + 8, "RMID")) return SmfStatus::NotMidi;
    std::size_t pos = 12;
    for (;;) {
      if (bytes.size() - pos < 8) return SmfStatus::NotMidi;
      const std::uint32_t len = GetLE32(bytes.data() + pos + 4);
      const std::size_t avail = bytes.size() - pos - 8;
      if (IsChunkId(bytes.data() + pos, "data")) {
        bytes = bytes.subspan(pos + 8, std::min<std::size_t>(len, avail));
        break;
      }
      if (len >= avail) return SmfStatus::NotMidi;
      pos += 8 + len + (len & 1);
    }
  }

  if (bytes.size() < 8 || !IsChunkId(bytes.data(), "MThd")) return SmfStatus::NotMidi;
  const std::uint32_t headerLen = Be32(bytes.data() + 4);
  if (headerLen < 6 || headerLen > bytes.size() - 8) return SmfStatus::BadHeader;
  const std::uint8_t* h = bytes.data() + 8;
  const std::uint16_t format = Be16(h);
  const std::uint16_t declaredTracks = Be16(h + 2);
  const std::uint16_t division = Be16(h + 4);
  if (format > 2 || division == 0) return SmfStatus::BadHeader;
  std::uint64_t tickNum = 0;
  std::uint64_t tickDen = 0;
  if (division & 0x8000) {
    const int fps = -static_cast<std::int8_t>(division >> 8);
    const int ticksPerFrame = division & 0xFF;
    if (fps <= 0 || ticksPerFrame == 0) return SmfStatus::BadHeader;
    // -29 is 30-frame drop-frame time code, which runs at 30000/1001 frames a second.
    tickNum = fps == 29 ? 1001000000ull : 1000000ull;
    tickDen = fps == 29 ? 30000ull * ticksPerFrame : std::uint64_t(fps) * ticksPerFrame;
    smpte_ = true;
  }
  format_ = format;

  std::vector<RawEvent> raw;
  std::vector<Tempo> tempos;
  std::uint64_t lastTick = 0;
  std::size_t pos = 8 + headerLen;
  while (tracks_ < declaredTracks && bytes.size() - pos >= 8) {
    const std::uint32_t len = Be32(bytes.data() + pos + 4);
    const std::size_t avail = bytes.size() - pos - 8;
    const std::size_t have = std::min<std::size_t>(len, avail);
    if (IsChunkId(bytes.data() + pos, "MTrk")) {
      if (have < len) truncated_ = true;
      if (format != 2 || tracks_ == 0) {
        TrackReader reader(bytes.subspan(pos + 8, have), raw, tempos, sysexBytes_, sysexStart_);
        if (!reader.Read(lastTick)) truncated_ = true;
      }
      ++tracks_;
    }
    pos += 8 + have;
  }
  if (tracks_ == 0) {
    Clear();
    return SmfStatus::NoTracks;
  }
  if (tracks_ < declaredTracks) truncated_ = true;

  // Tracks were appended one after the other: a stable sort keeps file order within a rank.
  std::stable_sort(raw.begin(), raw.end(), [](const RawEvent& a, const RawEvent& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
  });
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });

  TickClock clock = smpte_ ? TickClock(tickNum, tickDen) : TickClock(division, std::move(tempos));
  events_.reserve(raw.size());
  for (const RawEvent& r : raw) {
    SmfEvent e;
    e.timeUs = clock.At(r.tick);
    e.sysex = r.sysex;
    e.status = r.status;
    e.data1 = r.data1;
    e.data2 = r.data2;
    events_.push_back(e);
  }
  lengthUs_ = clock.At(lastTick);
  return SmfStatus::Ok;
}

}  // namespace platform
