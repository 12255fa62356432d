// The card: its start while the synthesiser loads, clock and pacing, sample-accurate MIDI clients,
// client removal, the mix through the mixer levels, the synthesiser's output gain. Runs with
// SOFTCARD_SPEED=20.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>
#include <utility>

#include "CardTestSupport.h"
#include "platform/softcard/CardClock.h"
#include "platform/softcard/MidiOut.h"
#include "platform/softcard/Speakers.h"
#include "platform/softcard/Synth.h"
#include "tests/support/HeldSynthLoad.h"

using namespace platform;
using namespace platform::softcard;
using namespace cardtest;
using Wall = std::chrono::steady_clock;

namespace {

constexpr int kPeriod = platform::softcard::kCardPeriod;

double Seconds(Wall::duration d) { return std::chrono::duration<double>(d).count(); }

// Records `seconds` at 44100 Hz, 16 bits, stereo, without pacing, and returns the samples.
std::vector<std::int16_t> RecordStereo(double seconds) {
  const std::size_t bytes = static_cast<std::size_t>(seconds * kCardRate) * 4;
  Recorder rec(Format(kCardRate, 2, 16), bytes);
  rec.Start();
  rec.Wait();
  rec.Stop();
  return Samples16(rec.Data());
}

void Quiet() {
  Card::Instance().WithSynth([](MidiSink& s) { s.Reset(); });
}

}  // namespace

TEST(CardStart, TheCardRunsWhileItsSynthesiserLoads) {
  tw_test::HoldSynthLoad();
  StartCard();
  tw_test::WaitForSynthLoadToStart();
  Card& card = Card::Instance();
  EXPECT_FALSE(card.WaitForSynth(std::chrono::milliseconds(0)));
  EXPECT_FALSE(card.WaitForSynth(std::chrono::milliseconds(30)));
  // What needs no synthesiser answers at once; card time stands still until the load ends.
  EXPECT_EQ(card.TickCount(), 0u);
  card.SetSynthGain(0.5f);
  auto client = std::make_shared<ListClient>(
      std::vector<MidiEvent>{{kCardRate / 10, 0, 60, 100}, {kCardRate / 5, 0, 60, 0}});
  card.AddMidiClient(client);
  EXPECT_EQ(card.Frames(), 0u);
  // What needs it waits for it.
  auto soundFont = std::async(std::launch::async, [&] { return card.SoundFont(); });
  EXPECT_EQ(soundFont.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  tw_test::ReleaseSynthLoad();
  EXPECT_TRUE(card.WaitForSynth(std::chrono::seconds(60)));
  EXPECT_FALSE(soundFont.get().empty());
  // The client added meanwhile plays from the start of card time.
  card.WaitUntil(kCardRate / 2);
  EXPECT_EQ(client->Dispatched(), (std::vector<std::uint64_t>{kCardRate / 10, kCardRate / 5}));
  card.RemoveMidiClient(client.get());
  SetSynthMakerForTesting(nullptr);
}

TEST(CardStart, AProcessEndsAtOnceWhileTheSoundFontLoads) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto start = Wall::now();
  // The card loads the real SoundFont again and again for a minute, so the process ends in the
  // middle of a load; it must end cleanly (no crash, no leak, no race) and without waiting.
  EXPECT_EXIT(
      {
        SetSynthMakerForTesting([](const std::string& soundFont) {
          tw_test::MarkLoadStartedThenWait(false);
          auto synth = std::make_unique<Synth>(soundFont);
          for (const auto until = Wall::now() + std::chrono::minutes(1); Wall::now() < until;)
            synth = std::make_unique<Synth>(soundFont);
          return synth;
        });
        StartCard();
        tw_test::WaitForSynthLoadToStart();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_LT(Seconds(Wall::now() - start), 20.0);
}

TEST(CardClock, NeverRunsAheadOfTheAskedSpeed) {
  Card& card = Card::Instance();
  ASSERT_EQ(card.Speed(), 20.0);
  card.WaitUntil(card.Frames() + 4 * kPeriod);  // past the start-up
  const auto w0 = Wall::now();
  const std::uint64_t f0 = card.Frames();
  card.WaitUntil(f0 + 4 * kCardRate);
  const std::uint64_t f1 = card.Frames();
  const double wall = Seconds(Wall::now() - w0);
  const double cardSeconds = static_cast<double>(f1 - f0) / kCardRate;
  EXPECT_GE(cardSeconds, 4.0);
  // A card that fell behind may catch up by the clock's slack, never more.
  const double slack = std::chrono::duration<double>(CardClock::kSlack).count() * 20;
  EXPECT_LE(cardSeconds, wall * 20 + slack + 2.0 * kPeriod / kCardRate);
  EXPECT_LT(wall, 4.0);  // 200 ms expected; only a badly stalled card takes 20 times that
}

TEST(CardClock, TickCountIsCardMilliseconds) {
  Card& card = Card::Instance();
  std::uint32_t last = GetTickCount();
  for (int i = 0; i < 200; ++i) {
    const std::uint64_t a = card.Frames();
    const std::uint32_t tick = GetTickCount();
    const std::uint64_t b = card.Frames();
    EXPECT_GE(tick, a * 1000 / kCardRate);
    EXPECT_LE(tick, b * 1000 / kCardRate);
    EXPECT_GE(tick, last);
    last = tick;
    card.WaitUntil(b + 100);
  }
}

TEST(CardClock, RealTimeIsPaced) {
  Card& card = Card::Instance();
  card.SetSpeed(1.0);
  card.WaitUntil(card.Frames() + kPeriod);  // after the period that may be under way
  // The wall time before the card's: a test thread that wakes late from the wait above must not
  // count card time that had already passed.
  const auto w0 = Wall::now();
  const std::uint64_t f0 = card.Frames();
  card.WaitUntil(f0 + kCardRate * 3 / 10);
  EXPECT_GE(Seconds(Wall::now() - w0), 0.25);
}

TEST(CardClock, MaxSpeedIsUnpaced) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  EXPECT_EQ(card.Speed(), kSpeedMax);
  const auto w0 = Wall::now();
  card.WaitUntil(card.Frames() + 5 * kCardRate);
  EXPECT_LT(Seconds(Wall::now() - w0), 2.5);  // at least twice real time with nothing to play
  card.SetSpeed(-1);
  EXPECT_EQ(card.Speed(), kSpeedMax);
  card.SetSpeed(1e-9);  // as slow as the card goes, no slower
  EXPECT_EQ(card.Speed(), kMinSpeed);
}

// Nothing playing or recording: the synthesiser is not called, yet card time goes on, paced by
// wall time or, unpaced, as far as someone waits for it.
TEST(CardClock, AnIdleCardRendersNothingAndItsClockRuns) {
  Card& card = Card::Instance();
  ASSERT_EQ(card.Speed(), 20.0);
  Quiet();
  card.WaitUntil(card.Frames() + 3 * kCardRate);  // any reverb fades
  const std::uint64_t rendered = card.SynthFrames();
  std::uint64_t f0 = card.Frames();
  card.WaitUntil(f0 + 2 * kCardRate);
  EXPECT_EQ(card.SynthFrames(), rendered);

  card.SetSpeed(kSpeedMax);
  f0 = card.Frames();
  card.WaitUntil(f0 + 600 * kCardRate);  // ten minutes of card time, rendering nothing
  EXPECT_GE(card.Frames(), f0 + 600 * kCardRate);
  const std::uint32_t t0 = GetTickCount();
  while (GetTickCount() - t0 < 2000) {
  }
  EXPECT_EQ(card.SynthFrames(), rendered);

  // Music wakes it up.
  auto client = std::make_shared<ListClient>(std::vector<MidiEvent>{
      {card.Frames() + kPeriod, 0, 60, 90}, {card.Frames() + 4000, 0, 60, 0}});
  card.AddMidiClient(client);
  card.WaitUntil(card.Frames() + kCardRate / 2);
  card.RemoveMidiClient(client.get());
  EXPECT_GT(card.SynthFrames(), rendered);
}

TEST(MidiClients, EventsAreDispatchedOnTheirFrame) {
  Card& card = Card::Instance();
  const std::uint64_t f0 = card.Frames() + kCardRate / 2;
  auto client = std::make_shared<ListClient>(std::vector<MidiEvent>{{f0 + 1000, 0, 60, 90},
                                                                    {f0 + 1001, 0, 64, 90},
                                                                    {f0 + 5000, 0, 60, 0},
                                                                    {f0 + 5000, 0, 64, 0},
                                                                    {f0 + 5257, 0, 67, 90},
                                                                    {f0 + 5258, 0, 67, 0}});
  card.AddMidiClient(client);
  card.WaitUntil(f0 + 6000);
  card.RemoveMidiClient(client.get());
  EXPECT_EQ(client->Dispatched(), (std::vector<std::uint64_t>{f0 + 1000, f0 + 1001, f0 + 5000,
                                                              f0 + 5000, f0 + 5257, f0 + 5258}));
}

TEST(MidiClients, LateEventsAreDispatchedAtOnce) {
  Card& card = Card::Instance();
  card.WaitUntil(kCardRate);
  auto client = std::make_shared<ListClient>(std::vector<MidiEvent>{{0, 0, 60, 90}});
  std::uint64_t before = 0;
  // Added while the render thread is held, so that no period passes between reading the clock and
  // the client's arrival, however loaded the machine is.
  card.WithSynth([&](MidiSink&) {
    card.AddMidiClient(client);
    before = card.Frames();
  });
  card.WaitUntil(before + 2 * kPeriod);
  card.RemoveMidiClient(client.get());
  const auto frames = client->Dispatched();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_GE(frames[0], before);
  EXPECT_LE(frames[0], before + kPeriod);
}

TEST(MidiClients, NoteStartsOnItsFrameInTheRecording) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  Quiet();
  const auto s = Samples16(RecordWhilePlaying({{10000, 0, 60, 120}}, kCardRate * 4).data);  // 1 s
  std::size_t first = s.size();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != 0) {
      first = i / 2;
      break;
    }
  }
  // FluidSynth starts notes on its own 64-frame blocks.
  EXPECT_GE(first, 10000u);
  EXPECT_LT(first, 10000u + 64 + 32);
}

namespace {

// Removes itself from the card inside its first Dispatch, and touches the synthesiser from there.
class SelfRemovingClient final : public MidiClient {
 public:
  std::uint64_t NextEventFrame() override { return 0; }
  void Dispatch(std::uint64_t, MidiSink&) override {
    ++calls;
    Card::Instance().WithSynth([](MidiSink& s) { s.SoundOff(); });
    Card::Instance().RemoveMidiClient(this);
  }
  std::atomic<int> calls{0};
};

// Spends a while in each Mix, to catch a removal that returns while it still runs.
class SlowWaveClient final : public WaveClient {
 public:
  void Mix(std::uint64_t, float*, float*, int) override {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ++calls;
    inside = false;
  }
  std::atomic<bool> inside{false};
  std::atomic<int> calls{0};
};

// On destruction, checks that another thread can take the card lock: a removed client must be freed
// after the card lock is given up, or a destructor that waits for the card would hang it.
class LockProbeClient final : public MidiClient {
 public:
  explicit LockProbeClient(std::atomic<int>& freeOfLock) : freeOfLock_(freeOfLock) {}
  ~LockProbeClient() override {
    auto entered = std::make_shared<std::promise<void>>();
    std::future<void> done = entered->get_future();
    std::thread([entered] {
      Card::Instance().WithSynth([](MidiSink&) {});
      entered->set_value();
    }).detach();
    // A bound, not a pause: the other thread gets the lock at once when it is free.
    freeOfLock_ = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? 1 : 0;
  }
  std::uint64_t NextEventFrame() override { return kNever; }
  void Dispatch(std::uint64_t, MidiSink&) override {}

 private:
  std::atomic<int>& freeOfLock_;
};

}  // namespace

TEST(MidiClients, RemovedClientsAreFreedOutsideTheCardLock) {
  Card& card = Card::Instance();
  // Removed from another thread; the card holds the only reference, so removal frees it.
  std::atomic<int> fromCaller{-1};
  auto probe = std::make_shared<LockProbeClient>(fromCaller);
  const MidiClient* added = probe.get();
  card.AddMidiClient(std::move(probe));
  card.RemoveMidiClient(added);
  EXPECT_EQ(fromCaller.load(), 1);

  // Removed by another client from the render thread, inside a period.
  struct Remover final : MidiClient {
    std::atomic<const MidiClient*> target{nullptr};
    std::uint64_t NextEventFrame() override { return target.load() ? 0 : kNever; }
    void Dispatch(std::uint64_t, MidiSink&) override {
      Card::Instance().RemoveMidiClient(target.exchange(nullptr));
    }
  };
  std::atomic<int> fromRenderThread{-1};
  auto remover = std::make_shared<Remover>();
  probe = std::make_shared<LockProbeClient>(fromRenderThread);
  remover->target = probe.get();
  card.AddMidiClient(std::move(probe));
  card.AddMidiClient(remover);
  card.WaitUntil(card.Frames() + 4 * kPeriod);
  card.RemoveMidiClient(remover.get());
  EXPECT_EQ(fromRenderThread.load(), 1);
}

TEST(MidiClients, ClientMayRemoveItselfWhileDispatching) {
  Card& card = Card::Instance();
  auto client = std::make_shared<SelfRemovingClient>();
  std::weak_ptr<SelfRemovingClient> weak = client;
  card.AddMidiClient(client);
  const std::uint64_t f = card.Frames();
  card.WaitUntil(f + 4 * kPeriod);
  EXPECT_EQ(client->calls.load(), 1);
  client.reset();
  EXPECT_TRUE(weak.expired());  // the card let go of it
}

TEST(WaveClients, RemovalWaitsForTheRenderThread) {
  Card& card = Card::Instance();
  auto client = std::make_shared<SlowWaveClient>();
  card.AddWaveClient(client);
  while (client->calls.load() < 3) std::this_thread::yield();
  card.RemoveWaveClient(client.get());
  EXPECT_FALSE(client->inside.load());
  const int calls = client->calls.load();
  card.WaitUntil(card.Frames() + 4 * kPeriod);
  EXPECT_EQ(client->calls.load(), calls);
}

TEST(Mix, RecordingFollowsTheLevels) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  Quiet();
  auto dc = std::make_shared<DcClient>(0.8f, -0.4f);
  card.AddWaveClient(dc);

  Levels lv;
  lv.speakerMaster = 0.5f;
  lv.speakerWave = 0.5f;
  lv.speakerSynth = 1.0f;
  lv.recordLine = 0.8f;
  lv.recordMaster = 0.5f;
  lv.recordSource = Levels::RecordSource::StereoMix;
  card.SetLevels(lv);
  EXPECT_EQ(card.CurrentCardLevels(), lv);
  auto s = RecordStereo(0.05);
  // 0.8 x 0.5 x 0.5 x 0.8 x 0.5 = 0.08 of full scale on the left, -0.04 on the right.
  EXPECT_EQ(s[1000], 2621);
  EXPECT_EQ(s[1001], -1311);
  EXPECT_EQ(s[s.size() - 2], 2621);

  lv.speakerWave = 0.0f;  // the wave line is muted on the speakers: not in the stereo mix
  card.SetLevels(lv);
  EXPECT_EQ(Peak(RecordStereo(0.05)), 0);

  lv.speakerWave = 1.0f;
  lv.recordSource = Levels::RecordSource::Synth;  // the synthesiser alone: no wave signal
  card.SetLevels(lv);
  EXPECT_EQ(Peak(RecordStereo(0.05)), 0);

  lv.recordSource = Levels::RecordSource::Silent;  // "Line In" and the like
  card.SetLevels(lv);
  EXPECT_EQ(Peak(RecordStereo(0.05)), 0);
  card.RemoveWaveClient(dc.get());
}

TEST(Mix, FactoryLevelsRecordTheStereoMix) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  EXPECT_EQ(card.CurrentCardLevels(), Levels{});
  Quiet();
  auto dc = std::make_shared<DcClient>(0.5f, 0.5f);
  card.AddWaveClient(dc);
  const auto s = RecordStereo(0.05);
  card.RemoveWaveClient(dc.get());
  // Every factory setting is unity gain: the recording holds the wave line as it is. The silent
  // synthesiser may add values a hair below zero, which tip a value lying exactly halfway between
  // two samples to the lower one.
  EXPECT_NEAR(s[500], 16384, 1);
}

TEST(SynthVolume, MidiOutSetVolumeSetsTheSynthGain) {
  Card& card = Card::Instance();
  EXPECT_EQ(card.SynthGain(), 1.0f);
  EXPECT_EQ(midiOutSetVolume(1, 0xFFFFFFFF), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(card.SynthGain(), 1.0f);
  EXPECT_EQ(midiOutSetVolume(0, 0x33333333), MMSYSERR_NOERROR);
  EXPECT_FLOAT_EQ(card.SynthGain(), TaperGain(0.2, 1.0));
  EXPECT_EQ(midiOutSetVolume(MIDI_MAPPER, 0x0000FFFF), MMSYSERR_NOERROR);  // left only: the mean
  EXPECT_FLOAT_EQ(card.SynthGain(), TaperGain(0.5, 1.0));
  EXPECT_EQ(midiOutSetVolume(0, 0xFFFF0000), MMSYSERR_NOERROR);
  EXPECT_FLOAT_EQ(card.SynthGain(), TaperGain(0.5, 1.0));
  EXPECT_EQ(midiOutSetVolume(0, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(card.SynthGain(), 0.0f);
}

TEST(SynthVolume, GainScalesTheSynthesiserInTheRecording) {
  Card& card = Card::Instance();
  card.SetSpeed(kSpeedMax);
  auto play = [&](std::uint32_t volume) {
    midiOutSetVolume(0, volume);
    Quiet();
    card.WaitUntil(card.Frames() + 3 * kCardRate);  // the last play's reverb fades
    return Peak(Samples16(
        RecordWhilePlaying({{300, 0, 60, 127}, {300, 0, 64, 127}}, kCardRate * 4 / 2).data));
  };
  const int full = play(0xFFFFFFFF);
  const int fifth = play(0x33333333);
  const int none = play(0);
  EXPECT_GT(full, 500);
  // Through the card's taper: a fifth of full volume is 2.4 dB less per halving.
  const double expected = full * std::pow(0.2, kTaperExponent);
  EXPECT_NEAR(fifth, expected, expected / 10 + 2);
  EXPECT_LT(fifth, full);
  EXPECT_EQ(none, 0);
}

TEST(Speakers, UnknownBackendIsNamedWithTheOnesThatExist) {
  std::string error;
  auto none = OpenSpeakers("none", &error);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(error, "");
  auto bogus = OpenSpeakers("sdl3", &error);
  ASSERT_NE(bogus, nullptr);
  EXPECT_EQ(error, "The speaker output \"sdl3\" does not exist; the outputs are portaudio, none.");
  const float l[4] = {0.1f, 0.2f, 0.3f, 0.4f};
  bogus->Write(l, l, 4);  // discards
}
