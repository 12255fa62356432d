#pragma once
// Tunewisp's main window: output settings, file names, MIDI playback, the record-then-encode
// conversion of one file, the language choice, and the program's start-up, activation, hand-over
// to Knobwarden and exit.
//
// Every handler runs on the GUI thread. Long operations (playback, conversion) run inside their
// click handler and wait with tw::pause, which processes window messages and the sinks' done and
// progress events; a second click (Stop) is therefore handled nested inside the running wait.
//
// The phase of a running playback or conversion is kept in Phase, not only in the buttons'
// captions: relabelling at activation leaves the captions of a running operation alone, and a
// click during a recording always means Stop, whatever the captions say.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "converter/LangTable.h"
#include "converter/Layouts.h"
#include "converter/Toolkit.h"
#include "ui_Unit1.h"

class QCloseEvent;
class QWindow;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  Ui::TForm1 ui;
  TFileDialog OpenDialog1{TFileDialog::Kind::Open};  // MIDI files
  TFileDialog SaveDialog1{TFileDialog::Kind::Save};  // output files, no filter

  // Entries of the text table this program added after the numbered captions and messages; a table
  // without them falls back to English.
  static constexpr int kTextBadRecordTime = 74;  // "%1" is the longest record time
  static constexpr int kTextConversionFailed = 75;
  static constexpr int kTextMidiUnreadable = 76;

  // ---- Text table and languages
  tw::TLangTexts LangTexts;  // entry N is "text N"
  int PendingLanguage = 0;   // 0 none; 1..5 the language to load at the first activation
  QString Text(int n) const;
  void LoadLanguageFile(const QString& FileName);
  void tolang();
  void ChangeLanguage(int Index);
  void ComboBox3Change();

  // ---- Layouts
  void ApplyLayoutEnFr() { ApplyLayout(tw::Layout::EnFr); }
  void ApplyLayoutNl() { ApplyLayout(tw::Layout::Nl); }
  void ApplyLayoutPl() { ApplyLayout(tw::Layout::Pl); }
  void ApplyLayoutRu() { ApplyLayout(tw::Layout::Ru); }
  void ApplyLayout(tw::Layout layout);
  void DumpLayout();
  void Button1Click();

  // ---- Start-up, activation, exit
  void FormCreate();
  void FormActivate();
  void FormClose();
  // 64-bit size of a file, 0 when it cannot be opened.
  static std::uint64_t FileSizeOf(const QString& path);
  // Runs when the window closes, after FormClose (the program entry ends the message loop).
  std::function<void()> OnClosed;

  // ---- MIDI playback over MCI (one device, alias "song")
  int MidiLengthMs = 0;  // length of the MIDI file last measured
  void StartMidi(const QString& path);
  void CloseMidi();
  // Length in ms (also stored in MidiLengthMs); 0 when the file does not exist. Throws
  // tw::EConvertError when the sequencer gives no length. Stops any playback.
  int GetMidiLength(const QString& path);
  // Position in ms of the playback "Play this midi" runs; 0 when it does not run.
  int GetMidiPosition();
  void JvXPButton6Click();  // "Play this midi" / Stop
  // Seconds to record for a MIDI file: the record-time window's value when it holds one, else the
  // file's length in whole seconds plus one. Always measures the length. Throws tw::EConvertError
  // with the refusal text when the record-time window holds a time that is refused.
  int GetRecordTime(const QString& path);

  // ---- Windows the main window shows
  void JvXPButton13Click();  // "Set timer"

  // ---- Web pages
  void JvXPButton8Click();   // "Website"
  void JvXPButton11Click();  // "Online Help"
  static QString WebsitePage();
  static QString HelpPage(int languageIndex);  // empty for no language

  // ---- Mixer presets
  void RevertPresets();
  void restoresound();

  // ---- Phase of the long operations
  enum class Phase { Idle, Playing, Recording, Encoding, Finishing };
  Phase phase() const { return phase_; }
  bool ListRuns() const { return listRunning_; }

  // The program's focus window changed to `window` (null: the program lost the focus to another
  // program). Runs FormActivate when this window becomes the program's active window, coming from
  // another window of the program or a message box, or for the first time.
  void ProgramWindowActivated(QWindow* window);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* LayoutWindow(const char* name);
  // Back to rest after a playback that was stopped or failed.
  void EndPlayback(bool revertPresets);
  // A message from an entry of the table, or the English text when the table lacks it.
  QString TextOr(int n, const char* english) const;
  // Runs a handler; an exception it raises is shown in a message box, as the toolkit's default
  // error box would.
  void Guard(const std::function<void()>& handler);
  void Bind(QPushButton* button, void (TForm1::*handler)());

  Phase phase_ = Phase::Idle;
  bool listRunning_ = false;
  bool firstActivation_ = true;
  QPointer<QWindow> lastActiveWindow_;
};

// The main window of the running program, while it exists.
extern TForm1* Form1;
