#pragma once
// A folder of the running test's own below the system's temporary folder, for the GoogleTest and
// the Qt Test programs alike.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tw_test {

// Created empty, with a name of its own, and removed with everything in it on destruction. Its name
// starts with `prefix`: a prefix with a blank and non-ASCII letters puts them into every path below
// the folder.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tw_") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a folder " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of `name` in the folder.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(*this / name, std::ios::binary | std::ios::trunc) << content;
  }
  // The whole content of `name`; empty when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

}  // namespace tw_test
