// The MIDI file reader: times, lengths, the order of one instant, and damaged input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "platform/softcard/mci/Smf.h"
#include "tests/support/SmfBuilder.h"
#include "tests/support/TempDir.h"

using platform::SmfEvent;
using platform::SmfFile;
using platform::SmfStatus;
using namespace smftest;

namespace {

SmfFile Parsed(const Bytes& b, SmfStatus expect = SmfStatus::Ok) {
  SmfFile f;
  EXPECT_EQ(f.Parse(b), expect);
  return f;
}

std::vector<std::int64_t> Times(const SmfFile& f) {
  std::vector<std::int64_t> t;
  for (const SmfEvent& e : f.Events()) t.push_back(e.timeUs);
  return t;
}

// status, data1 of every event, to compare orders compactly
std::vector<std::pair<int, int>> Order(const SmfFile& f) {
  std::vector<std::pair<int, int>> o;
  for (const SmfEvent& e : f.Events()) o.emplace_back(e.status, e.data1);
  return o;
}

}  // namespace

TEST(SmfTiming, Format0AtDefaultTempoEndsWithItsEndOfTrack) {
  Track t;
  t.On(0, 0, 60).Off(960, 0, 60).End(480);
  const SmfFile f = Parsed(File(0, 480, {t}));
  EXPECT_EQ(f.Format(), 0);
  EXPECT_EQ(Times(f), (std::vector<std::int64_t>{0, 1000000}));
  // 1440 ticks at 120 bpm: the end-of-track event, not the last note, decides the length.
  EXPECT_EQ(f.LengthUs(), 1500000);
  EXPECT_EQ(f.LengthMs(), 1500u);
  EXPECT_FALSE(f.Truncated());
}

TEST(SmfTiming, TempoMapOfTheFirstTrackTimesTheOtherTracks) {
  Track conductor;
  conductor.Tempo(0, 500000).Tempo(480, 250000).Tempo(480, 1000000).End(480);
  Track notes;
  notes.On(0, 0, 60).Off(720, 0, 60).On(480, 0, 62).End(100);
  const SmfFile f = Parsed(File(1, 480, {conductor, notes}));
  // 480 ticks at 0.5 s, then 240 at 0.25 s per quarter; then 240 more at 0.25 s and 240 at 1 s.
  EXPECT_EQ(Times(f), (std::vector<std::int64_t>{0, 625000, 1250000}));
  EXPECT_EQ(f.LengthMs(), 1750u);  // conductor's end at 1440 ticks
}

TEST(SmfTiming, TempoChangeInALaterTrackAppliesToAllTracks) {
  Track a;
  a.On(0, 0, 60).Off(960, 0, 60).End();
  Track b;
  b.Tempo(480, 1000000).End();  // from tick 480: 1 s per quarter
  const SmfFile f = Parsed(File(1, 480, {a, b}));
  EXPECT_EQ(Times(f), (std::vector<std::int64_t>{0, 1500000}));
  EXPECT_EQ(f.LengthMs(), 1500u);
}

TEST(SmfTiming, ZeroAndShortTempoEventsAreIgnored) {
  Track t;
  t.Ev(0, {0xFF, 0x51, 0x03, 0, 0, 0})
      .Ev(0, {0xFF, 0x51, 0x02, 0x01, 0x00})
      .On(0, 0, 60)
      .Off(480, 0, 60);
  const SmfFile f = Parsed(File(0, 480, {t}));
  EXPECT_EQ(f.LengthMs(), 500u);
}

TEST(SmfTiming, SmpteDivisionsGiveTicksAFixedLength) {
  {
    Track t;
    t.Tempo(0, 250000).On(0, 0, 60).Off(2500, 0, 60);  // tempo means nothing in SMPTE time
    const SmfFile f = Parsed(File(0, 0xE728, {t}));    // 25 fps x 40 ticks = 1000 ticks/s
    EXPECT_TRUE(f.Smpte());
    EXPECT_EQ(f.LengthUs(), 2500000);
  }
  {
    Track t;
    t.On(0, 0, 60).Off(720, 0, 60);
    const SmfFile f = Parsed(File(0, 0xE81E, {t}));  // 24 fps x 30 ticks = 720 ticks/s
    EXPECT_EQ(f.LengthUs(), 1000000);
  }
  {
    Track t;
    t.On(0, 0, 60).Off(29970, 0, 60);
    // Drop-frame: 30000/1001 frames a second x 100 ticks: 29970 ticks are 9.99999 s.
    const SmfFile f = Parsed(File(0, 0xE364, {t}));
    EXPECT_EQ(f.LengthUs(), 9999990);
  }
}

TEST(SmfTiming, HugeDeltasAndTemposAreHeldAtTheLargestTime) {
  Track t;
  t.Tempo(0, 0xFFFFFF);
  for (int i = 0; i < 40; ++i) t.On(0x0FFFFFFF, 0, 60);
  const SmfFile f = Parsed(File(0, 1, {t}));
  ASSERT_EQ(f.Events().size(), 40u);
  EXPECT_EQ(f.LengthUs(), SmfFile::kMaxTimeUs);
  EXPECT_EQ(f.Events().back().timeUs, SmfFile::kMaxTimeUs);
  for (std::size_t i = 1; i < f.Events().size(); ++i)
    EXPECT_LE(f.Events()[i - 1].timeUs, f.Events()[i].timeUs);
}

TEST(SmfParse, RunningStatusRepeatsTheLastStatusAlsoAcrossMetaEvents) {
  Track t;
  t.On(0, 3, 60)
      .Ev(10, {62, 90})
      .Ev(10, {60, 0})  // running note-on, then velocity 0
      .Ev(0, {0xFF, 0x01, 0x02, 'h', 'i'})
      .Ev(10, {64, 80})  // a file that keeps running status after a meta event
      .Ev(0, {0xC5, 7})
      .Ev(10, {9});  // running program change: one data byte
  const SmfFile f = Parsed(File(0, 96, {t}));
  EXPECT_EQ(Order(f), (std::vector<std::pair<int, int>>{
                          {0x93, 60}, {0x93, 62}, {0x93, 60}, {0x93, 64}, {0xC5, 7}, {0xC5, 9}}));
  EXPECT_EQ(f.Events()[1].data2, 90);
  EXPECT_FALSE(f.Truncated());
}

TEST(SmfParse, DataBytesWithTheTopBitSetAreClampedNotTakenForStatus) {
  Track t;
  t.Ev(0, {0x90, 60, 0xFF}).Ev(0, {0xB0, 0x87, 0x90}).Ev(0, {0x80, 60, 0x40}).End();
  const SmfFile f = Parsed(File(0, 96, {t}));
  ASSERT_EQ(f.Events().size(), 3u);
  EXPECT_EQ(f.Events()[0].data2, 127);
  EXPECT_EQ(f.Events()[1].status, 0xB0);
  EXPECT_EQ(f.Events()[1].data1, 127);
  EXPECT_EQ(f.Events()[1].data2, 127);
  EXPECT_FALSE(f.Truncated());
}

TEST(SmfParse, OddMetaEventsAreSkippedButCountForTheLength) {
  Track t;
  t.On(0, 0, 60)
      .Ev(0, {0xFF, 0x59, 0x02, 0x00, 0xFF})  // key signature in "mode 255"
      .Ev(0, {0xFF, 0x7F, 0x00})              // empty sequencer-specific event
      .Ev(0, {0xFF, 0x21, 0x01, 0x00})        // port
      .Off(480, 0, 60)
      .Ev(960, {0xFF, 0x06, 0x01, 'x'});  // a marker after the last note, then no end of track
  const SmfFile f = Parsed(File(0, 480, {t}));
  EXPECT_EQ(f.Events().size(), 2u);
  EXPECT_EQ(f.LengthMs(), 1500u);
  EXPECT_FALSE(f.Truncated());
}

TEST(SmfParse, SystemExclusiveMessagesAreKeptWithoutTheirFraming) {
  Track t;
  t.Ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})  // GM system on
      .Ev(0, {0xF7, 0x04, 0xF0, 0x41, 0x10, 0xF7})     // escape carrying a whole message
      .Ev(0, {0xF7, 0x02, 0xFA, 0xFC})                 // escape carrying other bytes
      .Ev(0, {0xF0, 0x01, 0xF7})                       // empty message
      .On(0, 0, 60)
      .End();
  const SmfFile f = Parsed(File(0, 96, {t}));
  ASSERT_EQ(f.Events().size(), 3u);
  EXPECT_EQ(f.Events()[0].status, 0xF0);
  const auto a = f.Sysex(f.Events()[0]);
  EXPECT_EQ(Bytes(a.begin(), a.end()), (Bytes{0x7E, 0x7F, 0x09, 0x01}));
  const auto b = f.Sysex(f.Events()[1]);
  EXPECT_EQ(Bytes(b.begin(), b.end()), (Bytes{0x41, 0x10}));
  EXPECT_EQ(f.Events()[2].status, 0x90);
  EXPECT_TRUE(f.Sysex(f.Events()[2]).empty());
}

TEST(SmfParse, Format2PlaysOnlyItsFirstTrack) {
  Track a;
  a.On(0, 0, 60).Off(96, 0, 60).End();
  Track b;
  b.On(0, 1, 70).Off(960, 1, 70).End();
  const SmfFile f = Parsed(File(2, 96, {a, b}));
  EXPECT_EQ(f.TrackCount(), 2);
  EXPECT_EQ(Order(f), (std::vector<std::pair<int, int>>{{0x90, 60}, {0x80, 60}}));
  EXPECT_EQ(f.LengthMs(), 500u);
}

TEST(SmfParse, HundredsOfTracksAllPlay) {
  std::vector<Track> tracks(300);
  for (int i = 0; i < 300; ++i)
    tracks[i].On(static_cast<std::uint32_t>(i), i % 16, 40 + i % 60).End(1);
  const SmfFile f = Parsed(File(1, 1000, tracks));  // at 120 bpm a tick is 0.5 ms
  EXPECT_EQ(f.TrackCount(), 300);
  ASSERT_EQ(f.Events().size(), 300u);
  EXPECT_EQ(f.Events()[299].timeUs, 299 * 500);
  EXPECT_EQ(f.Events()[299].data1, 40 + 299 % 60);
  EXPECT_EQ(f.LengthUs(), 300 * 500);
}

TEST(SmfParse, RmidWrapperHoldsTheSameMusic) {
  Track t;
  t.On(0, 0, 60).Off(480, 0, 60).End(480);
  const Bytes smf = File(0, 480, {t});
  const SmfFile plain = Parsed(smf);
  const SmfFile wrapped = Parsed(Rmid(smf));
  EXPECT_EQ(Order(wrapped), Order(plain));
  EXPECT_EQ(wrapped.LengthUs(), plain.LengthUs());
  EXPECT_EQ(wrapped.LengthMs(), 1000u);
}

TEST(SmfParse, UnknownChunksAreSkipped) {
  Track t;
  t.On(0, 0, 60).End(96);
  Bytes f = Header(0, 1, 96);
  const Bytes alien = Chunk("XFIH", Bytes(10, 0x90));
  f.insert(f.end(), alien.begin(), alien.end());
  const Bytes trk = Chunk("MTrk", t.Data());
  f.insert(f.end(), trk.begin(), trk.end());
  const SmfFile s = Parsed(f);
  EXPECT_EQ(s.Events().size(), 1u);
  EXPECT_EQ(s.LengthMs(), 500u);
}

// Events of one instant: note-offs first, then everything else in file order, but a note that
// starts and ends on the same instant keeps its note-on first.
TEST(SmfOrder, NoteOffsComeFirstOnOneTick) {
  Track a;
  a.On(0, 0, 60)
      .Ev(480, {0xC0, 5})  // program change at 480
      .On(0, 0, 60)        // the same note again at 480
      .On(0, 0, 62)        // zero-length note at 480 ...
      .Off(0, 0, 62)       // ... ended at once
      .Off(480, 0, 60)
      .End();
  Track b;
  b.On(0, 1, 50)
      .Ev(480, {0xB1, 7, 100})  // controller at 480
      .Ev(0, {0x91, 50, 0});    // note-on with velocity 0 ends channel 1's note at 480
  Track c;
  c.Off(480, 0, 60);  // another track ends channel 0's note 60 at 480
  const SmfFile f = Parsed(File(1, 480, {a, b, c}));
  EXPECT_EQ(Order(f), (std::vector<std::pair<int, int>>{{0x90, 60},
                                                        {0x91, 50},  // tick 0
                                                        {0x91, 50},
                                                        {0x80, 60},  // tick 480: offs first
                                                        {0xC0, 5},
                                                        {0x90, 60},
                                                        {0x90, 62},
                                                        {0x80, 62},     // track 1, file order
                                                        {0xB1, 7},      // track 2
                                                        {0x80, 60}}));  // tick 960
  EXPECT_EQ(f.Events()[2].data2, 0);  // the velocity-0 note-on moved with the offs
}

TEST(SmfDamage, TruncatedTrackPlaysUpToTheDamage) {
  Track t;
  t.On(0, 0, 60).Off(480, 0, 60).On(0, 0, 62).Raw({0x83, 0x60, 0x80});  // cut inside an event
  Bytes f = Header(0, 1, 480);
  const Bytes c = Chunk("MTrk", t.Data(), 1000);  // claims more than the file holds
  f.insert(f.end(), c.begin(), c.end());
  const SmfFile s = Parsed(f);
  EXPECT_TRUE(s.Truncated());
  EXPECT_EQ(Order(s), (std::vector<std::pair<int, int>>{{0x90, 60}, {0x80, 60}, {0x90, 62}}));
  EXPECT_EQ(s.LengthMs(), 500u);
}

TEST(SmfDamage, DamagedTrackDoesNotStopTheNextOne) {
  Track bad;
  bad.On(0, 0, 60).Raw({0x00, 0xFF, 0x01, 0x7F, 'a'});  // meta claims 127 bytes it does not have
  Track good;
  good.On(960, 1, 70).End();
  Bytes f = Header(1, 2, 480);
  const Bytes c1 = Chunk("MTrk", bad.Data());
  const Bytes c2 = Chunk("MTrk", good.Data());
  f.insert(f.end(), c1.begin(), c1.end());
  f.insert(f.end(), c2.begin(), c2.end());
  const SmfFile s = Parsed(f);
  EXPECT_TRUE(s.Truncated());
  ASSERT_EQ(s.Events().size(), 2u);
  EXPECT_EQ(s.Events()[1].status, 0x91);
  EXPECT_EQ(s.LengthMs(), 1000u);
}

TEST(SmfDamage, DataByteWithoutStatusOrOverlongNumberEndsTheTrack) {
  {
    Track t;
    t.Ev(0, {60, 100}).On(0, 0, 60);
    const SmfFile s = Parsed(File(0, 96, {t}));
    EXPECT_TRUE(s.Truncated());
    EXPECT_TRUE(s.Events().empty());
  }
  {
    Track t;
    t.On(0, 0, 60).Raw({0x81, 0x81, 0x81, 0x81, 0x01, 0x80, 60, 0});
    const SmfFile s = Parsed(File(0, 96, {t}));
    EXPECT_TRUE(s.Truncated());
    EXPECT_EQ(s.Events().size(), 1u);
  }
}

TEST(SmfDamage, FewerTracksThanDeclaredIsTruncation) {
  Track t;
  t.On(0, 0, 60).End(96);
  Bytes f = Header(1, 5, 96);
  const Bytes c = Chunk("MTrk", t.Data());
  f.insert(f.end(), c.begin(), c.end());
  const SmfFile s = Parsed(f);
  EXPECT_EQ(s.TrackCount(), 1);
  EXPECT_TRUE(s.Truncated());
  EXPECT_EQ(s.Events().size(), 1u);
}

TEST(SmfDamage, FilesThatCannotBePlayedAreRefused) {
  EXPECT_EQ(Parsed({}, SmfStatus::NotMidi).Events().size(), 0u);
  Parsed(Bytes{'M', 'T', 'h'}, SmfStatus::NotMidi);
  Parsed(Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, SmfStatus::NotMidi);
  Parsed(Rmid(Bytes{'n', 'o', 'p', 'e'}), SmfStatus::NotMidi);
  {
    Bytes riff{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D'};  // no data chunk at all
    const Bytes junk = tw_test::Chunk("junk", Bytes(3, 0), 0x7FFFFFFF);
    riff.insert(riff.end(), junk.begin(), junk.end());
    Parsed(riff, SmfStatus::NotMidi);
  }
  Parsed(Chunk("MThd", Bytes{0, 0, 0, 1}), SmfStatus::BadHeader);  // header too short
  Parsed(Chunk("MThd", Bytes{0, 0, 0, 1, 0, 96}, 0x7FFFFFF0), SmfStatus::BadHeader);
  Parsed(Header(3, 1, 96), SmfStatus::BadHeader);      // unknown format
  Parsed(Header(0, 1, 0), SmfStatus::BadHeader);       // zero ticks per quarter
  Parsed(Header(0, 1, 0xE700), SmfStatus::BadHeader);  // SMPTE with zero ticks per frame
  Parsed(Header(0, 1, 96), SmfStatus::NoTracks);       // no track chunk
  Parsed(Header(1, 0, 96), SmfStatus::NoTracks);       // no declared track
  {
    Bytes f = Header(1, 1, 96);
    const Bytes alien = Chunk("MTrx", Bytes(6, 0));
    f.insert(f.end(), alien.begin(), alien.end());
    Parsed(f, SmfStatus::NoTracks);
  }
}

TEST(SmfDamage, RandomBytesNeverBreakTheReadersPromises) {
  std::mt19937 rng(1234);
  Track base;
  base.On(0, 0, 60).Off(96, 0, 60).End();
  const Bytes valid = File(1, 96, {base, base});
  for (int round = 0; round < 3000; ++round) {
    Bytes b = valid;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits; ++i) {
      const std::size_t at = 8 + rng() % (b.size() - 8);  // keep the magic, spoil the rest
      b[at] = static_cast<std::uint8_t>(rng());
    }
    if (rng() % 4 == 0) b.resize(8 + rng() % (b.size() - 8));
    SmfFile f;
    if (f.Parse(b) != SmfStatus::Ok) {
      EXPECT_TRUE(f.Events().empty());
      continue;
    }
    std::int64_t last = 0;
    for (const SmfEvent& e : f.Events()) {
      EXPECT_GE(e.timeUs, last);
      last = e.timeUs;
      EXPECT_TRUE(e.status == 0xF0 || (e.status >= 0x80 && e.status < 0xF0));
      EXPECT_LE(e.data1, 127);
      EXPECT_LE(e.data2, 127);
    }
    EXPECT_GE(f.LengthUs(), last);
  }
}

class SmfFiles : public ::testing::Test {
 protected:
  tw_test::TempDir dir_{"tw smf é "};
};

TEST_F(SmfFiles, LoadReadsAFileWithBlanksAndAccentsInItsPath) {
  Track t;
  t.On(0, 0, 60).End(960);
  const std::string path = dir_ / "ma chanson.mid";
  tw_test::WriteFile(path, File(0, 480, {t}));
  SmfFile f;
  ASSERT_EQ(f.Load(path), SmfStatus::Ok);
  EXPECT_EQ(f.LengthMs(), 1000u);
}

TEST_F(SmfFiles, LoadRefusesMissingFoldersAndHugeFiles) {
  SmfFile f;
  EXPECT_EQ(f.Load(dir_ / "none.mid"), SmfStatus::CannotOpen);
  EXPECT_EQ(f.Load(dir_.Path().string()), SmfStatus::CannotOpen);
  Track t;
  t.On(0, 0, 60).End(960);
  const std::string path = dir_ / "huge.mid";
  tw_test::WriteFile(path, File(0, 480, {t}));
  std::filesystem::resize_file(path, SmfFile::kMaxFileBytes + 1);  // sparse: costs no disk
  EXPECT_EQ(f.Load(path), SmfStatus::TooLarge);
  EXPECT_TRUE(f.Events().empty());
}

TEST(SmfTestMelody, TesrMidIsAShortGeneralMidiTune) {
  SmfFile f;
  ASSERT_EQ(f.Load(TW_DATA_DIR "/tesr.mid"), SmfStatus::Ok);
  EXPECT_FALSE(f.Truncated());
  EXPECT_GE(f.LengthMs(), 6000u);
  EXPECT_LE(f.LengthMs(), 8000u);
  int notes = 0;
  int programs = 0;
  std::set<int> channels;
  for (const SmfEvent& e : f.Events()) {
    if ((e.status & 0xF0) == 0x90 && e.data2 > 0) {
      ++notes;
      channels.insert(e.status & 0x0F);
    }
    if ((e.status & 0xF0) == 0xC0) ++programs;
  }
  EXPECT_GE(notes, 20);
  EXPECT_GE(channels.size(), 2u);
  EXPECT_EQ(channels.count(9), 0u);  // melodic channels only: no drum kit in the test tune
  EXPECT_EQ(programs, static_cast<int>(channels.size()));
}

// Small files of every kind the reader handles: the fuzzer's seed corpus (fuzz/corpus/midi),
// written there when TW_WRITE_MIDI_CORPUS names the folder.
TEST(SmfSeeds, EverySeedIsPlayable) {
  std::vector<std::pair<std::string, Bytes>> seeds;
  {
    Track t;
    t.Ev(0, {0xC0, 0}).On(0, 0, 60).Off(480, 0, 60).End(480);
    seeds.emplace_back("format0.mid", File(0, 480, {t}));
    seeds.emplace_back("rmid.rmi", Rmid(File(0, 480, {t})));
    seeds.emplace_back("smpte.mid", File(0, 0xE728, {t}));
    seeds.emplace_back("format2.mid", File(2, 96, {t, t}));
  }
  {
    Track c;
    c.Tempo(0, 600000).Ev(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8}).Tempo(960, 300000).End(960);
    Track n;
    n.On(0, 1, 64).Ev(240, {67, 90}).Ev(240, {64, 0}).Ev(0, {67, 0}).End(10);
    seeds.emplace_back("tempo_running.mid", File(1, 480, {c, n}));
  }
  {
    Track t;
    t.Ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .Ev(0, {0xFF, 0x59, 0x02, 0x00, 0xFF})
        .Ev(0, {0x90, 60, 0xFF})
        .Ev(0, {0xF7, 0x03, 0xF0, 0x43, 0xF7})
        .Ev(10, {0xE0, 0x00, 0x40})
        .Off(10, 0, 60);
    seeds.emplace_back("sysex_odd.mid", File(0, 96, {t}));
  }
  {
    Track t;
    t.On(0, 9, 36).On(0, 9, 36).Off(0, 9, 36).Raw({0x60, 0x99, 0x26, 0x50, 0x30, 0x26});
    Bytes f = Header(1, 3, 96);
    const Bytes c = Chunk("MTrk", t.Data(), 500);
    f.insert(f.end(), c.begin(), c.end());
    seeds.emplace_back("truncated.mid", f);
  }
  const char* out = std::getenv("TW_WRITE_MIDI_CORPUS");
  for (const auto& [name, bytes] : seeds) {
    SmfFile f;
    ASSERT_EQ(f.Parse(bytes), SmfStatus::Ok) << name;
    EXPECT_FALSE(f.Events().empty()) << name;
    EXPECT_GT(f.LengthUs(), 0) << name;
    if (out) tw_test::WriteFile(std::string(out) + "/" + name, bytes);
  }
}
