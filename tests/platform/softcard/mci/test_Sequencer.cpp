// The sequencer driven the way the card's render loop drives it, without the card.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/softcard/Synth.h"
#include "platform/softcard/mci/Sequencer.h"
#include "tests/support/SmfBuilder.h"

using platform::MidiSink;
using platform::Sequencer;
using platform::SmfFile;
using platform::SmfStatus;
using platform::softcard::kCardRate;
using platform::softcard::kNever;
using platform::softcard::Synth;
using namespace smftest;

namespace {

struct Sent {
  std::uint64_t frame;
  char kind;  // 'm' message, 'x' sysex, 'r' reset, 'o' sound off
  int status;
  int data1;
  int data2;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sent& s) {
  return os << "{" << s.frame << " " << s.kind << " " << s.status << " " << s.data1 << " "
            << s.data2 << "}";
}

class Recorder : public MidiSink {
 public:
  std::uint64_t now = 0;
  std::vector<Sent> sent;
  void Send(std::uint8_t s, std::uint8_t d1, std::uint8_t d2) override {
    sent.push_back({now, 'm', s, d1, d2});
  }
  void SendSysex(std::span<const std::uint8_t> b) override {
    sent.push_back({now, 'x', static_cast<int>(b.size()), b.empty() ? -1 : b[0], 0});
  }
  void Reset() override { sent.push_back({now, 'r', 0, 0, 0}); }
  void SoundOff() override { sent.push_back({now, 'o', 0, 0, 0}); }
};

std::shared_ptr<SmfFile> Load(const Bytes& b) {
  auto f = std::make_shared<SmfFile>();
  EXPECT_EQ(f->Parse(b), SmfStatus::Ok);
  return f;
}

// What the card does in one stretch of rendering: dispatch each event at the frame it asked for.
void Render(Sequencer& seq, Recorder& out, std::uint64_t until) {
  for (std::uint64_t f; (f = seq.NextEventFrame()) <= until;) {
    out.now = f;
    seq.Dispatch(f, out);
  }
}

// Two notes a second apart at 120 bpm, ending at 1.5 s.
Bytes TwoNotes() {
  Track t;
  t.Ev(0, {0xC0, 12}).On(0, 0, 60).Off(960, 0, 60).On(0, 0, 64).Off(240, 0, 64).End(240);
  return File(0, 480, {t});
}

constexpr std::uint64_t kSecond = kCardRate;

}  // namespace

TEST(SequencerSchedule, EventsFallOnTheirOwnCardFrames) {
  Sequencer seq(Load(TwoNotes()));
  Recorder out;
  EXPECT_EQ(seq.NextEventFrame(), kNever);  // not playing yet
  seq.Play(1000);
  Render(seq, out, 10 * kSecond);
  const std::vector<Sent> want{{1000, 'r', 0, 0, 0},
                               {1000, 'm', 0xC0, 12, 0},
                               {1000, 'm', 0x90, 60, 100},
                               {1000 + kSecond, 'm', 0x80, 60, 0},
                               {1000 + kSecond, 'm', 0x90, 64, 100},
                               {1000 + kSecond * 5 / 4, 'm', 0x80, 64, 0}};
  EXPECT_EQ(out.sent, want);
  EXPECT_EQ(seq.NextEventFrame(), kNever);
}

TEST(SequencerSchedule, FramesAreRoundedDownSampleAccurately) {
  // 1 tick = 1 ms at 120 bpm with 500 ticks per quarter: event k at k ms is frame floor(44.1 k).
  Track t;
  for (int k = 0; k < 5; ++k) t.On(1, 0, 60 + k);
  Sequencer seq(Load(File(0, 500, {t})));
  Recorder out;
  seq.Play(0);
  Render(seq, out, kSecond);
  ASSERT_EQ(out.sent.size(), 6u);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(out.sent[k].frame, std::uint64_t(441 * k / 10)) << k;
}

TEST(SequencerSchedule, EventsOfOneInstantKeepTheFilesOrder) {
  Track a;
  a.On(0, 0, 60).On(480, 0, 60).Ev(0, {0xB0, 64, 127});
  Track b;
  b.Off(480, 0, 60);  // ends the first note where the second begins
  Sequencer seq(Load(File(1, 480, {a, b})));
  Recorder out;
  seq.Play(0);
  Render(seq, out, kSecond);
  ASSERT_EQ(out.sent.size(), 5u);
  EXPECT_EQ(out.sent[2], (Sent{kSecond / 2, 'm', 0x80, 60, 0}));
  EXPECT_EQ(out.sent[3], (Sent{kSecond / 2, 'm', 0x90, 60, 100}));
  EXPECT_EQ(out.sent[4], (Sent{kSecond / 2, 'm', 0xB0, 64, 127}));
}

TEST(SequencerSchedule, SysexGoesOutWithItsBytes) {
  Track t;
  t.Ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).On(0, 0, 60);
  Sequencer seq(Load(File(0, 480, {t})));
  Recorder out;
  seq.Play(0);
  Render(seq, out, 0);
  ASSERT_EQ(out.sent.size(), 3u);
  EXPECT_EQ(out.sent[1], (Sent{0, 'x', 4, 0x7E, 0}));
}

TEST(SequencerSchedule, DispatchSendsOnlyWhatIsDue) {
  Sequencer seq(Load(TwoNotes()));
  Recorder out;
  seq.Play(0);
  seq.Dispatch(kSecond - 1, out);
  EXPECT_EQ(out.sent.size(), 3u);  // reset, program, first note; the rest is due at 1 s
  EXPECT_EQ(seq.NextEventFrame(), kSecond);
  seq.Dispatch(kSecond, out);
  EXPECT_EQ(out.sent.size(), 5u);
}

TEST(SequencerPlayback, StopPausesAndPlayResumesWithoutAReset) {
  Sequencer seq(Load(TwoNotes()));
  Recorder out;
  seq.Play(0);
  Render(seq, out, kSecond / 2);
  EXPECT_TRUE(seq.Stop(kSecond / 2));
  EXPECT_FALSE(seq.Stop(kSecond / 2));  // already stopped
  EXPECT_EQ(seq.NextEventFrame(), kNever);
  EXPECT_EQ(seq.PositionMs(5 * kSecond), 500u);  // stands still while stopped
  const std::size_t before = out.sent.size();
  seq.Play(3 * kSecond);
  // The note due at 1 s of the file comes half a second after resuming; no reset this time.
  EXPECT_EQ(seq.NextEventFrame(), 3 * kSecond + kSecond / 2);
  Render(seq, out, 10 * kSecond);
  EXPECT_EQ(out.sent.size(), before + 3);
  for (std::size_t i = before; i < out.sent.size(); ++i) EXPECT_NE(out.sent[i].kind, 'r');
}

TEST(SequencerPlayback, PlayWhilePlayingChangesNothing) {
  Sequencer seq(Load(TwoNotes()));
  seq.Play(100);
  seq.Play(5000);
  EXPECT_EQ(seq.PositionMs(100 + kSecond), 1000u);
}

TEST(SequencerPlayback, PositionFollowsCardFramesAndStopsAtTheLength) {
  Sequencer seq(Load(TwoNotes()));
  EXPECT_EQ(seq.LengthMs(), 1500u);
  EXPECT_EQ(seq.PositionMs(12345), 0u);
  seq.Play(10000);
  EXPECT_EQ(seq.PositionMs(10000), 0u);
  EXPECT_EQ(seq.PositionMs(10000 + kSecond / 4), 250u);
  EXPECT_TRUE(seq.Playing(10000 + kSecond));
  EXPECT_EQ(seq.PositionMs(10000 + kSecond * 3 / 2), 1500u);
  EXPECT_FALSE(seq.Playing(10000 + kSecond * 3 / 2));
  EXPECT_EQ(seq.PositionMs(10000 + 100 * kSecond), 1500u);
  // At the end, playing again plays nothing and the position stays at the length.
  Recorder out;
  Render(seq, out, 10000 + 100 * kSecond);
  EXPECT_EQ(out.sent.size(), 6u);
  EXPECT_TRUE(seq.Stop(10000 + 100 * kSecond));
  seq.Play(10000 + 200 * kSecond);
  EXPECT_EQ(seq.PositionMs(10000 + 300 * kSecond), 1500u);
  EXPECT_EQ(seq.NextEventFrame(), kNever);
}

TEST(SequencerPlayback, PositionReachesAnAwkwardLengthExactly) {
  // 1001 ms is 44144.1 frames: a position computed from whole frames alone would end at 1000 ms,
  // and a caller waiting for position >= length would wait for ever.
  for (std::uint32_t lengthUs : {1001000u, 1000999u, 2000001u, 7680000u, 33u}) {
    Track t;
    t.Tempo(0, lengthUs).On(0, 0, 60).End(1000);  // 1000 ticks of 1000 per quarter = one tempo
    Sequencer seq(Load(File(0, 1000, {t})));
    ASSERT_EQ(seq.LengthMs(), lengthUs / 1000);
    seq.Play(0);
    std::uint32_t last = 0;
    std::uint64_t f = 0;
    for (; seq.PositionMs(f) < seq.LengthMs(); ++f) {
      ASSERT_GE(seq.PositionMs(f), last);
      last = seq.PositionMs(f);
      ASSERT_LT(f, std::uint64_t(lengthUs) * kCardRate / 1000000 + 2) << lengthUs;
    }
    EXPECT_EQ(seq.PositionMs(f + 10 * kSecond), seq.LengthMs());
  }
}

TEST(SequencerPlayback, DamagedFilePlaysWhatItHas) {
  Track t;
  t.On(0, 0, 60).Off(480, 0, 60).Raw({0x00, 0x90});  // cut inside a note-on
  Sequencer seq(Load(File(0, 480, {t})));
  Recorder out;
  seq.Play(0);
  Render(seq, out, 10 * kSecond);
  EXPECT_EQ(out.sent.size(), 3u);
  EXPECT_EQ(seq.PositionMs(10 * kSecond), 500u);
}

// The card calls the sequencer from its render thread while the programs play, stop and ask the
// position from theirs.
TEST(SequencerThreads, RenderThreadAndControlThreadShareTheSequencer) {
  Track t;
  for (int i = 0; i < 2000; ++i) t.On(1, i % 16, 40 + i % 50).Off(1, i % 16, 40 + i % 50);
  Sequencer seq(Load(File(0, 96, {t})));
  std::atomic<std::uint64_t> card{0};
  std::atomic<bool> done{false};
  std::atomic<std::size_t> dispatched{0};
  std::thread render([&] {
    Recorder out;
    while (!done) {
      const std::uint64_t now = card.fetch_add(64) + 64;
      Render(seq, out, now);
      dispatched = out.sent.size();
    }
  });
  std::uint32_t last = 0;
  for (int i = 0; dispatched < 1000 && i < 10000000; ++i) {
    const std::uint64_t now = card.load();
    if (i % 3 == 0) seq.Play(now);
    if (i % 7 == 0) seq.Stop(now);
    const std::uint32_t p = seq.PositionMs(card.load());
    EXPECT_GE(p, last);
    last = p;
  }
  done = true;
  render.join();
  EXPECT_GE(dispatched, 1000u);
}

// The sequencer on the card's synthesiser: what it sends is what FluidSynth receives.
TEST(SequencerOnSynth, ControllersAndPitchBendReachTheirChannels) {
  Synth synth("");
  synth.Send(0xB3, 7, 33);
  synth.Send(0xE5, 0x01, 0x40);  // 0x2001
  int value = -1;
  fluid_synth_get_cc(synth.Handle(), 3, 7, &value);
  EXPECT_EQ(value, 33);
  fluid_synth_get_cc(synth.Handle(), 4, 7, &value);
  EXPECT_EQ(value, 100);  // other channels untouched
  fluid_synth_get_pitch_bend(synth.Handle(), 5, &value);
  EXPECT_EQ(value, 0x2001);
  synth.Reset();
  fluid_synth_get_cc(synth.Handle(), 3, 7, &value);
  EXPECT_EQ(value, 100);
  fluid_synth_get_pitch_bend(synth.Handle(), 5, &value);
  EXPECT_EQ(value, 0x2000);
}

TEST(SequencerOnSynth, NotesSoundUntilSoundOff) {
  const char* sf = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!std::filesystem::exists(sf)) GTEST_SKIP() << "no TimGM6mb SoundFont";
  Synth synth(sf);
  ASSERT_EQ(synth.SoundFont(), sf);
  Track t;
  t.Ev(0, {0xC0, 0}).On(0, 0, 60).On(0, 0, 64).On(0, 0, 67).End(4800);
  Sequencer seq(Load(File(0, 480, {t})));
  seq.Play(0);
  std::vector<float> l(512), r(512);
  float peak = 0;
  for (std::uint64_t f = 0; f < 8192; f += 512) {
    while (seq.NextEventFrame() <= f) seq.Dispatch(seq.NextEventFrame(), synth);
    synth.Render(l.data(), r.data(), 512);
    for (float v : l) peak = std::max(peak, std::abs(v));
  }
  EXPECT_GT(peak, 0.01f);
  EXPECT_GE(synth.ActiveVoices(), 3);
  ASSERT_TRUE(seq.Stop(8192));
  Sequencer::Silence(synth);
  synth.Render(l.data(), r.data(), 512);
  synth.Render(l.data(), r.data(), 512);
  EXPECT_EQ(synth.ActiveVoices(), 0);
}
