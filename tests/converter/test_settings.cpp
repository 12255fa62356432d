// The output settings of the main window: what each type, rate, channel and bit-rate choice writes
// into the capture and the encoders, the extension swap, the rate captions and every bit-rate
// limit.

#include <QTest>
#include <memory>

#include "FormFixture.h"
#include "audio/ACS_Audio.h"
#include "audio/ACS_LAME.h"
#include "audio/ACS_Vorbis.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "tests/support/Mp3Encode.h"

namespace {

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
  Ui::TForm1& ui = form1->ui;
  Windows() { form1->FormActivate(); }
  // What a user's click on a radio button does.
  void click(TRadioButton* b) { b->click(); }
  int rate() const { return form1->AudioIn1->InSampleRate(); }
  int channels() const { return form1->AudioIn1->InChannels(); }
  TMP3BitRate mp3() const { return form1->MP3Out1->BitRate(); }
  TVorbisBitRate ogg() const { return form1->VorbisOut1->DesiredNominalBitrate(); }
};

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void startState();
  void outputTypeSwapsExtensionAndCaptions();
  void sameTypeAgainChangesNothing();
  void ratesByType();
  void channels();
  void mp3Limits();
  void oggLimits();
  void everyBitRateLeftChosenIsOneTheEncoderWrites();
  void inAndOutDialogs();
};

void SettingsTest::startState() {
  FormFixture fx;
  Windows w;
  QCOMPARE(w.rate(), 44100);
  QCOMPARE(w.channels(), 2);
  QCOMPARE(w.form1->AudioIn1->InBitsPerSample(), 16);
  QCOMPARE(w.mp3(), br128);
  QCOMPARE(w.form1->MP3Out1->Mode(), STEREO);
  QCOMPARE(w.form1->MP3Out1->SampleRate(), srDefault);
  // The Ogg list shows "128" while the writer chooses its own bit rate.
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("128"));
  QCOMPARE(w.ogg(), bbrAutoSelect);
}

void SettingsTest::outputTypeSwapsExtensionAndCaptions() {
  FormFixture fx;
  Windows w;
  w.click(w.ui.Mp3);
  QCOMPARE(w.ui.Edit2->text(), QString(".mp3"));  // empty name: the bare extension
  QCOMPARE(w.ui.RadioButton4->text(), QString("22050"));
  QCOMPARE(w.ui.RadioButton5->text(), QString("32000"));
  QVERIFY(w.ui.ComboBox1->isVisibleTo(w.form1.get()));
  QVERIFY(!w.ui.ComboBox2->isVisibleTo(w.form1.get()));
  w.ui.Edit2->setText("abc");
  w.click(w.ui.Ogg);
  QCOMPARE(w.ui.Edit2->text(), QString("abc.ogg"));  // fewer than 4 characters: nothing removed
  QCOMPARE(w.ui.RadioButton4->text(), QString("11025"));
  QCOMPARE(w.ui.RadioButton5->text(), QString("32000"));
  QVERIFY(w.ui.ComboBox2->isVisibleTo(w.form1.get()));
  w.ui.Edit2->setText("song.wav");
  w.click(w.ui.Mp3);
  QCOMPARE(w.ui.Edit2->text(), QString("song.mp3"));
  w.ui.Edit2->setText("song.midi");
  w.click(w.ui.Wav);
  QCOMPARE(w.ui.Edit2->text(), QString("song.wav"));  // the extension goes, whatever its length
  w.ui.Edit2->setText("/music/out");
  w.click(w.ui.Ogg);
  QCOMPARE(w.ui.Edit2->text(), QString("/music/out.ogg"));  // no extension: one is added
  w.click(w.ui.Wav);
  QCOMPARE(w.ui.RadioButton5->text(), QString("22050"));
  QVERIFY(!w.ui.ComboBox1->isVisibleTo(w.form1.get()));
  // Every change of type selects the third rate.
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.rate(), 11025);
  w.click(w.ui.Ogg);
  QVERIFY(w.ui.RadioButton6->Checked());
  QCOMPARE(w.rate(), 44100);
}

void SettingsTest::sameTypeAgainChangesNothing() {
  FormFixture fx;
  Windows w;
  w.ui.Edit2->setText("keep.wav");
  w.click(w.ui.RadioButton5);
  w.click(w.ui.Wav);  // already checked
  QCOMPARE(w.ui.Edit2->text(), QString("keep.wav"));
  QVERIFY(w.ui.RadioButton5->Checked());
  QCOMPARE(w.rate(), 22050);
}

void SettingsTest::ratesByType() {
  FormFixture fx;
  Windows w;
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.rate(), 11025);
  w.click(w.ui.RadioButton5);
  QCOMPARE(w.rate(), 22050);
  w.click(w.ui.Mp3);
  QCOMPARE(w.form1->MP3Out1->SampleRate(), sr44kHz);
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.rate(), 22050);
  QCOMPARE(w.form1->MP3Out1->SampleRate(), sr22kHz);
  w.click(w.ui.RadioButton5);
  QCOMPARE(w.rate(), 32000);
  QCOMPARE(w.form1->MP3Out1->SampleRate(), sr32kHz);
  w.click(w.ui.Ogg);
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.rate(), 11025);
  w.click(w.ui.RadioButton5);
  QCOMPARE(w.rate(), 32000);
  w.click(w.ui.RadioButton6);
  QCOMPARE(w.rate(), 44100);
}

void SettingsTest::channels() {
  FormFixture fx;
  Windows w;
  w.click(w.ui.Mp3);
  w.click(w.ui.RadioButton3);  // mono under Mp3: the recording stays stereo, the encoder mixes down
  QCOMPARE(w.channels(), 2);
  QCOMPARE(w.form1->MP3Out1->Mode(), MONO);
  w.click(w.ui.RadioButton7);
  QCOMPARE(w.channels(), 2);
  QCOMPARE(w.form1->MP3Out1->Mode(), STEREO);
  w.click(w.ui.Wav);
  w.click(w.ui.RadioButton3);
  QCOMPARE(w.channels(), 1);
  w.click(w.ui.Mp3);  // a type change leaves the channels alone
  QCOMPARE(w.channels(), 1);
}

void SettingsTest::mp3Limits() {
  FormFixture fx;
  Windows w;
  w.click(w.ui.Mp3);
  w.click(w.ui.RadioButton4);
  w.ui.ComboBox1->Choose(14);  // "192" at 22050 Hz
  QCOMPARE(fx.messages, QStringList({"Max 160"}));
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("160"));
  QCOMPARE(w.mp3(), br160);
  w.ui.ComboBox1->Choose(1);  // "16" is allowed at 22050 Hz
  QCOMPARE(w.mp3(), br16);
  QCOMPARE(fx.messages.size(), 1);
  w.click(w.ui.RadioButton6);
  w.ui.ComboBox1->Choose(0);  // "8" at 44100 Hz
  QCOMPARE(fx.messages.last(), QString("Min 32"));
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("32"));
  QCOMPARE(w.mp3(), br32);
  w.ui.ComboBox1->Choose(17);
  QCOMPARE(w.mp3(), br320);
  QCOMPARE(fx.messages.size(), 2);
  // "192" selected, then the first rate: silently "160".
  w.ui.ComboBox1->Choose(14);
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("160"));
  QCOMPARE(w.mp3(), br160);
  // "16" at the first rate, then Wav: the third rate's limit makes the hidden list "32".
  w.ui.ComboBox1->Choose(1);
  w.click(w.ui.Wav);
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("32"));
  QCOMPARE(w.mp3(), br32);
  QCOMPARE(fx.messages.size(), 2);  // the other limits are silent
  // The second rate has the same lower limit.
  w.click(w.ui.Mp3);
  w.click(w.ui.RadioButton4);
  w.ui.ComboBox1->Choose(2);
  w.click(w.ui.RadioButton5);
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("32"));
  // "144" exists at 22050 Hz only: chosen at 32000 Hz it becomes "160" with a message; a rate
  // clicked with "144" selected corrects it silently.
  w.ui.ComboBox1->Choose(12);
  QCOMPARE(fx.messages.size(), 3);
  QVERIFY(fx.messages.last().contains("144"));
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("160"));
  QCOMPARE(w.mp3(), br160);
  w.click(w.ui.RadioButton4);
  w.ui.ComboBox1->Choose(12);
  QCOMPARE(w.mp3(), br144);
  w.click(w.ui.RadioButton6);
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("160"));
  QCOMPARE(w.mp3(), br160);
  QCOMPARE(fx.messages.size(), 3);
}

void SettingsTest::oggLimits() {
  FormFixture fx;
  Windows w;
  w.click(w.ui.Ogg);
  // First rate, stereo: at most "96"; "Auto" survives.
  w.ui.ComboBox2->Choose(14);
  QCOMPARE(w.ogg(), bbrAutoSelect);
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("Auto"));
  w.click(w.ui.RadioButton3);  // mono: still "Auto"
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("Auto"));
  w.click(w.ui.RadioButton5);
  // The first rate clicked again: the highest mono item at 11025 Hz that the encoder takes, "48".
  w.click(w.ui.RadioButton4);
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("48"));
  QCOMPARE(w.ogg(), bbr48);
  w.click(w.ui.RadioButton7);
  w.ui.ComboBox2->Choose(10);  // "192" at 11025 Hz stereo
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("96"));
  QCOMPARE(w.ogg(), bbr96);
  w.click(w.ui.RadioButton3);
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("48"));
  w.ui.ComboBox2->Choose(4);  // "80" chosen at 11025 Hz mono
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("48"));
  QCOMPARE(w.ogg(), bbr48);
  w.ui.ComboBox2->Choose(0);
  QCOMPARE(w.ogg(), bbr45);
  // Second rate, mono: at most "160".
  w.click(w.ui.RadioButton5);
  w.ui.ComboBox2->Choose(12);
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("160"));
  QCOMPARE(w.ogg(), bbr160);
  w.click(w.ui.RadioButton7);
  w.ui.ComboBox2->Choose(10);  // stereo at 32000 Hz: no limit
  QCOMPARE(w.ogg(), bbr192);
  w.click(w.ui.RadioButton3);  // "192" at 32000 Hz, mono clicked: "160"
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("160"));
  QCOMPARE(w.ogg(), bbr160);
  w.click(w.ui.RadioButton6);
  QCOMPARE(w.ogg(), bbr160);
  w.ui.ComboBox2->Choose(13);  // third rate, mono: at most "224"
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("224"));
  QCOMPARE(w.ogg(), bbr224);
  w.click(w.ui.RadioButton7);
  w.ui.ComboBox2->Choose(13);  // stereo at 44100 Hz: no limit
  QCOMPARE(w.ogg(), bbr320);
  w.click(w.ui.RadioButton3);
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("224"));
  QCOMPARE(w.ogg(), bbr224);
  QVERIFY(fx.messages.isEmpty());
}

void SettingsTest::everyBitRateLeftChosenIsOneTheEncoderWrites() {
  // Whatever the user chooses, the list ends on a bit rate that the encoders write as it is for
  // the rate and channels the recording will have: LAME neither refuses nor replaces it, and
  // libvorbis accepts it.
  FormFixture fx;
  Windows w;
  TRadioButton* rates[] = {w.ui.RadioButton4, w.ui.RadioButton5, w.ui.RadioButton6};
  for (TRadioButton* type : {w.ui.Mp3, w.ui.Ogg}) {
    w.click(type);
    TComboBox* list = type == w.ui.Mp3 ? w.ui.ComboBox1 : w.ui.ComboBox2;
    for (TRadioButton* rate : rates) {
      for (TRadioButton* channels : {w.ui.RadioButton3, w.ui.RadioButton7}) {
        for (int item = 0; item < list->count(); ++item) {
          w.click(rate);
          w.click(channels);
          list->Choose(item);
          const QString where = QString("%1 %2 Hz %3, item %4 left %5")
                                    .arg(type->text())
                                    .arg(w.rate())
                                    .arg(channels->text())
                                    .arg(item)
                                    .arg(list->currentText());
          const int kbps = list->currentText().toInt();
          const bool mono = channels == w.ui.RadioButton3;
          if (type == w.ui.Mp3) {
            QCOMPARE(int(w.mp3()), list->ItemIndex());
            QVERIFY2(testsupport::Mp3BitRateWritten(w.rate(), w.channels(), mono, kbps) == kbps,
                     qPrintable(where));
          } else if (list->ItemIndex() != 14) {  // "Auto" encodes by quality
            QCOMPARE(int(w.ogg()), list->ItemIndex() + 1);
            // Through the library the writer has loaded.
            vorbis_info info;
            acs::vorbis_info_init(&info);
            const int init =
                acs::vorbis_encode_init(&info, w.channels(), w.rate(), -1, kbps * 1000, -1);
            acs::vorbis_info_clear(&info);
            QVERIFY2(init == 0, qPrintable(where));
          }
        }
      }
    }
  }
}

void SettingsTest::inAndOutDialogs() {
  FormFixture fx;
  Windows w;
  w.ui.JvXPButton4->click();  // "In" cancelled before any choice
  QCOMPARE(w.ui.Edit1->text(), QString());
  fx.dialogAnswers.push_back("/music/a.mid");
  w.ui.JvXPButton4->click();
  QCOMPARE(w.ui.Edit1->text(), QString("/music/a.mid"));
  w.ui.JvXPButton4->click();  // cancelled: the last choice stays
  QCOMPARE(w.ui.Edit1->text(), QString("/music/a.mid"));

  w.click(w.ui.Ogg);
  w.ui.JvXPButton5->click();  // "Out" cancelled before any choice
  QCOMPARE(w.ui.Edit2->text(), QString(".ogg"));
  w.click(w.ui.Wav);
  fx.dialogAnswers.push_back("x.WAV");  // the search is case-sensitive
  w.ui.JvXPButton5->click();
  QCOMPARE(w.ui.Edit2->text(), QString("x.WAV.wav"));
  fx.dialogAnswers.push_back("take.mp3.old");  // holds an extension after its first character
  w.ui.JvXPButton5->click();
  QCOMPARE(w.ui.Edit2->text(), QString("take.mp3.old"));
  fx.dialogAnswers.push_back(".wav");  // only at the first character: appended
  w.ui.JvXPButton5->click();
  QCOMPARE(w.ui.Edit2->text(), QString(".wav.wav"));
}

TW_WINDOW_TEST_MAIN(SettingsTest)
#include "test_settings.moc"
