#include "converter/FileNames.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tw {

std::string WithExtension(const std::string& name, const std::string& extension) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot < fileStart) return name + extension;
  const std::size_t length = name.size() - dot - 1;
  if (length < 1 || length > 4) return name + extension;
  for (std::size_t i = dot + 1; i < name.size(); ++i) {
    const char c = name[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return name + extension;
  }
  return name.substr(0, dot) + extension;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string DroppedOutputName(const std::string& directory, const std::string& droppedPath,
                              const std::string& extension, const std::string& programFolder) {
  const std::string folder = directory.empty() ? programFolder : directory;
  return folder + "/" + WithExtension(FileNameOf(droppedPath), extension);
}

int CompareBytes(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Both present: the file system knows (links and hard links included).
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  // One of them is still to be written: compare the names the writer would create, with the
  // folders' links resolved.
  const fs::path left = fs::weakly_canonical(fs::absolute(a, ec), ec);
  if (ec) return false;
  const fs::path right = fs::weakly_canonical(fs::absolute(b, ec), ec);
  if (ec) return false;
  return left == right;
}

}  // namespace tw
