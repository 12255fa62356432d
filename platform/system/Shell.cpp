#include "platform/system/Shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

extern char** environ;

namespace platform {
namespace {

thread_local std::uint32_t lastError = 0;

std::mutex hookMutex;  // guards shellHook and beforeStart
std::function<std::intptr_t(const ShellRequest&)> shellHook;
void (*beforeStart)() = nullptr;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == suffix;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExecutableFile(const std::string& path) {
  return IsRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string OwnFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, static_cast<std::size_t>(n));
  const auto slash = exe.find_last_of('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

// Searches PATH for a program name without a slash.
std::string FindInPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

std::vector<std::string> SplitParameters(const std::string& params) {
  std::vector<std::string> out;
  std::istringstream in(params);
  std::string word;
  while (in >> word) out.push_back(word);
  return out;
}

// Decides what a call means. Returns 0 on success or an SE_ERR code.
std::intptr_t Resolve(const std::string& file, const std::string& params,
                      const std::string& directory, ShellRequest& request) {
  request.parameters = params;
  request.directory = directory;
  const std::string lower = Lower(file);
  if (file.find("://") != std::string::npos || lower.rfind("mailto:", 0) == 0) {
    request.openDocument = true;
    request.target = file;
    return 0;
  }
  const std::string base = Lower(BaseName(file));
  if (base == "sndvol32.exe" || base == "control.exe") {
    request.target = OwnFolder() + "/" + kPanelProgram;
    return IsExecutableFile(request.target) ? 0 : SE_ERR_FNF;
  }
  // A relative name is looked up in the starting folder, as the system does.
  std::string path = file;
  if (!path.empty() && path[0] != '/' && !directory.empty() && file.find('/') != std::string::npos)
    path = directory + "/" + path;
  if (IsExecutableFile(path)) {
    request.target = path;
    return 0;
  }
  if (EndsWithNoCase(path, ".exe")) {
    const std::string stripped = ExecutableFor(path);
    const std::string found =
        stripped.find('/') == std::string::npos ? FindInPath(stripped) : stripped;
    if (!found.empty() && IsExecutableFile(found)) {
      request.target = found;
      return 0;
    }
    return SE_ERR_FNF;
  }
  if (IsRegularFile(path)) {
    request.openDocument = true;
    request.target = path;
    return 0;
  }
  return SE_ERR_FNF;
}

// Starts argv detached: through "sh -c '"$@" &'" so that the program is not our child and leaves no
// zombie; we only wait for the short-lived shell.
std::intptr_t Spawn(const std::vector<std::string>& argv, const std::string& directory) {
  std::vector<std::string> args = {"sh", "-c", "\"$@\" </dev/null >/dev/null 2>&1 &", "sh"};
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // A signal this program ignores stays ignored across exec: the program started gets the default
  // action of the file-size signal back, as a shell would start it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attributes, cargs.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return rc == ENOENT ? SE_ERR_FNF : SE_ERR_OOM;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return SE_ERR_FNF;  // e.g. bad directory
  return 0;
}

}  // namespace

std::intptr_t ShellExecuteA(std::uint32_t hwnd, const char* /*lpOperation*/, const char* lpFile,
                            const char* lpParameters, const char* lpDirectory, int /*nShowCmd*/) {
  const std::string file = lpFile ? lpFile : "";
  const std::string params = lpParameters ? lpParameters : "";
  const std::string directory = lpDirectory ? lpDirectory : "";
  ShellRequest request;
  request.window = hwnd;
  std::intptr_t error = file.empty() ? SE_ERR_FNF : Resolve(file, params, directory, request);

  std::function<std::intptr_t(const ShellRequest&)> hook;
  void (*flush)() = nullptr;
  {
    std::lock_guard lock(hookMutex);
    hook = shellHook;
    flush = beforeStart;
  }
  if (error == 0) {
    // The program started may read at once what this one has just changed.
    if (flush) flush();
    if (hook) {
      const std::intptr_t result = hook(request);
      lastError = result > 32 ? 0 : static_cast<std::uint32_t>(result);
      return result;
    }
    std::vector<std::string> argv;
    if (request.openDocument) {
      const std::string opener = FindInPath("xdg-open");
      if (opener.empty()) {
        error = SE_ERR_NOASSOC;
      } else {
        argv = {opener, request.target};
      }
    } else {
      argv.push_back(request.target);
      for (auto& p : SplitParameters(params)) argv.push_back(p);
    }
    if (error == 0) error = Spawn(argv, directory);
  }
  lastError = static_cast<std::uint32_t>(error);
  return error == 0 ? 42 : error;
}

std::string ExecutableFor(const std::string& file) {
  if (!EndsWithNoCase(file, ".exe") || IsExecutableFile(file)) return file;
  return file.substr(0, file.size() - 4);
}

std::uint32_t GetLastError() { return lastError; }

std::string ShellErrorText(std::uint32_t code) {
  switch (code) {
    case 0:
      return "The operation completed successfully.";
    case SE_ERR_FNF:
      return "The system cannot find the file specified.";
    case SE_ERR_ACCESSDENIED:
      return "Access is denied.";
    case SE_ERR_NOASSOC:
      return "No program is associated with this file for this operation.";
    case SE_ERR_OOM:
      return "Not enough resources are available to start the program.";
    default:
      return "The program could not be started (error " + std::to_string(code) + ").";
  }
}

void SetBeforeStartHook(void (*flush)()) {
  std::lock_guard lock(hookMutex);
  beforeStart = flush;
}

void SetShellHook(std::function<std::intptr_t(const ShellRequest&)> hook) {
  std::lock_guard lock(hookMutex);
  shellHook = std::move(hook);
}

}  // namespace platform
