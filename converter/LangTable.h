#pragma once
// Languages of Tunewisp: the language file "lang.ini" (one language code on its first line) and the
// text tables "en.ini" ... "ru.ini" (line k+1 is entry k of the table of 100 texts).
//
// These are plain file routines; the main window owns the table in memory and shows any failure.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

inline constexpr int kLangTextCount = 100;
using TLangTexts = std::array<std::string, kLangTextCount>;

// The entries of a text table, by what they label or say. The values are positions in the table
// files (line k+1 holds entry k), shared by every language, so they never change.
enum class TextId : int {
  // Main window captions.
  FileSettingsGroup = 1,
  ChannelsGroup = 2,
  RateGroup = 3,
  BitrateGroup = 4,
  StatusGroup = 5,
  StatusAtStart = 6,
  OutputTypeGroup = 7,
  InButton = 8,
  OutButton = 9,
  ConvertListButton = 10,
  AddToListButton = 11,
  ListButton = 12,
  ConvertOneButton = 13,
  SetTimerButton = 14,
  PlayMidiButton = 15,
  MixerSettingsButton = 16,
  UseMidiPresetsBox = 17,
  RestoreAtExitBox = 19,
  OnlineHelpButton = 20,
  WebsiteButton = 22,
  MainTitle = 23,
  // Mixer settings window captions.
  MixerTitle = 24,
  MixerGroup = 25,
  PresetsGroup = 26,
  PresetSaveButton = 27,
  PresetLoadButton = 28,
  MixerResetButton = 29,
  PresetDeleteButton = 30,
  VolumeControlButton = 31,
  MuteSelectLabel = 32,
  NoMuteSelectLabel = 33,
  NoVolumeLabel = 34,
  // Conversion list window captions.
  OutputFolderGroup = 35,
  ListTitle = 36,
  ListRemoveItem = 37,
  ListUseItem = 38,
  ListCopyItem = 39,
  ListPasteItem = 40,
  ListMidiColumn = 41,
  ListFormatColumn = 42,
  ListBitrateColumn = 43,
  ListRateColumn = 44,
  ListChannelsColumn = 45,
  ListInputColumn = 46,
  ListOutputColumn = 47,
  // Record-time window caption.
  RecordTimeLabel = 56,
  // Captions that carry a phase, and messages.
  StatusEncoding = 60,
  ConvertOneEncoding = 61,
  EncodedOrPlayed = 62,  // message: an MP3/Ogg conversion ended, or a playback played to its end
  StatusReady = 63,
  ConvertOneAtRest = 64,
  ConvertListRunning = 65,
  WavOrListDone = 66,  // message: a WAV conversion or a conversion list ended
  PlayMidiAtRest = 67,
  ConvertListAtRest = 68,
  StatusPlaying = 69,
  Stop = 70,
  StatusRecording = 71,
  ListInputMissing = 72,
  ListOutputTooShort = 73,
  // Entries this program added after the numbered captions and messages; a table without them
  // falls back to English.
  BadRecordTime = 74,  // "%1" is the longest record time
  ConversionFailed = 75,
  MidiUnreadable = 76,
  OutputIsInput = 77,
  SecondCopyRuns = 78,
  NoSoundFont = 79,       // no SoundFont is installed: what is missing and how to get it
  TextTableDamaged = 80,  // "%1" is the table that is missing, unreadable or too short
  Mp3No144 = 81,
  SettingsFileUnreadable = 82,  // "%1" is the file
  SettingsLineUnreadable = 83,  // "%1" is the file, "%2" the line
  ListSkipped = 84,             // before the rows a list run could not convert
  ListRowsRefused = 85,         // before the rows the list refused, which would destroy its files
  MidiTooLong = 86,  // "%1" the MIDI file, "%2" the seconds it needs, "%3" the longest recording
  SoundFontMissing = 87,     // "%1" is the SoundFont named, which does not exist
  SoundFontUnloadable = 88,  // "%1" is the SoundFont the synthesiser cannot load
  ListRowStopped = 89,       // why a list row was stopped with nothing written
};

struct LanguageRow {
  const char* item;  // item text of the language combo
  const char* code;  // code in "lang.ini"
  const char* file;  // text table
};

// In the order of the language combo's items: English, French, Dutch, Polish, Russian.
inline constexpr std::array<LanguageRow, 5> kLanguages{{
    {"English", "en", "en.ini"},
    {"Fran\xC3\xA7"
     "ais",
     "fr", "fr.ini"},
    {"Nederlands", "nl", "nl.ini"},
    {"Polski", "pl", "pl.ini"},
    {"Rossiya", "ru", "ru.ini"},
}};

// Combo index 0..4 of a language code compared exactly (case and blanks count), or -1.
int LanguageIndexOfCode(const std::string& code);

// A text table has a line for every entry up to the last one the program always had; a shorter
// one is damaged.
inline constexpr int kTextTableLines = 74;

// The largest text table read: the shipped ones hold a few KiB. A larger file is refused unread.
inline constexpr std::uint64_t kMaxTextTableBytes = 64 * 1024;

// Reads the text table at `path` into `texts`, from entry 0 on, at most 100 lines; entries after
// the file's last line keep their texts. A line ends at LF, CR LF or CR; an end after the last line
// adds no entry. Returns the number of lines read. Throws EInOutError when the file cannot be read
// or is larger than kMaxTextTableBytes, and then `texts` is unchanged.
int LoadTextTable(const std::string& path, TLangTexts& texts);

// The English table built into the program (the shipped "en.ini" as it was when the program was
// built): the texts of the entries that no loaded table has given.
const TLangTexts& BuiltInEnglish();
// Its text, as the build put it in.
const char* BuiltInEnglishTable();

// How much of the language file is read: its first line, up to this many bytes.
inline constexpr std::size_t kMaxLanguageCodeBytes = 64;

// The first line of the language file at `path`, without its line end; a longer first line than
// kMaxLanguageCodeBytes comes back cut there, which names no language. Throws EInOutError when the
// file exists but cannot be read.
std::string ReadLanguageCode(const std::string& path);

// Replaces the language file at `path` with `code` and CR LF. Throws EInOutError on failure, which
// leaves the file as it was.
void WriteLanguageFile(const std::string& path, const std::string& code);

// Reads a whole text file of at most `maxBytes` bytes; throws EInOutError naming the file when it
// cannot be read or is larger (then without reading it).
std::string ReadWholeFile(const std::string& path, std::uint64_t maxBytes);

}  // namespace tw
