// The first "Convert one" and "Play this midi" of a session. While the card's synthesiser still
// loads (the test holds the load: a process of its own, whose card is made here) the click shows
// its running captions at once and waits with the window's messages handled, so that a Stop click
// ends the start with nothing opened, played or recorded (a list row so stopped is named at the
// run's end). Once loaded, the captions are painted before the MIDI file is first opened.

#include <QTest>
#include <memory>
#include <string_view>

#include "FormFixture.h"
#include "converter/Unit1.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/DecodedAudio.h"
#include "tests/support/HeldSynthLoad.h"
#include "tests/support/PaintLog.h"
#include "tests/support/SmfBuilder.h"
#include "tests/wizard/HandoverSupport.h"

namespace {

// The main window shown, a MIDI file and a WAV output named, and "Convert one" (or "Play this
// midi") watched: its caption and the status as they are painted, and the MIDI files the sequencer
// is asked to open.
struct Start {
  explicit Start(FormFixture& fx, bool convert)
      : button(convert ? form1->ui.JvXPButton7 : form1->ui.JvXPButton6),
        status(convert ? "Recording..." : "Playing..."),
        done(convert ? "Conversion finished!" : "Finished!") {
    smftest::WriteMidiFile((fx.folder / "song.mid"), 2000);
    form1->FormActivate();
    form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(form1.get()));
    form1->ui.Edit1->setText(fx.file("song.mid"));
    form1->ui.Edit2->setText(fx.file("out.wav"));
    platform::SetMciObserver([this](std::string_view command) {
      if (command.starts_with("open ") && ++opened == 1) paintedAtOpen = Painted();
    });
  }
  ~Start() { platform::SetMciObserver({}); }
  // The Stop caption and the running status have been painted.
  bool Painted() const {
    return buttonPaints.FirstShowing("Stop") && statusPaints.FirstShowing(status);
  }

  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
  QPushButton* button;
  QString status, done;
  tw_test::PaintLog buttonPaints{button}, statusPaints{form1->ui.Label3};
  int opened = 0;
  bool paintedAtOpen = false;
};

void StartData() {
  QTest::addColumn<bool>("convert");
  QTest::newRow("convert one") << true;
  QTest::newRow("play this midi") << false;
}

}  // namespace

class FirstUseTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    tw_test::HoldSynthLoad();
    platform::softcard::StartCard();
    tw_test::WaitForSynthLoadToStart();
  }
  void stopWhileTheSynthesiserLoads_data() { StartData(); }
  void stopWhileTheSynthesiserLoads();
  // Lets the load go: it comes after the tests that need it held.
  void aListRowStoppedWhileTheSynthesiserLoadsIsNamedAtTheEnd();
  void captionsArePaintedBeforeTheMidiIsOpened_data() { StartData(); }
  void captionsArePaintedBeforeTheMidiIsOpened();
  // A run of a few of the tests above must not leave the card waiting for the load at exit.
  void cleanupTestCase() { tw_test::ReleaseSynthLoad(); }
};

void FirstUseTest::stopWhileTheSynthesiserLoads() {
  QFETCH(bool, convert);
  FormFixture fx;
  // "Use Midi presets" on: nothing of them reaches the mixer before the synthesiser can play.
  fx.folder.Write("default.set", OtherVolumesText());
  const std::string user = MixerStateText();
  Start s(fx, convert);
  QVERIFY(s.form1->ui.CheckBox1->Checked());
  // Inside the starting click's wait: what has been painted, opened and set, then Stop.
  bool waited = false, paintedInWait = false;
  int openedInWait = -1;
  std::string mixerInWait;
  Later([&] {
    waited = true;
    paintedInWait = s.Painted();
    openedInWait = s.opened;
    mixerInWait = MixerStateText();
    QTest::mouseClick(s.button, Qt::LeftButton);
  });
  QTest::mouseClick(s.button, Qt::LeftButton);
  QVERIFY(waited);
  QVERIFY(paintedInWait);
  QCOMPARE(openedInWait, 0);
  QCOMPARE(mixerInWait, user);
  QCOMPARE(MixerStateText(), user);
  // The stop ended the start without waiting for the load, and nothing was opened or recorded.
  QVERIFY(!platform::softcard::Card::Instance().WaitForSynth(std::chrono::milliseconds(0)));
  QCOMPARE(s.opened, 0);
  QCOMPARE(fx.messages, QStringList());
  QVERIFY(!fx.folder.Exists("out.wav"));
  QCOMPARE(s.form1->phase(), TForm1::Phase::Idle);
  QCOMPARE(s.form1->ui.Label3->text(), QString("Ready"));
  QCOMPARE(s.form1->ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(s.form1->ui.JvXPButton6->text(), QString("Play this midi"));
  QVERIFY(s.form1->ui.JvXPButton7->isEnabled());
  QVERIFY(s.form1->ui.JvXPButton6->isEnabled());
  QVERIFY(s.form1->ui.JvXPButton2->isEnabled());
}

void FirstUseTest::aListRowStoppedWhileTheSynthesiserLoadsIsNamedAtTheEnd() {
  FormFixture fx;
  Start s(fx, true);
  const auto form4 = std::make_unique<TForm4>();
  Ui::TForm1& ui = s.form1->ui;
  QTest::mouseClick(ui.JvXPButton1, Qt::LeftButton);  // song.mid -> out.wav
  smftest::WriteMidiFile((fx.folder / "next.mid"), 2000);
  ui.Edit1->setText(fx.file("next.mid"));
  ui.Edit2->setText(fx.file("next.wav"));
  QTest::mouseClick(ui.JvXPButton1, Qt::LeftButton);
  // Inside the first row's wait for the load: Stop, then the load let go for the second row.
  QString caption;
  Later([&] {
    caption = ui.JvXPButton7->text();
    QTest::mouseClick(ui.JvXPButton7, Qt::LeftButton);
    Later([] { tw_test::ReleaseSynthLoad(); });
  });
  QTest::mouseClick(ui.JvXPButton2, Qt::LeftButton);
  QCOMPARE(caption, QString("Stop"));
  QCOMPARE(fx.messages, QStringList({"Conversion finished!\n\nThese files were not converted:\n" +
                                     fx.file("song.mid") +
                                     ": The conversion was stopped before its recording began."}));
  QVERIFY(!fx.folder.Exists("out.wav"));
  QVERIFY(DecodeWav((fx.folder / "next.wav")).SoundingFraction(2.0) > 0.3);
}

void FirstUseTest::captionsArePaintedBeforeTheMidiIsOpened() {
  QFETCH(bool, convert);
  tw_test::ReleaseSynthLoad();
  FormFixture fx;
  Start s(fx, convert);
  QTest::mouseClick(s.button, Qt::LeftButton);
  QVERIFY(s.opened > 0);
  QVERIFY(s.paintedAtOpen);
  QCOMPARE(fx.messages, QStringList({s.done}));
}

TW_WINDOW_TEST_MAIN(FirstUseTest)
#include "test_first_use.moc"
