// MCI command strings: parsing, errors, and MIDI and WAV files played on the virtual card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/platform/softcard/CardTestSupport.h"
#include "tests/support/SmfBuilder.h"
#include "tests/support/TempDir.h"

using namespace platform;
using mci::Command;
using mci::ParseCommand;
using softcard::Card;
using softcard::kCardRate;
using namespace smftest;

namespace {

// Sends a command with a reply buffer; returns the error, and the reply through `reply`.
MCIERROR Send(const std::string& cmd, std::string* reply = nullptr) {
  char buf[128];
  std::memset(buf, 'x', sizeof buf);
  const MCIERROR e = mciSendStringA(cmd.c_str(), buf, sizeof buf, nullptr);
  EXPECT_NE(std::memchr(buf, '\0', sizeof buf), nullptr) << cmd;  // always terminated
  if (reply) *reply = buf;
  if (e != 0) {
    EXPECT_STREQ(buf, "") << cmd;
  }
  return e;
}

std::uint32_t Status(const std::string& alias, const std::string& item) {
  std::string r;
  EXPECT_EQ(Send("status " + alias + " " + item, &r), 0u);
  return static_cast<std::uint32_t>(std::stoul(r));
}

int ActiveVoices() { return Card::Instance().ActiveVoices(); }

void WaitCardMs(std::uint32_t ms) {
  Card& c = Card::Instance();
  c.WaitUntil(c.Frames() + std::uint64_t(ms) * kCardRate / 1000);
}

}  // namespace

TEST(MciParse, OpenTakesThePathUpToTheLastAlias) {
  Command c = ParseCommand("open /home/me/my songs/alias dir/a alias b.mid alias song");
  ASSERT_EQ(c.error, 0u);
  EXPECT_EQ(c.verb, Command::Verb::Open);
  EXPECT_EQ(c.path, "/home/me/my songs/alias dir/a alias b.mid");
  EXPECT_EQ(c.alias, "song");

  c = ParseCommand("  OPEN C:/Tunes/Été.MID ALIAS   Song  ");
  ASSERT_EQ(c.error, 0u);
  EXPECT_EQ(c.path, "C:/Tunes/Été.MID");  // the path keeps its case
  EXPECT_EQ(c.alias, "song");             // aliases do not

  // Nothing of the name is lost: blanks at either end and quotes are part of it.
  for (const std::string name :
       {"/tmp/a b.mid ", " a.mid", "\"/tmp/a b.wav\"", "\"\"", "a\tb.mid\t"}) {
    c = ParseCommand("open " + name + " alias t");
    ASSERT_EQ(c.error, 0u) << name;
    EXPECT_EQ(c.path, name);
  }
}

TEST(MciParse, CommandsTheProgramsSend) {
  const struct {
    const char* text;
    Command::Verb verb;
  } cases[] = {
      {"play song", Command::Verb::Play},
      {"stop song", Command::Verb::Stop},
      {"close song", Command::Verb::Close},
      {"set song time format ms", Command::Verb::SetTimeFormat},
      {"set song time format milliseconds", Command::Verb::SetTimeFormat},
      {"status song length", Command::Verb::StatusLength},
      {"STATUS SONG POSITION", Command::Verb::StatusPosition},
      {"Play\tSong", Command::Verb::Play},
  };
  for (const auto& k : cases) {
    const Command c = ParseCommand(k.text);
    ASSERT_EQ(c.error, 0u) << k.text;
    EXPECT_EQ(c.verb, k.verb) << k.text;
    EXPECT_EQ(c.alias, "song") << k.text;
  }
}

TEST(MciParse, MalformedCommandsGiveTheirErrors) {
  const struct {
    const char* text;
    MCIERROR error;
  } cases[] = {
      {"", MCIERR_MISSING_COMMAND_STRING},
      {"   ", MCIERR_MISSING_COMMAND_STRING},
      {"seek song to start", MCIERR_UNRECOGNIZED_COMMAND},
      {"opensong.mid alias song", MCIERR_UNRECOGNIZED_COMMAND},
      {"open", MCIERR_MISSING_PARAMETER},
      {"open a.mid", MCIERR_MISSING_PARAMETER},
      {"open alias song", MCIERR_MISSING_PARAMETER},
      {"open  alias song", MCIERR_MISSING_PARAMETER},
      {"open a.mid alias", MCIERR_MISSING_PARAMETER},
      {"open a.mid alias ", MCIERR_MISSING_PARAMETER},
      {"open a.mid alias song wait", MCIERR_UNRECOGNIZED_KEYWORD},
      {"play", MCIERR_MISSING_DEVICE_NAME},
      {"close song now", MCIERR_UNRECOGNIZED_KEYWORD},
      {"set song", MCIERR_MISSING_PARAMETER},
      {"set song audio all off", MCIERR_UNRECOGNIZED_KEYWORD},
      {"set song time", MCIERR_MISSING_PARAMETER},
      {"set song time format frames", MCIERR_BAD_TIME_FORMAT},
      {"set song time format ms extra", MCIERR_UNRECOGNIZED_KEYWORD},
      {"status song", MCIERR_MISSING_PARAMETER},
      {"status song mode", MCIERR_UNRECOGNIZED_KEYWORD},
      {"status song length now", MCIERR_UNRECOGNIZED_KEYWORD},
  };
  for (const auto& k : cases) EXPECT_EQ(ParseCommand(k.text).error, k.error) << k.text;
}

class MciFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    mciSendStringA("close song", nullptr, 0, nullptr);
    mciSendStringA("close other", nullptr, 0, nullptr);
  }
  std::string Put(const std::string& name, const Bytes& b) {
    const std::string p = dir_ / name;
    tw_test::WriteFile(p, b);
    return p;
  }
  // A piano chord held for `ms` milliseconds (a multiple of 25: 120 bpm, 480 ticks per quarter).
  std::string Chord(const std::string& name, int ms) {
    Track t;
    t.Ev(0, {0xC0, 0}).On(0, 0, 60).On(0, 0, 64).On(0, 0, 67);
    t.Off(static_cast<std::uint32_t>(ms * 24 / 25), 0, 60).Off(0, 0, 64).Off(0, 0, 67).End();
    return Put(name, File(0, 480, {t}));
  }
  tw_test::TempDir dir_{"tw mci é "};
};

// The card frames just before and just after `play alias`: the playback starts between them,
// however loaded the machine is.
struct PlayWindow {
  std::uint64_t before, after;
};
PlayWindow Play(const std::string& alias) {
  Card& card = Card::Instance();
  PlayWindow w;
  w.before = card.Frames();
  EXPECT_EQ(Send("play " + alias), 0u);
  w.after = card.Frames();
  return w;
}

// As the converter does it: "play", then at once a recording. Whatever the pace, the recording
// holds the music from its very start: silence, then the attack of the first chord.
TEST_F(MciFiles, RecordingStartedRightAfterPlayHoldsTheFirstNote) {
  Card& card = Card::Instance();
  const std::string path = Chord("first.mid", 500);
  for (double speed : {softcard::kSpeedMax, softcard::kSpeedAuto}) {
    SCOPED_TRACE(speed);
    WaitCardMs(3000);  // the last chord's reverb fades
    card.SetSpeed(speed);
    ASSERT_EQ(Send("open " + path + " alias song"), 0u);
    ASSERT_EQ(Send("play song"), 0u);
    cardtest::Recorder rec(cardtest::Format(kCardRate, 1, 16), kCardRate / 5 * 2);
    rec.Start();
    rec.Wait();
    // At auto the card runs unpaced while it records, and in real time again afterwards.
    EXPECT_TRUE(card.Unpaced());
    rec.Stop();
    EXPECT_EQ(Send("close song"), 0u);
    const auto s = cardtest::Samples16(rec.Data());
    ASSERT_GE(s.size(), 2048u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_LT(std::abs(s[i]), 50) << i;
    EXPECT_GT(cardtest::Peak({s.begin(), s.begin() + 2048}), 500);
  }
  card.WaitUntil(card.Frames() + kCardRate / 10);
  EXPECT_FALSE(card.Unpaced());
}

TEST_F(MciFiles, GetShortPathNameReturnsThePathUnchanged) {
  const std::string path = Chord("mon morceau.mid", 1000);
  char buf[512];
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buf, sizeof buf), path.size());
  EXPECT_EQ(std::string(buf), path);
  // Too small: the size needed, NUL included; nothing written.
  buf[0] = '#';
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buf, 4), path.size() + 1);
  EXPECT_EQ(buf[0], '#');
  // In place.
  std::strcpy(buf, path.c_str());
  EXPECT_EQ(GetShortPathNameA(buf, buf, sizeof buf), path.size());
  EXPECT_EQ(std::string(buf), path);
  EXPECT_EQ(GetShortPathNameA((dir_ / "none.mid").c_str(), buf, sizeof buf), 0u);
  EXPECT_EQ(GetShortPathNameA(nullptr, buf, sizeof buf), 0u);
}

TEST_F(MciFiles, OpenRefusesWhatItCannotPlay) {
  Track t;
  t.On(0, 0, 60).End(480);
  EXPECT_EQ(Send("open " + (dir_ / "none.mid") + " alias song"), MCIERR_FILE_NOT_FOUND);
  // Under another name, what is not a MIDI file keeps the error of an unknown extension.
  const Bytes noise = tw_test::NoiseBytes(3000, 7);
  for (const char* name : {"x.txt", "noise.kar"}) {
    EXPECT_EQ(Send("open " + Put(name, noise) + " alias song"), MCIERR_EXTENSION_NOT_FOUND);
  }
  EXPECT_EQ(Send("open " + (dir_ / "none.kar") + " alias song"), MCIERR_EXTENSION_NOT_FOUND);
  EXPECT_EQ(Send("open " + Put("bad.mid", Bytes{'M', 'T', 'h', 'd', 0, 0}) + " alias song"),
            MCIERR_INVALID_FILE);
  EXPECT_EQ(Send("open " + Put("bad.wav", Bytes{'R', 'I', 'F', 'F'}) + " alias song"),
            MCIERR_INVALID_FILE);
  EXPECT_EQ(Send("open " + Put("text.mid", Bytes(100, 'a')) + " alias song"), MCIERR_INVALID_FILE);
  const std::string huge = Put("huge.mid", File(0, 480, {t}));
  std::filesystem::resize_file(huge, 64u << 20);
  EXPECT_EQ(Send("open " + huge + " alias song"), MCIERR_OUT_OF_MEMORY);
  EXPECT_EQ(Send("open " + dir_.Path().string() + "/ alias song"), MCIERR_EXTENSION_NOT_FOUND);
  // Nothing was left open under the alias.
  EXPECT_EQ(Send("play song"), MCIERR_INVALID_DEVICE_NAME);
}

// The sequencer takes MIDI files by their content whatever they are called: a karaoke ".kar"
// plays, and an RMID file without an extension opens.
TEST_F(MciFiles, MidiFilesUnderOtherNamesPlayOnTheSequencer) {
  const std::string kar = Chord("Song.KAR", 1000);
  ASSERT_EQ(Send("open " + kar + " alias song"), 0u);
  EXPECT_EQ(Status("song", "length"), 1000u);
  Card& card = Card::Instance();
  const double speed = card.Speed();
  card.SetSpeed(softcard::kSpeedMax);
  ASSERT_EQ(Send("play song"), 0u);
  cardtest::Recorder rec(cardtest::Format(kCardRate, 1, 16), kCardRate / 2);
  rec.Start();
  rec.Wait();
  rec.Stop();
  card.SetSpeed(speed);
  EXPECT_EQ(Send("close song"), 0u);
  EXPECT_GT(cardtest::Peak(cardtest::Samples16(rec.Data())), 500);

  ASSERT_EQ(Send("open " + Put("song", Rmid(tw_test::ReadFile(kar))) + " alias song"), 0u);
  EXPECT_EQ(Status("song", "length"), 1000u);
}

TEST_F(MciFiles, ANameStartingWithABlankOpens) {
  // A path relative to the current folder, so that the blank is the path's first character.
  Chord(" tune.mid", 1000);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  const MCIERROR opened = Send("open  tune.mid alias song");
  std::filesystem::current_path(previous);
  ASSERT_EQ(opened, 0u);
  EXPECT_EQ(Status("song", "length"), 1000u);
}

TEST_F(MciFiles, UnknownAliasAndDuplicateAlias) {
  EXPECT_EQ(Send("play nothing"), MCIERR_INVALID_DEVICE_NAME);
  EXPECT_EQ(Send("status nothing length"), MCIERR_INVALID_DEVICE_NAME);
  EXPECT_EQ(Send("close nothing"), MCIERR_INVALID_DEVICE_NAME);
  const std::string a = Chord("a.mid", 1000);
  const std::string b = Chord("b.mid", 2000);
  ASSERT_EQ(Send("open " + a + " alias song"), 0u);
  EXPECT_EQ(Send("open " + b + " alias SONG"), MCIERR_DUPLICATE_ALIAS);
  EXPECT_EQ(Status("song", "length"), 1000u);  // still the first file
  ASSERT_EQ(Send("open " + b + " alias other"), 0u);
  EXPECT_EQ(Status("other", "length"), 2000u);
  EXPECT_EQ(Send("close song"), 0u);
  EXPECT_EQ(Send("close song"), MCIERR_INVALID_DEVICE_NAME);
}

TEST_F(MciFiles, ReplyThatDoesNotFitIsRefused) {
  ASSERT_EQ(Send("open " + Chord("a.mid", 10000) + " alias song"), 0u);
  char small[5] = "zzzz";
  EXPECT_EQ(mciSendStringA("status song length", small, sizeof small, nullptr),
            MCIERR_PARAM_OVERFLOW);  // "10000" needs six
  EXPECT_STREQ(small, "");
  EXPECT_EQ(mciSendStringA("status song length", nullptr, 0, nullptr), MCIERR_PARAM_OVERFLOW);
  EXPECT_EQ(mciSendStringA("play song", nullptr, 0, nullptr), 0u);  // no reply: no buffer needed
}

TEST_F(MciFiles, LengthOfAMidiFileInMilliseconds) {
  // What the converter sends to measure a file, path with blanks and accents included.
  Track c;
  c.Tempo(0, 400000).Tempo(960, 800000).End(480);  // 0.8 s, then 0.8 s
  Track n;
  n.On(0, 0, 60).Off(1200, 0, 60).End();
  const std::string path = Put("deux pistes é.mid", File(1, 480, {c, n}));
  EXPECT_EQ(Send("close song"), MCIERR_INVALID_DEVICE_NAME);
  ASSERT_EQ(Send("open " + path + " alias song"), 0u);
  EXPECT_EQ(Send("set song time format ms"), 0u);
  std::string r;
  EXPECT_EQ(Send("status song length", &r), 0u);
  EXPECT_EQ(r, "1600");
  EXPECT_EQ(Send("close song"), 0u);
}

TEST_F(MciFiles, PositionAdvancesWithCardTimeAndStopsAtTheLength) {
  ASSERT_EQ(Send("open " + Chord("a.mid", 1000) + " alias song"), 0u);
  EXPECT_EQ(Send("set song time format milliseconds"), 0u);
  EXPECT_EQ(Status("song", "position"), 0u);
  WaitCardMs(200);
  EXPECT_EQ(Status("song", "position"), 0u);  // not playing yet
  Card& card = Card::Instance();
  const PlayWindow start = Play("song");
  card.WaitUntil(start.after + kCardRate / 2);
  const std::uint32_t p1 = Status("song", "POSITION");
  const std::uint32_t elapsed1 =
      static_cast<std::uint32_t>((card.Frames() - start.before) * 1000 / kCardRate);
  EXPECT_GE(p1, 400u);
  EXPECT_LE(p1, elapsed1 + 1);
  card.WaitUntil(start.after + kCardRate * 3 / 2);
  EXPECT_EQ(Status("song", "position"), 1000u);  // the end: exactly the length, and it stays
  WaitCardMs(100);
  EXPECT_EQ(Status("song", "position"), Status("song", "length"));
}

TEST_F(MciFiles, StopSilencesAndKeepsThePosition) {
  ASSERT_EQ(Send("open " + Chord("a.mid", 20000) + " alias song"), 0u);
  ASSERT_EQ(Send("play song"), 0u);
  WaitCardMs(500);
  if (!Card::Instance().SoundFont().empty()) {
    EXPECT_GE(ActiveVoices(), 3);
  }
  ASSERT_EQ(Send("stop song"), 0u);
  const std::uint32_t p = Status("song", "position");
  EXPECT_GE(p, 500u);
  WaitCardMs(300);  // the synthesiser lets go of its voices at its next rendering
  EXPECT_EQ(Status("song", "position"), p);
  EXPECT_EQ(ActiveVoices(), 0);
  // Play resumes from there.
  ASSERT_EQ(Send("play song"), 0u);
  WaitCardMs(300);
  EXPECT_GE(Status("song", "position"), p + 300);
}

TEST_F(MciFiles, CloseDuringPlaySilencesAndForgets) {
  ASSERT_EQ(Send("open " + Chord("a.mid", 20000) + " alias song"), 0u);
  ASSERT_EQ(Send("play song"), 0u);
  WaitCardMs(300);
  if (!Card::Instance().SoundFont().empty()) {
    EXPECT_GE(ActiveVoices(), 3);
  }
  ASSERT_EQ(Send("close song"), 0u);
  WaitCardMs(300);
  EXPECT_EQ(ActiveVoices(), 0);  // nothing of it plays on
  EXPECT_EQ(Send("status song position"), MCIERR_INVALID_DEVICE_NAME);
  // The alias is free again, and a new file starts from its beginning.
  ASSERT_EQ(Send("open " + Chord("b.mid", 1000) + " alias song"), 0u);
  EXPECT_EQ(Status("song", "length"), 1000u);
  EXPECT_EQ(Status("song", "position"), 0u);
}

TEST_F(MciFiles, WaveFilePlaysForItsLengthOfCardTime) {
  // The wizard's recording format: 16-bit stereo at 44000 Hz, here 0.5 s.
  Bytes data(22000 * 4);
  for (std::size_t i = 0; i < data.size(); i += 2) data[i + 1] = (i / 200) % 2 ? 0x20 : 0xE0;
  const std::string path = Put("t.wav", tw_test::PcmFile(data, 2, 44000, 16));

  ASSERT_EQ(Send("open " + path + " alias song"), 0u);
  EXPECT_EQ(Send("set song time format ms"), 0u);
  EXPECT_EQ(Status("song", "length"), 500u);
  Card& card = Card::Instance();
  const PlayWindow start = Play("song");
  card.WaitUntil(start.after + kCardRate / 4);
  const std::uint32_t p = Status("song", "position");
  const auto elapsed =
      static_cast<std::uint32_t>((card.Frames() - start.before) * 1000 / kCardRate);
  EXPECT_GE(p, 200u);
  EXPECT_LE(p, std::min(elapsed + 1, 500u));
  card.WaitUntil(start.after + kCardRate);
  EXPECT_EQ(Status("song", "position"), 500u);
  EXPECT_EQ(Send("close song"), 0u);
}
