#pragma once
// Runs another program and waits for it: the command-line tools that tests and benchmarks compare
// with, and the programs that tests start as processes of their own.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace tw_test {

// Starts `args` (args[0] a path, or a name looked up in PATH) with its standard output discarded
// and its errors shown; its process id, or -1 when it could not start.
inline pid_t Start(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits for a process that Start started to end; its wait status.
inline int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Runs `args` as Start does and waits for it; true when it ended with status 0.
inline bool Run(const std::vector<std::string>& args) {
  const pid_t pid = Start(args);
  if (pid < 0) return false;
  const int status = Wait(pid);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tw_test
