#pragma once
// For fuzzers of readers that take a file name: each input is written to one file of the process's
// own, in memory when /dev/shm is there.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

// Writes `data` to the file named after the process and `suffix`; its path, or "" when it failed.
inline std::string InputFile(const std::uint8_t* data, std::size_t size, const char* suffix) {
  static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string path = dir + "/tw_fuzz_" + std::to_string(getpid()) + suffix;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok ? path : "";
}

}  // namespace fuzz
