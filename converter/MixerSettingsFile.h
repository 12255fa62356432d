#pragma once
// Mixer settings files (".set"): one text line per source line of every destination of every mixer
// device, each line the six tagged fields <A>mixer</A><B>destination</B><C>source line</C>
// <L>left</L><R>right</R><M>mute or selection</M>, ended by CR LF. An empty file is valid.
//
// This unit holds the format, the field reader and the reading rule. It knows no mixer: the reader
// hands each line to a callback, and the writer takes the lines it is given. The mixer walks that
// produce and apply them live with the mixer code (MixerSettings.h).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tw {

struct MixerSettingsLine {
  int A = 0;  // mixer device number
  int B = 0;  // destination index
  int C = 0;  // source-line index
  int L = 0;  // left volume, -1 when none
  int R = 0;  // right volume, -1 when none
  int M = 0;  // mute or selection, -1 when none

  bool operator==(const MixerSettingsLine&) const = default;
};

// The text between the first "<Tag>" and the first "</Tag>" of Line. When the opening tag is
// missing the value starts at the position just after where a tag at the line's start would end;
// when the closing tag is missing or stands before the start, the value is empty.
void getfromstrxml(const std::string& Line, const std::string& Tag, std::string& Value);

// One line of the file, without its line end.
std::string FormatSettingsLine(const MixerSettingsLine& line);

// The fields A, B, C, L, R, M of one line, in that order; throws EConvertError, saying which field
// holds what, at the first field that is not an integer.
MixerSettingsLine ParseSettingsLine(const std::string& line);

// The largest settings file any reader takes. Real ones hold a few dozen lines, under 1 KiB; a
// larger file is refused unread, so that a wrong or damaged file cannot hold a window for minutes.
inline constexpr std::uint64_t kMaxSettingsFileBytes = 64 * 1024;

// The reading rule shared by every reader: reads `path` line by line and calls `apply` for each
// line as soon as it is parsed. Throws EInOutError when the file cannot be opened or is larger than
// kMaxSettingsFileBytes (nothing applied) and EConvertError at a malformed line (the lines before
// it stay applied, the rest is not read); both carry the file, the line number of a malformed line,
// and the reason in their FileFault.
void ApplySettingsFile(const std::string& path,
                       const std::function<void(const MixerSettingsLine&)>& apply);

// Replaces `path` with `lines`, each followed by CR LF. Throws EInOutError when the file cannot be
// created or written; the file is then as it was.
void WriteSettingsFile(const std::string& path, const std::vector<MixerSettingsLine>& lines);

}  // namespace tw
