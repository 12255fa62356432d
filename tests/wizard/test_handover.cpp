// The two programs on a fresh program folder, as separate processes started through the shell:
// Tunewisp finds no "default.set" and starts Knobwarden; the wizard is taken to Finish, which
// starts Tunewisp again; that one converts a MIDI file with the wizard's "default.set" applied and
// gives the volumes it found back. And the wizard's own endings as only a process of its own shows
// them: termination signals, a kill in the middle of its test, and a message box closed while none
// of its windows is active.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "HandoverSupport.h"
#include "tests/support/RunProgram.h"
#include "tests/support/SmfBuilder.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every process of this test program shares one mixer state, apart from the user's own: the card
// of this process reads it once.
const fs::path& StateFolder() {
  static const tw_test::TempDir state("tw handover state ");
  return state.Path();
}

// True once `ready` holds, false when it did not within `limit`.
template <typename Fn>
bool Eventually(Fn ready, std::chrono::milliseconds limit = 60s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// An X server of the test's own on a free display, which the test ends as a session's end would.
class OwnDisplay {
 public:
  OwnDisplay() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = tw_test::Start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp"});
    ::close(fds[1]);
    for (char c; ::read(fds[0], &c, 1) == 1 && c != '\n';) number_ += c;
    ::close(fds[0]);
  }
  ~OwnDisplay() { End(); }
  OwnDisplay(const OwnDisplay&) = delete;
  OwnDisplay& operator=(const OwnDisplay&) = delete;
  bool Up() const { return !number_.empty(); }
  void End() {
    if (pid_ > 0) ::kill(pid_, SIGTERM), tw_test::Wait(pid_);
    pid_ = -1;
  }
  // What `start` starts shows its windows here. No session bus is there: Qt's accessibility would
  // otherwise have the bus library start one through the display, and wait for it.
  template <typename Start>
  pid_t Show(Start start) const {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("DISPLAY", (":" + number_).c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    const pid_t pid = start();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    return pid;
  }

 private:
  pid_t pid_ = -1;
  std::string number_;
};

// A fresh program folder holding the two stand-in programs under the programs' names and the
// data files; the wizard's course is chosen through the environment.
class Handover : public ::testing::Test {
 protected:
  Handover() : folder(dir.Path() / "program") {
    const fs::path bin = fs::path(TW_BIN_DIR);
    fs::create_directories(folder);
    ::setenv("SOFTCARD_STATE_DIR", StateFolder().c_str(), 1);
    fs::copy_file(bin / "tw_handover_tunewisp", folder / "Tunewisp");
    fs::copy_file(bin / "tw_handover_wizard", folder / "Knobwarden");
    for (const auto& entry : fs::directory_iterator(bin)) {
      const std::string name = entry.path().filename().string();
      if ((entry.path().extension() == ".ini" && name != "lang.ini") || name == "tesr.mid")
        fs::copy_file(entry.path(), folder / name);
    }
    tw::SetProgramFolder(folder.string());
  }
  ~Handover() override {
    tw::SetProgramFolder("");
    ::unsetenv("HANDOVER_WIZARD_COURSE");
  }

  std::string Log() const { return Read(folder / kHandoverLog); }
  bool Logged(const std::string& line) const {
    for (const std::string& l : Lines(Log()))
      if (l == line) return true;
    return false;
  }

  pid_t StartWizard(const char* course) const {
    ::setenv("HANDOVER_WIZARD_COURSE", course, 1);
    return tw_test::Start({(folder / "Knobwarden").string()});
  }

  // The wait status of `pid`; a process still running after a minute is killed and fails the test.
  static int Ended(pid_t pid) {
    int status = 0;
    const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
      ADD_FAILURE() << "the wizard did not end";
      ::kill(pid, SIGKILL);
      status = tw_test::Wait(pid);
    }
    return status;
  }

  // The mixer as this process sees it once another process changed it; when it does not become
  // `state`, the failure shows both.
  static ::testing::AssertionResult MixerBecomes(const std::string& state) {
    if (Eventually([&] { return MixerStateText() == state; }, 5s))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "every line:\n"
                                         << state << "but:\n"
                                         << MixerStateText();
  }

  // Starts a program with `start` on a display of its own, which ends once `logged` is in the log:
  // the program ends without a close, and its mixer comes back to `user`.
  template <typename Start>
  void EndTheDisplayWhen(Start start, const std::string& logged, const std::string& user) {
    OwnDisplay display;
    ASSERT_TRUE(display.Up());
    const pid_t pid = display.Show(start);
    ASSERT_TRUE(Eventually([&] { return Logged(logged); })) << Log();
    ASSERT_TRUE(Eventually([&] { return MixerStateText() != user; }, 5s)) << "nothing was set";
    display.End();
    Ended(pid);
    EXPECT_EQ(Log().find(": exit"), std::string::npos) << Log();  // no close ran
    EXPECT_TRUE(MixerBecomes(user));
  }

  bool AnyDefault() const {
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().filename().string().starts_with("default.set")) return true;
    return false;
  }

  tw_test::TempDir dir{"tw handover \xC3\xA9 "};
  fs::path folder;
};

}  // namespace

TEST_F(Handover, FirstStartRunsTheWizardThenTunewispConvertsWithItsDefault) {
  smftest::WriteMidiFile((folder / "song.mid").string(), 3000);
  ASSERT_FALSE(fs::exists(folder / "default.set"));

  EXPECT_TRUE(tw_test::Run({(folder / "Tunewisp").string()}));
  // Tunewisp has ended; the wizard and the second Tunewisp run on their own. Each writes its last
  // line when its window has closed.
  auto secondTunewispEnded = [&] {
    const std::string text = Log();
    const auto done = text.find("tunewisp: done");
    return done != std::string::npos && text.find("tunewisp: exit", done) != std::string::npos;
  };
  ASSERT_TRUE(Eventually(secondTunewispEnded, 3min)) << Log();

  std::vector<std::string> expected = {
      "tunewisp: start without default.set",
      "tunewisp: exit",
      "wizard: start finish",
      "wizard: done page",
      "wizard: finish",
      "tunewisp: start with default.set",
      "tunewisp: presets on",
      "tunewisp: default.set applied during the recording",
      "tunewisp: volumes changed during the recording",
      "tunewisp: recording",
      "tunewisp: volumes back after the conversion",
  };
  std::vector<std::string> lines = Lines(Log());
  // The conversion's own messages are not part of the hand-over, and the wizard ends while the
  // Tunewisp it started runs.
  std::erase_if(lines, [](const std::string& l) {
    return l.starts_with("tunewisp: message") || l == "wizard: exit";
  });
  ASSERT_GE(lines.size(), expected.size() + 3) << Log();
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << Log();
  const std::string& wrote = lines[lines.size() - 3];
  ASSERT_TRUE(wrote.starts_with("tunewisp: wrote ")) << Log();
  EXPECT_GT(std::stoul(wrote.substr(16)), 44u * 1000);
  EXPECT_EQ(lines[lines.size() - 2], "tunewisp: done");
  EXPECT_TRUE(Logged("wizard: exit")) << Log();

  EXPECT_EQ(Read(folder / "lang.ini"), "en\r\n");
  EXPECT_GT(fs::file_size(folder / "default.set"), 0u);
}

TEST_F(Handover, TerminationSignalsGiveTheUserHisMixerBack) {
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signalNumber));
    fs::remove(folder / kHandoverLog);
    const std::string user = MixerStateText();
    const pid_t wizard = StartWizard("zeroed");
    ASSERT_GT(wizard, 0);
    ASSERT_TRUE(Eventually([&] { return Logged("wizard: zeroed"); })) << Log();
    ASSERT_TRUE(Eventually([&] { return MixerStateText() != user; }, 5s)) << "nothing was zeroed";
    ::kill(wizard, signalNumber);
    const int status = Ended(wizard);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
    EXPECT_TRUE(Logged("wizard: exit")) << Log();
    EXPECT_TRUE(MixerBecomes(user));
  }
}

TEST_F(Handover, ASignalDuringTheTestEndsItAndLeavesNoDefault) {
  const std::string user = MixerStateText();
  const pid_t wizard = StartWizard("testing");
  ASSERT_GT(wizard, 0);
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: recording"); })) << Log();
  ::kill(wizard, SIGTERM);
  const int status = Ended(wizard);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
  EXPECT_TRUE(Logged("wizard: test ended")) << Log();
  EXPECT_FALSE(AnyDefault());
  EXPECT_TRUE(MixerBecomes(user));
}

TEST_F(Handover, AWizardKilledDuringItsTestLeavesNoDefaultAndIsStartedAgain) {
  const pid_t wizard = StartWizard("testing");
  ASSERT_GT(wizard, 0);
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: recording"); })) << Log();
  ::kill(wizard, SIGKILL);
  const int status = Ended(wizard);
  EXPECT_TRUE(WIFSIGNALED(status)) << Log();
  EXPECT_FALSE(fs::exists(folder / "default.set"));

  // Tunewisp finds no default and starts the wizard again.
  ::setenv("HANDOVER_WIZARD_COURSE", "start", 1);
  EXPECT_TRUE(tw_test::Run({(folder / "Tunewisp").string()}));
  EXPECT_TRUE(Eventually([&] { return Logged("wizard: start start"); })) << Log();
  EXPECT_TRUE(Logged("tunewisp: start without default.set")) << Log();
}

TEST_F(Handover, ABoxClosedWhileNoWindowIsActiveLeavesTheWizardRunning) {
  // A French desktop: Qt's own buttons speak French too.
  ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
  const std::string user = MixerStateText();
  const pid_t wizard = StartWizard("box");
  ::unsetenv("LC_ALL");
  ASSERT_GT(wizard, 0);
  const int status = Ended(wizard);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
  const std::vector<std::string> expected = {
      "wizard: start box",
      "wizard: box Coch\xC3\xA9 signifie selectionn\xC3\xA9 ? [Annuler &Oui &Non]",
      "wizard: no window active",
      "wizard: box Garder ces parametres ? [&Oui &Non]",
      "wizard: test kept",
      "wizard: still running",
      "wizard: exit",
  };
  EXPECT_EQ(Lines(Log()), expected) << Log();
  // The approved default stays; Cancel gave the user's state back.
  EXPECT_TRUE(fs::exists(folder / "default.set"));
  EXPECT_TRUE(MixerBecomes(user));
}

TEST_F(Handover, TheEndOfTheDisplayGivesTheUserHisMixerBack) {
  EndTheDisplayWhen([&] { return StartWizard("zeroed"); }, "wizard: zeroed", MixerStateText());
}

TEST_F(Handover, ASecondWizardFromTheSameFolderEndsWithoutTouchingAnything) {
  const std::string user = MixerStateText();
  const pid_t first = StartWizard("zeroed");
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: zeroed"); })) << Log();
  const std::string saved = Read(folder / "sav.set");
  const int status = Ended(StartWizard("zeroed"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
  EXPECT_NE(Log().find("wizard: message L'assistant est d\xC3\xA9j\xC3\xA0 lanc\xC3\xA9 depuis le "
                       "dossier \"" +
                       folder.string() + "\""),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("\nThe wizard is already running from the folder"), std::string::npos);
  EXPECT_EQ(Read(folder / "sav.set"), saved);
  ::kill(first, SIGTERM);
  Ended(first);
  EXPECT_TRUE(MixerBecomes(user));
}

TEST_F(Handover, ASecondSignalWhileTheMixerComesBackIsIgnored) {
  const std::string user = MixerStateText();
  ::setenv("HANDOVER_HOLD_RESTORE", "1", 1);
  const pid_t wizard = StartWizard("zeroed");
  ::unsetenv("HANDOVER_HOLD_RESTORE");
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: zeroed"); })) << Log();
  ::kill(wizard, SIGTERM);
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: restoring"); })) << Log();
  ::kill(wizard, SIGHUP);  // as a logout sends it right after SIGTERM
  std::ofstream(folder / "go");
  const int status = Ended(wizard);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Log();
  EXPECT_TRUE(MixerBecomes(user));
}

namespace {

// Tunewisp's own program run converting "song.mid" with "Use Midi presets" on, in a process of its
// own, over an earlier output of the same name.
class TunewispOutput : public Handover {
 protected:
  static constexpr const char* kPrevious = "the previous output, kept byte for byte";
  TunewispOutput() {
    smftest::WriteMidiFile((folder / "song.mid").string(), 3000);
    std::ofstream(folder / "default.set") << OtherVolumesText();
  }
  ~TunewispOutput() override {
    for (const char* name :
         {"HANDOVER_OUTPUT", "HANDOVER_STALL", "HANDOVER_USER", "HANDOVER_HOLD_RESTORE"})
      ::unsetenv(name);
  }
  // A conversion of a song long enough to be ended while it records.
  pid_t StartLongConversion(const std::string& output, const char* stall = "") {
    smftest::WriteMidiFile((folder / "song.mid").string(), 60000);
    ::setenv("SOFTCARD_SPEED", "4", 1);
    const pid_t pid = StartTunewisp(output, stall);
    ::setenv("SOFTCARD_SPEED", "max", 1);
    return pid;
  }
  // `program` of the folder started by a shell with `ulimit -f limit` (in blocks of 512 bytes).
  pid_t StartLimited(const char* program, const std::string& limit) const {
    return tw_test::Start(
        {"/bin/sh", "-c", "ulimit -f " + limit + "; exec \"$0\"", (folder / program).string()});
  }
  // Tunewisp converting to `output`, which holds the previous output unless it exists, stalled
  // once `stall` ("recording" or "encoding") writes the output.
  pid_t StartTunewisp(const std::string& output, const char* stall = "",
                      const std::string& limit = "unlimited") const {
    if (!fs::exists(folder / output)) std::ofstream(folder / output) << kPrevious;
    ::setenv("HANDOVER_OUTPUT", output.c_str(), 1);
    ::setenv("HANDOVER_STALL", stall, 1);
    return StartLimited("Tunewisp", limit);
  }
  static bool EndedWell(pid_t pid) {
    const int status = Ended(pid);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::vector<fs::path> PartFiles() const {
    std::vector<fs::path> parts;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.path().extension() == ".part") parts.push_back(entry.path());
    return parts;
  }
};

}  // namespace

TEST_F(TunewispOutput, AFileSizeLimitEndsNeitherProgram) {
  // A write past the limit fails as on a full disk: a message, the previous file kept, the mixer
  // given back, and the program goes on.
  const std::string user = MixerStateText();
  EXPECT_TRUE(EndedWell(StartTunewisp("out.wav", "", "64"))) << Log();
  EXPECT_NE(Log().find("tunewisp: message The conversion failed:\nCannot write"),
            std::string::npos);
  EXPECT_NE(Log().find("File too large"), std::string::npos) << Log();
  EXPECT_TRUE(Logged("tunewisp: volumes back after the conversion")) << Log();
  EXPECT_EQ(Read(folder / "out.wav"), kPrevious);
  EXPECT_TRUE(PartFiles().empty());
  // The wizard's test recording fails: it says so and gives the user's mixer back.
  ::setenv("HANDOVER_WIZARD_COURSE", "testing", 1);
  const pid_t wizard = StartLimited("Knobwarden", "64");
  ASSERT_TRUE(Eventually([&] { return Logged("wizard: test ended"); })) << Log();
  EXPECT_NE(Log().find("wizard: message"), std::string::npos) << Log();
  EXPECT_TRUE(MixerBecomes(user));
  ::kill(wizard, SIGTERM);
  EXPECT_TRUE(EndedWell(wizard)) << Log();
}

TEST_F(TunewispOutput, AKilledConversionLeavesThePreviousFile) {
  std::size_t parts = 0;
  for (const auto& [output, stall] : {std::pair{"out.wav", "recording"}, {"out.mp3", "encoding"}}) {
    const pid_t tunewisp = StartTunewisp(output, stall);
    ASSERT_TRUE(Eventually([&] { return Logged("tunewisp: stalled"); })) << Log();
    ::kill(tunewisp, SIGKILL);
    Ended(tunewisp);
    fs::remove(folder / kHandoverLog);
    EXPECT_EQ(Read(folder / output), kPrevious) << output;
    // What it wrote stays under its temporary name, which no later run removes.
    EXPECT_EQ(PartFiles().size(), ++parts) << output;
  }
}

TEST_F(TunewispOutput, ATerminationSignalKeepsTheWholeRecordingAndShowsNoBox) {
  const std::string user = MixerStateText();
  const pid_t tunewisp = StartLongConversion("out.wav");
  ASSERT_TRUE(Eventually([&] {
    const auto parts = PartFiles();
    return parts.size() == 1 && fs::file_size(parts[0]) > 100000;
  })) << Log();
  ::kill(tunewisp, SIGTERM);
  EXPECT_TRUE(EndedWell(tunewisp)) << Log();
  EXPECT_EQ(Log().find("tunewisp: message"), std::string::npos) << Log();
  // The header tells the whole recording's size.
  const std::string wav = Read(folder / "out.wav");
  ASSERT_GT(wav.size(), 100000u);
  std::uint32_t dataSize = 0;
  std::memcpy(&dataSize, wav.data() + 40, 4);
  EXPECT_EQ(dataSize, wav.size() - 44);
  EXPECT_TRUE(PartFiles().empty());
  EXPECT_FALSE(fs::exists(folder / "temp.wav"));
  EXPECT_TRUE(MixerBecomes(user));
}

TEST_F(TunewispOutput, ReadOnlyOutputsAndFoldersWithoutWriteAccessBehaveAsBefore) {
  // As a user who is not root, in folders open to everyone.
  for (const fs::path& open : {dir.Path(), folder, StateFolder()}) {
    fs::permissions(open, fs::perms::all);
    for (const auto& entry : fs::directory_iterator(open))
      if (!entry.is_directory()) fs::permissions(entry.path(), fs::perms::all);
  }
  ::setenv("HANDOVER_USER", "nobody", 1);
  const auto readOnly = fs::perms::owner_read | fs::perms::others_read | fs::perms::owner_exec |
                        fs::perms::others_exec;
  // A file the user may not write: refused before anything is recorded.
  std::ofstream(folder / "out.wav") << kPrevious;
  fs::permissions(folder / "out.wav", readOnly);
  EXPECT_TRUE(EndedWell(StartTunewisp("out.wav"))) << Log();
  EXPECT_NE(Log().find("Permission denied"), std::string::npos) << Log();
  EXPECT_FALSE(Logged("tunewisp: recording")) << Log();
  EXPECT_EQ(Read(folder / "out.wav"), kPrevious);
  // A file the user may write in a folder where nothing can be added: written in place.
  fs::create_directory(folder / "locked");
  std::ofstream(folder / "locked" / "out.wav") << kPrevious;
  fs::permissions(folder / "locked" / "out.wav", fs::perms::all);
  fs::permissions(folder / "locked", readOnly);
  EXPECT_TRUE(EndedWell(StartTunewisp("locked/out.wav"))) << Log();
  EXPECT_TRUE(Logged("tunewisp: message Conversion finished!")) << Log();
  EXPECT_EQ(Read(folder / "locked" / "out.wav").compare(0, 4, "RIFF"), 0);
}

TEST_F(TunewispOutput, SignalsWhileTheMixerComesBackAndAfter) {
  // A second signal while the close gives the volumes back is ignored; once they are back, a
  // further one ends the encoding that follows at once, as a kill would.
  const std::string user = MixerStateText();
  ::setenv("HANDOVER_HOLD_RESTORE", "1", 1);
  const pid_t tunewisp = StartLongConversion("out.mp3", "encoding");
  ASSERT_TRUE(Eventually([&] { return Logged("tunewisp: recording"); })) << Log();
  ::kill(tunewisp, SIGTERM);
  ASSERT_TRUE(Eventually([&] { return Logged("tunewisp: restoring"); })) << Log();
  ::kill(tunewisp, SIGHUP);
  std::ofstream(folder / "go");
  ASSERT_TRUE(Eventually([&] { return Logged("tunewisp: stalled"); })) << Log();
  EXPECT_TRUE(MixerBecomes(user));
  ::kill(tunewisp, SIGINT);
  const int status = Ended(tunewisp);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << Log();
  EXPECT_EQ(Read(folder / "out.mp3"), kPrevious);
}

TEST_F(TunewispOutput, TheEndOfTheDisplayGivesTheVolumesBack) {
  EndTheDisplayWhen([&] { return StartLongConversion("out.wav"); }, "tunewisp: recording",
                    MixerStateText());
  EXPECT_EQ(Read(folder / "out.wav"), kPrevious);  // left as after a kill
}
