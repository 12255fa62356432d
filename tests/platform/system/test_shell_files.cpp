// The shell (starting programs, opening pages) and the size probe's file calls.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/system/Files.h"
#include "platform/system/Shell.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Dir {
  tw_test::TempDir temp{"tw-shell-"};
  const std::string path = temp.Path().string();
};

void WriteScript(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
}

// The started program runs on its own: wait (a bounded time) for the file it writes.
std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    if (!content.empty() && content.back() == '\n') return content;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

}  // namespace

TEST(Shell, StartsAProgramInTheGivenFolderWithItsParameters) {
  Dir dir;
  WriteScript(dir.path + "/prog", "echo \"$(pwd) $*\" > \"" + dir.path + "/out.txt\"\n");
  const auto result = platform::ShellExecuteA(0, "open", (dir.path + "/prog").c_str(), "a b",
                                              dir.path.c_str(), platform::SW_SHOW);
  EXPECT_GT(result, 32);
  EXPECT_EQ(platform::GetLastError(), 0u);
  EXPECT_EQ(WaitForFile(dir.path + "/out.txt"), fs::canonical(dir.path).string() + " a b\n");
}

TEST(Shell, ExeNameStartsTheProgramWithoutTheExtension) {
  Dir dir;
  WriteScript(dir.path + "/Knobwarden", "pwd > \"" + dir.path + "/started.txt\"\n");
  const std::string old = fs::current_path().string();
  ASSERT_TRUE(platform::SetCurrentDirectoryA(dir.path.c_str()));
  const auto result = platform::ShellExecuteA(0, nullptr, (dir.path + "/Knobwarden.exe").c_str(),
                                              nullptr, nullptr, platform::SW_SHOWNORMAL);
  ASSERT_TRUE(platform::SetCurrentDirectoryA(old.c_str()));
  EXPECT_GT(result, 32);
  EXPECT_EQ(platform::ExecutableFor(dir.path + "/Knobwarden.exe"), dir.path + "/Knobwarden");
  // Without a folder of its own, the program inherits ours of the moment of the call.
  EXPECT_EQ(WaitForFile(dir.path + "/started.txt"), fs::canonical(dir.path).string() + "\n");
}

TEST(Shell, MissingProgramFailsWithAReadableError) {
  Dir dir;
  const auto result = platform::ShellExecuteA(0, nullptr, (dir.path + "/Nothing.exe").c_str(),
                                              nullptr, nullptr, platform::SW_SHOWNORMAL);
  EXPECT_LE(result, 32);
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(platform::SE_ERR_FNF));
  EXPECT_EQ(platform::ShellErrorText(platform::GetLastError()),
            "The system cannot find the file specified.");
  EXPECT_LE(platform::ShellExecuteA(0, nullptr, "", nullptr, nullptr, 1), 32);
  EXPECT_LE(platform::ShellExecuteA(0, nullptr, nullptr, nullptr, nullptr, 1), 32);
}

TEST(Shell, PagesAndDocumentsGoToTheDesktopHandler) {
  Dir dir;
  std::ofstream(dir.path + "/help.html") << "<p>help</p>";
  std::vector<platform::ShellRequest> seen;
  platform::SetShellHook([&](const platform::ShellRequest& r) {
    seen.push_back(r);
    return std::intptr_t{42};
  });
  EXPECT_GT(platform::ShellExecuteA(0, nullptr, "https://example.org/x", nullptr, nullptr, 1), 32);
  EXPECT_GT(
      platform::ShellExecuteA(0, nullptr, (dir.path + "/help.html").c_str(), nullptr, nullptr, 1),
      32);
  // A missing document is refused before anything is started.
  EXPECT_LE(
      platform::ShellExecuteA(0, nullptr, (dir.path + "/none.html").c_str(), nullptr, nullptr, 1),
      32);
  platform::SetShellHook({});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].openDocument);
  EXPECT_EQ(seen[0].target, "https://example.org/x");
  EXPECT_TRUE(seen[1].openDocument);
  EXPECT_EQ(seen[1].target, dir.path + "/help.html");
}

TEST(Shell, HookSeesProgramsWithTheirFolderAndItsResultIsReturned) {
  Dir dir;
  WriteScript(dir.path + "/Tunewisp", "exit 0\n");
  platform::ShellRequest seen;
  platform::SetShellHook([&](const platform::ShellRequest& r) {
    seen = r;
    return platform::SE_ERR_ACCESSDENIED;
  });
  const auto result = platform::ShellExecuteA(0, nullptr, (dir.path + "/Tunewisp.exe").c_str(),
                                              "-x", dir.path.c_str(), 1);
  platform::SetShellHook({});
  EXPECT_EQ(result, platform::SE_ERR_ACCESSDENIED);
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(platform::SE_ERR_ACCESSDENIED));
  EXPECT_FALSE(seen.openDocument);
  EXPECT_EQ(seen.target, dir.path + "/Tunewisp");
  EXPECT_EQ(seen.parameters, "-x");
  EXPECT_EQ(seen.directory, dir.path);
}

TEST(Files, SizeProbe) {
  Dir dir;
  const std::string path = dir.path + "/f.bin";
  std::ofstream(path, std::ios::binary) << std::string(70000, 'x');
  const auto h =
      platform::CreateFileA(path.c_str(), platform::GENERIC_READ, platform::FILE_SHARE_READ,
                            nullptr, platform::OPEN_EXISTING, 0, platform::INVALID_HANDLE_VALUE);
  ASSERT_NE(h, platform::INVALID_HANDLE_VALUE);
  std::uint32_t high = 99;
  EXPECT_EQ(platform::GetFileSize(h, &high), 70000u);
  EXPECT_EQ(high, 0u);
  EXPECT_TRUE(platform::CloseHandle(h));
  EXPECT_EQ(platform::CreateFileA((dir.path + "/none").c_str(), platform::GENERIC_READ, 0, nullptr,
                                  platform::OPEN_EXISTING, 0, platform::INVALID_HANDLE_VALUE),
            platform::INVALID_HANDLE_VALUE);
  // A folder is not a file.
  EXPECT_EQ(platform::CreateFileA(dir.path.c_str(), platform::GENERIC_READ, 0, nullptr,
                                  platform::OPEN_EXISTING, 0, platform::INVALID_HANDLE_VALUE),
            platform::INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform::GetFileSize(platform::INVALID_HANDLE_VALUE, nullptr), 0xFFFFFFFFu);
  EXPECT_FALSE(platform::SetCurrentDirectoryA((dir.path + "/none").c_str()));
}
