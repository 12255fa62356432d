#include "platform/softcard/Softcard.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/softcard/CardClock.h"
#include "platform/softcard/Speakers.h"
#include "platform/softcard/Synth.h"

namespace platform::softcard {

namespace {

constexpr int kPeriod = kCardPeriod;

// How often, in wall time, the render thread asks the mixer layer for the levels, so that changes
// made by other processes are heard soon. An idle card asks less often: nothing is heard then, the
// poll only passes other processes' changes on to this one's mixer windows, and every wake-up
// costs.
constexpr auto kLevelsPoll = std::chrono::milliseconds(30);
constexpr auto kIdleLevelsPoll = std::chrono::milliseconds(100);

// True while this thread holds the card lock (the render thread in a period, or a caller inside
// WithSynth): nested calls then work on the card directly instead of waiting for their own lock.
thread_local bool tl_holdsCardLock = false;

// Installed by the mixer layer (during static initialisation, before any card exists).
constinit std::atomic<LevelsProvider> g_levelsProvider{nullptr};

double SpeedFromEnvironment() {
  const char* text = std::getenv("SOFTCARD_SPEED");
  if (auto speed = ParseSpeed(text)) return *speed;
  std::fprintf(stderr,
               "softcard: SOFTCARD_SPEED=\"%s\" is neither \"auto\", \"max\" nor a number from %g "
               "up; the card runs at its default pace (auto)\n",
               text, kMinSpeed);
  return kSpeedAuto;
}

// The pace of card time: at auto, real time unless a capture records.
double PaceOf(double speed, bool recording) {
  if (speed != kSpeedAuto) return speed;
  return recording ? kSpeedMax : 1.0;
}

// Below this (-90 dBFS, under half a 16-bit step) the synthesiser's output counts as silence: an
// idle card stops rendering once its reverb has faded to it.
constexpr float kQuietPeak = 3e-5f;

// What WithSynth hands over when the process ended before the synthesiser had loaded.
class NoSynth final : public MidiSink {
 public:
  void Send(std::uint8_t, std::uint8_t, std::uint8_t) override {}
  void SendSysex(std::span<const std::uint8_t>) override {}
  void Reset() override {}
  void SoundOff() override {}
};

}  // namespace

struct Card::Impl {
  Impl();
  void Run();
  // Loads the synthesiser (the slow part of the card's start). False when the process is ending:
  // the render thread then ends at once.
  bool LoadSynth();
  // Waits until the synthesiser has loaded or the card has shut down, at most `timeout` when one is
  // given; true then.
  bool AwaitSynth(const std::chrono::milliseconds* timeout = nullptr);
  void RenderPeriod();
  // Delivers; `holds` is set when a capture client holds the clock. True while a capture records.
  bool CapturePhase(bool& holds);
  void RecordPeriod(std::uint64_t end);        // hands recL_/recR_ to the capture clients
  bool Idle(bool recording);                   // with the card lock
  void AdvanceSilently(std::uint64_t target);  // with the card lock
  // Runs fn over captureSnap_, a copy of the capture clients taken under captureMu_, without
  // holding it; a removal meanwhile waits until fn is done. Nothing runs when there is none.
  template <class Fn>
  void WithCaptureSnapshot(Fn&& fn);
  // Card time as callers see it: the frames rendered, or more while an idle paced card's clock
  // runs without the render thread.
  std::uint64_t Now() { return idleClock_.Read(frames_.load(), CardClock::Wall::now()); }
  void PollLevels();
  void WaitForWake(std::uint64_t seen, CardClock::Wall::time_point deadline);
  void Shutdown();

  // Taking the card lock from outside the render thread. The render thread takes it once per
  // period and would win the race for it almost every time when it runs without pacing; it
  // therefore lets waiting callers in first.
  void LockOutside() {
    waiting_.fetch_add(1);
    mu_.lock();
    waiting_.fetch_sub(1);
  }
  void UnlockOutside() {
    callerTurns_.fetch_add(1);  // counted once the caller's work is done, before others may look
    mu_.unlock();
    turnCv_.notify_all();
    Kick();  // what the caller did may end the card's idleness (music started, a recording began)
  }
  // Runs fn under the card lock. Clients removed meanwhile are released after the lock is given
  // up, so that their destructors may wait for the card.
  template <class Fn>
  void Locked(Fn&& fn) {
    if (tl_holdsCardLock) {
      fn();
      return;
    }
    std::vector<std::shared_ptr<void>> released;
    LockOutside();
    // Card time stands still while the card is held, as it does for a card that renders: what the
    // caller starts at the time it reads starts there. The render thread, woken at the unlock,
    // lets an idle card's clock run again.
    idleClock_.Stop(CardClock::Wall::now());
    tl_holdsCardLock = true;
    try {
      fn();
    } catch (...) {
      released.swap(released_);
      tl_holdsCardLock = false;
      UnlockOutside();
      throw;
    }
    released.swap(released_);
    tl_holdsCardLock = false;
    UnlockOutside();
  }

  // The MIDI and wave client lists, under the card lock.
  template <class Client>
  void AddClient(std::vector<std::shared_ptr<Client>>& list, std::shared_ptr<Client> client) {
    if (!client) return;
    Locked([&] { list.push_back(std::move(client)); });
  }
  // A render pass may be walking the list: the client's slot is emptied, and the pass drops empty
  // slots when it is done. The client itself goes to released_.
  template <class Client>
  void RemoveClient(std::vector<std::shared_ptr<Client>>& list, const Client* client) {
    Locked([&] {
      for (auto& c : list) {
        if (c.get() == client) {
          released_.push_back(std::move(c));
          compact_ = true;
        }
      }
      if (!tl_holdsCardLock) {
        std::erase(list, nullptr);
      }
    });
  }

  // The card lock: guards the client lists, the synthesiser and the period being rendered.
  std::mutex mu_;
  std::condition_variable turnCv_;  // the render thread waits here while callers want the lock
  std::atomic<int> waiting_{0};     // callers waiting for the card lock
  std::vector<std::shared_ptr<MidiClient>> midi_;
  std::vector<std::shared_ptr<WaveClient>> wave_;
  bool compact_ = false;  // a client was removed from the render thread: null slots to drop
  std::vector<std::shared_ptr<void>> released_;  // removed clients, freed outside the card lock
  std::unique_ptr<Synth> synth_;

  // Guards capture_, captureVersion_, the render thread's use of its capture snapshot outside the
  // card lock (captureBusy_, busyVersion_). A removal waits until no phase runs with a snapshot
  // taken before it.
  std::mutex captureMu_;
  std::condition_variable captureCv_;
  std::vector<std::shared_ptr<CaptureClient>> capture_;
  std::uint64_t captureVersion_ = 0;
  bool captureBusy_ = false;
  std::uint64_t busyVersion_ = 0;

  // Guards wakeGen_ and stop_: what the render thread sleeps on (pacing, capture hold).
  std::mutex wakeMu_;
  std::condition_variable wakeCv_;
  std::uint64_t wakeGen_ = 0;
  bool stop_ = false;

  // WaitUntil's sleepers; framesMu_ only orders their check against the render thread's notify.
  std::mutex framesMu_;
  std::condition_variable framesCv_;
  std::atomic<int> frameWaiters_{0};

  // Guards levels_ and lastPolled_.
  mutable std::mutex levelsMu_;
  Levels levels_;
  Levels lastPolled_;

  std::atomic<std::uint64_t> frames_{0};
  IdleClock idleClock_;  // card time of an idle paced card
  std::atomic<std::uint64_t> synthFrames_{0};
  // Idle and unpaced, card time moves only up to what waiters ask for.
  std::atomic<std::uint64_t> wanted_{0};
  std::atomic<bool> idle_{false};
  // How many times a caller has held the card lock and let it go. The render thread decides that
  // the card may go idle from what it saw of the recorders before it took the lock; a caller in
  // between may have started one.
  std::atomic<std::uint64_t> callerTurns_{0};
  std::atomic<bool> unpaced_{false};
  std::atomic<double> speed_{kSpeedAuto};
  std::atomic<bool> speedChanged_{false};
  std::atomic<float> synthGain_{1.0f};
  std::atomic<bool> shutDown_{false};
  // HoldForCapture: set while card time waits for a recorder; its wall-clock deadline, in
  // steady-clock ticks.
  std::atomic<bool> captureHold_{false};
  std::atomic<CardClock::Wall::rep> captureHoldUntil_{0};
  void EndCaptureHold();
  void Kick();  // wakes the render thread
  // Idle and unpaced, the card moves its clock only as far as waiters need: raises wanted_ to
  // `frame` and wakes the render thread.
  void Want(std::uint64_t frame);

  // Render thread only.
  std::unique_ptr<Speakers> speakers_;
  bool toSpeakers_ = false;  // paced at real time: the playback mix is heard
  bool synthQuiet_ = true;   // no voice left and the last period's output below kQuietPeak
  std::vector<std::shared_ptr<CaptureClient>> captureSnap_;
  float synthL_[kPeriod], synthR_[kPeriod], waveL_[kPeriod], waveR_[kPeriod];
  float speakL_[kPeriod], speakR_[kPeriod], recL_[kPeriod], recR_[kPeriod];

  // Guards the start: ready_ (the constructor waits until the render thread runs), the
  // synthesiser's load and soundFont_, and whether the process ends during the start.
  std::mutex readyMu_;
  std::condition_variable readyCv_;
  bool ready_ = false;
  bool loading_ = false;      // the SoundFont loads: an ending process does not wait for it
  bool synthLoaded_ = false;  // synth_, soundFont_ and soundFontStatus_ are set
  bool ending_ = false;       // Shutdown has begun
  std::string soundFont_;
  SoundFontStatus soundFontStatus_;
  std::thread thread_;
  std::thread::id threadId_;
  std::once_flag shutdownOnce_;
};

Card::Impl::Impl() {
  const double speed = SpeedFromEnvironment();
  speed_.store(speed);
  unpaced_.store(PaceOf(speed, false) == kSpeedMax);
  thread_ = std::thread([this] { Run(); });
  std::unique_lock lock(readyMu_);
  readyCv_.wait(lock, [this] { return ready_; });
}

bool Card::Impl::LoadSynth() {
  {
    std::lock_guard lock(readyMu_);
    if (ending_) return false;
    loading_ = true;
  }
  // Made on this thread so that loading the SoundFont runs on this thread's settings. Nothing holds
  // the card lock meanwhile: clients may be added while the SoundFont loads.
  const std::string found = FindSoundFont();
  std::unique_ptr<Synth> synth = MakeSynth(found);
  const std::string soundFont = synth->SoundFont();
  {
    std::lock_guard lock(mu_);
    synth_ = std::move(synth);
  }
  bool ending;
  {
    std::lock_guard lock(readyMu_);
    soundFont_ = soundFont;
    soundFontStatus_ =
        SoundFontStatusOf(std::getenv("SOFTCARD_SOUNDFONT"), found, !soundFont.empty());
    loading_ = false;
    synthLoaded_ = true;
    ending = ending_;
  }
  readyCv_.notify_all();
  if (ending) return false;  // the process went on to its end without waiting for this thread
  if (soundFont.empty() && std::getenv("SOFTCARD_SOUNDFONT") == nullptr) {
    std::fprintf(stderr, "softcard: no SoundFont found; the synthesiser is silent\n");
  }
  return true;
}

bool Card::Impl::AwaitSynth(const std::chrono::milliseconds* timeout) {
  std::unique_lock lock(readyMu_);
  auto done = [this] { return synthLoaded_ || ending_; };
  if (timeout == nullptr) {
    readyCv_.wait(lock, done);
    return true;
  }
  return readyCv_.wait_for(lock, *timeout, done);
}

void Card::Impl::Run() {
  // The levels of the mixer state are in force before the constructor returns: a change made just
  // after is then pushed to the card (SetLevels) and not overwritten by this first poll.
  if (LevelsProvider provider = g_levelsProvider.load()) {
    const Levels levels = provider();
    std::lock_guard lock(levelsMu_);
    levels_ = lastPolled_ = levels;
  }
  {
    std::lock_guard lock(readyMu_);
    threadId_ = std::this_thread::get_id();
    ready_ = true;
  }
  readyCv_.notify_all();
  if (!LoadSynth()) return;
  const double startSpeed = speed_.load();

  if (startSpeed == 1.0 || startSpeed == kSpeedAuto) {
    std::string error;
    const char* name = std::getenv("SOFTCARD_SPEAKERS");
    speakers_ = OpenSpeakers(name != nullptr ? name : "", &error);
    if (!error.empty()) std::fprintf(stderr, "softcard: %s\n", error.c_str());
  } else {
    speakers_ = OpenSpeakers("none", nullptr);
  }

  using Wall = CardClock::Wall;
  bool recording = false;
  bool idleClockRunning = false;  // idleClock_ was started and not stopped since
  bool woken = false;             // idle and paced: woken before the deadline
  CardClock clock(PaceOf(startSpeed, recording), frames_.load(), Wall::now());
  toSpeakers_ = clock.Speed() == 1.0;
  Wall::time_point nextPoll = Wall::now() + kLevelsPoll;

  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard lock(wakeMu_);
      if (stop_) break;
      seen = wakeGen_;
    }
    const std::uint64_t turnsSeen = callerTurns_.load();
    bool holds = false;
    const bool nowRecording = CapturePhase(holds);
    const bool speedChanged = speedChanged_.exchange(false);
    if (speedChanged || nowRecording != recording) {
      recording = nowRecording;
      const double pace = PaceOf(speed_.load(), recording);
      // From card time as callers see it: an idle card's clock may have run on without this thread.
      if (speedChanged || pace != clock.Speed()) clock.SetSpeed(pace, Now(), Wall::now());
      unpaced_.store(!clock.Paced());
      toSpeakers_ = pace == 1.0;
    }

    auto now = Wall::now();
    if (now >= nextPoll) {
      PollLevels();
      nextPoll = now + (idle_.load() ? kIdleLevelsPoll : kLevelsPoll);
    }
    if (!clock.Paced() && holds) {
      // Without pacing, a capture with no room would lose what the next period records: card
      // time stands still until it has room (or is reset or closed).
      captureHold_.store(false);
      WaitForWake(seen, nextPoll);
      continue;
    }
    if (captureHold_.load()) {
      const Wall::time_point until{Wall::duration{captureHoldUntil_.load()}};
      if (now < until) {
        WaitForWake(seen, std::min(until, nextPoll));
        continue;
      }
      captureHold_.store(false);
    }
    const bool wasIdle = idle_.load();
    if (clock.Paced() && wasIdle && idleClockRunning) {
      // Idle, card time runs without this thread (idleClock_): it wakes only when woken, when a
      // waiter's frame falls due, or to poll the levels.
      if (!woken) {
        auto deadline = nextPoll;
        const std::uint64_t wanted = wanted_.load();
        if (wanted > frames_.load()) {
          deadline = std::min(deadline, clock.DueTime((wanted + kPeriod - 1) / kPeriod * kPeriod));
        }
        if (now < deadline) {
          WaitForWake(seen, deadline);
          woken = true;  // look at the card once more before sleeping again
          continue;
        }
      }
      woken = false;
    } else if (clock.Paced()) {
      const auto due = clock.DueTime(frames_.load());
      if (now < due) {
        WaitForWake(seen, std::min(due, nextPoll));
        continue;
      }
      clock.CatchUp(frames_.load(), now);
    }

    std::vector<std::shared_ptr<void>> released;
    bool lookAgain = false;
    {
      std::unique_lock lock(mu_);
      if (waiting_.load() > 0) turnCv_.wait(lock, [this] { return waiting_.load() == 0; });
      tl_holdsCardLock = true;
      if (wasIdle) {
        // Take card time over from the idle clock: from the last frame anyone was given, so that
        // what started there (music, a recording) starts in the period rendered next. Nothing
        // records while the card is idle, so the frames skipped are not recorded.
        const std::uint64_t shown = idleClock_.Stop(Wall::now());
        if (shown > frames_.load()) frames_.store(shown);
        idleClockRunning = false;
      }
      if (captureHold_.load()) {
        // Music started while this thread waited for the lock: its first period waits too.
        idle_.store(false);
      } else if (!Idle(recording)) {
        idle_.store(false);
        RenderPeriod();
      } else if (callerTurns_.load() != turnsSeen) {
        // A caller held the card since the capture phase looked at the recorders, and may have
        // started one: look again before the card goes idle, or it would not record it.
        lookAgain = true;
      } else {
        if (clock.Paced()) {
          idleClock_.Start(clock);
          idleClockRunning = true;
        } else {
          const std::uint64_t wanted = wanted_.load();
          if (wanted > frames_.load()) AdvanceSilently((wanted + kPeriod - 1) / kPeriod * kPeriod);
        }
        idle_.store(true);
      }
      released.swap(released_);
      tl_holdsCardLock = false;
    }
    released.clear();
    if (frameWaiters_.load() > 0) {
      { std::lock_guard lock(framesMu_); }
      framesCv_.notify_all();
    }
    if (!lookAgain && !clock.Paced() && idle_.load() && wanted_.load() <= frames_.load()) {
      WaitForWake(seen, nextPoll);  // until music starts, a recording begins or a waiter asks
    }
  }
  bool holds = false;
  CapturePhase(holds);  // hand back what the last period completed
}

void Card::Impl::EndCaptureHold() {
  if (captureHold_.exchange(false)) Kick();
}

void Card::Impl::Want(std::uint64_t frame) {
  std::uint64_t wanted = wanted_.load();
  while (wanted < frame && !wanted_.compare_exchange_weak(wanted, frame)) {
  }
  Kick();
}

void Card::Impl::Kick() {
  {
    std::lock_guard lock(wakeMu_);
    ++wakeGen_;
  }
  wakeCv_.notify_all();
}

void Card::Impl::WaitForWake(std::uint64_t seen, CardClock::Wall::time_point deadline) {
  std::unique_lock lock(wakeMu_);
  wakeCv_.wait_until(lock, deadline, [&] { return stop_ || wakeGen_ != seen; });
}

void Card::Impl::PollLevels() {
  const LevelsProvider provider = g_levelsProvider.load();
  if (!provider) return;
  const Levels polled = provider();
  std::lock_guard lock(levelsMu_);
  if (polled == lastPolled_) return;
  lastPolled_ = polled;
  levels_ = polled;
}

template <class Fn>
void Card::Impl::WithCaptureSnapshot(Fn&& fn) {
  {
    std::lock_guard lock(captureMu_);
    if (capture_.empty()) return;
    captureSnap_.assign(capture_.begin(), capture_.end());
    captureBusy_ = true;
    busyVersion_ = captureVersion_;
  }
  fn();
  {
    std::lock_guard lock(captureMu_);
    captureBusy_ = false;
  }
  captureCv_.notify_all();
  captureSnap_.clear();
}

bool Card::Impl::CapturePhase(bool& holds) {
  holds = false;
  bool recording = false;
  WithCaptureSnapshot([&] {
    for (auto& c : captureSnap_) {
      c->Deliver();
      if (c->Holds()) holds = true;
      if (c->Recording()) {
        recording = true;
        captureHold_.store(false);  // the recorder is here
      }
    }
    for (auto& c : captureSnap_) c->Deliver();  // what Holds completed while making room
  });
  return recording;
}

bool Card::Impl::Idle(bool recording) {
  if (recording || !synthQuiet_) return false;
  for (const auto& c : midi_) {
    if (c && c->NextEventFrame() != kNever) return false;
  }
  for (const auto& c : wave_) {
    if (c && c->Sounding()) return false;
  }
  return true;
}

void Card::Impl::AdvanceSilently(std::uint64_t target) {
  std::fill(std::begin(recL_), std::end(recL_), 0.0f);
  std::fill(std::begin(recR_), std::end(recR_), 0.0f);
  for (std::uint64_t f = frames_.load(); f < target; f += kPeriod) {
    RecordPeriod(f + kPeriod);
    frames_.store(f + kPeriod);
  }
}

void Card::Impl::RecordPeriod(std::uint64_t end) {
  WithCaptureSnapshot([&] {
    for (auto& c : captureSnap_) c->Record(end, recL_, recR_, kPeriod);
  });
}

void Card::Impl::RenderPeriod() {
  Levels lv;
  {
    std::lock_guard lock(levelsMu_);
    lv = levels_;
  }
  const float gain = synthGain_.load(std::memory_order_relaxed);
  const std::uint64_t start = frames_.load(std::memory_order_relaxed);
  MidiSink& synth = *synth_;

  int pos = 0;
  while (pos < kPeriod) {
    const std::uint64_t now = start + pos;
    // Indexes, not iterators: a client may add or remove clients while it dispatches.
    for (std::size_t i = 0; i < midi_.size(); ++i) {
      std::shared_ptr<MidiClient> c = midi_[i];
      if (c && c->NextEventFrame() <= now) c->Dispatch(now, synth);
    }
    std::uint64_t next = kNever;
    for (std::size_t i = 0; i < midi_.size(); ++i) {
      if (midi_[i]) next = std::min(next, midi_[i]->NextEventFrame());
    }
    // A client that still has an event due now broke its contract; it gets the rest of the period.
    int end = kPeriod;
    if (next > now && next < start + kPeriod) end = static_cast<int>(next - start);
    synth_->Render(synthL_ + pos, synthR_ + pos, end - pos);
    pos = end;
  }
  synthFrames_.fetch_add(kPeriod, std::memory_order_relaxed);
  float peak = 0.0f;
  for (int i = 0; i < kPeriod; ++i) {
    peak = std::max({peak, std::abs(synthL_[i]), std::abs(synthR_[i])});
  }
  synthQuiet_ = peak < kQuietPeak && synth_->ActiveVoices() == 0;

  std::fill(std::begin(waveL_), std::end(waveL_), 0.0f);
  std::fill(std::begin(waveR_), std::end(waveR_), 0.0f);
  for (std::size_t i = 0; i < wave_.size(); ++i) {
    std::shared_ptr<WaveClient> c = wave_[i];
    if (c) c->Mix(start, waveL_, waveR_, kPeriod);
  }
  if (compact_) {
    std::erase(midi_, nullptr);
    std::erase(wave_, nullptr);
    compact_ = false;
  }

  const float spSynth = gain * lv.speakerSynth * lv.speakerMaster;
  const float spWave = lv.speakerWave * lv.speakerMaster;
  const float rec = lv.recordLine * lv.recordMaster;
  for (int i = 0; i < kPeriod; ++i) {
    speakL_[i] = synthL_[i] * spSynth + waveL_[i] * spWave;
    speakR_[i] = synthR_[i] * spSynth + waveR_[i] * spWave;
  }
  switch (lv.recordSource) {
    case Levels::RecordSource::StereoMix:
      for (int i = 0; i < kPeriod; ++i) {
        recL_[i] = speakL_[i] * rec;
        recR_[i] = speakR_[i] * rec;
      }
      break;
    case Levels::RecordSource::Synth:
      for (int i = 0; i < kPeriod; ++i) {
        recL_[i] = synthL_[i] * gain * rec;
        recR_[i] = synthR_[i] * gain * rec;
      }
      break;
    case Levels::RecordSource::Silent:
      std::fill(std::begin(recL_), std::end(recL_), 0.0f);
      std::fill(std::begin(recR_), std::end(recR_), 0.0f);
      break;
  }

  const std::uint64_t end = start + kPeriod;
  RecordPeriod(end);
  if (toSpeakers_) speakers_->Write(speakL_, speakR_, kPeriod);
  frames_.store(end);
}

void Card::Impl::Shutdown() {
  std::call_once(shutdownOnce_, [this] {
    bool loading;
    {
      std::lock_guard lock(readyMu_);
      ending_ = true;
      loading = loading_;
    }
    readyCv_.notify_all();  // nothing waits for a synthesiser that will not come
    shutDown_.store(true);
    idleClock_.Stop(CardClock::Wall::now());  // card time stands still from here
    {
      std::lock_guard lock(wakeMu_);
      stop_ = true;
    }
    wakeCv_.notify_all();
    { std::lock_guard lock(framesMu_); }
    framesCv_.notify_all();
    if (std::this_thread::get_id() == threadId_ || loading) {
      // exit() called from a client on the render thread; or the process ends while the SoundFont
      // still loads, which it must not wait for: the thread ends by itself once it has loaded.
      thread_.detach();
    } else if (thread_.joinable()) {
      thread_.join();
      speakers_.reset();
    }
  });
}

Card& Card::Instance() {
  // Never freed: clients and capture devices destroyed late at exit may still call the card.
  static Card* card = [] {
    auto* c = new Card();
    std::atexit([] { Card::Instance().impl_->Shutdown(); });
    return c;
  }();
  return *card;
}

Card::Card() : impl_(std::make_unique<Impl>()) {}
Card::~Card() { impl_->Shutdown(); }

std::uint64_t Card::Frames() const { return impl_->Now(); }

std::uint32_t Card::TickCount() const {
  // Reading the tick count is how the programs wait for time to pass.
  Impl& im = *impl_;
  im.EndCaptureHold();
  const std::uint64_t frames = im.Now();
  if (im.idle_.load() && im.unpaced_.load()) {
    // Idle without pacing, time moves only when asked for: someone reading the clock in a loop
    // is waiting for it.
    im.Want(frames + kPeriod);
  }
  return static_cast<std::uint32_t>(frames * 1000 / kCardRate);
}

void Card::WaitUntil(std::uint64_t frame) {
  Impl& im = *impl_;
  if (std::this_thread::get_id() == im.threadId_ || tl_holdsCardLock) return;
  im.EndCaptureHold();
  if (im.Now() >= frame) return;
  im.Want(frame);
  im.frameWaiters_.fetch_add(1);
  {
    std::unique_lock lock(im.framesMu_);
    im.framesCv_.wait(lock, [&] { return im.Now() >= frame || im.shutDown_.load(); });
  }
  im.frameWaiters_.fetch_sub(1);
}

double Card::Speed() const { return impl_->speed_.load(); }

void Card::HoldForCapture(std::chrono::milliseconds grace) {
  Impl& im = *impl_;
  if (Speed() != kSpeedMax && Speed() != kSpeedAuto) return;
  const auto until = CardClock::Wall::now() + grace;
  im.captureHoldUntil_.store(until.time_since_epoch().count());
  im.captureHold_.store(true);
}

bool Card::Unpaced() const { return impl_->unpaced_.load(); }

std::uint64_t Card::SynthFrames() const { return impl_->synthFrames_.load(); }

void Card::SetSpeed(double speed) {
  if (speed == kSpeedAuto) {
  } else if (!(speed > 0)) {
    speed = kSpeedMax;
  } else {
    speed = std::max(speed, kMinSpeed);
  }
  impl_->speed_.store(speed);
  impl_->speedChanged_.store(true);
  Wake();
}

void Card::AddMidiClient(std::shared_ptr<MidiClient> client) {
  impl_->AddClient(impl_->midi_, std::move(client));
}

void Card::RemoveMidiClient(const MidiClient* client) { impl_->RemoveClient(impl_->midi_, client); }

void Card::AddWaveClient(std::shared_ptr<WaveClient> client) {
  impl_->AddClient(impl_->wave_, std::move(client));
}

void Card::RemoveWaveClient(const WaveClient* client) { impl_->RemoveClient(impl_->wave_, client); }

void Card::AddCaptureClient(std::shared_ptr<CaptureClient> client) {
  if (!client) return;
  {
    std::lock_guard lock(impl_->captureMu_);
    impl_->capture_.push_back(std::move(client));
  }
  Wake();
}

void Card::RemoveCaptureClient(const CaptureClient* client) {
  Impl& im = *impl_;
  std::unique_lock lock(im.captureMu_);
  std::erase_if(im.capture_, [&](const auto& c) { return c.get() == client; });
  const std::uint64_t version = ++im.captureVersion_;
  if (std::this_thread::get_id() == im.threadId_) return;
  im.captureCv_.wait(lock, [&] { return !im.captureBusy_ || im.busyVersion_ >= version; });
  lock.unlock();
  Wake();
}

void Card::Wake() { impl_->Kick(); }

void Card::WithSynth(const std::function<void(MidiSink&)>& fn) {
  impl_->AwaitSynth();
  impl_->Locked([&] {
    NoSynth none;
    fn(impl_->synth_ ? static_cast<MidiSink&>(*impl_->synth_) : none);
  });
}

int Card::ActiveVoices() const {
  impl_->AwaitSynth();
  int voices = 0;
  impl_->Locked([&] { voices = impl_->synth_ ? impl_->synth_->ActiveVoices() : 0; });
  return voices;
}

void Card::SetSynthGain(float gain) { impl_->synthGain_.store(std::clamp(gain, 0.0f, 1.0f)); }

float Card::SynthGain() const { return impl_->synthGain_.load(); }

std::string Card::SoundFont() const {
  impl_->AwaitSynth();
  std::lock_guard lock(impl_->readyMu_);
  return impl_->soundFont_;
}

bool Card::WaitForSynth(std::chrono::milliseconds timeout) const {
  return impl_->AwaitSynth(&timeout);
}

SoundFontStatus Card::SoundFontReport() const {
  impl_->AwaitSynth();
  std::lock_guard lock(impl_->readyMu_);
  return impl_->soundFontStatus_;
}

void Card::SetLevels(const Levels& levels) {
  std::lock_guard lock(impl_->levelsMu_);
  impl_->levels_ = levels;
}

Levels Card::CurrentCardLevels() const {
  std::lock_guard lock(impl_->levelsMu_);
  return impl_->levels_;
}

float TaperGain(double fraction, double unityAt) {
  if (!(fraction > 0) || !(unityAt > 0)) return 0.0f;
  return static_cast<float>(std::pow(fraction / unityAt, kTaperExponent));
}

void SetLevelsProvider(LevelsProvider provider) { g_levelsProvider.store(provider); }

void StartCard() { Card::Instance(); }

std::uint32_t GetTickCount() { return Card::Instance().TickCount(); }

}  // namespace platform::softcard
