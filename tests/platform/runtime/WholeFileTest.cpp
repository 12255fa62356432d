// Reading whole files: content kept byte for byte, limits and failures told apart.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "platform/runtime/WholeFile.h"
#include "tests/support/TempDir.h"

namespace {

using platform::ReadWholeFile;
using platform::WholeFileRead;

TEST(WholeFile, ReadsEveryByteUpToTheLimitAndRefusesMore) {
  tw_test::TempDir dir("tw-wholefile-");
  std::string content(100000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  const std::string path = dir / "data.bin";
  std::ofstream(path, std::ios::binary) << content;

  std::string text;
  ASSERT_EQ(ReadWholeFile(path, content.size(), text), WholeFileRead::Ok);
  EXPECT_EQ(text, content);
  std::vector<std::uint8_t> bytes{1, 2, 3};
  ASSERT_EQ(ReadWholeFile(path, content.size(), bytes), WholeFileRead::Ok);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);

  EXPECT_EQ(ReadWholeFile(path, content.size() - 1, bytes), WholeFileRead::TooLarge);
  EXPECT_TRUE(bytes.empty());

  const std::string empty = dir / "empty";
  std::ofstream(empty).flush();
  text = "stale";
  EXPECT_EQ(ReadWholeFile(empty, 0, text), WholeFileRead::Ok);
  EXPECT_TRUE(text.empty());
}

TEST(WholeFile, TellsMissingFilesFromFolders) {
  tw_test::TempDir dir("tw-wholefile-");
  std::string text = "stale";
  errno = 0;
  EXPECT_EQ(ReadWholeFile(dir / "missing", 100, text), WholeFileRead::CannotOpen);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(ReadWholeFile(dir.Path().string(), 100, text), WholeFileRead::NotAFile);
  // A FIFO without a writer is refused at once, not waited on.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(ReadWholeFile(dir / "fifo", 100, text), WholeFileRead::NotAFile);
}

}  // namespace
