#pragma once
// Languages of Tunewisp: the language file "lang.ini" (one language code on its first line) and the
// text tables "en.ini" ... "ru.ini" (line k+1 is entry k of the table of 100 texts).
//
// These are plain file routines; the main window owns the table in memory and shows any failure.

#include <array>
#include <string>

namespace tw {

inline constexpr int kLangTextCount = 100;
using TLangTexts = std::array<std::string, kLangTextCount>;

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

// Reads the text table at `path` into `texts`, from entry 0 on, at most 100 lines; entries after
// the file's last line keep their texts. A line ends at LF, CR LF or CR; an end after the last line
// adds no entry. Throws EInOutError when the file cannot be read, and then `texts` is unchanged.
void LoadTextTable(const std::string& path, TLangTexts& texts);

// The first line of the language file at `path`, without its line end. Throws EInOutError when the
// file exists but cannot be read.
std::string ReadLanguageCode(const std::string& path);

// Replaces the language file at `path` with `code` and CR LF. Throws EInOutError on failure.
void WriteLanguageFile(const std::string& path, const std::string& code);

// Reads a whole text file; throws EInOutError naming the file when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace tw
