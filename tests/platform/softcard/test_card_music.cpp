// Recording music from the card: a MIDI file played through the MCI sequencer is captured as the
// programs capture it, and the capture sounds like FluidSynth's own rendering of the same file.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numeric>

#include "CardTestSupport.h"
#include "platform/softcard/MidiOut.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/SongBuilder.h"

using namespace platform;
using namespace platform::softcard;
using namespace cardtest;
namespace fs = std::filesystem;

namespace {

// A song written to a temporary file whose name has a blank and non-ASCII letters.
class SongFile {
 public:
  explicit SongFile(int seconds) : SongFile(smftest::Song(seconds)) {}
  explicit SongFile(const smftest::Bytes& smf) {
    path_ = (fs::temp_directory_path() /
             ("card music " + std::to_string(::getpid()) + " \xC3\xA9t\xC3\xA9.mid"))
                .string();
    tw_test::WriteFile(path_, smf);
  }
  ~SongFile() { fs::remove(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

MCIERROR Mci(const std::string& command) {
  return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// A 44100 Hz, 16-bit stereo recording as mono floats.
std::vector<float> Mono(const std::vector<std::int16_t>& s) {
  std::vector<float> mono(s.size() / 2);
  for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = (s[2 * i] + s[2 * i + 1]) / 65534.0f;
  return mono;
}

// Plays `song` through MCI from the start of a recording of `seconds` at 44100 Hz, 16 bits,
// stereo, and returns the recording's samples.
std::vector<std::int16_t> RecordSongSamples(const SongFile& song, int seconds) {
  EXPECT_EQ(Mci("open " + song.Path() + " alias song"), 0u);
  Recorder rec(Format(kCardRate, 2, 16), static_cast<std::size_t>(seconds) * kCardRate * 4);
  rec.Start([](std::uint64_t) { EXPECT_EQ(Mci("play song"), 0u); });
  rec.Wait();
  rec.Stop();
  EXPECT_EQ(Mci("close song"), 0u);
  return Samples16(rec.Data());
}

// The same as mono floats.
std::vector<float> RecordSong(const SongFile& song, int seconds) {
  return Mono(RecordSongSamples(song, seconds));
}

// RMS of each block of `block` samples.
std::vector<double> Envelope(const std::vector<float>& v, std::size_t block, std::size_t from = 0,
                             std::size_t count = ~std::size_t{0}) {
  std::vector<double> env;
  for (std::size_t b = from; b + block <= v.size() && env.size() < count; b += block) {
    double e = 0;
    for (std::size_t i = b; i < b + block; ++i) e += double(v[i]) * v[i];
    env.push_back(std::sqrt(e / block));
  }
  return env;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  const double ma = std::accumulate(a.begin(), a.begin() + n, 0.0) / n;
  const double mb = std::accumulate(b.begin(), b.begin() + n, 0.0) / n;
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

struct Stereo {
  std::vector<float> l, r;
};

// FluidSynth on its own: the same SoundFont and settings as the card, the file played by
// FluidSynth's own player, `seconds` rendered.
Stereo ReferenceStereo(const std::string& soundFont, const std::string& midi, int seconds) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_settings_setnum(settings, "synth.sample-rate", kCardRate);
  fluid_settings_setint(settings, "synth.cpu-cores", 1);
  fluid_synth_t* synth = new_fluid_synth(settings);
  EXPECT_NE(fluid_synth_sfload(synth, soundFont.c_str(), 1), FLUID_FAILED);
  fluid_player_t* player = new_fluid_player(synth);
  EXPECT_EQ(fluid_player_add(player, midi.c_str()), FLUID_OK);
  fluid_player_play(player);
  std::vector<float> l(static_cast<std::size_t>(seconds) * kCardRate), r(l.size());
  for (std::size_t i = 0; i < l.size(); i += 64) {
    fluid_synth_write_float(synth, static_cast<int>(std::min<std::size_t>(64, l.size() - i)),
                            l.data(), i, 1, r.data(), i, 1);
  }
  delete_fluid_player(player);
  delete_fluid_synth(synth);
  delete_fluid_settings(settings);
  return {std::move(l), std::move(r)};
}

// The same as mono floats.
std::vector<float> Reference(const std::string& soundFont, const std::string& midi, int seconds) {
  Stereo ref = ReferenceStereo(soundFont, midi, seconds);
  for (std::size_t i = 0; i < ref.l.size(); ++i) ref.l[i] = 0.5f * (ref.l[i] + ref.r[i]);
  return ref.l;
}

}  // namespace

class CardMusic : public ::testing::Test {
 protected:
  void SetUp() override {
    Card::Instance().SetSpeed(kSpeedMax);
    Card::Instance().SetLevels(Levels{});
    if (Card::Instance().SoundFont().empty()) GTEST_SKIP() << "no SoundFont installed";
  }
};

TEST_F(CardMusic, TenSecondsOfAMidiFileAreRecordedThroughStereoMixAndSwSynth) {
  SongFile song(11);
  for (auto source : {Levels::RecordSource::StereoMix, Levels::RecordSource::Synth}) {
    Levels lv;
    lv.recordSource = source;
    Card::Instance().SetLevels(lv);
    const auto rec = RecordSong(song, 10);
    ASSERT_EQ(rec.size(), 10u * kCardRate);
    // Music all along: every half second (one beat) has sound in it.
    const auto beats = Envelope(rec, kCardRate / 2);
    ASSERT_EQ(beats.size(), 20u);
    for (std::size_t b = 0; b < beats.size(); ++b)
      EXPECT_GT(beats[b], 0.002) << "beat " << b;  // silence is exactly 0
  }
}

namespace {

double Db(double v) { return 20.0 * std::log10(std::max(v, 1e-9)); }
double PeakDb(const std::vector<float>& v) {
  float peak = 0;
  for (float x : v) peak = std::max(peak, std::abs(x));
  return Db(peak);
}
double RmsDb(const std::vector<float>& v) { return Db(Envelope(v, v.size())[0]); }

}  // namespace

// At the factory mixer state a recording is as loud as the synthesiser on its own; with the levels
// the set-up wizard leaves (the synthesiser's playback line at 25000, one recording line at 12800)
// it stays clearly audible, also at the MIDI volume the wizard plays its test melody with.
TEST_F(CardMusic, LoudnessAtTheFactoryStateAndAfterTheWizard) {
  SongFile song(11);
  const auto ref = Reference(Card::Instance().SoundFont(), song.Path(), 10);
  const double refPeak = PeakDb(ref);
  ASSERT_GT(refPeak, -30.0);

  const auto factory = RecordSong(song, 10);
  EXPECT_NEAR(PeakDb(factory), refPeak, 3.0);
  EXPECT_NEAR(RmsDb(factory), RmsDb(ref), 3.0);

  auto volume = [](int v) { return TaperGain(v / 65536.0, 0.75); };
  for (auto source : {Levels::RecordSource::StereoMix, Levels::RecordSource::Synth}) {
    Levels wizard;
    wizard.speakerSynth = volume(25000);
    wizard.speakerWave = 0.0f;
    wizard.recordSource = source;
    wizard.recordLine = volume(12800);
    Card::Instance().SetLevels(wizard);
    EXPECT_GE(PeakDb(RecordSong(song, 10)), refPeak - 10.0);
    midiOutSetVolume(0, 0x33333333);
    EXPECT_GE(PeakDb(RecordSong(song, 10)), refPeak - 16.0);
    midiOutSetVolume(0, 0xFFFFFFFF);
  }
}

// The factory state must not amplify: a dense file that makes FluidSynth clip here and there clips
// no more often in a recording.
TEST_F(CardMusic, ADenseFileClipsNoMoreThanTheSynthesiserAlone) {
  SongFile song(smftest::Dense(4));
  const Stereo ref = ReferenceStereo(Card::Instance().SoundFont(), song.Path(), 4);
  std::size_t refClipped = 0, refLoud = 0;
  for (const auto* channel : {&ref.l, &ref.r}) {
    for (float v : *channel) {
      refClipped += std::abs(v) >= 1.0f;
      refLoud += std::abs(v) >= 0.25f;
    }
  }
  ASSERT_GT(refLoud, 1000u) << "the file is not dense enough to tell";
  std::size_t clipped = 0;
  for (std::int16_t v : RecordSongSamples(song, 4)) clipped += v >= 32767 || v <= -32767;
  EXPECT_LE(clipped, refClipped + refClipped / 100 + 10);
}

TEST_F(CardMusic, SilentWithTheSynthMutedOrLineInSelected) {
  SongFile song(3);
  Levels muted;
  muted.speakerSynth = 0.0f;
  Card::Instance().SetLevels(muted);
  for (float v : RecordSong(song, 2)) ASSERT_EQ(v, 0.0f);
  Levels lineIn;
  lineIn.recordSource = Levels::RecordSource::Silent;
  Card::Instance().SetLevels(lineIn);
  for (float v : RecordSong(song, 2)) ASSERT_EQ(v, 0.0f);
}

TEST_F(CardMusic, UnpacedTheSongWaitsForTheRecorderStartedAfterIt) {
  // The programs start the music, then the recorder. Unpaced, the card must not run the song on
  // in between: the recording has to start with the song's first beat.
  SongFile song(2);
  ASSERT_EQ(Mci("open " + song.Path() + " alias song"), 0u);
  ASSERT_EQ(Mci("play song"), 0u);
  const std::uint64_t played = Card::Instance().Frames();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // seconds of unpaced card time
  EXPECT_LE(Card::Instance().Frames() - played, 256u) << "card time ran on without a recorder";
  Recorder rec(Format(kCardRate, 2, 16), kCardRate * 4);  // one second
  rec.Start();
  rec.Wait();
  rec.Stop();
  EXPECT_EQ(Mci("close song"), 0u);
  const auto beats = Envelope(Mono(Samples16(rec.Data())), kCardRate / 2);
  ASSERT_EQ(beats.size(), 2u);
  EXPECT_GT(beats[0], 0.002);
  EXPECT_GT(beats[1], 0.002);
}

TEST_F(CardMusic, UnpacedASongStartedUnderARunningRecorderDoesNotWait) {
  SongFile song(2);
  ASSERT_EQ(Mci("open " + song.Path() + " alias song"), 0u);
  Recorder rec(Format(kCardRate, 2, 16), kCardRate * 4);  // one second
  const auto t0 = std::chrono::steady_clock::now();
  rec.Start([](std::uint64_t) { EXPECT_EQ(Mci("play song"), 0u); });
  rec.Wait();
  // Unpaced, a second of card time takes a few milliseconds; waiting for a recorder that is
  // already there would add the whole grace of half a second.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
  rec.Stop();
  EXPECT_EQ(Mci("close song"), 0u);
}

TEST_F(CardMusic, UnpacedReadingTheTickCountEndsTheWaitForARecorder) {
  SongFile song(2);
  ASSERT_EQ(Mci("open " + song.Path() + " alias song"), 0u);
  ASSERT_EQ(Mci("play song"), 0u);
  const std::uint32_t start = GetTickCount();
  // Within the grace a recorder would get, card time runs on as soon as somebody waits for it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  while (GetTickCount() - start < 1000 && std::chrono::steady_clock::now() < deadline) {
  }
  EXPECT_GE(GetTickCount() - start, 1000u);
  EXPECT_EQ(Mci("close song"), 0u);
}

TEST_F(CardMusic, RecordingFollowsFluidSynthsOwnRendering) {
  const int seconds = 8;
  SongFile song(seconds);
  const auto card = RecordSong(song, seconds);
  const auto ref = Reference(Card::Instance().SoundFont(), song.Path(), seconds);

  // Align on 1 ms loudness steps: the lag within half a second that matches best.
  const std::size_t ms = kCardRate / 1000;
  const auto fineCard = Envelope(card, ms), fineRef = Envelope(ref, ms);
  int bestLag = 0;
  double best = -2;
  for (int lag = -500; lag <= 500; ++lag) {
    std::vector<double> a, b;
    for (std::size_t i = 1000; i + 1000 < fineRef.size(); ++i) {
      const long j = static_cast<long>(i) + lag;
      if (j < 0 || j >= static_cast<long>(fineCard.size())) continue;
      a.push_back(fineCard[j]);
      b.push_back(fineRef[i]);
    }
    const double c = Correlation(a, b);
    if (c > best) best = c, bestLag = lag;
  }
  EXPECT_LT(std::abs(bestLag), 100) << "the card starts the file late";

  // Loudness envelopes, 50 ms steps, over the common part.
  const std::size_t block = kCardRate / 20;
  const std::size_t shift = static_cast<std::size_t>(std::abs(bestLag)) * ms;
  const std::size_t blocks = (ref.size() - shift) / block - 1;
  const auto envCard = Envelope(card, block, bestLag > 0 ? shift : 0, blocks);
  const auto envRef = Envelope(ref, block, bestLag < 0 ? shift : 0, blocks);
  ASSERT_GE(envCard.size(), 150u);
  const double r = Correlation(envCard, envRef);
  RecordProperty("envelope_correlation", std::to_string(r));
  EXPECT_GE(r, 0.95);
}
