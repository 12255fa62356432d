// The set-up wizard driven as a user would, offscreen on the virtual card: language, the two
// operating-system paths, saving and zeroing the mixer, the playback and recording lines (a chosen
// one drawn checked before its melody starts), the test recording, and how Finish, Cancel and a
// close by the frame leave the mixer.

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <optional>
#include <thread>

#include "WizardFixture.h"
#include "audio/ACS_Audio.h"
#include "audio/ACS_Wave.h"
#include "converter/Pause.h"
#include "platform/runtime/GuiThread.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "platform/softcard/panel/Panel.h"
#include "tests/support/DecodedAudio.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/PaintLog.h"
#include "tests/support/RunProgram.h"

namespace {

std::string MciReply(const char* command) {
  char reply[64] = {};
  platform::mciSendStringA(command, reply, sizeof reply, nullptr);
  return reply;
}

int MelodyPosition() { return std::atoi(MciReply("status song position").c_str()); }

// Card time runs at `speed` x wall time inside the scope, so that a nested click surely lands while
// the 6-second recording runs.
struct CardSpeed {
  explicit CardSpeed(double speed) { platform::softcard::Card::Instance().SetSpeed(speed); }
  ~CardSpeed() { platform::softcard::Card::Instance().SetSpeed(platform::softcard::kSpeedMax); }
};

// Runs `action` once while the test records, noting in `ran` that it did.
void DuringRecording(WizardFixture& fx, bool& ran, std::function<void()> action) {
  WhenRecording(*fx.form, [&ran, action] {
    ran = true;
    action();
  });
}

constexpr std::int64_t kTestBytes = 2LL * 2 * 44000 * 6;

}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private slots:
  void languageChoiceWritesLangIniAndSetsTexts();
  void languageFileThatCannotBeWrittenLeavesTheOwnTexts();
  void xpPathAndTheWayBack();
  void vistaPathOpensThePanelThenOffersFinish();
  void finishOnTheOsPageEmptiesTheSettingsFiles();
  void finishOnTheOsPageAfterTheZeroStepGivesTheUserStateBack();
  void saveAndZeroPages();
  void playbackLineAndReset();
  void playbackRowIsDrawnCheckedBeforeTheMelody();
  void recordLineChoice();
  void testRecordsKeepsAndDrops();
  void aPlaybackClickAfterATestStartsFromZeroedLines();
  void finishRestoresTheUserStateAndStartsTunewisp();
  void cancelAppliesSavedSettings();
  void clicksDuringTheTest_data();
  void clicksDuringTheTest();
  void closeByFrameGivesBackOnlyThisRunsState();
  void saveAfterZeroKeepsTheUserState();
  void testFilesThatCannotBeWritten_data();
  void testFilesThatCannotBeWritten();
  void enterPressesTheDefaultButtonWithoutFocus();
  void theWizardFollowsTheWindowSize();
  void boxesShowTheirTextAsItStands();
  void aReportDuringTheWindowsDestructionIsNotRun();
  void noSoundFontIsSaid();
};

void WizardTest::languageChoiceWritesLangIniAndSetsTexts() {
  for (const bool french : {true, false}) {
    WizardFixture fx;
    auto& ui = fx.form->ui;
    QVERIFY(!fx.wizard().isVisibleTo(fx.form.get()));
    QCOMPARE(WizardLanguage, 0);
    fx.clickLink(french ? ui.JvLinkLabel1 : ui.JvLinkLabel2);
    QCOMPARE(WizardLanguage, french ? 1 : 2);
    QCOMPARE(QString::fromStdString(fx.folder.Read("lang.ini")),
             QString(french ? "fr\r\n" : "en\r\n"));
    QVERIFY(fx.wizard().isVisibleTo(fx.form.get()));
    QVERIFY(!ui.JvLinkLabel1->isVisibleTo(fx.form.get()));
    QVERIFY(!ui.Label1->isVisibleTo(fx.form.get()));
    QCOMPARE(fx.page(), ui.JvWizardInteriorPage6);
    QCOMPARE(fx.buttons(), unsigned(wbCancel));
    QCOMPARE(fx.wizard().TitleText(), french ? QString("Quel est votre systeme d'exploitation ?")
                                             : QString("What is your operating system ?"));
    QCOMPARE(fx.wizard().CancelButton()->text(), QString(french ? "&Annuler" : "&Cancel"));
    QCOMPARE(fx.wizard().BackButton()->text(), french ? QString::fromUtf8("< &Pr\xC3\xA9"
                                                                          "c\xC3\xA9"
                                                                          "dent")
                                                      : QString("< &Back"));
    // Trailing blanks and line breaks belong to the texts.
    QVERIFY(ui.Label17->text().endsWith("vous ") || ui.Label17->text().endsWith("you "));
    QCOMPARE(ui.Label25->text(),
             french ? QString("CE REGLAGE PAR DEFAUT NE CONVIENT PAS\n NECESSAIREMENT A TOUS LES "
                              "MORCEAUX")
                    : QString("THIS IS ONLY A DEFAULT SETTING \n THAT MAY NOT SUIT FOR ALL FILES"));
    QCOMPARE(ui.Button4->text(), QString("Test"));  // the same in both languages
    QVERIFY(fx.messages.isEmpty());
  }
}

void WizardTest::languageFileThatCannotBeWrittenLeavesTheOwnTexts() {
  WizardFixture fx;
  std::filesystem::create_directory((fx.folder / "lang.ini"));
  fx.clickLink(fx.form->ui.JvLinkLabel2);
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].contains("lang.ini"), qPrintable(fx.messages[0]));
  // The wizard is shown and the language set, but the texts stay the window's own (French) ones.
  QVERIFY(fx.wizard().isVisibleTo(fx.form.get()));
  QCOMPARE(WizardLanguage, 2);
  QCOMPARE(fx.wizard().CancelButton()->text(), QString("&Annuler"));
}

void WizardTest::xpPathAndTheWayBack() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.clickLink(ui.JvLinkLabel2);
  fx.clickLink(ui.JvLinkLabel4);
  QCOMPARE(fx.wizard().TitleText(), QString("Xp"));
  QVERIFY(ui.Label22->isVisibleTo(fx.form.get()));
  QVERIFY(!ui.JvLinkLabel3->isVisibleTo(fx.form.get()));
  QVERIFY(!ui.JvLinkLabel4->isVisibleTo(fx.form.get()));
  QCOMPARE(fx.buttons(), unsigned(wbNext | wbCancel));
  QCOMPARE(fx.wizard().DefaultButton(), fx.wizard().NextButton());

  fx.form->show();
  QVERIFY(QTest::qWaitForWindowActive(fx.form.get()));
  QTest::keyClick(fx.wizard().NextButton(), Qt::Key_Return);  // Enter presses Next
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage1);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
  QCOMPARE(fx.wizard().SubtitleText(), QString());
  fx.click(fx.wizard().BackButton());
  // The OS page as it was left: no links, no Back.
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage6);
  QCOMPARE(fx.wizard().TitleText(), QString("Xp"));
  QVERIFY(!ui.JvLinkLabel4->isVisibleTo(fx.form.get()));
  QVERIFY(!fx.wizard().BackButton()->isVisibleTo(fx.form.get()));
  // The save page offers no Next until its "Ok" wrote "sav.set", and keeps it afterwards.
  fx.wizard().Click(wbNext);
  fx.wizard().Click(wbNext);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage2);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  fx.click(ui.Button1);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
  fx.wizard().Click(wbBack);
  fx.wizard().Click(wbNext);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
}

void WizardTest::vistaPathOpensThePanelThenOffersFinish() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  const QWidget* w = fx.form.get();
  fx.clickLink(ui.JvLinkLabel1);
  fx.clickLink(ui.JvLinkLabel3);
  QCOMPARE(fx.wizard().TitleText(), QString("Vista"));
  QVERIFY(ui.Label20->isVisibleTo(w) && ui.Button6->isVisibleTo(w));
  QVERIFY(!ui.Label29->isVisibleTo(w));
  QCOMPARE(fx.buttons(), unsigned(wbCancel));

  fx.click(ui.Button6);
  QVERIFY(ui.Label29->isVisibleTo(w) && ui.Label21->isVisibleTo(w) && ui.Button7->isVisibleTo(w));
  // The sound control panel at its recording devices is the card's panel, on its recording tab.
  QCOMPARE(int(fx.started.size()), 1);
  const platform::ShellRequest panel = fx.started[0];
  QVERIFY(!panel.openDocument);
  QCOMPARE(QString::fromStdString(panel.target),
           QCoreApplication::applicationDirPath() + "/" + platform::kPanelProgram);
  QCOMPARE(platform::softcard::PanelTabOfArguments(
               QString::fromStdString(panel.parameters).split(' ', Qt::SkipEmptyParts)),
           1);
  QVERIFY(fx.messages.isEmpty());
  // Each click opens it again; a panel that cannot start is said, and the steps go on.
  fx.shellResult = platform::SE_ERR_ACCESSDENIED;
  fx.click(ui.Button6);
  QCOMPARE(int(fx.started.size()), 2);
  QCOMPARE(
      fx.messages,
      QStringList{QString::fromStdString(platform::ShellErrorText(platform::SE_ERR_ACCESSDENIED))});
  fx.click(ui.Button7);
  QVERIFY(ui.Label26->isVisibleTo(w) && ui.Button8->isVisibleTo(w));
  QCOMPARE(fx.buttons(), unsigned(wbCancel));
  fx.click(ui.Button8);
  QVERIFY(ui.Label30->isVisibleTo(w));
  QCOMPARE(fx.buttons(), unsigned(wbNext | wbFinish | wbCancel));
  fx.wizard().Click(wbNext);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage1);
}

void WizardTest::finishOnTheOsPageEmptiesTheSettingsFiles() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  for (const char* name : {"default.set", "lod.set", "sav.set"})
    fx.folder.Write(name, "<A>0</A><B>0</B><C>1</C><L>9</L><R>9</R><M>0</M>\r\n");
  fx.folder.Write("Tunewisp", "#!/bin/sh\n");
  std::filesystem::permissions((fx.folder / "Tunewisp"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const auto before = tw::CurrentMixerSettings();
  fx.clickLink(ui.JvLinkLabel2);
  fx.clickLink(ui.JvLinkLabel3);
  fx.click(ui.Button6);
  fx.click(ui.Button7);
  fx.click(ui.Button8);
  fx.wizard().Click(wbFinish);
  for (const char* name : {"default.set", "lod.set", "sav.set"}) {
    QVERIFY2(fx.folder.Exists(name), name);
    QCOMPARE(fx.folder.Read(name), std::string());
  }
  // The empty "sav.set" changed nothing; Tunewisp was started from the program folder.
  QVERIFY(tw::CurrentMixerSettings() == before);
  QVERIFY(fx.closed);
  QCOMPARE(fx.started.back().target, (fx.folder / "Tunewisp"));
}

void WizardTest::finishOnTheOsPageAfterTheZeroStepGivesTheUserStateBack() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  const auto user = tw::CurrentMixerSettings();
  // The Vista road to the zero page's "Ok", then back to the system page.
  fx.clickLink(ui.JvLinkLabel2);
  fx.clickLink(ui.JvLinkLabel3);
  for (QAbstractButton* step : {ui.Button6, ui.Button7, ui.Button8}) fx.click(step);
  for (QAbstractButton* step :
       {fx.wizard().NextButton(), fx.wizard().NextButton(), ui.Button1, fx.wizard().NextButton(),
        ui.Button2, fx.wizard().BackButton(), fx.wizard().BackButton(), fx.wizard().BackButton()})
    fx.click(step);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage6);
  // A saved state that cannot be applied: said, and nothing is emptied or started.
  const std::string saved = fx.folder.Read("sav.set");
  std::filesystem::remove((fx.folder / "sav.set"));
  const std::size_t started = fx.started.size();  // the panel of the Vista road
  fx.click(fx.wizard().FinishButton());
  QCOMPARE(fx.messages.size(), 1);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage6);
  QVERIFY(!fx.closed);
  QCOMPARE(fx.started.size(), started);
  QVERIFY(!fx.folder.Exists("default.set"));
  fx.folder.Write("sav.set", saved);
  fx.click(fx.wizard().FinishButton());
  QVERIFY(tw::CurrentMixerSettings() == user);
  QCOMPARE(fx.folder.Read("sav.set"), std::string());
  QVERIFY(fx.closed);
}

void WizardTest::saveAndZeroPages() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  WizardFixture::setLine(0, "Wave", 30000, 0);
  const auto user = tw::CurrentMixerSettings();
  fx.toPlaybackPage();
  QVERIFY(fx.fileState("sav.set") == user);
  // Every source line at 0, mutes and the recording selection as they were.
  const auto zeroed = tw::CurrentMixerSettings();
  QCOMPARE(zeroed.size(), user.size());
  for (std::size_t i = 0; i < zeroed.size(); ++i) {
    QVERIFY(zeroed[i].L <= 0 && zeroed[i].R <= 0);
    QCOMPARE(zeroed[i].M, user[i].M);
  }
  QCOMPARE(WizardFixture::line(1, "Stereo Mix").mute, 1);
  // One row per source line, the same in both lists.
  QCOMPARE(ui.ListView1->RowCount(), int(user.size()));
  QCOMPARE(ui.ListView2->RowCount(), int(user.size()));
  for (int r = 0; r < ui.ListView1->RowCount(); ++r) {
    QCOMPARE(ui.ListView1->Caption(r), ui.ListView2->Caption(r));
    QVERIFY(ui.ListView1->Caption(r).contains(" | "));
    QVERIFY(!ui.ListView1->Checked(r));
  }
  QVERIFY(WizardFixture::row(ui.ListView1, 0, "SW Synth") >= 0);
  QVERIFY(fx.messages.isEmpty());
}

void WizardTest::playbackLineAndReset() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toPlaybackPage();
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  TListView* list = ui.ListView1;
  const int wave = WizardFixture::row(list, 0, "Wave");
  const int synth = WizardFixture::row(list, 0, "SW Synth");

  // A press that makes no click silences an unchecked line without choosing it.
  WizardFixture::setLine(0, "Wave", 20000, 0);
  fx.clickRow(list, wave, Qt::RightButton);
  QCOMPARE(WizardFixture::line(0, "Wave").left, 0);
  QVERIFY(!list->Checked(wave));
  QVERIFY(!fx.folder.Exists("lod.set"));

  fx.clickRow(list, synth);
  QVERIFY(list->Checked(synth));
  QCOMPARE(WizardFixture::line(0, "SW Synth").left, 25000);
  QCOMPARE(WizardFixture::line(0, "SW Synth").right, 25000);
  QVERIFY(fx.fileState("lod.set") == tw::CurrentMixerSettings());
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
  tw::pause(300);
  QVERIFY2(MelodyPosition() > 0, "the test melody does not play");

  fx.click(ui.Button3);  // Reset
  QVERIFY(!list->Checked(synth));
  QCOMPARE(WizardFixture::line(0, "SW Synth").left, 0);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  // "lod.set" keeps the last choice.
  bool synthInLod = false;
  for (const auto& l : fx.fileState("lod.set")) synthInLod |= l.B == 0 && l.L == 25000;
  QVERIFY(synthInLod);

  // Next stops the melody.
  fx.clickRow(list, synth);
  tw::pause(200);
  fx.wizard().Click(wbNext);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage5);
  const int stoppedAt = MelodyPosition();
  tw::pause(300);
  QCOMPARE(MelodyPosition(), stoppedAt);
  QVERIFY(fx.messages.isEmpty());
}

void WizardTest::playbackRowIsDrawnCheckedBeforeTheMelody() {
  WizardFixture fx;
  fx.toPlaybackPage();
  fx.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(fx.form.get()));
  TListView* list = fx.form->ui.ListView1;
  const int synth = WizardFixture::row(list, 0, "SW Synth");
  const tw_test::PaintLog paints(list->viewport(),
                                 [&] { return list->Checked(synth) ? "on" : ""; });
  bool drawnAtOpen = false, opened = false;
  platform::SetMciObserver([&](std::string_view command) {
    if (!opened && command.starts_with("open ") && command.find("tesr.mid") != command.npos) {
      opened = true;
      drawnAtOpen = paints.FirstShowing("on").has_value();
    }
  });
  fx.clickRow(list, synth);
  platform::SetMciObserver({});
  QVERIFY(opened);
  QVERIFY(drawnAtOpen);
}

void WizardTest::recordLineChoice() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toRecordPage();
  TListView* list = ui.ListView2;
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  QVERIFY(!ui.Button4->isVisibleTo(fx.form.get()));

  // A chosen playback line cannot be the recording line.
  const int synth = WizardFixture::row(list, 0, "SW Synth");
  fx.clickRow(list, synth);
  QVERIFY(!list->Checked(synth));
  QVERIFY(fx.questions.isEmpty());

  fx.chooseStereoMix();
  const int stereoMix = WizardFixture::row(list, 1, "Stereo Mix");
  QCOMPARE(fx.questions.size(), 1);
  QVERIFY(fx.questions[0].startsWith("Checked means enabled ?\r\n"));
  QVERIFY(fx.questionHadCancel[0]);
  QVERIFY(list->Checked(stereoMix));
  const LineState s = WizardFixture::line(1, "Stereo Mix");
  QCOMPARE(s.left, 12800);
  QCOMPARE(s.mute, 1);
  QVERIFY(ui.Button4->isVisibleTo(fx.form.get()));

  // Another line, the question cancelled: nothing checked, the "lod.set" state applied.
  fx.clickRow(list, WizardFixture::row(list, 1, "Line In"));
  QCOMPARE(fx.questions.size(), 2);
  for (int r = 0; r < list->RowCount(); ++r) QVERIFY(!list->Checked(r));
  QVERIFY(tw::CurrentMixerSettings() == fx.fileState("lod.set"));
}

void WizardTest::testRecordsKeepsAndDrops() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toRecordPage();
  fx.chooseStereoMix();
  const auto chosen = tw::CurrentMixerSettings();
  const auto user = fx.fileState("sav.set");
  QVERIFY(chosen != user);

  // While the test runs, its state waits in a file of its own: a wizard killed now leaves no
  // default that nobody approved.
  bool ran = false;
  DuringRecording(fx, ran, [&] {
    QVERIFY(!fx.folder.Exists("default.set"));
    QVERIFY(fx.fileState(TForm1::kTestedSettings) == chosen);
  });
  fx.answers.push_back(TAnswer::Yes);
  fx.click(ui.Button4);
  QVERIFY(ran);
  QVERIFY(!fx.folder.Exists(TForm1::kTestedSettings));
  // "default.set" holds the state of the moment "Test" was pressed, not the restored one.
  QVERIFY(fx.fileState("default.set") == chosen);
  QVERIFY(tw::CurrentMixerSettings() == user);
  QCOMPARE(fx.questions.size(), 2);
  QVERIFY(fx.questions[1].startsWith("Keep these settings ?\r\n"));
  QVERIFY(!fx.questionHadCancel[1]);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
  for (QWidget* shown : {static_cast<QWidget*>(ui.Button4), static_cast<QWidget*>(ui.Label9),
                         static_cast<QWidget*>(ui.Label16)})
    QVERIFY(shown->isVisibleTo(fx.form.get()));

  // Six seconds at 44000 Hz, 16-bit stereo, loud enough to be heard.
  QVERIFY(std::filesystem::file_size((fx.folder / "t.wav")) >= std::uintmax_t(kTestBytes + 44));
  const DecodedAudio wav = DecodeWav((fx.folder / "t.wav"));
  QVERIFY2(wav.ok, wav.error.c_str());
  QCOMPARE(wav.rate, 44000);
  QCOMPARE(wav.channels, 2);
  QCOMPARE(wav.bits, 16);
  QVERIFY(std::int64_t(wav.samples.size()) * 2 >= kTestBytes);
  // Its peak no more than 16 dB below that of FluidSynth's own rendering of the melody.
  const std::string reference = fx.folder / "reference.wav";
  QVERIFY(tw_test::Run({"fluidsynth", "-F", reference, "-r", "44100", "-ni",
                        platform::softcard::Card::Instance().SoundFont(), fx.folder / "tesr.mid"}));
  const DecodedAudio rendered = DecodeWav(reference);
  QVERIFY2(rendered.ok && rendered.Peak() > 0.01, "the reference rendering is missing or silent");
  const double belowDb = 20 * std::log10(rendered.Peak() / std::max(wav.Peak(), 1e-6));
  QVERIFY2(belowDb <= 16,
           qPrintable(QString("t.wav peaks %1 dB below the reference").arg(belowDb)));

  // Another test records through the set-up again, not through the user's state the first one
  // gave back.
  fx.answers.push_back(TAnswer::Yes);
  fx.click(ui.Button4);
  QVERIFY(fx.fileState("default.set") == chosen);
  QVERIFY(DecodeWav((fx.folder / "t.wav")).Peak() > 0.01);

  // Another test answered No: the default is dropped, and so are Next and the test texts.
  fx.click(ui.Button4);
  QVERIFY(!fx.folder.Exists("default.set"));
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  QVERIFY(!ui.Button4->isVisibleTo(fx.form.get()));
  QVERIFY(!ui.Label9->isVisibleTo(fx.form.get()));
  QVERIFY(fx.messages.isEmpty());
}

void WizardTest::aPlaybackClickAfterATestStartsFromZeroedLines() {
  // What one test writes, then what a test writes after a test, Back and a playback click: the
  // volumes the user had before the wizard reach neither.
  std::vector<tw::MixerSettingsLine> playback, tested;
  for (const bool again : {false, true}) {
    WizardFixture fx;
    auto& ui = fx.form->ui;
    WizardFixture::setLine(0, "Wave", 30000, 0);
    WizardFixture::setLine(1, "CD Audio", 20000, -1);
    fx.toRecordPage();
    if (!again) playback = fx.fileState("lod.set");
    fx.chooseStereoMix();
    if (again) {
      fx.click(ui.Button4);  // answered No
      fx.wizard().Click(wbBack);
      fx.clickRow(ui.ListView1, fx.row(ui.ListView1, 0, "SW Synth"));
      QVERIFY(fx.fileState("lod.set") == playback);
      QVERIFY(!ui.Button4->isVisibleTo(fx.form.get()));  // until a recording line is chosen
      fx.wizard().Click(wbNext);
      fx.chooseStereoMix();
    }
    fx.answers.push_back(TAnswer::Yes);
    fx.click(ui.Button4);
    if (again)
      QVERIFY(fx.fileState("default.set") == tested);
    else
      tested = fx.fileState("default.set");
    QVERIFY(!tested.empty());
  }
}

void WizardTest::finishRestoresTheUserStateAndStartsTunewisp() {
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toRecordPage();
  fx.chooseStereoMix();
  fx.answers.push_back(TAnswer::Yes);
  fx.click(ui.Button4);
  fx.wizard().Click(wbNext);
  QCOMPARE(fx.page(), ui.JvWizardInteriorPage7);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbFinish));
  QCOMPARE(fx.wizard().DefaultButton(), fx.wizard().FinishButton());
  WizardFixture::setLine(0, "Wave", 1111, 1);  // changed behind the wizard's back
  fx.folder.Write("Tunewisp", "");
  std::filesystem::permissions((fx.folder / "Tunewisp"), std::filesystem::perms::owner_all);
  fx.click(fx.wizard().FinishButton());
  QVERIFY(tw::CurrentMixerSettings() == fx.fileState("sav.set"));
  QVERIFY(fx.closed);
  QCOMPARE(int(fx.started.size()), 1);
  QCOMPARE(fx.started[0].target, (fx.folder / "Tunewisp"));
  QVERIFY(fx.folder.Exists("default.set"));
}

void WizardTest::cancelAppliesSavedSettings() {
  {
    // A "sav.set" left by an earlier run is applied, even before anything was saved in this one.
    WizardFixture fx;
    auto lines = tw::CurrentMixerSettings();
    for (auto& l : lines) l.L = l.R = (l.L >= 0 ? 4321 : l.L);
    tw::WriteSettingsFile((fx.folder / "sav.set"), lines);
    fx.clickLink(fx.form->ui.JvLinkLabel2);
    fx.wizard().Click(wbCancel);
    QCOMPARE(WizardFixture::line(0, "Wave").left, 4321);
    QVERIFY(fx.closed);
    QVERIFY(fx.started.empty());
    QCOMPARE(QString::fromStdString(fx.folder.Read("lang.ini")), QString("en\r\n"));
  }
  {
    // No "sav.set": nothing to apply and nothing to complain about.
    WizardFixture fx;
    WizardFixture::setLine(0, "Wave", 2222, 0);
    fx.clickLink(fx.form->ui.JvLinkLabel1);
    fx.wizard().Click(wbCancel);
    QCOMPARE(WizardFixture::line(0, "Wave").left, 2222);
    QVERIFY(fx.closed);
    QVERIFY(fx.messages.isEmpty());
  }
  {
    // A "sav.set" far larger than a settings file can be is refused unread, with its name.
    WizardFixture fx;
    WizardFixture::setLine(0, "Wave", 2222, 0);
    std::string content;
    for (auto l : tw::CurrentMixerSettings()) {
      l.L = l.R = (l.L >= 0 ? 4321 : l.L);
      content += tw::FormatSettingsLine(l) + "\r\n";
    }
    fx.folder.Write("sav.set", content + std::string(tw::kMaxSettingsFileBytes, '\n'));
    fx.clickLink(fx.form->ui.JvLinkLabel1);
    fx.wizard().Click(wbCancel);
    QCOMPARE(WizardFixture::line(0, "Wave").left, 2222);
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages[0].contains(QString::fromStdString(fx.folder / "sav.set")),
             qPrintable(fx.messages[0]));
  }
}

void WizardTest::clicksDuringTheTest_data() {
  QTest::addColumn<QString>("click");
  QTest::newRow("Test again") << "test";
  QTest::newRow("Cancel") << "cancel";
  QTest::newRow("Back") << "back";
  QTest::newRow("frame close") << "close";
}

void WizardTest::clicksDuringTheTest() {
  QFETCH(QString, click);
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toRecordPage();
  fx.chooseStereoMix();
  const auto chosen = tw::CurrentMixerSettings();
  CardSpeed speed(5);
  bool ran = false;
  DuringRecording(fx, ran, [&] {
    if (click == "test") ui.Button4->click();
    if (click == "cancel") fx.wizard().Click(wbCancel);
    if (click == "back") fx.wizard().Click(wbBack);
    if (click == "close") fx.form->close();
  });
  fx.answers.push_back(TAnswer::Yes);
  fx.click(ui.Button4);
  QVERIFY(ran);
  QVERIFY(!fx.form->TestRunning());
  QVERIFY2(fx.messages.isEmpty(), qPrintable(fx.messages.join("; ")));
  // A second "Test" does nothing. Cancel and a close end the test at once: no playback, no
  // question, and the default it wrote goes. Back cuts the recording short, and the test still
  // asks.
  const bool ends = click == "cancel" || click == "close";
  QCOMPARE(fx.questions.size(), ends ? 1 : 2);
  QCOMPARE(fx.folder.Exists("default.set"), !ends);
  if (!ends) QVERIFY(fx.fileState("default.set") == chosen);
  QCOMPARE(fx.closed, ends);
  QVERIFY(tw::CurrentMixerSettings() == fx.fileState("sav.set"));
  QCOMPARE(std::filesystem::file_size((fx.folder / "t.wav")) < std::uintmax_t(kTestBytes),
           click != "test");
  if (click == "back") {
    // The answer gives the record page its Next although the playback page is shown.
    QCOMPARE(fx.page(), ui.JvWizardInteriorPage4);
    QCOMPARE(ui.JvWizardInteriorPage5->Buttons(), unsigned(wbBack | wbNext | wbCancel));
    for (int r = 0; r < ui.ListView2->RowCount(); ++r) QVERIFY(!ui.ListView2->Checked(r));
  }
}

void WizardTest::closeByFrameGivesBackOnlyThisRunsState() {
  {
    WizardFixture fx;
    const auto user = tw::CurrentMixerSettings();
    fx.toPlaybackPage();
    QVERIFY(tw::CurrentMixerSettings() != user);
    fx.form->close();
    QVERIFY(fx.closed);
    QVERIFY(tw::CurrentMixerSettings() == user);
    QVERIFY(fx.started.empty());
  }
  {
    // An earlier run's "sav.set" is not this user's current state.
    WizardFixture fx;
    auto lines = tw::CurrentMixerSettings();
    for (auto& l : lines) l.L = l.R = (l.L >= 0 ? 4321 : l.L);
    tw::WriteSettingsFile((fx.folder / "sav.set"), lines);
    WizardFixture::setLine(0, "Wave", 777, 0);
    fx.clickLink(fx.form->ui.JvLinkLabel2);
    fx.form->close();
    QCOMPARE(WizardFixture::line(0, "Wave").left, 777);
  }
}

void WizardTest::saveAfterZeroKeepsTheUserState() {
  WizardFixture fx;
  const auto user = tw::CurrentMixerSettings();
  fx.toPlaybackPage();
  fx.wizard().Click(wbBack);
  fx.wizard().Click(wbBack);
  QCOMPARE(fx.page(), fx.form->ui.JvWizardInteriorPage2);
  fx.click(fx.form->ui.Button1);  // "Ok" again, the lines zeroed
  QVERIFY(fx.fileState("sav.set") == user);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbNext | wbCancel));
  fx.wizard().Click(wbCancel);
  QVERIFY(tw::CurrentMixerSettings() == user);
}

void WizardTest::testFilesThatCannotBeWritten_data() {
  QTest::addColumn<QString>("fault");
  QTest::newRow("tested state") << "tested";
  QTest::newRow("t.wav cannot be created") << "t.wav";
  QTest::newRow("disk full") << "full";
  QTest::newRow("default.set cannot be replaced") << "default";
}

void WizardTest::testFilesThatCannotBeWritten() {
  QFETCH(QString, fault);
  WizardFixture fx;
  auto& ui = fx.form->ui;
  fx.toRecordPage();
  fx.chooseStereoMix();
  const auto user = fx.fileState("sav.set");
  const char* blocked = fault == "tested"  ? TForm1::kTestedSettings
                        : fault == "t.wav" ? "t.wav"
                                           : "default.set";
  if (fault != "full") {
    std::filesystem::create_directory(fx.folder / blocked);
    fx.folder.Write(std::string(blocked) + "/keep", "");  // a folder that cannot be removed
  }
  std::optional<FileSizeLimit> full;
  if (fault == "full") full.emplace(200000);
  fx.answers.push_back(TAnswer::Yes);
  fx.click(ui.Button4);
  full.reset();

  // One message naming the file, and the test ends as after No: no default, the user's state back.
  QCOMPARE(fx.messages.size(), 1);
  const QString file = fault == "full" ? "t.wav" : blocked;
  QVERIFY2(fx.messages[0].contains(QString::fromStdString(fx.folder / file.toStdString())),
           qPrintable(fx.messages[0]));
  if (fault == "tested") {
    // Nothing was recorded, and no question asked.
    QVERIFY(!fx.folder.Exists("t.wav"));
    QCOMPARE(fx.questions.size(), 1);
    return;
  }
  QCOMPARE(fx.questions.size(), fault == "default" ? 2 : 1);
  QVERIFY(!std::filesystem::is_regular_file(fx.folder / "default.set"));
  QVERIFY(!fx.folder.Exists(TForm1::kTestedSettings));
  QVERIFY(tw::CurrentMixerSettings() == user);
  QCOMPARE(fx.buttons(), unsigned(wbBack | wbCancel));
  QVERIFY(!ui.Button4->isVisibleTo(fx.form.get()));
}

void WizardTest::enterPressesTheDefaultButtonWithoutFocus() {
  WizardFixture fx;
  fx.form->show();
  QVERIFY(QTest::qWaitForWindowActive(fx.form.get()));
  // Links take no focus: nothing in the window has it.
  fx.clickLink(fx.form->ui.JvLinkLabel2);
  fx.clickLink(fx.form->ui.JvLinkLabel4);
  QTest::keyClick(fx.form->windowHandle(), Qt::Key_Return);
  QCOMPARE(fx.page(), fx.form->ui.JvWizardInteriorPage1);
}

void WizardTest::theWizardFollowsTheWindowSize() {
  WizardFixture fx;
  fx.clickLink(fx.form->ui.JvLinkLabel2);
  fx.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(fx.form.get()));
  for (const QSize size : {QSize(800, 600), QSize(420, 260)}) {
    fx.form->resize(size);
    QCOMPARE(fx.wizard().geometry(), fx.form->rect());
    // The button bar keeps to the bottom edge, inside the window.
    const QRect cancel = fx.wizard().CancelButton()->geometry();
    QVERIFY(fx.form->rect().contains(cancel));
    QVERIFY(cancel.bottom() > size.height() - TWizard::kButtonBarHeight);
  }
}

namespace {

// The wizard's window with one more report of its writer queued once its destruction has begun, as
// when a recording that Cancel or a signal stopped fails on a full disk.
class ReportedWhileGoing : public TForm1 {
 public:
  explicit ReportedWhileGoing(bool& ran) : ran_(ran) {}
  ~ReportedWhileGoing() override {
    std::thread([this] { RunOnGuiThread(this, [&ran = ran_] { ran = true; }); }).join();
  }

 private:
  bool& ran_;
};

}  // namespace

void WizardTest::aReportDuringTheWindowsDestructionIsNotRun() {
  WizardFixture fx;
  bool ran = false;
  auto form = std::make_unique<ReportedWhileGoing>(ran);
  // A recording has run, so that the writer's worker ends with the window and the window's
  // destruction serves the calls queued for the GUI thread meanwhile.
  form->AudioIn1->SetRecTime(0);
  form->WaveOut1->SetFileName(fx.folder / "t.wav");
  form->WaveOut1->Run();
  form->playpause();
  form.reset();
  platform::ProcessMessages();
  QVERIFY(!ran);
}

void WizardTest::boxesShowTheirTextAsItStands() {
  WizardFixture fx;
  SetMessageHook({});
  fx.folder.Write("sav.set", "<A></A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n");
  fx.form->show();
  QVERIFY(QTest::qWaitForWindowActive(fx.form.get()));
  fx.clickLink(fx.form->ui.JvLinkLabel2);
  QString shown;
  Later([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    QVERIFY(label);
    // What the label shows: its text as it stands, or the text rich text makes of it.
    const bool asItStands =
        label->textFormat() == Qt::PlainText ||
        (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
    shown =
        asItStands ? label->text() : QTextDocumentFragment::fromHtml(label->text()).toPlainText();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  fx.wizard().Click(wbCancel);  // applying the damaged "sav.set" fails
  QVERIFY2(shown.contains("<A>"), qPrintable(shown));
  QVERIFY(!fx.closed);
}

void WizardTest::noSoundFontIsSaid() {
  using platform::softcard::SoundFontStatus;
  const SoundFontStatus status = platform::softcard::Card::Instance().SoundFontReport();
  if (status.kind == SoundFontStatus::Kind::Loaded)
    QSKIP("runs in the test runs whose card has no SoundFont");
  // Run with SOFTCARD_SOUNDFONT naming a file that does not exist, or one that is no SoundFont.
  const QString cause = status.kind == SoundFontStatus::Kind::NamedMissing
                            ? "the SoundFont file \"%1\" named in the variable SOFTCARD_SOUNDFONT "
                              "does not exist."
                            : "the sound card cannot load the SoundFont file \"%1\": it is not a "
                              "SoundFont";
  WizardFixture fx;
  auto& ui = fx.form->ui;
  const QString melody = QString::fromStdString(fx.folder / "tesr.mid");
  fx.toPlaybackPage();
  fx.clickRow(ui.ListView1, WizardFixture::row(ui.ListView1, 0, "SW Synth"));
  QCOMPARE(fx.messages.size(), 1);
  // The playback page plays the melody to hear the lines: not the test's message.
  QVERIFY2(fx.messages[0].startsWith("The melody \"" + melody + "\" cannot be played: " +
                                     cause.arg(QString::fromStdString(status.file))) &&
               !fx.messages[0].endsWith("test again."),
           qPrintable(fx.messages[0]));
  fx.wizard().Click(wbNext);
  fx.chooseStereoMix();
  fx.click(ui.Button4);
  // The test says why and stops: no silent recording, no question, no default.
  QCOMPARE(fx.messages.size(), 2);
  QVERIFY2(fx.messages[1].startsWith("The test melody \"" + melody + "\"") &&
               fx.messages[1].contains(cause.arg(QString::fromStdString(status.file))) &&
               fx.messages[1].endsWith("Then run the test again."),
           qPrintable(fx.messages[1]));
  QCOMPARE(fx.questions.size(), 1);
  QVERIFY(!fx.folder.Exists("default.set"));
  QVERIFY(!fx.folder.Exists("t.wav"));
  QCOMPARE(WizardFixture::line(1, "Stereo Mix").left, 12800);

  // None installed, in French: how to get one, and the test only where the test asked.
  WizardLanguage = 1;
  const SoundFontStatus none{SoundFontStatus::Kind::NoneInstalled, {}};
  QVERIFY(TForm1::NoSoundFontMessage("m.mid", none, false).contains("Installez-en une (apt-get"));
  QVERIFY(!TForm1::NoSoundFontMessage("m.mid", none, false).contains("test"));
  QVERIFY(TForm1::NoSoundFontMessage("m.mid", none, true).endsWith("Relancez ensuite le test."));
}

TW_WINDOW_TEST_MAIN(WizardTest)
#include "test_wizard.moc"
