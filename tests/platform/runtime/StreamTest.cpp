#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/runtime/Stream.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

class StreamTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return dir_ / name; }

  tw_test::TempDir dir_{"tw_stream_"};
};

TEST_F(StreamTest, CreateWritesAndReadsBack) {
  const std::string name = Path("a b é.bin");
  {
    TFileStream out(name, fmCreate);
    out.WriteBuffer("hello world", 11);
    EXPECT_EQ(out.Size(), 11);
    out.SetPosition(6);
    out.WriteBuffer("WORLD", 5);
  }
  TFileStream in(name, fmOpenRead | fmShareDenyWrite);
  char buf[16] = {};
  EXPECT_EQ(in.Read(buf, sizeof buf), 11);
  EXPECT_EQ(std::string(buf, 11), "hello WORLD");
  EXPECT_EQ(in.Read(buf, 4), 0);
  EXPECT_EQ(in.Seek(-5, soEnd), 6);
  EXPECT_THROW(in.ReadBuffer(buf, 6), EReadError);
}

TEST_F(StreamTest, CreateTruncatesAnExistingFile) {
  const std::string name = Path("t.bin");
  { std::ofstream(name) << "old contents"; }
  TFileStream out(name, fmCreate);
  EXPECT_EQ(out.Size(), 0);
}

TEST_F(StreamTest, OpeningAMissingFileNamesTheFileAndTheReason) {
  const std::string name = Path("missing.wav");
  try {
    TFileStream in(name, fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find(name), std::string::npos);
    EXPECT_NE(e.Message().find("No such file"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(Path("no/such/dir/x.wav"), fmCreate), EFOpenError);
}

TEST_F(StreamTest, ExclusiveOpenIsRefusedWhileAnotherOpenerHoldsTheFile) {
  const std::string name = Path("x.wav");
  { TFileStream(name, fmCreate).WriteBuffer("abcd", 4); }
  {
    TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareExclusive), EFOpenError);
  }
  TFileStream writer(name, fmOpenReadWrite | fmShareExclusive);
  EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareDenyWrite), EFOpenError);
}

TEST_F(StreamTest, WriteFailureRaisesWithTheReason) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TFileStream full("/dev/full", fmOpenWrite);
  try {
    full.WriteBuffer("x", 1);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_NE(e.Message().find("No space left"), std::string::npos);
  }
}

TEST(MemoryStream, GrowsOnWriteAndReadsWhatWasWritten) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  m.SetPosition(2);
  m.WriteBuffer("XYZW", 4);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.Size(), 7);
  m.SetPosition(0);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 7);
  EXPECT_EQ(std::string(buf, 7), "abXYZW!");
  m.Seek(10, soBeginning);
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_THROW(m.Seek(-1, soBeginning), EStreamError);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
}

TEST_F(StreamTest, CopyFromCopiesAWholeStreamFromItsStart) {
  TMemoryStream m;
  std::string big(200000, 'q');
  big[199999] = 'z';
  m.WriteBuffer(big.data(), static_cast<std::int64_t>(big.size()));
  TFileStream out(Path("copy.bin"), fmCreate);
  EXPECT_EQ(out.CopyFrom(m, 0), 200000);
  out.SetPosition(199999);
  char last = 0;
  out.ReadBuffer(&last, 1);
  EXPECT_EQ(last, 'z');
}

}  // namespace
