#pragma once
// MCI command strings: the programs open a MIDI or WAV file under an alias, play, stop and close
// it, and ask its length and position in milliseconds of card time.
//
// Understood (keywords and aliases in any case, words separated by blanks):
//   open <path> alias <name>      the path is everything between "open " and the last " alias ",
//                                 blanks and double quotes included, so any file name works;
//                                 .mid, .midi and .rmi open the sequencer, .wav the wave player;
//                                 the sequencer refuses to open while the synthesiser has no
//                                 SoundFont, rather than play silence
//   play <name>                   starts or resumes; returns at once
//   stop <name>                   pauses, keeping the position; the synthesiser falls silent
//   close <name>                  stops and forgets the device
//   set <name> time format ms     (or "milliseconds", the only time format there is)
//   status <name> length          decimal milliseconds into the reply
//   status <name> position        decimal milliseconds into the reply
// Anything else, an unknown alias, a missing or damaged file: a non-zero MCIERR_ code and an empty
// reply. The devices play on the process's virtual sound card (platform/softcard/Softcard.h).
// Callable from any thread; the programs call it from their GUI thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

using MCIERROR = std::uint32_t;

inline constexpr MCIERROR MCIERR_BASE = 256;
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = 257;  // unknown first word
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_KEYWORD = 258;  // unknown or extra word
inline constexpr MCIERROR MCIERR_MISSING_COMMAND_STRING = 259;
inline constexpr MCIERROR MCIERR_MISSING_PARAMETER = 260;
inline constexpr MCIERROR MCIERR_MISSING_DEVICE_NAME = 261;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = 262;  // no device open under that alias
inline constexpr MCIERROR MCIERR_DUPLICATE_ALIAS = 263;
inline constexpr MCIERROR MCIERR_EXTENSION_NOT_FOUND = 264;  // no device for that file type
inline constexpr MCIERROR MCIERR_FILE_NOT_FOUND = 265;
inline constexpr MCIERROR MCIERR_FILE_READ = 266;
inline constexpr MCIERROR MCIERR_INVALID_FILE = 267;  // not a MIDI or WAV file, or damaged
inline constexpr MCIERROR MCIERR_UNSUPPORTED_FORMAT = 268;
inline constexpr MCIERROR MCIERR_OUT_OF_MEMORY = 269;  // file too large to hold
inline constexpr MCIERROR MCIERR_BAD_TIME_FORMAT = 270;
inline constexpr MCIERROR MCIERR_PARAM_OVERFLOW = 271;  // the reply does not fit the buffer
// What WAV writers return when a wave image cannot be saved; programs compare against 286.
inline constexpr MCIERROR MCIERR_FILE_NOT_SAVED = 286;
// The sequencer has nothing to play MIDI on: the synthesiser has no SoundFont.
inline constexpr MCIERROR MCIERR_SEQ_NOMIDIPRESENT = 343;

// Runs one command. `returnString` (returnLength chars, may be null when 0) receives the reply,
// NUL-terminated; it is left empty on failure. The callback window is not used: nothing notifies.
MCIERROR mciSendStringA(const char* command, char* returnString, std::uint32_t returnLength,
                        void* hwndCallback);

// Tests watch the commands sent: `watch` gets each command string before it runs, on the thread
// that sends it. An empty function ends the watch.
void SetMciObserver(std::function<void(std::string_view)> watch);

// Our file names have no short form: copies longPath (with its NUL) into shortPath when it fits and
// returns its length; returns the size needed (with the NUL) when it does not fit; returns 0 when
// longPath is null or names no existing file or folder.
std::uint32_t GetShortPathNameA(const char* longPath, char* shortPath, std::uint32_t bufferLength);

namespace mci {

// A command string taken apart.
struct Command {
  enum class Verb { Open, Play, Stop, Close, SetTimeFormat, StatusLength, StatusPosition };
  MCIERROR error = 0;  // non-zero: the string is not a command this layer understands
  Verb verb = Verb::Open;
  std::string alias;  // lower case
  std::string path;   // open only
};

Command ParseCommand(std::string_view text);

}  // namespace mci
}  // namespace platform
