// "Convert one" on the virtual card at SOFTCARD_SPEED=max: the MIDI plays while the card's output
// is recorded, then encoded; every type, rate position and channel setting; Stop during a
// recording; the record-time window; a missing output folder; the phase kept across a relabelling.

#include <sys/stat.h>

#include <QDir>
#include <QStyleHints>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "FormFixture.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "mixer/AMixer.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/DecodedAudio.h"
#include "tests/support/SmfBuilder.h"
#include "widgets/TerminationSignals.h"

namespace {

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
  Ui::TForm1& ui = form1->ui;
  Windows() { form1->FormActivate(); }
  TAudioMixer* Mixer() const { return form1->Mixer; }
};

DecodedAudio Decode(const std::string& path, const QString& type) {
  if (type == "Mp3") return DecodeMp3(path);
  if (type == "Ogg") return DecodeOgg(path);
  return DecodeWav(path);
}

// The rate of a rate position under an output type.
int RateOf(const QString& type, int position) {
  static const int wav[] = {11025, 22050, 44100}, mp3[] = {22050, 32000, 44100},
                   ogg[] = {11025, 32000, 44100};
  return (type == "Mp3" ? mp3 : type == "Ogg" ? ogg : wav)[position];
}

// The test songs last 6 s and record 7 s. At SOFTCARD_SPEED=max the card's clock runs unpaced
// between the MIDI's start and the capture's start, so on a loaded machine the recording may begin
// a little into the song: the music is checked over the song's length with room for that.
constexpr int kSongMs = 6000;
constexpr double kSongSeconds = kSongMs / 1000.0;
constexpr double kRecordSeconds = kSongMs / 1000 + 1;
constexpr double kSounding = 0.3;  // of the song's 100 ms windows, at least

// The capture hands over whole 16 KB buffers, so a recording may run past its time by less than one
// buffer: the longest a recording of `seconds` may last at a capture format.
double LongestRecording(double seconds, int rate, int channels) {
  return seconds + 16384.0 / (rate * channels * 2);
}

// The temporary files that outputs are written to before they are complete, left in the folder.
QStringList PartFiles(const FormFixture& fx) {
  return QDir(QString::fromStdString(fx.folder.Path().string())).entryList({"*.part"});
}

void ChooseSettings(Windows& w, const QString& type, int position, bool mono) {
  TRadioButton* types[] = {w.ui.Wav, w.ui.Mp3, w.ui.Ogg};
  types[type == "Mp3" ? 1 : type == "Ogg" ? 2 : 0]->click();
  TRadioButton* rates[] = {w.ui.RadioButton4, w.ui.RadioButton5, w.ui.RadioButton6};
  rates[position]->click();
  (mono ? w.ui.RadioButton3 : w.ui.RadioButton7)->click();
}

// A 60 s MIDI file to convert into `output` of the program folder, with the type's last rate in
// stereo: long enough to be stopped or closed while it records.
void SetUpLongConversion(FormFixture& fx, Windows& w, const QString& type, const QString& output) {
  smftest::WriteMidiFile((fx.folder / "long.mid"), 60000);
  ChooseSettings(w, type, 2, false);
  w.ui.Edit1->setText(fx.file("long.mid"));
  w.ui.Edit2->setText(fx.file(qPrintable(output)));
}

}  // namespace

class ConvertTest : public QObject {
  Q_OBJECT

 private slots:
  void convertsEveryTypeRateAndChannelSetting_data();
  void convertsEveryTypeRateAndChannelSetting();
  void outputNameFromInputAndMissingInput();
  void outputOverItsInputOrTemporaryRecordingIsRefused();
  void outputsThatAreNotFilesAreRefusedWithoutWaiting();
  void aMoveThatFailsKeepsTheRecordingAndSaysWhere();
  void aDoubleClickDoesNotStopWhatItStarted();
  void stopDuringRecording_data();
  void stopDuringRecording();
  void relabellingKeepsTheRecordingPhase();
  void outputTypeAndNamesHoldWhileConverting();
  void recordTimeWindowOverridesTheLength();
  void midiLongerThanTheLongestRecordingIsRefused();
  void missingOutputFolderGivesAMessage_data();
  void missingOutputFolderGivesAMessage();
  void midiPresetsApplyBeforeTheRecording();
  void closingTheWindowKeepsWhatWasRecorded();
  void terminationSignalsEndTheRecordingAsClosingDoes_data();
  void terminationSignalsEndTheRecordingAsClosingDoes();
};

void ConvertTest::convertsEveryTypeRateAndChannelSetting_data() {
  QTest::addColumn<QString>("type");
  QTest::addColumn<int>("position");
  QTest::addColumn<bool>("mono");
  for (const char* type : {"Wav", "Mp3", "Ogg"})
    for (int position = 0; position < 3; ++position)
      for (bool mono : {false, true})
        QTest::addRow("%s %d %s", type, RateOf(type, position), mono ? "mono" : "stereo")
            << QString(type) << position << mono;
}

void ConvertTest::convertsEveryTypeRateAndChannelSetting() {
  QFETCH(QString, type);
  QFETCH(int, position);
  QFETCH(bool, mono);
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), kSongMs);
  Windows w;
  ChooseSettings(w, type, position, mono);
  w.ui.Edit1->setText(fx.file("song.mid"));
  const QString out = fx.file("out.") + type.toLower();
  w.ui.Edit2->setText(out);
  w.ui.JvXPButton7->click();

  QCOMPARE(fx.messages, QStringList({type == "Wav" ? "Conversion finished!" : "Finished!"}));
  const DecodedAudio audio = Decode(out.toStdString(), type);
  QVERIFY2(audio.ok, audio.error.c_str());
  QCOMPARE(audio.rate, RateOf(type, position));
  QCOMPARE(audio.channels, mono ? 1 : 2);
  // The MIDI's length in whole seconds plus one (the capture may run past by less than one of its
  // buffers); an MP3 adds the encoder's delay and padding. An MP3 is recorded in stereo.
  const double tolerance = type == "Mp3" ? 0.15 : 0.001;
  const int capturedChannels = type == "Mp3" || !mono ? 2 : 1;
  const double longest = LongestRecording(kRecordSeconds, RateOf(type, position), capturedChannels);
  QVERIFY2(audio.Seconds() >= kRecordSeconds - tolerance && audio.Seconds() <= longest + tolerance,
           qPrintable(QString::number(audio.Seconds())));
  QVERIFY2(audio.SoundingFraction(kSongSeconds) > kSounding,
           qPrintable(QString::number(audio.SoundingFraction(kSongSeconds))));
  if (type == "Wav") QCOMPARE(std::size_t(audio.headerDataSize), audio.samples.size() * 2);
  QVERIFY(!fx.folder.Exists("temp.wav"));
  QCOMPARE(PartFiles(fx), QStringList());
  // Back at rest.
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QCOMPARE(w.ui.Label3->text(), QString("Ready"));
  QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
  QVERIFY(w.ui.JvXPButton7->isEnabled());
  QVERIFY(w.ui.JvXPButton6->isEnabled());
  QVERIFY(w.ui.JvXPButton2->isEnabled());
  QVERIFY(w.ui.ComboBox3->isEnabled());
  QCOMPARE(w.ui.ProgressBar1->value(), 0);
}

void ConvertTest::outputNameFromInputAndMissingInput() {
  FormFixture fx;
  // A karaoke file: a MIDI file under another extension.
  smftest::WriteMidiFile((fx.folder / "song.kar"), 1000);
  Windows w;
  w.ui.Mp3->click();
  w.ui.Edit2->clear();
  w.ui.Edit1->setText(fx.file("song.kar"));
  w.ui.JvXPButton7->click();
  QCOMPARE(fx.messages, QStringList({"Finished!"}));
  QCOMPARE(w.ui.Edit2->text(), fx.file("song.kar.mp3"));
  QVERIFY(DecodeMp3((fx.folder / "song.kar.mp3")).ok);

  // Both names empty: the output becomes the bare extension and the dialog asks for a MIDI file.
  fx.messages.clear();
  w.ui.Wav->click();
  w.ui.Edit1->clear();
  w.ui.Edit2->clear();
  w.ui.JvXPButton7->click();
  QCOMPARE(w.ui.Edit2->text(), QString(".wav"));
  QCOMPARE(fx.dialogsShown, 1);
  QVERIFY(fx.messages.isEmpty());
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QVERIFY(w.ui.ComboBox3->isEnabled());
  QVERIFY(!fx.folder.Exists(".wav"));
}

void ConvertTest::outputOverItsInputOrTemporaryRecordingIsRefused() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 1000);
  const std::string midi = fx.folder.Read("song.mid");
  std::filesystem::create_symlink((fx.folder / "song.mid"), (fx.folder / "link.mid"));
  Windows w;
  w.ui.Edit1->setText(fx.file("song.mid"));
  const std::pair<const char*, QString> refused[] = {
      {"Wav", fx.file("song.mid")},
      {"Mp3", fx.folder.Path().string().c_str() + QString("/./song.mid")},
      {"Ogg", fx.file("link.mid")},
      // The recording the encoder reads, which the next MP3 or Ogg Vorbis recording deletes.
      {"Wav", fx.file("temp.wav")},
      {"Mp3", fx.file("temp.wav")},
      {"Ogg", fx.file("temp.wav")},
  };
  for (const auto& [type, output] : refused) {
    fx.messages.clear();
    ChooseSettings(w, type, 2, false);
    w.ui.Edit2->setText(output);
    int sent = 0;
    platform::SetMciObserver([&](std::string_view) { ++sent; });
    w.ui.JvXPButton7->click();
    platform::SetMciObserver({});
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages[0].startsWith("The output file \"" + output + "\" is the input MIDI file"),
             qPrintable(fx.messages[0]));
    QCOMPARE(sent, 0);  // nothing measured or played
    QCOMPARE(fx.folder.Read("song.mid"), midi);
    QVERIFY(!fx.folder.Exists("temp.wav"));
    QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
    QVERIFY(w.ui.ComboBox3->isEnabled());
  }
}

void ConvertTest::outputsThatAreNotFilesAreRefusedWithoutWaiting() {
  FormFixture fx(false);
  // FIFOs as the default settings and as an output: nothing waits for their other end.
  for (const char* fifo : {"default.set", "pipe.mp3"})
    QCOMPARE(::mkfifo(fx.file(fifo).toLocal8Bit().constData(), 0644), 0);
  std::filesystem::create_directory((fx.folder / "folder.wav"));
  smftest::WriteMidiFile((fx.folder / "song.mid"), 1000);
  Windows w;
  QVERIFY(!w.ui.CheckBox1->Checked());
  w.ui.Edit1->setText(fx.file("song.mid"));
  for (const auto& [type, output, is] :
       {std::tuple{"Mp3", "pipe.mp3", "a named pipe (FIFO)"}, {"Wav", "folder.wav", "a folder"}}) {
    fx.messages.clear();
    ChooseSettings(w, type, 2, false);
    w.ui.Edit2->setText(fx.file(output));
    w.ui.JvXPButton7->click();
    QCOMPARE(fx.messages, QStringList("The conversion failed:\nThe output file \"" +
                                      fx.file(output) + "\" is " + is + ", not a file."));
    QCOMPARE(w.form1->MidiLengthMs, 0);  // refused before the MIDI was measured
  }
}

void ConvertTest::aMoveThatFailsKeepsTheRecordingAndSaysWhere() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), kSongMs);
  Windows w;
  w.ui.Edit1->setText(fx.file("song.mid"));
  w.ui.Edit2->setText(fx.file("taken.wav"));
  // A folder, not empty, takes the output's name while the recording runs.
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&] {
    if (std::filesystem::create_directory((fx.folder / "taken.wav")))
      fx.folder.Write("taken.wav/inside", "");
  });
  w.ui.JvXPButton7->click();
  const QStringList parts = PartFiles(fx);
  QCOMPARE(parts.size(), 1);
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].contains(fx.file(qPrintable(parts[0]))) &&
               fx.messages[0].contains(fx.file("taken.wav")),
           qPrintable(fx.messages[0]));
  QVERIFY(DecodeWav((fx.folder / parts[0].toStdString())).Seconds() >= kRecordSeconds);
}

void ConvertTest::aDoubleClickDoesNotStopWhatItStarted() {
  FormFixture fx;
  Windows w;
  SetUpLongConversion(fx, w, "Wav", "out.wav");
  w.form1->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.form1.get()));
  QWindow* window = w.form1->windowHandle();
  const QPoint button = w.ui.JvXPButton7->mapTo(w.form1.get(), w.ui.JvXPButton7->rect().center());
  // The second click of the double click comes in while the conversion runs, its press 1 ms after
  // the first one's (inside the first click's handler QTest has not moved its clock on yet); a
  // click after the double-click interval stops.
  Later([&] {
    QTest::mousePress(window, Qt::LeftButton, {}, button, 1);
    QTest::mouseRelease(window, Qt::LeftButton, {}, button, 1);
  });
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v != 10) return;
    QTest::lastMouseTimestamp += QGuiApplication::styleHints()->mouseDoubleClickInterval();
    Later([&] { QTest::mouseClick(window, Qt::LeftButton, {}, button); });
  });
  QTest::mouseClick(window, Qt::LeftButton, {}, button);
  QCOMPARE(fx.messages, QStringList({"Conversion finished!"}));
  const double seconds = DecodeWav((fx.folder / "out.wav")).Seconds();
  QVERIFY2(seconds > 5.0 && seconds < 40.0, qPrintable(QString::number(seconds)));
}

void ConvertTest::stopDuringRecording_data() {
  QTest::addColumn<QString>("type");
  QTest::newRow("wav") << "Wav";
  QTest::newRow("mp3") << "Mp3";
  QTest::newRow("ogg") << "Ogg";
}

void ConvertTest::stopDuringRecording() {
  QFETCH(QString, type);
  FormFixture fx;
  Windows w;
  SetUpLongConversion(fx, w, type, "out." + type.toLower());
  const QString out = w.ui.Edit2->text();
  // It replaces a file whose permissions it keeps, whatever the umask.
  fx.folder.Write(out.section('/', -1).toStdString(), "previous");
  const auto perms = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                     std::filesystem::perms::group_read | std::filesystem::perms::others_read;
  std::filesystem::permissions(out.toStdString(), perms);
  const mode_t umask = ::umask(077);
  bool stopped = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 5 && !stopped && w.form1->phase() == TForm1::Phase::Recording) {
      stopped = true;
      QCOMPARE(w.ui.JvXPButton7->text(), QString("Stop"));
      QCOMPARE(w.ui.Label3->text(), QString("Recording..."));
      Later([&] { w.ui.JvXPButton7->click(); });  // handled inside the converting click's wait
    }
  });
  w.ui.JvXPButton7->click();
  ::umask(umask);
  QVERIFY(stopped);
  QCOMPARE(fx.messages, QStringList({type == "Wav" ? "Conversion finished!" : "Finished!"}));
  QVERIFY(std::filesystem::status(out.toStdString()).permissions() == perms);
  const DecodedAudio audio = Decode(out.toStdString(), type);
  QVERIFY2(audio.ok, audio.error.c_str());
  QVERIFY2(audio.Seconds() > 2.0 && audio.Seconds() < 40.0,
           qPrintable(QString::number(audio.Seconds())));
  QVERIFY(audio.Rms() > 0.001);
  if (type == "Wav") QCOMPARE(std::size_t(audio.headerDataSize), audio.samples.size() * 2);
  QVERIFY(!fx.folder.Exists("temp.wav"));
  QCOMPARE(PartFiles(fx), QStringList());
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
  QVERIFY(w.ui.JvXPButton6->isEnabled());
}

void ConvertTest::relabellingKeepsTheRecordingPhase() {
  FormFixture fx;
  Windows w;
  SetUpLongConversion(fx, w, "Wav", "out.wav");
  QString caption, status;
  bool stopped = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 3 && caption.isEmpty()) {
      w.form1->FormActivate();  // back from another window of the program
      caption = w.ui.JvXPButton7->text();
      status = w.ui.Label3->text();
    } else if (v >= 6 && !stopped) {
      stopped = true;
      Later([&] { w.ui.JvXPButton7->click(); });  // still means Stop
    }
  });
  w.ui.JvXPButton7->click();
  QCOMPARE(caption, QString("Stop"));
  QCOMPARE(status, QString("Recording..."));
  QVERIFY(stopped);
  QCOMPARE(fx.messages, QStringList({"Conversion finished!"}));
  const DecodedAudio audio = DecodeWav((fx.folder / "out.wav"));
  QVERIFY(audio.ok);
  QVERIFY(audio.Seconds() < 40.0);
}

void ConvertTest::outputTypeAndNamesHoldWhileConverting() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), kSongMs);
  Windows w;
  ChooseSettings(w, "Mp3", 2, false);
  w.ui.Edit1->setText(fx.file("song.mid"));
  const QString out = fx.file("held.mp3");
  w.ui.Edit2->setText(out);
  const QList<QWidget*> fileControls = {w.ui.Wav,   w.ui.Mp3,         w.ui.Ogg,        w.ui.Edit1,
                                        w.ui.Edit2, w.ui.JvXPButton4, w.ui.JvXPButton5};
  bool changed = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v < 5 || changed || w.form1->phase() != TForm1::Phase::Recording) return;
    changed = true;
    for (QWidget* control : fileControls)
      QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(w.ui.RadioButton3->isEnabled());
    QVERIFY(w.ui.ComboBox1->isEnabled());
    w.ui.Ogg->click();           // refused: the window keeps showing what is being written
    w.ui.RadioButton3->click();  // mono still reaches this conversion's encoder
  });
  w.ui.JvXPButton7->click();
  QVERIFY(changed);
  QVERIFY(w.ui.Mp3->Checked());
  QCOMPARE(w.ui.Edit2->text(), out);
  const DecodedAudio audio = DecodeMp3(out.toStdString());
  QVERIFY2(audio.ok, audio.error.c_str());
  QCOMPARE(audio.channels, 1);
  for (QWidget* control : fileControls) QVERIFY(control->isEnabled());
}

void ConvertTest::recordTimeWindowOverridesTheLength() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 6000);
  Windows w;
  w.form7->ui.Edit1->setText("2");
  w.ui.Edit1->setText(fx.file("song.mid"));
  w.ui.Edit2->setText(fx.file("out.wav"));
  w.ui.JvXPButton7->click();
  QCOMPARE(w.form1->MidiLengthMs, 6000);  // still measured
  const DecodedAudio audio = DecodeWav((fx.folder / "out.wav"));
  QVERIFY(audio.ok);
  QVERIFY2(audio.Seconds() >= 2.0 && audio.Seconds() <= LongestRecording(2.0, 44100, 2),
           qPrintable(QString::number(audio.Seconds())));

  // "0" records nothing, and every type still writes its file.
  w.form7->ui.Edit1->setText("0");
  for (const QString type : {"Wav", "Mp3", "Ogg"}) {
    fx.messages.clear();
    ChooseSettings(w, type, 2, false);
    const QString out = fx.file("empty.") + type.toLower();
    w.ui.Edit2->setText(out);
    w.ui.JvXPButton7->click();
    QCOMPARE(fx.messages, QStringList({type == "Wav" ? "Conversion finished!" : "Finished!"}));
    const DecodedAudio audio = Decode(out.toStdString(), type);
    QVERIFY2(audio.ok, audio.error.c_str());
    // At most the one capture buffer a recording may run past its end (and an MP3's padding).
    QVERIFY2(audio.Seconds() < 0.2, qPrintable(QString::number(audio.Seconds())));
  }

  // Longer than the capture can record in the format set: refused before anything starts (no
  // presets, no MIDI, no file), with the true limit. An MP3 is recorded in stereo even for mono.
  fx.folder.Write("default.set", "<A>0</A><B>0</B><C>0</C><L>1234</L><R>1234</R><M>0</M>\r\n");
  w.ui.CheckBox1->SetChecked(true);
  const auto synthLeft = [&] {
    std::int32_t left = -1, right = -1, mute = -1;
    bool stereo, volDisabled, muteDisabled, isSelect;
    w.Mixer()->GetVolume(0, 0, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
    return left;
  };
  const std::int32_t leftBefore = synthLeft();
  QVERIFY(leftBefore != 1234);
  struct Case {
    const char* type;
    bool mono;
    const char* seconds;
    const char* longest;
  };
  for (const Case c : {Case{"Wav", false, "12174", "12173"}, Case{"Mp3", true, "12174", "12173"},
                       Case{"Ogg", true, "24348", "24347"}}) {
    fx.messages.clear();
    ChooseSettings(w, c.type, 2, false);
    if (c.mono) w.ui.RadioButton3->click();
    w.form7->ui.Edit1->setText(c.seconds);
    const QString out = fx.file("long.") + QString(c.type).toLower();
    w.ui.Edit2->setText(out);
    std::uint32_t opened = 0;
    platform::SetMciObserver(
        [&](std::string_view command) { opened += command.starts_with("open"); });
    w.ui.JvXPButton7->click();
    platform::SetMciObserver({});
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(
        fx.messages[0].startsWith("The record time must be") && fx.messages[0].contains(c.longest),
        qPrintable(fx.messages[0]));
    QCOMPARE(opened, 1u);  // the length was measured, nothing was played
    QCOMPARE(synthLeft(), leftBefore);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!fx.folder.Exists("temp.wav"));
    QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
    QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
    QVERIFY(w.ui.ComboBox3->isEnabled());
  }
}

void ConvertTest::midiLongerThanTheLongestRecordingIsRefused() {
  FormFixture fx;
  // One note held for 24 hours (480 ticks a beat at 120 beats a minute: 0.96 ticks a ms).
  smftest::Track track;
  track.Tempo(0, 500000).On(0, 0, 60).Off(86'400'000u / 500 * 480, 0, 60).End();
  tw_test::WriteFile((fx.folder / "day.mid"), smftest::File(0, 480, {track}));
  Windows w;
  w.ui.Edit1->setText(fx.file("day.mid"));
  w.ui.Edit2->setText(fx.file("day.wav"));
  w.ui.JvXPButton7->click();
  // The file's length and the limit at 44100 Hz stereo, not the record-time window's rule.
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].startsWith("The MIDI file \"" + fx.file("day.mid") + "\" is too long") &&
               fx.messages[0].contains("86401 seconds") && fx.messages[0].contains("12173 seconds"),
           qPrintable(fx.messages[0]));
  QVERIFY(!fx.folder.Exists("day.wav"));
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
}

void ConvertTest::missingOutputFolderGivesAMessage_data() {
  QTest::addColumn<QString>("type");
  QTest::newRow("wav") << "Wav";
  QTest::newRow("mp3") << "Mp3";
  QTest::newRow("ogg") << "Ogg";
}

void ConvertTest::missingOutputFolderGivesAMessage() {
  QFETCH(QString, type);
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 1000);
  Windows w;
  ChooseSettings(w, type, 2, false);
  w.ui.Edit1->setText(fx.file("song.mid"));
  w.ui.Edit2->setText(fx.file("no/such/folder/out.") + type.toLower());
  w.ui.JvXPButton7->click();
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].startsWith("The conversion failed:"), qPrintable(fx.messages[0]));
  // An encoded output that cannot be written is found before anything is recorded.
  if (type != "Wav") QVERIFY(!fx.folder.Exists("temp.wav"));
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QCOMPARE(w.ui.Label3->text(), QString("Ready"));
  QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
  QVERIFY(w.ui.JvXPButton7->isEnabled());
  QVERIFY(w.ui.ComboBox3->isEnabled());
  // The window converts again once the folder is right.
  fx.messages.clear();
  w.ui.Edit2->setText(fx.file("out.") + type.toLower());
  w.ui.JvXPButton7->click();
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(Decode((fx.folder / "out." + type.toLower().toStdString()), type).ok);
}

void ConvertTest::midiPresetsApplyBeforeTheRecording() {
  FormFixture fx;
  // Default settings that record from "Line In", which is silent on the virtual card.
  fx.folder.Write("default.set", "<A>0</A><B>1</B><C>3</C><L>-1</L><R>-1</R><M>1</M>\r\n");
  smftest::WriteMidiFile((fx.folder / "song.mid"), kSongMs);
  {
    Windows w;
    QVERIFY(w.ui.CheckBox1->Checked());  // "default.set" has content
    w.ui.Edit1->setText(fx.file("song.mid"));
    w.ui.Edit2->setText(fx.file("presets.wav"));
    w.ui.JvXPButton7->click();
    const DecodedAudio withPresets = DecodeWav((fx.folder / "presets.wav"));
    QVERIFY(withPresets.ok);
    QVERIFY2(withPresets.Rms() < 1e-4, qPrintable(QString::number(withPresets.Rms())));

    // "Stereo Mix" selected again, and the box unchecked: the music is recorded.
    w.Mixer()->SetVolume(1, 0, -1, -1, 1);
    w.ui.CheckBox1->SetChecked(false);
    w.ui.Edit2->setText(fx.file("plain.wav"));
    w.ui.JvXPButton7->click();
    const DecodedAudio plain = DecodeWav((fx.folder / "plain.wav"));
    QVERIFY(plain.ok);
    QVERIFY(plain.SoundingFraction(kSongSeconds) > kSounding);
  }
  // An unreadable default settings file stops the start with a message and the controls at rest.
  std::filesystem::remove((fx.folder / "default.set"));
  std::filesystem::create_directory((fx.folder / "default.set"));
  Windows w;
  w.ui.CheckBox1->SetChecked(true);
  w.ui.Edit1->setText(fx.file("song.mid"));
  w.ui.Edit2->setText(fx.file("never.wav"));
  fx.messages.clear();
  w.ui.JvXPButton7->click();
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("default.set"));
  QVERIFY(!fx.folder.Exists("never.wav"));
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QVERIFY(w.ui.ComboBox3->isEnabled());
  QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
}

// Converts a 60 s MIDI into `output` with the window shown, and runs `end` once the recording is
// 5 % done. Returns whether `end` ran.
bool EndDuringTheRecording(FormFixture& fx, Windows& w, const QString& type, const char* output,
                           const std::function<void()>& end) {
  SetUpLongConversion(fx, w, type, output);
  w.form1->show();
  bool ended = false;
  const auto connection =
      QObject::connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, [&](int v) {
        if (v >= 5 && !ended && w.form1->phase() == TForm1::Phase::Recording) {
          ended = true;
          end();
        }
      });
  w.ui.JvXPButton7->click();
  QObject::disconnect(connection);
  return ended;
}

void ConvertTest::closingTheWindowKeepsWhatWasRecorded() {
  FormFixture fx;
  Windows w;
  QVERIFY(
      EndDuringTheRecording(fx, w, "Mp3", "closed.mp3", [&] { Later([&] { w.form1->close(); }); }));
  QVERIFY(!w.form1->isVisible());
  const DecodedAudio audio = DecodeMp3((fx.folder / "closed.mp3"));
  QVERIFY2(audio.ok, audio.error.c_str());
  QVERIFY(audio.Seconds() > 2.0 && audio.Seconds() < 40.0);
  QVERIFY(!fx.folder.Exists("temp.wav"));
  // Nobody is left to click a box away.
  QCOMPARE(fx.messages, QStringList());
  QCOMPARE(PartFiles(fx), QStringList());
}

void ConvertTest::terminationSignalsEndTheRecordingAsClosingDoes_data() {
  QTest::addColumn<int>("signalNumber");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGINT") << SIGINT;
  QTest::newRow("SIGHUP") << SIGHUP;
}

void ConvertTest::terminationSignalsEndTheRecordingAsClosingDoes() {
  QFETCH(int, signalNumber);
  FormFixture fx;
  Windows w;
  tw::OnTerminationRequest([&] { w.form1->close(); });
  QVERIFY(EndDuringTheRecording(fx, w, "Wav", "ended.wav", [&] { ::raise(signalNumber); }));
  QVERIFY(!w.form1->isVisible());
  // Ended as a close ends it: what was recorded is kept, under a header that tells its true size.
  const std::size_t fileSize = fx.folder.Read("ended.wav").size();
  const DecodedAudio audio = DecodeWav((fx.folder / "ended.wav"));
  QVERIFY2(audio.ok, audio.error.c_str());
  QCOMPARE(std::size_t{audio.headerDataSize}, fileSize - 44);
  QVERIFY(audio.Seconds() > 2.0 && audio.Seconds() < 40.0);
  QCOMPARE(fx.messages, QStringList());
}

TW_WINDOW_TEST_MAIN(ConvertTest)
#include "test_convert.moc"
