#pragma once
// A folder of the running test's own below the system's temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace tw_test {

// Made empty on construction and removed with everything in it on destruction. Its name is
// `prefix`, the process id, the test suite's and the test's names: a prefix with a blank and
// non-ASCII letters puts them into every path below the folder.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tw_") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" +
                                                      info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tw_test
