#pragma once
// Knobwarden's window: the mixer set-up wizard. The user picks French or English, says which
// operating system runs, then goes through the pages that save the mixer state ("sav.set"), set
// every source line to zero, choose the synthesiser's playback lines while a test melody plays
// ("lod.set"), choose the recording line, and test: the mixer state is written beside the program,
// six seconds are recorded into "t.wav" while the melody plays, the user's state is restored and
// the recording played back, and only when the user keeps the result does the written state become
// Tunewisp's "default.set". Finish restores the user's state and starts Tunewisp; Cancel, a close
// by the frame and a termination signal restore it and end.
//
// Every handler runs on the GUI thread. The test waits with tw::pause, which processes window
// messages, so Back, Cancel and the other controls run nested inside a running test.
//
// The window's enabled states, visibilities, captions and the pages' button sets follow the state
// below through Stabilize(); handlers change the state and call it.

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "converter/MixerSettingsFile.h"
#include "platform/runtime/Component.h"
#include "ui_Unit1.h"

class QCloseEvent;
class QResizeEvent;
namespace platform::softcard {
struct SoundFontStatus;
}
class TAudioIn;
class TAudioMixer;
class TWaveOut;

// The wizard's language: 0 until a language link is clicked, then 1 French, 2 English.
extern int WizardLanguage;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  Ui::TForm1 ui;

 private:
  // Owns the window's components and destroys them with the window, last created first.
  platform::TComponent components_{nullptr};

 public:
  TAudioMixer* Mixer = nullptr;  // every setting goes through it; device 0 at start
  TAudioIn* AudioIn1 = nullptr;  // 16-bit stereo capture at 44000 Hz
  TWaveOut* WaveOut1 = nullptr;  // writes AudioIn1 into "t.wav"; owned by components_

  // ---- Language and the operating-system page
  void JvLinkLabel1Click();  // "Français"
  void JvLinkLabel2Click();  // "English"
  // Writes "lang.ini": 0 "en", 1 "fr"; any other index writes nothing.
  void swithlang(int Index);
  void JvLinkLabel4Click();  // "Xp"
  void JvLinkLabel3Click();  // "Vista"
  void Button6Click();       // opens the sound control panel on its recording tab
  void Button7Click();
  void Button8Click();
  void Button5Click();  // help on the record page
  // Finish on the operating-system page: empty "default.set", "lod.set" and "sav.set".
  void JvWizardInteriorPage6FinishButtonClick(bool& Stop);
  static void CreateEmptyFile(const std::string& name);
  void JvWizard1FinishButtonClick();  // hand-over to Tunewisp
  void JvWizard1CancelButtonClick();  // restore and close

  // ---- Mixer preparation and test
  void gload();  // applies "sav.set" to Mixer
  void pload();  // applies "lod.set" to Mixer
  void settozero();
  void loadnames();
  // Both return false when the card cannot sound the file at all (no SoundFont for a MIDI file),
  // after saying so; a missing file is said too, and counts as played.
  bool PlayMidi(const std::string& Path);
  bool Playwav(const std::string& Path);
  // Why the card cannot play the melody `melody`, in the wizard's language: what is wrong with the
  // SoundFont (`status`), and, for the test (`forTest`), that it can run again once mended.
  static QString NoSoundFontMessage(const std::string& melody,
                                    const platform::softcard::SoundFontStatus& status,
                                    bool forTest);
  bool dimidi();  // "tesr.mid" of the program folder
  bool diwav();   // "t.wav" of the program folder
  void StopMidi();
  void playpause();     // waits while WaveOut1 records
  void Button1Click();  // save page "Ok"
  void Button2Click();  // zero page "Ok"
  void Button3Click();  // "Reset"
  void Button4Click();  // "Test"
  void ListView1MouseDown(Qt::MouseButton Button, int X, int Y);
  void ListView1Click();
  void ListView2MouseDown(Qt::MouseButton Button, int X, int Y);
  void ListView2Click();
  void JvWizardInteriorPage4NextButtonClick(bool& Stop);
  void JvWizardInteriorPage5BackButtonClick(bool& Stop);

  // Sets visibilities, texts and the pages' button sets from the state below.
  void Stabilize();

  // The process ends without a close (the display has gone): the state this run saved comes back.
  void GiveMixerBackAtExit();
  // What a second wizard started from the same program folder says before it ends, in French and in
  // English (no language is chosen yet).
  static QString SecondWizardMessage();

  // Runs when the window has closed (the program entry ends the message loop).
  std::function<void()> OnClosed;

  bool TestRunning() const { return testRunning_; }

  // Where "Test" writes the state it records with, in the program folder. The answer Yes renames it
  // to "default.set"; every other end of the test removes it. Its name does not end in ".set", so
  // Tunewisp does not list it among the presets.
  static constexpr const char* kTestedSettings = "default.set.test";

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class OsStep { Choice, Xp, Vista1, Vista2, Vista3, Vista4 };
  // The record page's test texts, in the order the test shows them.
  enum TestLabel { kRead, kRecord, kRestore, kReadWav, kNoSound, kSpeakers, kOtherTrack, kLabels };

  void CreateComponents();
  void ChooseLanguage(int language);
  void ApplyTexts(int language);
  // Opens `path` under the MCI alias "song" and plays it; `missing` is the message when there is no
  // such file. `onSynth`: the file sounds through the synthesiser (a MIDI file).
  bool PlayFile(const std::string& path, const char* missing, bool onSynth);
  // The volume and selection of the line a track list row names.
  void SetRowVolume(const TListView* list, int row, int left, int right, int muteOrSelect);
  // Ends a running test early: the recording stops, and the test skips its playback and question.
  void AbortTest();
  void HideTest();
  // What the answer No does: no default for Tunewisp, and the record page starts over.
  void DropTest();
  // Before a playback line is pressed or clicked while the mixer holds the state a test gave back:
  // the lines as the zero page sets them, plus the playback lines still checked.
  void ZeroAfterTest();
  // The end of the test's recording as the writer reports it (GUI thread); `failure` is empty when
  // the recording was written.
  void RecordingEnded(const QString& failure);

  bool wizardShown_ = false;
  int textsLanguage_ = 1;  // language of the texts shown: the window's own texts are French
  OsStep osStep_ = OsStep::Choice;
  bool saveDone_ = false;        // the save page's "Ok" wrote "sav.set"
  bool zeroDone_ = false;        // the zero page's "Ok" ran
  bool playbackChosen_ = false;  // a playback line was chosen since the last "Reset"
  bool recordApproved_ = false;  // the last test was answered Yes
  bool testButtonShown_ = false;
  bool testLabels_[kLabels] = {};
  bool helpShown_ = false;

  bool testRunning_ = false;
  bool testAborted_ = false;
  bool recordingEnded_ = false;  // the writer has reported the end of the test's recording
  QString recordingFailure_;     // why the test's recording failed, empty when it did not
  // The mixer holds the user's state that a test gave back, and no recording line was chosen
  // since: a new test first applies what that test recorded with.
  bool restoredByTest_ = false;
  std::vector<tw::MixerSettingsLine> testedState_;  // the state the last test recorded with
  bool closingByWizard_ = false;                    // Finish or Cancel closes the window
};
