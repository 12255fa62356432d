// Tunewisp on a card without a SoundFont: playing or converting a MIDI file says what is missing
// and how to get it, and records nothing.

#include <QTest>

#include "FormFixture.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "tests/support/SmfBuilder.h"

class NoSoundFontTest : public QObject {
  Q_OBJECT

 private slots:
  void playingAndConvertingSayWhatIsMissing();
};

void NoSoundFontTest::playingAndConvertingSayWhatIsMissing() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 2000);
  TForm1 form1;
  TForm7 form7;
  form1.FormActivate();
  form1.ui.Edit1->setText(fx.file("song.mid"));
  form1.ui.Edit2->setText(fx.file("song.mp3"));
  form1.ui.Mp3->click();
  for (QPushButton* button : {form1.ui.JvXPButton6, form1.ui.JvXPButton7}) {
    fx.messages.clear();
    button->click();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages[0].contains("apt-get install fluid-soundfont-gm") &&
                 fx.messages[0].contains("SOFTCARD_SOUNDFONT"),
             qPrintable(fx.messages[0]));
    QCOMPARE(form1.phase(), TForm1::Phase::Idle);
    QVERIFY(form1.ui.JvXPButton6->isEnabled() && form1.ui.JvXPButton7->isEnabled());
  }
  QVERIFY(!fx.folder.Exists("song.mp3"));
  QVERIFY(!fx.folder.Exists("temp.wav"));
}

TW_WINDOW_TEST_MAIN(NoSoundFontTest)
#include "test_nosoundfont.moc"
