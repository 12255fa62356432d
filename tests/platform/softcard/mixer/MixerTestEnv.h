#pragma once
// Helpers for tests of the card's mixer: a private state folder per test, short ways to reach
// lines and controls through the mixer calls, and a second process for the cross-process tests.

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/softcard/mixer/MixerApi.h"

extern char** environ;

namespace mixertest {

// Points the mixer at a fresh state folder and the given topology for the life of the object.
class ScopedMixerEnv {
 public:
  explicit ScopedMixerEnv(const std::string& topology = "standard") {
    char pattern[] = "/tmp/tw-mixer-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    root_ = made;
    dir_ = root_ + "/state";
    Use(dir_, topology);
  }
  ~ScopedMixerEnv() {
    ::unsetenv("SOFTCARD_STATE_DIR");
    ::unsetenv("SOFTCARD_TOPOLOGY");
    platform::mixerResetForTesting();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ScopedMixerEnv(const ScopedMixerEnv&) = delete;
  ScopedMixerEnv& operator=(const ScopedMixerEnv&) = delete;

  // Switches to another folder or topology, as a new process started with them would.
  void Use(const std::string& dir, const std::string& topology) {
    ::setenv("SOFTCARD_STATE_DIR", dir.c_str(), 1);
    ::setenv("SOFTCARD_TOPOLOGY", topology.c_str(), 1);
    platform::mixerResetForTesting();
  }
  // Forgets everything in memory and starts again from the state file.
  void Restart() { platform::mixerResetForTesting(); }

  const std::string& root() const { return root_; }
  const std::string& dir() const { return dir_; }
  std::string file() const { return dir_ + "/mixer.state"; }

 private:
  std::string root_;
  std::string dir_;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline platform::HMIXER OpenPlain(platform::UINT device) {
  platform::HMIXER h = 0;
  EXPECT_EQ(platform::mixerOpen(&h, device, 0, 0, platform::CALLBACK_NULL),
            platform::MMSYSERR_NOERROR);
  return h;
}

inline platform::MIXERLINE Destination(platform::HMIXER h, platform::DWORD d) {
  platform::MIXERLINE line;
  line.dwDestination = d;
  EXPECT_EQ(platform::mixerGetLineInfoA(h, &line, platform::MIXER_GETLINEINFOF_DESTINATION),
            platform::MMSYSERR_NOERROR);
  return line;
}

inline platform::MIXERLINE Source(platform::HMIXER h, platform::DWORD d, platform::DWORD s) {
  platform::MIXERLINE line;
  line.dwDestination = d;
  line.dwSource = s;
  EXPECT_EQ(platform::mixerGetLineInfoA(h, &line, platform::MIXER_GETLINEINFOF_SOURCE),
            platform::MMSYSERR_NOERROR);
  return line;
}

inline std::vector<platform::MIXERCONTROL> Controls(platform::HMIXER h,
                                                    const platform::MIXERLINE& line) {
  std::vector<platform::MIXERCONTROL> controls(line.cControls);
  platform::MIXERLINECONTROLS lc;
  lc.dwLineID = line.dwLineID;
  lc.cControls = line.cControls;
  lc.pamxctrl = controls.data();
  EXPECT_EQ(platform::mixerGetLineControlsA(h, &lc, platform::MIXER_GETLINECONTROLSF_ALL),
            platform::MMSYSERR_NOERROR);
  return controls;
}

inline platform::MIXERCONTROL ControlOfType(platform::HMIXER h, const platform::MIXERLINE& line,
                                            platform::DWORD type) {
  for (const auto& c : Controls(h, line)) {
    if (c.dwControlType == type) return c;
  }
  ADD_FAILURE() << "line " << line.szName << " has no control of type " << type;
  return {};
}

// The detail record for the values of control `id`: `channels` x max(1, `items`) of them, in
// `values`.
inline platform::MIXERCONTROLDETAILS ValueDetails(platform::DWORD id, platform::DWORD channels,
                                                  platform::DWORD items, std::int32_t* values) {
  platform::MIXERCONTROLDETAILS d;
  d.dwControlID = id;
  d.cChannels = channels;
  d.cMultipleItems = items;
  d.cbDetails = sizeof(std::int32_t);
  d.paDetails = values;
  return d;
}

// Reads `count` values per channel of control `id` for `channels` channels.
inline std::vector<std::int32_t> Read(platform::HMIXER h, platform::DWORD id,
                                      platform::DWORD channels, platform::DWORD items = 0) {
  std::vector<std::int32_t> values(channels * (items ? items : 1), -7);
  platform::MIXERCONTROLDETAILS d = ValueDetails(id, channels, items, values.data());
  EXPECT_EQ(platform::mixerGetControlDetailsA(h, &d, platform::MIXER_GETCONTROLDETAILSF_VALUE),
            platform::MMSYSERR_NOERROR);
  return values;
}

inline platform::MMRESULT Write(platform::HMIXER h, platform::DWORD id, platform::DWORD channels,
                                std::vector<std::int32_t> values, platform::DWORD items = 0) {
  platform::MIXERCONTROLDETAILS d = ValueDetails(id, channels, items, values.data());
  return platform::mixerSetControlDetails(h, &d, platform::MIXER_SETCONTROLDETAILSF_VALUE);
}

// The first argument with which a test binary is started again as the second process of a
// cross-process test.
inline constexpr char kChildFlag[] = "--mixer-child";

// Starts this test binary again with kChildFlag and `args`; the new process's id, or -1. Mixer
// changes still pending are written out first, as ShellExecuteA does before it starts a program.
inline pid_t StartChild(const std::vector<std::string>& args) {
  platform::mixerFlushState();
  std::vector<std::string> all = {"/proc/self/exe", kChildFlag};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits for a process StartChild started; its exit code, or -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs this test binary as a second process with `args`, to its end; its exit code, or -1.
inline int RunChild(const std::vector<std::string>& args) {
  const pid_t pid = StartChild(args);
  return pid < 0 ? -1 : WaitChild(pid);
}

// The main function of a test binary with a second-process part: started with kChildFlag it runs
// `child` (which sees all the arguments) instead of the tests.
inline int MainWithChild(int argc, char** argv, int (*child)(int, char**)) {
  if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0) return child(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace mixertest
