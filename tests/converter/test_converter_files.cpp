// The converter's file formats: text tables, the language file, mixer settings files, the strict
// integer conversion and the layout table.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "converter/Errors.h"
#include "converter/FileNames.h"
#include "converter/LangTable.h"
#include "converter/Layouts.h"
#include "converter/MixerSettingsFile.h"
#include "converter/ProgramFolder.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

using namespace tw;

extern char** environ;

namespace {

std::string Lines(int count, const char* end = "\r\n") {
  std::string s;
  for (int i = 0; i < count; ++i) s += "line" + std::to_string(i) + end;
  return s;
}

std::size_t FilesIn(const tw_test::TempDir& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(dir.Path().string()))
    ++n;
  return n;
}

}  // namespace

TEST(StrToInt, AcceptsSignedDecimalsWithinThirtyTwoBits) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("-1"), -1);
  EXPECT_EQ(StrToInt("+17"), 17);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, RefusesEverythingElseWithTheTextInTheMessage) {
  for (const char* bad : {"", "-", "+", " 1", "1 ", "1a", "0x10", "2147483648", "-2147483649",
                          "99999999999999999999999"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  try {
    StrToInt("12z");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12z' is not a valid integer value");
  }
}

TEST(TextTable, LineKPlusOneIsEntryK) {
  tw_test::TempDir dir;
  dir.Write("t.ini", "zero\r\none\r\n\r\nthree\r\n");
  TLangTexts texts;
  texts.fill("old");
  LoadTextTable((dir / "t.ini"), texts);
  EXPECT_EQ(texts[0], "zero");
  EXPECT_EQ(texts[1], "one");
  EXPECT_EQ(texts[2], "");  // an empty line gives an empty entry
  EXPECT_EQ(texts[3], "three");
  EXPECT_EQ(texts[4], "old");  // entries after the last line keep their texts
  EXPECT_EQ(texts[99], "old");
}

TEST(TextTable, LastLineWithOrWithoutLineEndAndLoneLineFeeds) {
  tw_test::TempDir dir;
  TLangTexts texts;
  texts.fill("old");
  dir.Write("a.ini", "a\nb\nc");
  LoadTextTable((dir / "a.ini"), texts);
  EXPECT_EQ(texts[2], "c");
  EXPECT_EQ(texts[3], "old");

  texts.fill("old");
  dir.Write("b.ini", "a\r\nb\r\n");
  LoadTextTable((dir / "b.ini"), texts);
  EXPECT_EQ(texts[1], "b");
  EXPECT_EQ(texts[2], "old");  // no extra empty entry for the final line end
}

TEST(TextTable, LoadsAtMostOneHundredLines) {
  tw_test::TempDir dir;
  dir.Write("long.ini", Lines(150));
  TLangTexts texts;
  LoadTextTable((dir / "long.ini"), texts);
  EXPECT_EQ(texts[0], "line0");
  EXPECT_EQ(texts[99], "line99");
}

TEST(TextTable, ShorterTableKeepsTheEntriesOfTheLongerOne) {
  tw_test::TempDir dir;
  dir.Write("first.ini", Lines(74));
  dir.Write("second.ini", "x\r\ny\r\n");
  TLangTexts texts;
  LoadTextTable((dir / "first.ini"), texts);
  LoadTextTable((dir / "second.ini"), texts);
  EXPECT_EQ(texts[0], "x");
  EXPECT_EQ(texts[1], "y");
  EXPECT_EQ(texts[2], "line2");
  EXPECT_EQ(texts[73], "line73");
  EXPECT_EQ(texts[74], "");
}

TEST(TextTable, MissingFileThrowsAndChangesNothing) {
  tw_test::TempDir dir;
  TLangTexts texts;
  texts.fill("kept");
  EXPECT_THROW(LoadTextTable((dir / "none.ini"), texts), EInOutError);
  EXPECT_EQ(texts[0], "kept");
}

TEST(TextTable, ShippedTablesHaveTheSameEntriesInEveryLanguage) {
  // The tables live beside the test executable, as beside the program.
  const std::string bin = ProgramFolder();
  std::vector<TLangTexts> tables;
  for (const auto& row : kLanguages) {
    TLangTexts t;
    ASSERT_NO_THROW(LoadTextTable(bin + "/" + row.file, t)) << row.file;
    tables.push_back(t);
  }
  // Every entry a control or a message uses is filled in every language; the unused ones are empty.
  const std::set<int> unused = {0, 18, 21, 48, 49, 50, 51, 52, 53, 54, 55, 57, 58, 59};
  for (std::size_t lang = 0; lang < tables.size(); ++lang) {
    for (int n = 0; n <= 76; ++n) {
      if (unused.count(n))
        EXPECT_EQ(tables[lang][n], "") << kLanguages[lang].file << " entry " << n;
      else
        EXPECT_NE(tables[lang][n], "") << kLanguages[lang].file << " entry " << n;
    }
    // The phase texts must differ from the resting captions they replace.
    EXPECT_NE(tables[lang][70], tables[lang][13]) << kLanguages[lang].file;
    EXPECT_NE(tables[lang][70], tables[lang][15]) << kLanguages[lang].file;
    EXPECT_NE(tables[lang][65], tables[lang][68]) << kLanguages[lang].file;
    EXPECT_NE(tables[lang][74].find("%1"), std::string::npos) << kLanguages[lang].file;
    // The messages added after the numbered ones, with the names they put in.
    for (int n : {77, 78, 81}) EXPECT_NE(tables[lang][n], "") << kLanguages[lang].file << " " << n;
    for (int n : {77, 78}) EXPECT_NE(tables[lang][n].find("%1"), std::string::npos) << n;
  }
  EXPECT_EQ(tables[0][23], "Tunewisp 1.04 v1nl it Orlos midi files !");
  EXPECT_EQ(tables[1][4],
            "D\xC3\xA9"
            "bit");
  EXPECT_EQ(tables[1][65], "Attendez");
}

TEST(LanguageFile, CodesCompareExactly) {
  EXPECT_EQ(LanguageIndexOfCode("en"), 0);
  EXPECT_EQ(LanguageIndexOfCode("fr"), 1);
  EXPECT_EQ(LanguageIndexOfCode("nl"), 2);
  EXPECT_EQ(LanguageIndexOfCode("pl"), 3);
  EXPECT_EQ(LanguageIndexOfCode("ru"), 4);
  EXPECT_EQ(LanguageIndexOfCode("FR"), -1);
  EXPECT_EQ(LanguageIndexOfCode("fr "), -1);
  EXPECT_EQ(LanguageIndexOfCode(""), -1);
}

TEST(LanguageFile, WritesCodeAndLineEndAndReadsOnlyTheFirstLine) {
  tw_test::TempDir dir;
  dir.Write("lang.ini", "old content\r\nmore\r\n");
  WriteLanguageFile((dir / "lang.ini"), "pl");
  EXPECT_EQ(dir.Read("lang.ini"), "pl\r\n");
  dir.Write("lang.ini", "nl\r\nfr\r\n");
  EXPECT_EQ(ReadLanguageCode((dir / "lang.ini")), "nl");
  dir.Write("lang.ini", "fr ");
  EXPECT_EQ(ReadLanguageCode((dir / "lang.ini")), "fr ");
  dir.Write("lang.ini", "");
  EXPECT_EQ(ReadLanguageCode((dir / "lang.ini")), "");
}

TEST(LanguageFile, OnlyTheStartOfItsFirstLineIsRead) {
  tw_test::TempDir dir;
  // A huge file (sparse: nothing on disk) with a good first line.
  dir.Write("lang.ini", "fr\r\n");
  std::filesystem::resize_file((dir / "lang.ini"), std::uintmax_t{1} << 30);
  EXPECT_EQ(ReadLanguageCode((dir / "lang.ini")), "fr");
  // A first line longer than the code may be is cut, and names no language.
  dir.Write("lang.ini", "en" + std::string(200, ' ') + "\r\n");
  const std::string code = ReadLanguageCode((dir / "lang.ini"));
  EXPECT_EQ(code.size(), kMaxLanguageCodeBytes);
  EXPECT_EQ(LanguageIndexOfCode(code), -1);
}

TEST(LanguageFile, UnwritableFileThrows) {
  tw_test::TempDir dir;
  EXPECT_THROW(WriteLanguageFile((dir / "missing-folder/lang.ini"), "en"), EInOutError);
}

TEST(FileReplacement, AFailedWriteLeavesTheOldLanguageAndSettingsFiles) {
  tw_test::TempDir dir;
  const std::string settings = "<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n";
  dir.Write("lang.ini", "fr\r\n");
  dir.Write("default.set", settings);
  {
    FileSizeLimit full(3);
    ASSERT_TRUE(full.ok());
    EXPECT_THROW(WriteLanguageFile((dir / "lang.ini"), "pl"), EInOutError);
    EXPECT_THROW(WriteSettingsFile((dir / "default.set"), {{0, 0, 0, 2, 2, 0}}), EInOutError);
  }
  EXPECT_EQ(dir.Read("lang.ini"), "fr\r\n");
  EXPECT_EQ(dir.Read("default.set"), settings);
  EXPECT_EQ(FilesIn(dir), 2u);  // nothing half-written left beside them
  WriteLanguageFile((dir / "lang.ini"), "pl");
  EXPECT_EQ(dir.Read("lang.ini"), "pl\r\n");
  EXPECT_EQ(FilesIn(dir), 2u);
}

TEST(FileReplacement, AFileWhoseNameFillsTheFileSystemsLimitIsReplaced) {
  tw_test::TempDir dir;
  // 250 characters and ".set": 254 bytes of the 255 a name may have.
  const std::string name = std::string(250, 'p') + ".set";
  WriteSettingsFile((dir / name), {{0, 0, 0, 1, 1, 0}});
  WriteSettingsFile((dir / name), {{0, 0, 0, 2, 2, 0}});
  EXPECT_EQ(dir.Read(name), "<A>0</A><B>0</B><C>0</C><L>2</L><R>2</R><M>0</M>\r\n");
  EXPECT_EQ(FilesIn(dir), 1u);
}

TEST(FileProbe, FindsWhatCannotBeWrittenAndLeavesEveryFileAsItWas) {
  tw_test::TempDir dir;
  std::string why;
  EXPECT_TRUE(CanWriteFile((dir / "new.mp3"), why));
  EXPECT_FALSE(dir.Exists("new.mp3"));  // the probe's own empty file is gone again
  dir.Write("old.ogg", "previous output");
  EXPECT_TRUE(CanWriteFile((dir / "old.ogg"), why));
  EXPECT_EQ(dir.Read("old.ogg"), "previous output");
  EXPECT_FALSE(CanWriteFile((dir / "no/such/folder.mp3"), why));
  EXPECT_FALSE(why.empty());
  std::filesystem::create_directory((dir / "folder.mp3"));
  EXPECT_FALSE(CanWriteFile((dir / "folder.mp3"), why));
  EXPECT_EQ(FilesIn(dir), 2u);
}

TEST(SettingsField, TextBetweenFirstOpeningAndFirstClosingTag) {
  std::string v;
  getfromstrxml("<A>0</A><B>1</B><C>2</C><L>100</L><R>-1</R><M>1</M>", "L", v);
  EXPECT_EQ(v, "100");
  getfromstrxml("<A>0</A><B>1</B><C>2</C><L>100</L><R>-1</R><M>1</M>", "R", v);
  EXPECT_EQ(v, "-1");
  getfromstrxml("<L>5</L><L>9</L>", "L", v);
  EXPECT_EQ(v, "5");  // a second field of the same letter is ignored
}

TEST(SettingsField, MissingOrMisplacedTags) {
  std::string v = "old";
  // Without its opening tag the value runs from the line's third character to the closing tag.
  getfromstrxml("xy123</L>", "L", v);
  EXPECT_EQ(v, "123");
  getfromstrxml("<L>123", "L", v);
  EXPECT_EQ(v, "");
  getfromstrxml("</L>5<L>", "L", v);
  EXPECT_EQ(v, "");
  getfromstrxml("", "A", v);
  EXPECT_EQ(v, "");
  getfromstrxml("<L></L>", "L", v);
  EXPECT_EQ(v, "");
}

TEST(SettingsLine, FormatsAndParsesInAnyFieldOrder) {
  const MixerSettingsLine line{0, 1, 3, 49151, -1, 0};
  EXPECT_EQ(FormatSettingsLine(line), "<A>0</A><B>1</B><C>3</C><L>49151</L><R>-1</R><M>0</M>");
  EXPECT_EQ(ParseSettingsLine(FormatSettingsLine(line)), line);
  EXPECT_EQ(ParseSettingsLine("<M>0</M><R>-1</R><L>49151</L><C>3</C><B>1</B><A>0</A>"), line);
  EXPECT_THROW(ParseSettingsLine("<A>0</A><B>1</B><C>3</C><L>x</L><R>1</R><M>0</M>"),
               EConvertError);
  EXPECT_THROW(ParseSettingsLine("<A>0</A><B>1</B><C>3</C><L>1</L><R>1</R>"), EConvertError);
}

TEST(SettingsFile, WriterAndReaderRoundTrip) {
  tw_test::TempDir dir;
  const std::vector<MixerSettingsLine> lines = {
      {0, 0, 0, 100, 200, 1}, {0, 0, 1, -1, -1, -1}, {0, 1, 0, 65535, 65535, 0}};
  WriteSettingsFile((dir / "p.set"), lines);
  EXPECT_EQ(dir.Read("p.set"),
            "<A>0</A><B>0</B><C>0</C><L>100</L><R>200</R><M>1</M>\r\n"
            "<A>0</A><B>0</B><C>1</C><L>-1</L><R>-1</R><M>-1</M>\r\n"
            "<A>0</A><B>1</B><C>0</C><L>65535</L><R>65535</R><M>0</M>\r\n");
  std::vector<MixerSettingsLine> read;
  ApplySettingsFile((dir / "p.set"), [&](const MixerSettingsLine& l) { read.push_back(l); });
  EXPECT_EQ(read, lines);
}

TEST(SettingsFile, EmptyFileAppliesNothing) {
  tw_test::TempDir dir;
  WriteSettingsFile((dir / "e.set"), {});
  EXPECT_EQ(dir.Read("e.set"), "");
  int calls = 0;
  ApplySettingsFile((dir / "e.set"), [&](const MixerSettingsLine&) { ++calls; });
  EXPECT_EQ(calls, 0);
}

TEST(SettingsFile, BlankLineStopsTheReadingThereAndKeepsWhatWasApplied) {
  tw_test::TempDir dir;
  dir.Write("b.set",
            "<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n"
            "\r\n"
            "<A>0</A><B>0</B><C>1</C><L>2</L><R>2</R><M>0</M>\r\n");
  std::vector<int> applied;
  try {
    ApplySettingsFile((dir / "b.set"), [&](const MixerSettingsLine& l) { applied.push_back(l.L); });
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    // The file, the line and why, for the window's sentence.
    EXPECT_EQ(e.Fault().path, (dir / "b.set"));
    EXPECT_EQ(e.Fault().line, 2);
    EXPECT_EQ(e.Fault().reason, "The <A> field is missing or empty.");
  }
  EXPECT_EQ(applied, std::vector<int>{1});
}

TEST(SettingsFile, LineWithoutFinalLineEndIsRead) {
  tw_test::TempDir dir;
  dir.Write("n.set", "<A>1</A><B>2</B><C>3</C><L>4</L><R>5</R><M>6</M>");
  std::vector<MixerSettingsLine> read;
  ApplySettingsFile((dir / "n.set"), [&](const MixerSettingsLine& l) { read.push_back(l); });
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], (MixerSettingsLine{1, 2, 3, 4, 5, 6}));
}

TEST(SizeLimits, SettingsFilesAndTextTablesOverTheLimitAreRefusedUnread) {
  tw_test::TempDir dir;
  const std::string line = "<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n";
  std::string atLimit;
  int lines = 0;
  for (; atLimit.size() + 2 * line.size() <= kMaxSettingsFileBytes; ++lines) atLimit += line;
  std::string last = line;
  last.insert(last.find("<L>") + 3, kMaxSettingsFileBytes - atLimit.size() - line.size(), '0');
  atLimit += last;
  ++lines;
  ASSERT_EQ(atLimit.size(), kMaxSettingsFileBytes);
  dir.Write("limit.set", atLimit);
  int applied = 0;
  ApplySettingsFile((dir / "limit.set"), [&](const MixerSettingsLine& l) { applied += l.L; });
  EXPECT_EQ(applied, lines);

  // One byte more: refused with the file and the reason, nothing applied.
  dir.Write("over.set", atLimit + "\n");
  applied = 0;
  try {
    ApplySettingsFile((dir / "over.set"), [&](const MixerSettingsLine&) { ++applied; });
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Fault().path, (dir / "over.set"));
    EXPECT_NE(e.Fault().reason.find("64 KiB"), std::string::npos) << e.Fault().reason;
  }
  EXPECT_EQ(applied, 0);

  TLangTexts texts;
  texts.fill("before");
  dir.Write("full.ini", std::string(kMaxTextTableBytes, 'x'));
  EXPECT_EQ(LoadTextTable((dir / "full.ini"), texts), 1);
  texts.fill("before");
  dir.Write("over.ini", "x\r\n" + std::string(kMaxTextTableBytes, 'x'));
  EXPECT_THROW(LoadTextTable((dir / "over.ini"), texts), EInOutError);
  EXPECT_EQ(texts[0], "before");
}

TEST(SettingsFile, MissingFileAndUncreatableFileThrow) {
  tw_test::TempDir dir;
  EXPECT_THROW(ApplySettingsFile((dir / "none.set"), [](const MixerSettingsLine&) {}), EInOutError);
  try {
    ApplySettingsFile(dir.Path().string(), [](const MixerSettingsLine&) {});
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Fault().path, dir.Path().string());
    EXPECT_EQ(e.Fault().line, 0);
    EXPECT_EQ(e.Fault().reason, "It is a folder or a device, not a file.");
  }
  EXPECT_THROW(WriteSettingsFile((dir / "no/such/folder.set"), {}), EInOutError);
}

TEST(FileNames, ExtensionOfTheFileNameIsReplacedOrOneAdded) {
  // The names the output-type buttons have always changed alike.
  for (const char* old : {".wav", ".mp3", ".ogg", ".mid"})
    EXPECT_EQ(WithExtension(std::string("/m/song") + old, ".ogg"), "/m/song.ogg") << old;
  EXPECT_EQ(WithExtension("", ".wav"), ".wav");
  EXPECT_EQ(WithExtension(".mp3", ".wav"), ".wav");
  EXPECT_EQ(WithExtension("abc", ".mp3"), "abc.mp3");
  // One to four letters or digits after the last dot of the file name.
  EXPECT_EQ(WithExtension("song.midi", ".mp3"), "song.mp3");
  EXPECT_EQ(WithExtension("a.b.M4A", ".mp3"), "a.b.mp3");
  EXPECT_EQ(WithExtension("take.7", ".wav"), "take.wav");
  // No extension: the name stays whole.
  EXPECT_EQ(WithExtension("/music/out", ".mp3"), "/music/out.mp3");
  EXPECT_EQ(WithExtension("/my.music/out", ".mp3"), "/my.music/out.mp3");
  EXPECT_EQ(WithExtension("Track 1. Intro", ".mp3"), "Track 1. Intro.mp3");
  EXPECT_EQ(WithExtension("song.flac5", ".ogg"), "song.flac5.ogg");
  EXPECT_EQ(WithExtension("song.", ".ogg"), "song..ogg");
  EXPECT_EQ(WithExtension("song.m-3", ".ogg"), "song.m-3.ogg");
}

TEST(FileNames, DroppedFilesGoToTheOutputFolderUnderTheirOwnName) {
  EXPECT_EQ(DroppedOutputName("/out", "/in/song.mid", ".wav", "/prog"), "/out/song.wav");
  // Names of one or two characters, a folder, a long extension, a Windows-style path.
  EXPECT_EQ(DroppedOutputName("/out", "/in/a", ".mp3", "/prog"), "/out/a.mp3");
  EXPECT_EQ(DroppedOutputName("/out", "/in/ab", ".mp3", "/prog"), "/out/ab.mp3");
  EXPECT_EQ(DroppedOutputName("/out", "/in/songs.d", ".ogg", "/prog"), "/out/songs.ogg");
  EXPECT_EQ(DroppedOutputName("/out", "/in/song.midi", ".ogg", "/prog"), "/out/song.ogg");
  EXPECT_EQ(DroppedOutputName("/out", "C:\\in\\x.kar", ".wav", "/prog"), "/out/x.wav");
  // No output folder: the program folder, never the root.
  EXPECT_EQ(DroppedOutputName("", "/in/song.mid", ".wav", "/prog"), "/prog/song.wav");
}

TEST(FileNames, TextsCompareByteByByte) {
  EXPECT_EQ(CompareBytes("112", "16"), -1);
  EXPECT_EQ(CompareBytes("16", "8"), -1);
  EXPECT_EQ(CompareBytes("-", "0"), -1);
  EXPECT_EQ(CompareBytes("ab", "abc"), -1);
  EXPECT_EQ(CompareBytes("abc", "abc"), 0);
  EXPECT_EQ(CompareBytes("b", "B"), 1);
  // Bytes above 127 sort after every ASCII byte.
  EXPECT_EQ(CompareBytes("\xC3\xA9", "z"), 1);
}

TEST(FileNames, SameFileThroughAnySpellingOrLink) {
  tw_test::TempDir dir;
  dir.Write("song.mid", "x");
  const std::string song = (dir / "song.mid");
  EXPECT_TRUE(SameFile(song, song));
  EXPECT_TRUE(SameFile(song, dir.Path().string() + "/./song.mid"));
  std::filesystem::create_symlink(song, (dir / "link.mid"));
  EXPECT_TRUE(SameFile((dir / "link.mid"), song));
  std::filesystem::create_hard_link(song, (dir / "hard.mid"));
  EXPECT_TRUE(SameFile((dir / "hard.mid"), song));
  dir.Write("other.mid", "x");
  EXPECT_FALSE(SameFile((dir / "other.mid"), song));
  // A file still to be written.
  EXPECT_TRUE(SameFile((dir / "temp.wav"), dir.Path().string() + "/sub/../temp.wav"));
  EXPECT_FALSE(SameFile((dir / "temp.wav"), (dir / "temp.wav.mp3")));
  const auto oldFolder = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path().string());
  EXPECT_TRUE(SameFile("song.mid", song));
  EXPECT_TRUE(SameFile("temp.wav", (dir / "temp.wav")));
  std::filesystem::current_path(oldFolder);
  // A link to a file still to be written; a chain of links whose relative targets start from each
  // link's folder: other/first.wav -> sub/next.wav -> new.wav.
  std::filesystem::create_symlink((dir / "new.wav"), (dir / "dangling.wav"));
  EXPECT_TRUE(SameFile((dir / "dangling.wav"), (dir / "new.wav")));
  for (const char* folder : {"sub", "other"}) std::filesystem::create_directory(dir / folder);
  std::filesystem::create_symlink("../new.wav", (dir / "sub/next.wav"));
  std::filesystem::create_symlink("../sub/next.wav", (dir / "other/first.wav"));
  EXPECT_TRUE(SameFile((dir / "other/first.wav"), (dir / "new.wav")));
  // The list refuses a row writing through such a link to another row's output, taking nothing.
  ListFiles files;
  EXPECT_TRUE(files.Admit((dir / "a.mid"), (dir / "new.wav")));
  EXPECT_FALSE(files.Admit((dir / "b.mid"), (dir / "other/first.wav")));
  EXPECT_TRUE(files.Admit((dir / "c.mid"), (dir / "b.mid")));
}

TEST(ProgramFolderLock, OneProcessAtATimeHoldsAFolder) {
  tw_test::TempDir dir, otherDir;
  int fromChild[2], toChild[2];
  ASSERT_EQ(pipe(fromChild), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The first copy: holds the folder until the test lets it end.
    TProgramFolderLock lock(dir.Path().string());
    const char held = lock.Held() ? 'y' : 'n';
    char go = 0;
    if (write(fromChild[1], &held, 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(2);
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(fromChild[0], &held, 1), 1);
  EXPECT_EQ(held, 'y');
  {
    TProgramFolderLock second(dir.Path().string());
    EXPECT_FALSE(second.Held());
    TProgramFolderLock elsewhere(otherDir.Path().string());
    EXPECT_TRUE(elsewhere.Held());
  }
  ASSERT_EQ(write(toChild[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Once the first copy has ended, the folder is free again.
  TProgramFolderLock after(dir.Path().string());
  EXPECT_TRUE(after.Held());
  for (int fd : {fromChild[0], fromChild[1], toChild[0], toChild[1]}) close(fd);
}

TEST(ProgramFolderLock, ProgramsTheHolderStartsDoNotKeepTheFolder) {
  tw_test::TempDir dir;
  pid_t started = 0;
  {
    TProgramFolderLock lock(dir.Path().string());
    ASSERT_TRUE(lock.Held());
    char sleep[] = "sleep", seconds[] = "30";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(posix_spawnp(&started, "sleep", nullptr, nullptr, argv, environ), 0);
  }
  // The holder has ended its hold while the program it started still runs (as the wizard does
  // after the hand-over): the next copy gets the folder.
  TProgramFolderLock next(dir.Path().string());
  EXPECT_TRUE(next.Held());
  kill(started, SIGKILL);
  waitpid(started, nullptr, 0);
}

TEST(LayoutTable, SeventyThreeControlsAndTheDesignedDifferences) {
  ASSERT_EQ(kLayoutRows.size(), 73u);
  EXPECT_STREQ(kLayoutRows.front().control, "Bevel1");
  EXPECT_EQ(kLayoutRows.front().byLayout[0], (Geometry{137, 224, 184, 233}));
  EXPECT_STREQ(kLayoutRows.back().window, "Form7");
  EXPECT_STREQ(kLayoutRows.back().control, "Label6");
  // Count the (control, property) pairs whose value differs between the layouts.
  int differing = 0;
  for (const auto& row : kLayoutRows) {
    const auto& g = row.byLayout;
    auto differs = [&](int Geometry::*p) {
      return g[1].*p != g[0].*p || g[2].*p != g[0].*p || g[3].*p != g[0].*p;
    };
    differing += differs(&Geometry::height) + differs(&Geometry::left) + differs(&Geometry::top) +
                 differs(&Geometry::width);
  }
  EXPECT_EQ(differing, 65);
  auto find = [](const char* window, const char* control) {
    for (const auto& row : kLayoutRows)
      if (std::string(row.window) == window && std::string(row.control) == control) return row;
    ADD_FAILURE() << control;
    return kLayoutRows[0];
  };
  EXPECT_EQ(find("Form1", "Image3").byLayout[int(Layout::Nl)].top, -8);
  EXPECT_EQ(find("Form1", "JvXPButton4").byLayout[int(Layout::Ru)], (Geometry{21, 128, 17, 49}));
  EXPECT_EQ(find("Form3", "JvXPButton3").byLayout[int(Layout::Ru)], (Geometry{33, 8, 128, 145}));
  EXPECT_EQ(LayoutOfLanguage(0), Layout::EnFr);
  EXPECT_EQ(LayoutOfLanguage(1), Layout::EnFr);
  EXPECT_EQ(LayoutOfLanguage(2), Layout::Nl);
  EXPECT_EQ(LayoutOfLanguage(3), Layout::Pl);
  EXPECT_EQ(LayoutOfLanguage(4), Layout::Ru);
}

TEST(ProgramFolder, OverrideAndFiles) {
  const std::string own = ProgramFolder();
  EXPECT_TRUE(FileExists(own + "/en.ini"));
  SetProgramFolder("/tmp/some/where/");
  EXPECT_EQ(ProgramFolder(), "/tmp/some/where");
  EXPECT_EQ(ProgramFile("lang.ini"), "/tmp/some/where/lang.ini");
  SetProgramFolder("");
  EXPECT_EQ(ProgramFolder(), own);
}
