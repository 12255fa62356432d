// Tunewisp on a card without a SoundFont: playing or converting a MIDI file says what is wrong (the
// SoundFont named does not exist, or it exists but the synthesiser cannot load it; none installed),
// and records nothing. Run once per case through SOFTCARD_SOUNDFONT.

#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "FormFixture.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "platform/softcard/Softcard.h"
#include "tests/support/SmfBuilder.h"

class NoSoundFontTest : public QObject {
  Q_OBJECT

 private slots:
  void playingAndConvertingSayWhatIsWrong();
};

void NoSoundFontTest::playingAndConvertingSayWhatIsWrong() {
  using platform::softcard::SoundFontStatus;
  const char* named = std::getenv("SOFTCARD_SOUNDFONT");
  QVERIFY2(named && *named, "runs with SOFTCARD_SOUNDFONT set");
  const bool exists = std::filesystem::exists(named);
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 2000);
  TForm1 form1;
  TForm7 form7;
  form1.FormActivate();
  const char* const said = exists ? "The SoundFont file \"%1\" exists, but the MIDI synthesiser "
                                    "cannot load it"
                                  : "The SoundFont file \"%1\" named in the environment "
                                    "variable SOFTCARD_SOUNDFONT does not exist";
  form1.ui.Edit1->setText(fx.file("song.mid"));
  form1.ui.Edit2->setText(fx.file("song.mp3"));
  form1.ui.Mp3->click();
  for (QPushButton* button : {form1.ui.JvXPButton6, form1.ui.JvXPButton7}) {
    fx.messages.clear();
    button->click();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages[0].startsWith(QString(said).arg(named)), qPrintable(fx.messages[0]));
    QCOMPARE(form1.phase(), TForm1::Phase::Idle);
    QVERIFY(form1.ui.JvXPButton6->isEnabled() && form1.ui.JvXPButton7->isEnabled());
  }
  QVERIFY(!fx.folder.Exists("song.mp3"));
  QVERIFY(!fx.folder.Exists("temp.wav"));

  // None installed (a machine without any SoundFont): how to get one.
  const QString none = form1.SoundFontMessage({SoundFontStatus::Kind::NoneInstalled, {}});
  QVERIFY2(none.startsWith("No SoundFont was found") &&
               none.contains("apt-get install fluid-soundfont-gm") &&
               none.contains("SOFTCARD_SOUNDFONT"),
           qPrintable(none));
}

TW_WINDOW_TEST_MAIN(NoSoundFontTest)
#include "test_nosoundfont.moc"
