#pragma once
// The shell: starting another program and opening documents and web pages, as the programs' calls
// to ShellExecuteA expect.
//
// - A web address (anything with "://", or "mailto:") or a document that is not an executable file
//   opens with the desktop's default handler (xdg-open).
// - A program is started by path. The ".exe" names the programs use map to our executables: when
//   "X.exe" does not exist, "X" is started. "SNDVOL32.EXE" and "control.exe" (the system's mixer
//   program and control panel) map to the card's panel program kPanelProgram in the program's own
//   folder, which gets the parameters as its arguments.
// - `lpDirectory`, when given, is the started program's current folder; otherwise it inherits ours.
// - Nothing waits for the started program. The result is above 32 on success; otherwise it is an
//   error code (also left for GetLastError) and ShellErrorText gives a readable sentence.

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

inline constexpr const char* kPanelProgram = "SoftcardPanel";

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

inline constexpr std::intptr_t SE_ERR_FNF = 2;  // file not found
inline constexpr std::intptr_t SE_ERR_ACCESSDENIED = 5;
inline constexpr std::intptr_t SE_ERR_NOASSOC = 31;  // no handler to open the document with
inline constexpr std::intptr_t SE_ERR_OOM = 8;       // could not start a process

// The file that ShellExecuteA starts for the program `file` on this system: `file` itself, or, for
// an ".exe" name that is no executable file, the name without ".exe". For messages.
std::string ExecutableFor(const std::string& file);

// `hwnd` is the window that asks (a window number, 0 for none); the shell does not use it.
std::intptr_t ShellExecuteA(std::uint32_t hwnd, const char* lpOperation, const char* lpFile,
                            const char* lpParameters, const char* lpDirectory, int nShowCmd);

// The error code of the calling thread's last failed shell call (0 after a success).
std::uint32_t GetLastError();

// A sentence describing a shell error code, for messages.
std::string ShellErrorText(std::uint32_t code);

// What ShellExecuteA decided to do, given to the hook instead of doing it.
struct ShellRequest {
  bool openDocument = false;  // true: xdg-open `target`; false: start the program `target`
  std::string target;         // the page, document or executable
  std::string parameters;
  std::string directory;
  std::uint32_t window = 0;  // the window that asked
};

// `flush` runs before every program or document is started: it writes out what another program
// may read at once (the card's mixer state is written a moment after each change). Null removes it.
void SetBeforeStartHook(void (*flush)());

// Tests install a hook to see what would be started without starting it; the hook's result is
// ShellExecuteA's. An empty function removes the hook.
void SetShellHook(std::function<std::intptr_t(const ShellRequest&)> hook);

}  // namespace platform
