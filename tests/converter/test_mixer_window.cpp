// The mixer settings window on a card with two devices whose destinations differ in number and
// length: showing and setting a line, presets, the volume snapshot and its restore, and the card's
// panel started through the shell.

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QFile>
#include <QFocusEvent>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "FormFixture.h"
#include "converter/MixerSettings.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "mixer/AMixer.h"
#include "platform/system/Files.h"
#include "platform/system/Shell.h"

namespace {

struct Line {
  int m = 0, j = 0, i = 0;
  std::int32_t left = -1, right = -1, mute = -1;
  bool operator==(const Line&) const = default;
};

Line Read(TAudioMixer& mixer, int j, int i) {
  Line line{mixer.MixerId(), j, i};
  bool stereo, volDisabled, muteDisabled, isSelect;
  mixer.GetVolume(j, i - 1, line.left, line.right, line.mute, stereo, volDisabled, muteDisabled,
                  isSelect);
  return line;
}

// Every line of every device: what a restore must give back.
std::vector<Line> Everything() {
  TAudioMixer probe(nullptr);
  std::vector<Line> lines;
  for (int m = 0; m < probe.MixerCount; ++m) {
    probe.SetMixerId(m);
    for (int j = 0; j < probe.Destinations->Count(); ++j)
      for (int i = 0; i <= probe.Destinations->Get(j)->Connections->Count(); ++i)
        lines.push_back(Read(probe, j, i));
  }
  return lines;
}

Line ReadLine(int m, int j, int i) {
  TAudioMixer probe(nullptr);
  probe.SetMixerId(m);
  return Read(probe, j, i);
}

void SetLine(int m, int j, int i, int left, int right, int mute) {
  TAudioMixer probe(nullptr);
  probe.SetMixerId(m);
  probe.SetVolume(j, i - 1, left, right, mute);
}

// Standard device: destination 0 the speakers (sources SW Synth .. Microphone), destination 1 the
// recording (a selection list over Stereo Mix, SW Synth, CD Audio, Line In, Microphone). The test
// device has more destinations, and a playback destination with more source lines.
constexpr int kSpeakers = 0, kRecording = 1;
constexpr int kSynth = 1, kLineIn = 4, kMicrophone = 5;  // line list items (0: the destination)

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm3> form3 = std::make_unique<TForm3>();
  Ui::TForm3& ui() { return form3->ui; }
  void Show(int device, int destination, int line) {
    if (ui().ComboBox3->ItemIndex() != device) ui().ComboBox3->Choose(device);
    ui().ComboBox1->Choose(destination);
    ui().ComboBox2->Choose(line);
  }
  int PresetIndex(const QString& name) { return ui().ComboBox4->findText(name); }
};

}  // namespace

class MixerWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void showsAndSetsTheShownLine();
  void aLineChosenWithTheMouseOrTheKeysIsShownAndSet();
  void aRefusedWriteIsShown();
  void linesWithoutControls();
  void noMixerDevice();
  void presetsSaveLoadDel();
  void saveRefusesTakenAndForeignNames();
  void deletingDefaultSetStartsTheWizard();
  void snapshotCoversEveryLineOfEveryDevice();
  void restoreGivesBackMutesAndSelection();
  void readBacksDoNotWrite();
  void mixerReturnsToTheShownDevice();
  void checkingRestoreAtExitTakesANewSnapshot();
  void damagedDefaultSetIsNotLeftHalfApplied();
  void volumeControlFallsBackToTheControlPanel();
};

void MixerWindowTest::showsAndSetsTheShownLine() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  QCOMPARE(ui.ComboBox3->count(), 2);
  QCOMPARE(ui.ComboBox3->toolTip(), ui.ComboBox3->itemText(0));
  w.Show(0, kSpeakers, kSynth);
  QCOMPARE(ui.ComboBox2->toolTip(), QString("SW Synth"));
  QVERIFY(!ui.TrackBar->isHidden() && ui.Label5->isHidden());
  QCOMPARE(ui.LabelStereo->text(), QString("- stereo -"));

  // A bar move writes its value to both channels, with the box's state.
  SetLine(0, kSpeakers, kSynth, 10000, 40000, 0);
  ui.ComboBox2->Choose(kSynth);
  QCOMPARE(ui.TrackBar->Position(), 10000);
  ui.CheckBox3->SetChecked(true);
  ui.TrackBar->SetPosition(30000);
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 30000, 30000, 1}));

  // Entering the line list brings the destination's own line back.
  QFocusEvent enter(QEvent::FocusIn);
  QCoreApplication::sendEvent(ui.ComboBox2, &enter);
  QCOMPARE(ui.ComboBox2->ItemIndex(), 0);
  QCOMPARE(ui.ComboBox2->currentText(), QString("Speakers"));

  // The mono line of the test device.
  w.Show(1, 0, 1);
  QCOMPARE(ui.ComboBox2->currentText(), QString("Mono In"));
  QCOMPARE(ui.LabelStereo->text(), QString("- mono -"));
  QCOMPARE(ui.TrackBar->Position(), 30000);
}

void MixerWindowTest::aLineChosenWithTheMouseOrTheKeysIsShownAndSet() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  SetLine(0, kSpeakers, kSynth, 10000, 10000, 0);
  w.form3->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.form3.get()));
  // A click opens the drop-down; a click on "SW Synth" in it, later than a double click's time
  // (a quicker release is the opening click's own), chooses the line.
  QTest::mouseClick(ui.ComboBox2, Qt::LeftButton);
  QAbstractItemView* popup = ui.ComboBox2->view();
  QTRY_VERIFY(popup->isVisible());
  const QPoint item = popup->visualRect(popup->model()->index(kSynth, 0)).center();
  QTest::mouseMove(popup->viewport(), item);
  QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, item,
                    QApplication::doubleClickInterval());
  QCOMPARE(ui.ComboBox2->currentText(), QString("SW Synth"));
  QCOMPARE(ui.TrackBar->Position(), 10000);
  QTest::keyClick(ui.TrackBar, Qt::Key_End);
  QCOMPARE(ReadLine(0, kSpeakers, kSynth).left, 65535);
  // Tab into the list brings the destination's own line back; Down chooses the next line.
  ui.ComboBox1->setFocus(Qt::TabFocusReason);
  QTest::keyClick(ui.ComboBox1, Qt::Key_Tab);
  QCOMPARE(ui.ComboBox2->ItemIndex(), 0);
  QTest::keyClick(ui.ComboBox2, Qt::Key_Down);
  QTest::keyClick(ui.TrackBar, Qt::Key_Home);
  QCOMPARE(ReadLine(0, kSpeakers, kSynth).left, 0);
}

void MixerWindowTest::aRefusedWriteIsShown() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  // Stereo Mix is the recording choice: a list cannot be left with nothing chosen.
  w.Show(0, kRecording, 1);
  QVERIFY(ui.CheckBox3->Checked());
  ui.CheckBox3->SetChecked(false);
  QVERIFY(ui.CheckBox3->Checked());
  QCOMPARE(ReadLine(0, kRecording, 1).mute, 1);
  // Choosing another line selects it.
  w.Show(0, kRecording, kLineIn);
  ui.CheckBox3->SetChecked(true);
  QCOMPARE(ReadLine(0, kRecording, 1).mute, 0);
  QCOMPARE(ReadLine(0, kRecording, kLineIn).mute, 1);
}

void MixerWindowTest::linesWithoutControls() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  w.Show(1, 0, 0);
  const int silent = ui.ComboBox2->findText("Silent Line");
  QVERIFY(silent > 0);
  ui.ComboBox2->Choose(silent);
  QVERIFY(ui.TrackBar->isHidden() && ui.Label1->isHidden() && !ui.Label5->isHidden());
  QVERIFY(ui.CheckBox3->isHidden() && ui.Label2->isHidden() && !ui.Label4->isHidden());
  // A recording line without a selection item has a volume but no box.
  w.Show(0, kRecording, 0);
  QVERIFY(!ui.TrackBar->isHidden() && ui.CheckBox3->isHidden() && !ui.Label4->isHidden());
}

void MixerWindowTest::noMixerDevice() {
  FreshCard card("none");
  FormFixture fx;
  fx.folder.Write("mine.set", "");
  Windows w;
  QCOMPARE(fx.messages, QStringList{"No mixer present in the system !"});
  QCOMPARE(w.ui().ComboBox3->count(), 0);
  QVERIFY(w.PresetIndex("mine.set") > 0);
  w.form1->restoresound();  // nothing to give back, nothing to fail
  w.ui().JvXPButton6->click();
  QCOMPARE(fx.messages.size(), 2);
}

void MixerWindowTest::presetsSaveLoadDel() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  // "Presets" selected: Load and Del do nothing.
  SetLine(0, kSpeakers, kSynth, 5000, 5000, 0);
  const std::vector<Line> before = Everything();
  ui.JvXPButton2->click();
  ui.JvXPButton4->click();
  QCOMPARE(Everything(), before);
  QVERIFY(fx.folder.Exists("default.set"));

  ui.Edit1->setText("quiet");
  ui.JvXPButton1->click();
  QVERIFY(fx.folder.Exists("quiet.set"));
  QCOMPARE(ui.ComboBox4->currentText(), QString("quiet.set"));

  SetLine(0, kSpeakers, kSynth, 60000, 60000, 1);
  w.Show(0, kSpeakers, kSynth);
  ui.ComboBox4->Choose(w.PresetIndex("quiet.set"));
  ui.JvXPButton2->click();
  QCOMPARE(Everything(), before);
  QCOMPARE(ui.TrackBar->Position(), 5000);

  // A damaged preset: the lines before the damage stay applied, and the message names the file and
  // the line in the user's language.
  fx.folder.Write("other.set", "<A>0</A><B>0</B><C>0</C><L>7</L><R>7</R><M>0</M>\r\nbad\r\n");
  ui.JvXPButton6->click();
  w.form1->ChangeLanguage(1);
  w.Show(0, kSpeakers, kSynth);
  ui.ComboBox4->Choose(w.PresetIndex("other.set"));
  ui.JvXPButton2->click();
  QCOMPARE(ui.TrackBar->Position(), 7);
  QVERIFY(fx.messages.size() == 1 &&
          fx.messages.takeFirst().startsWith("La ligne 2 du fichier de r\u00e9glages du mixeur \"" +
                                             fx.file("other.set")));

  // A file that went away behind the window's back is gone from the list after "R".
  QVERIFY(w.PresetIndex("other.set") > 0);
  QFile::remove(fx.file("other.set"));
  ui.JvXPButton6->click();
  QCOMPARE(w.PresetIndex("other.set"), -1);
  QCOMPARE(ui.ComboBox4->count(), 3);  // "Presets", default.set, quiet.set

  ui.ComboBox4->Choose(w.PresetIndex("quiet.set"));
  ui.JvXPButton4->click();
  QVERIFY(!fx.folder.Exists("quiet.set"));
  QCOMPARE(ui.ComboBox4->ItemIndex(), 0);
  QCOMPARE(w.PresetIndex("quiet.set"), -1);
  QVERIFY(fx.messages.isEmpty());
}

void MixerWindowTest::saveRefusesTakenAndForeignNames() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  auto& ui = w.ui();
  ui.Edit1->setText("default");
  QStringList texts;
  for (int language = 0; language < 5; ++language) {
    w.form1->ui.ComboBox3->SetItemIndex(language);
    ui.JvXPButton1->click();
    QCOMPARE(fx.messages.size(), language + 1);
    QVERIFY(!texts.contains(fx.messages.last()));
    texts << fx.messages.last();
  }
  QVERIFY(fx.folder.Read("default.set").empty());
  w.form1->ui.ComboBox3->SetItemIndex(0);
  for (const char* name : {"", "../escape", "sub\\name"}) {
    ui.Edit1->setText(name);
    ui.JvXPButton1->click();
    QCOMPARE(fx.messages.last(), QString("Choose an other name"));
  }
  QVERIFY(!std::filesystem::exists(fx.folder.Path() / "../escape.set"));

  // Another current folder holding the name does not matter: the preset goes to the program
  // folder, where the name is free.
  tw_test::TempDir elsewhere;
  elsewhere.Write("mine.set", "");
  platform::SetCurrentDirectoryA(elsewhere.Path().c_str());
  ui.Edit1->setText("mine");
  const int shown = static_cast<int>(fx.messages.size());
  ui.JvXPButton1->click();
  QCOMPARE(static_cast<int>(fx.messages.size()), shown);
  QVERIFY(!fx.folder.Read("mine.set").empty());

  // A name as long as the file system takes: 250 characters and ".set".
  const QString longest = QString(250, 'p') + ".set";
  ui.Edit1->setText(longest.chopped(4));
  ui.JvXPButton1->click();
  QCOMPARE(static_cast<int>(fx.messages.size()), shown);
  QCOMPARE(ui.ComboBox4->currentText(), longest);
  QVERIFY(!fx.folder.Read(longest.toStdString()).empty());
}

void MixerWindowTest::deletingDefaultSetStartsTheWizard() {
  FreshCard card;
  FormFixture fx;
  const std::string wizard = (fx.folder / "Knobwarden");
  std::ofstream(wizard) << "#!/bin/sh\n";
  ::chmod(wizard.c_str(), 0755);
  std::vector<std::string> started;
  platform::SetShellHook([&](const platform::ShellRequest& request) {
    started.push_back(request.target);
    return std::intptr_t{42};
  });
  Windows w;
  w.ui().ComboBox4->Choose(w.PresetIndex("default.set"));
  w.ui().JvXPButton4->click();
  QVERIFY(!fx.folder.Exists("default.set"));
  w.form1->FormActivate();
  platform::SetShellHook({});
  QVERIFY(started == std::vector<std::string>{wizard});
}

void MixerWindowTest::snapshotCoversEveryLineOfEveryDevice() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  // Lines past the shown destination's length, and destinations past the shown device's count.
  const std::vector<Line> before = Everything();
  TAudioMixer probe(nullptr);
  probe.SetMixerId(1);
  QVERIFY(probe.Destinations->Count() > 2);
  const int lastDest = probe.Destinations->Count() - 1;
  const int longest = probe.Destinations->Get(0)->Connections->Count();
  QVERIFY(longest > 5);
  SetLine(1, 0, longest, 1, 2, -1);
  SetLine(1, lastDest, 1, 3, 3, -1);
  QVERIFY(Everything() != before);
  w.ui().JvXPButton3->click();  // "Reset from init"
  QCOMPARE(Everything(), before);
}

void MixerWindowTest::restoreGivesBackMutesAndSelection() {
  FreshCard card;
  FormFixture fx;
  // The user's own state: unbalanced volumes, a muted master, the recording on the line input.
  SetLine(0, kSpeakers, 0, 20000, 45000, 1);
  SetLine(0, kSpeakers, kMicrophone, 7000, 9000, 1);
  SetLine(0, kRecording, kLineIn, 33000, 34000, 1);
  SetLine(1, 1, 2, 1111, 2222, 1);
  Windows w;
  const std::vector<Line> user = Everything();

  // Presets that change all of it, applied as a conversion applies them.
  SetLine(0, kSpeakers, 0, 50000, 50000, 0);
  SetLine(0, kSpeakers, kMicrophone, 60000, 60000, 0);
  SetLine(0, kRecording, kSynth, 40000, 40000, 1);
  SetLine(1, 1, 2, 5, 5, 0);
  tw::savmixsettoxml("default.set");
  SetLine(0, kSpeakers, 0, 20000, 45000, 1);  // the master is not in a settings file
  w.form1->ApplyPresets();
  QVERIFY(Everything() != user);
  QCOMPARE(ReadLine(0, kRecording, kSynth).mute, 1);

  w.form1->RevertPresets();
  QCOMPARE(Everything(), user);
}

void MixerWindowTest::readBacksDoNotWrite() {
  FreshCard card;
  FormFixture fx;
  SetLine(0, kSpeakers, kSynth, 20000, 50000, 1);
  Windows w;
  auto& ui = w.ui();
  w.Show(0, kSpeakers, kSynth);
  SetLine(0, kSpeakers, kSynth, 1000, 1000, 0);
  ui.ComboBox2->Choose(kSynth);
  QVERIFY(!ui.CheckBox3->Checked());
  ui.JvXPButton3->click();
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 20000, 50000, 1}));
  QCOMPARE(ui.TrackBar->Position(), 20000);
  QVERIFY(ui.CheckBox3->Checked());

  fx.folder.Write("balance.set", "<A>0</A><B>0</B><C>0</C><L>12000</L><R>40000</R><M>0</M>\r\n");
  ui.JvXPButton6->click();
  w.Show(0, kSpeakers, kSynth);
  ui.ComboBox4->Choose(w.PresetIndex("balance.set"));
  ui.JvXPButton2->click();
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 12000, 40000, 0}));
  QCOMPARE(ui.TrackBar->Position(), 12000);
  QVERIFY(!ui.CheckBox3->Checked());

  // Choosing another device leaves the line shown so far as it was.
  ui.ComboBox3->Choose(1);
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 12000, 40000, 0}));
}

void MixerWindowTest::mixerReturnsToTheShownDevice() {
  FreshCard card;
  FormFixture fx;
  fx.folder.Write("zero.set", "<A>0</A><B>0</B><C>1</C><L>0</L><R>0</R><M>0</M>\r\n");
  Windows w;
  auto& ui = w.ui();
  w.Show(1, 0, 1);  // the test device's mono line
  auto moveBar = [&](int position) {
    ui.TrackBar->SetPosition(position);
    return ReadLine(1, 0, 1).left == position && ReadLine(0, 0, 1).left != position;
  };
  w.form1->restoresound();
  QVERIFY(moveBar(101));
  w.form1->ui.CheckBox4->SetChecked(false);
  w.form1->ui.CheckBox4->SetChecked(true);
  QVERIFY(moveBar(202));
  ui.ComboBox4->Choose(w.PresetIndex("zero.set"));
  ui.JvXPButton2->click();
  QVERIFY(moveBar(303));
  fx.folder.Write("default.set", "<A>0</A><B>0</B><C>1</C><L>7</L><R>7</R><M>0</M>\r\n");
  w.form1->pdefsav();
  QVERIFY(moveBar(404));
}

void MixerWindowTest::checkingRestoreAtExitTakesANewSnapshot() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  SetLine(0, kSpeakers, kSynth, 4321, 4321, 1);
  w.form1->ui.CheckBox4->SetChecked(false);
  SetLine(0, kSpeakers, kSynth, 100, 100, 0);
  w.form1->restoresound();
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 0xC000, 0xC000, 0}));
  SetLine(0, kSpeakers, kSynth, 4321, 4321, 1);
  w.form1->ui.CheckBox4->SetChecked(true);
  SetLine(0, kSpeakers, kSynth, 100, 100, 0);
  w.form1->close();  // the exit restores the newer snapshot
  QCOMPARE(ReadLine(0, kSpeakers, kSynth), (Line{0, kSpeakers, kSynth, 4321, 4321, 1}));
}

void MixerWindowTest::damagedDefaultSetIsNotLeftHalfApplied() {
  FreshCard card;
  FormFixture fx;
  fx.folder.Write("default.set",
                  "<A>0</A><B>0</B><C>0</C><L>1234</L><R>1234</R><M>1</M>\r\nnot a line\r\n");
  Windows w;
  const std::vector<Line> user = Everything();
  w.form1->ui.CheckBox1->SetChecked(true);
  w.form1->ui.Edit1->setText(fx.file("tesr.mid"));
  for (QPushButton* start : {w.form1->ui.JvXPButton6, w.form1->ui.JvXPButton7}) {
    fx.messages.clear();
    start->click();
    QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
    QCOMPARE(Everything(), user);
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages[0].contains(fx.file("default.set")) &&
                 fx.messages[0].contains("line 2", Qt::CaseInsensitive),
             qPrintable(fx.messages[0]));
  }
}

void MixerWindowTest::volumeControlFallsBackToTheControlPanel() {
  FreshCard card;
  FormFixture fx;
  Windows w;
  std::vector<std::string> asked;
  std::intptr_t panelResult = 42;
  bool allToThePanel = true;
  const auto form3 = static_cast<std::uint32_t>(w.form3->winId());
  QVERIFY(form3 != w.form1->Handle());
  platform::SetShellHook([&](const platform::ShellRequest& request) {
    asked.push_back(request.parameters);
    allToThePanel = allToThePanel && request.target.ends_with(platform::kPanelProgram) &&
                    request.window == form3;
    return request.parameters.empty() ? std::intptr_t{platform::SE_ERR_FNF} : panelResult;
  });
  w.ui().JvXPButton5->click();
  QVERIFY(asked == (std::vector<std::string>{"", "mmsys.cpl,,0"}));
  QVERIFY(allToThePanel);
  QVERIFY(fx.messages.isEmpty());
  panelResult = platform::SE_ERR_ACCESSDENIED;
  w.ui().JvXPButton5->click();
  platform::SetShellHook({});
  QCOMPARE(
      fx.messages,
      QStringList{QString::fromStdString(platform::ShellErrorText(platform::SE_ERR_ACCESSDENIED))});
}

TW_WINDOW_TEST_MAIN(MixerWindowTest)
#include "test_mixer_window.moc"
