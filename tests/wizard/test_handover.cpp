// The two programs on a fresh program folder, as separate processes started through the shell:
// Tunewisp finds no "default.set" and starts Knobwarden; the wizard is taken to Finish, which
// starts Tunewisp again; that one converts a MIDI file with the wizard's "default.set" applied and
// gives the volumes it found back.

#include <gtest/gtest.h>

#include <chrono>
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

}  // namespace

TEST(Handover, FirstStartRunsTheWizardThenTunewispConvertsWithItsDefault) {
  const tw_test::TempDir dir("tw handover \xC3\xA9 ");
  const fs::path bin = fs::path(TW_BIN_DIR);
  const fs::path folder = dir.Path() / "program";
  fs::create_directories(folder);
  fs::create_directories(dir.Path() / "state");
  ::setenv("SOFTCARD_STATE_DIR", (dir.Path() / "state").c_str(), 1);
  fs::copy_file(bin / "tw_handover_tunewisp", folder / "Tunewisp");
  fs::copy_file(bin / "tw_handover_wizard", folder / "Knobwarden");
  for (const auto& entry : fs::directory_iterator(bin)) {
    const std::string name = entry.path().filename().string();
    if ((entry.path().extension() == ".ini" && name != "lang.ini") || name == "tesr.mid")
      fs::copy_file(entry.path(), folder / name);
  }
  smftest::WriteMidiFile((folder / "song.mid").string(), 3000);
  ASSERT_FALSE(fs::exists(folder / "default.set"));

  tw::SetProgramFolder(folder.string());
  EXPECT_TRUE(tw_test::Run({(folder / "Tunewisp").string()}));
  // Tunewisp has ended; the wizard and the second Tunewisp run on their own. Each writes its last
  // line when its window has closed.
  const fs::path log = folder / kHandoverLog;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  auto secondTunewispEnded = [&] {
    const std::string text = Read(log);
    const auto done = text.find("tunewisp: done");
    return done != std::string::npos && text.find("tunewisp: exit", done) != std::string::npos;
  };
  while (!secondTunewispEnded()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << Read(log);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  std::vector<std::string> expected = {
      "tunewisp: start without default.set",
      "tunewisp: exit",
      "wizard: done page",
      "wizard: finish",
      "tunewisp: start with default.set",
      "tunewisp: presets on",
      "tunewisp: default.set applied during the recording",
      "tunewisp: volumes changed during the recording",
      "tunewisp: volumes back after the conversion",
  };
  std::vector<std::string> lines = Lines(Read(log));
  // The conversion's own messages are not part of the hand-over.
  std::erase_if(lines, [](const std::string& l) { return l.starts_with("tunewisp: message"); });
  ASSERT_GE(lines.size(), expected.size() + 3) << Read(log);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << Read(log);
  const std::string& wrote = lines[lines.size() - 3];
  ASSERT_TRUE(wrote.starts_with("tunewisp: wrote ")) << Read(log);
  EXPECT_GT(std::stoul(wrote.substr(16)), 44u * 1000);
  EXPECT_EQ(lines[lines.size() - 2], "tunewisp: done");

  EXPECT_EQ(Read(folder / "lang.ini"), "en\r\n");
  EXPECT_GT(fs::file_size(folder / "default.set"), 0u);
  tw::SetProgramFolder("");
}
