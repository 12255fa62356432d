#pragma once
// Tunewisp's main window: output settings, file names, MIDI playback, the record-then-encode
// conversion of one file, the language choice, and the program's start-up, activation, hand-over
// to Knobwarden and exit.
//
// Every handler runs on the GUI thread. Long operations (playback, conversion) run inside their
// click handler and wait with tw::pause, which processes window messages and the sinks' done and
// progress events; a second click (Stop) is therefore handled nested inside the running wait.
//
// The window's state is the phase of the running playback or conversion and whether a conversion
// list runs. Stabilize() derives every enabled state and every caption that carries a phase from
// that state; a handler changes the state and calls it, and sets no enabled state itself. So a
// relabelling at activation leaves the captions of a running operation alone, and a click during a
// recording always means Stop, whatever the captions say.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "converter/FileNames.h"
#include "converter/LangTable.h"
#include "converter/Layouts.h"
#include "converter/OutputFile.h"
#include "converter/VolumeSnapshot.h"
#include "platform/runtime/Component.h"
#include "ui_Unit1.h"
#include "widgets/Toolkit.h"

class QCloseEvent;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QShowEvent;
class QWindow;
namespace platform::softcard {
struct SoundFontStatus;
}
class TAudioIn;
class TACSFileOut;
class TAudioMixer;
class TMP3Out;
class TRateConverter;
class TSampleConverter;
class TSoundIndicator;
class TVorbisOut;
class TWaveIn;
class TWaveOut;

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

 private:
  // Owns the window's components and destroys them with the window, last created first.
  platform::TComponent components_{nullptr};

 public:
  // The audio components, created and wired in the constructor: capture -> indicator -> WAV writer
  // records; WAV reader -> MP3 or Ogg Vorbis writer encodes. Owned by components_.
  TAudioIn* AudioIn1 = nullptr;
  TSoundIndicator* SoundIndicator1 = nullptr;
  TWaveOut* WaveOut1 = nullptr;
  TWaveIn* WaveIn1 = nullptr;
  TMP3Out* MP3Out1 = nullptr;
  TVorbisOut* VorbisOut1 = nullptr;
  TSampleConverter* SampleConverter1 = nullptr;  // part of the window; no handler uses them
  TRateConverter* RateConverter1 = nullptr;
  TAudioMixer* Mixer = nullptr;  // the program's mixer, device 0 at start

  // ---- Text table and languages
  tw::TLangTexts LangTexts;
  int PendingLanguage = 0;  // 0 none; 1..5 the language to load at the first activation
  // The entry of the table; the built-in English text for an entry no loaded table has given.
  QString Text(tw::TextId entry) const;
  // Loads a text table over the entries it has lines for. A table that cannot be read throws
  // EInOutError with text entry 80, naming it; one shorter than a table must be is loaded all the
  // same, and entry 80 is shown.
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

  // The window's handle, for the platform calls that name the window asking.
  std::uint32_t Handle();
  // The longest record time, in seconds, that the capture takes in the format set now.
  int LongestRecordTime() const;
  // A failure concerning a file, as the user reads it: `text` with the quoted file for %1 and the
  // line for %2, in the user's language (`english` when the table lacks it), then the reason. A
  // failure that names no file gives its own sentence.
  QString FileMessage(const std::exception& e, tw::TextId text, const char* english) const;
  // A mixer settings file that could not be read or applied, with its line when one is at fault.
  QString SettingsFileMessage(const std::exception& e) const;
  // A MIDI file the sequencer cannot play.
  QString MidiMessage(const std::exception& e) const;
  // Why the synthesiser cannot play MIDI files: no SoundFont installed, the SoundFont named does
  // not exist, or the one found cannot be loaded (empty when one is loaded).
  QString SoundFontMessage(const platform::softcard::SoundFontStatus& status) const;
  // What a second copy of the program in the same folder says before it ends, in the language of
  // the language file (no window exists then).
  static QString SecondCopyMessage();

  // ---- Start-up, activation, exit
  void FormCreate();
  void FormActivate();
  void FormClose();
  // 64-bit size of a file, 0 when it cannot be opened.
  static std::uint64_t FileSizeOf(const QString& path);
  // Runs when the window closes, after FormClose (the program entry ends the message loop).
  std::function<void()> OnClosed;
  // The process ends without a close (the display has gone): the mixer gets the user's volumes
  // back where the close would give them back, and nothing else of the close runs.
  void GiveMixerBackAtExit();

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
  // file's length in whole seconds plus one. Always measures the length. Throws ERecordTimeRefused
  // with the refusal text when the record-time window holds a time that is refused, and with the
  // file's length and the limit when the file is longer than the longest recording in the format
  // set now.
  int GetRecordTime(const QString& path);

  // ---- Output settings
  void WavClick();
  void Mp3Click();
  void OggClick();
  void RadioButton4Click();  // first rate
  void RadioButton5Click();  // second rate
  void RadioButton6Click();  // third rate (44100 Hz)
  void RadioButton3Click();  // mono
  void RadioButton7Click();  // stereo
  void hange();              // MP3 bit rate chosen
  void ComboBox2Change();    // Ogg Vorbis bit rate chosen
  void JvXPButton4Click();   // "In"
  void JvXPButton5Click();   // "Out"

  // ---- Converting one file
  // The temporary recording of MP3 and Ogg Vorbis conversions, in the program folder.
  static QString TempWavPath();
  void JvXPButton7Click();  // "Convert one" / Stop
  // Runs a whole conversion and returns when every sink is idle; during a recording, stops it.
  void trucc();
  void WaitOutputsIdle();
  void Button6Click();  // the MP3 encoder step
  void Button7Click();  // the Ogg Vorbis encoder step
  void WaveOut1Done(platform::TComponent* Sender);
  void MP3Out1Done(platform::TComponent* Sender);
  void VorbisOut1Done(platform::TComponent* Sender);
  void WaveOut1Progress(platform::TComponent* Sender);
  void MP3Out1Progress(platform::TComponent* Sender);
  void VorbisOut1Progress(platform::TComponent* Sender);
  // OnThreadException of the three writers: any thread.
  void OutputFailed(platform::TComponent* Sender, const std::exception& E);

  // ---- Windows the main window shows
  void JvXPButton13Click();  // "Set timer"
  void JvXPButton3Click();   // "Mixer's settings"

  // ---- Conversion list (its rows are Form4's ListView1)
  void JvXPButton12Click();  // "List"
  void JvXPButton1Click();   // "Add to list"
  void JvXPButton2Click();   // "Convert list"
  // Append sub-items 0 to 3 of a row (type, bit rate, rate, channels) from the settings shown.
  void AddWavColumns(QStringList& row) const;
  void AddMp3Columns(QStringList& row) const;
  void AddOggColumns(QStringList& row) const;
  // A row for the input and output names shown.
  void AddCurrentToList();
  // Widens the columns that the newest row's texts need.
  void ResizeListColumns();
  void adresizescroll(int a);
  // Files dropped on this window or the list window: one row each, in the drop's order, except the
  // rows the list refuses (ListRowFiles), which one message names.
  void WMDropFiles(const QStringList& paths);
  // "Use this one": list row `row` becomes the settings and names of this window.
  void UseListRow(int row);

  // ---- Web pages
  void JvXPButton8Click();   // "Website"
  void JvXPButton11Click();  // "Online Help"
  static QString WebsitePage();
  static QString HelpPage(int languageIndex);  // empty for no language

  // ---- Mixer presets
  void pdefsav();        // applies "default.set" to Mixer
  void ApplyPresets();   // before a playback or recording when "Use Midi presets" is checked
  void RevertPresets();  // after it: the volumes recorded at start-up come back
  // Writes the volume snapshot back to every mixer line; the mixer settings window then shows its
  // line as it now is.
  void restoresound();
  // Click of "restore sound settings at exit": checking it takes the snapshot again.
  void JvXPCheckbox1Click();
  // The user's mixer state, taken by the mixer settings window at its creation and on its "R",
  // and when "restore sound settings at exit" is checked.
  tw::TVolumeSnapshot Snapshot;

  // ---- State of the window
  // Idle: at rest. Playing: "Play this midi" plays. Recording: a conversion records (a click on
  // "Convert one" stops it). Encoding: the recording is being encoded to MP3 or Ogg Vorbis.
  // Finishing: the recording was stopped or the output is complete; the converting click has still
  // to close the MIDI and put the mixer back.
  enum class Phase { Idle, Playing, Recording, Encoding, Finishing };
  Phase phase() const { return phase_; }
  bool ListRuns() const { return listRunning_; }
  // The conversion list starts or ends its run.
  void SetListRuns(bool runs);
  // Sets the enabled states of the window's controls, and the captions that carry a phase, from
  // the phase and the list run.
  void Stabilize();

  // The program's focus window changed to `window` (null: the program lost the focus to another
  // program). Runs FormActivate when this window becomes the program's active window, coming from
  // another window of the program or a message box, or for the first time.
  void ProgramWindowActivated(QWindow* window);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Notes the time of each mouse press on "Convert one" and "Play this midi".
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The first showing is the first activation, whether or not the desktop gives the window the
  // focus.
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QWidget* LayoutWindow(const char* name);
  // Draws every window that a layout places with its controls whole (widgets/WholeControls.h).
  void DrawWindowsWhole();
  // Mixer back on the device the mixer settings window shows (or on `device` without that window)
  // after a walk over several devices.
  void ReturnMixer(int device);
  // Back to rest after a playback that was stopped or failed.
  void EndPlayback(bool revertPresets);
  void CreateComponents();
  void ReplaceExtension(const QString& extension);
  void LimitMp3AtMost160();
  void LimitMp3AtLeast32();
  // "144" chosen at the second or third rate becomes "160"; true when it did.
  bool LimitMp3Not144();
  void SetOggIndex(int index);
  // At the third rate in mono, at most "224" ("Auto" stays).
  void LimitOggMono44100();
  // Sub-items 0 to 3 of a row for the output type that is checked.
  void AddListColumns(QStringList& row) const;
  // Appends a row: caption, the settings shown, input and output names.
  void AddListRow(const QString& input, const QString& output);
  // The files the list's rows, and the row a list run converts, read and write: a new row that
  // would write over one of them or read one they write is refused.
  tw::ListFiles ListRowFiles() const;
  // The message naming the rows refused, each as "input -> output".
  void ShowRefusedRows(const QStringList& refused);
  QString runRowInput_, runRowOutput_;  // the row a list run converts, taken off the list
  // Puts a row's sub-items back into the settings controls, through their handlers, and its names
  // into the two edits. A list run sets the MP3 bit-rate list to its first item before the rate,
  // "Use this one" after it.
  enum class RowLoad { ForRun, ForUse };
  void LoadListRow(const QStringList& subItems, RowLoad how);
  // Checks the channel button of a row's "Mono" or "Stereo".
  void CheckChannels(const QString& channels);
  // The second click of "Convert one", nested inside the first one's wait, which waits there until
  // the output is complete; a close does not wait (the converting click's wait finishes it).
  void StopRecording(bool waitForOutput = true);
  // A playback or conversion that shows its phase `running` waits here for the card's synthesiser
  // (the first one of a session, while the SoundFont loads), or until it is stopped; no other start
  // begins meanwhile.
  void WaitForSynth(Phase running);
  bool startWaiting_ = false;
  // A start that could not go on (a record time refused, presets that cannot be read): back to
  // rest.
  void AbortStart(const QString& message, bool presetsApplied);
  // A conversion's failure or refusal: shown now, kept for the end of a list run, or written to
  // standard error once the window is closing (nobody is left to click a box away).
  void ReportProblem(const QString& text);
  QStringList rowProblems_;  // of the list row being converted
  bool closing_ = false;     // the window is closing: a list run takes no more rows
  // A writer's failure, on the GUI thread: kept for the end of the running conversion, or reported
  // now.
  void ConversionFailed(const QString& message);

  // What the running conversion writes, taken when it starts: the output type and file cannot
  // change under it when the user edits the settings while it records.
  enum class OutputType { Wav, Mp3, Ogg };
  OutputType runType_ = OutputType::Wav;
  tw::TOutputFile runFile_;  // the output file, written whole or not at all
  QStringList failures_;     // writer failures of the running conversion
  // Set when a writer is run, cleared on the GUI thread when its run has reported (done event or
  // failure): a writer is idle before its done event has run, and the wait must let that run first.
  bool awaitingWave_ = false;
  bool awaitingMp3_ = false;
  bool awaitingOgg_ = false;
  bool* AwaitingFlag(platform::TComponent* sink);
  // The MP3 or Ogg Vorbis encoder step: `encoder` writes the output from the temporary recording.
  void RunEncoder(TACSFileOut* encoder, bool& awaiting);
  // The output's writer has ended with the file complete: it goes under the output's name. False,
  // the failure reported, when it could not.
  bool CommitOutput();
  // A message from an entry of the table, or the English text when the table lacks it.
  QString TextOr(tw::TextId entry, const char* english) const;
  // Runs a handler; an exception it raises is shown in a message box, as the toolkit's default
  // error box would.
  void Guard(const std::function<void()>& handler);
  void Bind(QPushButton* button, void (TForm1::*handler)());
  // Binds a button whose click starts a conversion or a playback and whose next click stops it. A
  // click whose press comes within the system's double-click interval after the press of the click
  // that started is the second click of a double click, not a Stop, and is ignored.
  void BindStartStop(QPushButton* button, void (TForm1::*handler)());
  struct Press {
    QAbstractButton* button;
    quint64 time;  // of the mouse event, in ms
  };
  std::optional<Press> lastPress_;   // the last mouse press on such a button, until its click
  std::optional<Press> startPress_;  // the press of the click that started, when it was one
  // FormActivate, shown failure included; this window is the program's active window after it.
  void Activate();

  Phase phase_ = Phase::Idle;
  bool presetsApplied_ = false;  // "default.set" is in the mixer, not reverted since
  int loadedEntries_ = 0;        // entries below this came from a loaded table
  bool listRunning_ = false;
  // Which captions the buttons and the status show at rest: the designed ones until the first
  // relabelling, the table's captions after a relabelling, and the ones a run ends with after a
  // run.
  enum class RestCaptions { Designed, Relabelled, AfterRun };
  RestCaptions restCaptions_ = RestCaptions::Designed;
  bool firstActivation_ = true;
  bool firstShowSeen_ = false;
  bool activating_ = false;  // FormActivate runs (a message box it shows moves the focus)
  QPointer<QWindow> lastActiveWindow_;
};

// The main window of the running program, while it exists.
extern TForm1* Form1;
