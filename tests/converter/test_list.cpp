// The conversion list on the virtual card at SOFTCARD_SPEED=max: rows from dropped files and from
// "Add to list", sorting by a column, "Use this one", and list runs that convert every row with its
// own settings, skip what cannot be converted, take rows added and removed while they run, go on
// after a Stop, stop taking rows when the main window closes, and never let one row destroy another
// row's file, through links made after the rows were added too.

#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "FormFixture.h"
#include "audio/ACS_LAME.h"
#include "audio/ACS_Vorbis.h"
#include "converter/Unit1.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "tests/support/DecodedAudio.h"
#include "tests/support/EncodedAudio.h"
#include "tests/support/SmfBuilder.h"
#include "tests/support/WavFiles.h"

namespace {

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm4> form4 = std::make_unique<TForm4>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
  Ui::TForm1& ui = form1->ui;
  TListView* list = form4->ui.ListView1;
  Windows() { form1->FormActivate(); }

  // Caption and sub-items of a row.
  QStringList Row(int row) const {
    QStringList texts{list->Caption(row)};
    for (int k = 0; k < 6; ++k) texts << list->SubItem(row, k);
    return texts;
  }
  QStringList Column(int column) const {
    QStringList texts;
    for (int row = 0; row < list->RowCount(); ++row) texts << Row(row)[column];
    return texts;
  }
  void AddRow(const QString& input, const QString& output) {
    ui.Edit1->setText(input);
    ui.Edit2->setText(output);
    ui.JvXPButton1->click();
  }
  // What a user's choice of settings does.
  void Choose(TRadioButton* type, TRadioButton* rate, TRadioButton* channels,
              int bitRateItem = -1) {
    type->click();
    rate->click();
    channels->click();
    if (bitRateItem >= 0) (type == ui.Ogg ? ui.ComboBox2 : ui.ComboBox1)->Choose(bitRateItem);
  }
  void ClickColumn(int column) {
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
  }
};

// Drops local files on a window over one of its controls, through the window system's side of Qt's
// drag and drop: the window finds the control under the pointer that takes drops.
void Drop(QWidget* window, QWidget* over, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  data.setUrls(urls);
  const QPoint at = over->mapTo(window, over->rect().center());
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window->windowHandle(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window->windowHandle(), &drop);
}

void Show(QWidget* window) {
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window));
}

constexpr int kSongMs = 2000;  // records 3 s

}  // namespace

class ListTest : public QObject {
  Q_OBJECT

 private slots:
  void droppedFilesBecomeRowsOnEitherWindow();
  void addToListRefusesMissingInputAndShortOutput();
  void columnClicksSortAsText();
  void useThisOneLoadsTheRowAndKeepsItsOutputName();
  void runConvertsEveryRowWithItsOwnSettings();
  void stopEndsTheRowAndTheRunGoesOn();
  void closingTheMainWindowTakesNoMoreRows();
  void rowsThatWouldDestroyTheListsFilesAreRefused();
  void linksMadeAfterTheRowsWereAddedAreFoundWhenTheRowStarts();
  void boxesNamingManyFilesStayWithinTheScreen();
};

void ListTest::droppedFilesBecomeRowsOnEitherWindow() {
  FormFixture fx;
  const std::filesystem::path in = (fx.folder / "in é dir");
  std::filesystem::create_directory(in);
  QStringList paths;
  for (const char* name : {"song.mid", "ab", "song.midi"}) {
    smftest::WriteMidiFile((in / name).string(), kSongMs);
    paths << QString::fromStdString((in / name).string());
  }
  Windows w;
  Show(w.form1.get());
  w.Choose(w.ui.Ogg, w.ui.RadioButton5, w.ui.RadioButton3, 5);  // 32000 Hz mono "96"
  w.ui.Edit2->setText("kept");
  w.form4->ui.Edit1->setText(fx.file("out"));
  Drop(w.form1.get(), w.ui.Edit2, paths);  // over an edit: still rows, not text
  QCOMPARE(w.ui.Edit2->text(), QString("kept"));
  QVERIFY(!w.form4->isVisible());
  QCOMPARE(w.list->RowCount(), 2);
  const QString out = fx.file("out") + "/";
  QCOMPARE(w.Row(0),
           QStringList({"song.mid", "Ogg", "96", "32000", "Mono", paths[0], out + "song.ogg"}));
  QCOMPARE(w.Row(1), QStringList({"ab", "Ogg", "96", "32000", "Mono", paths[1], out + "ab.ogg"}));
  // "song.midi" would write "song.ogg" over the first row's output: refused, and said.
  const QString refused = "These files were not added to the list: ";
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].startsWith(refused) &&
               fx.messages[0].endsWith("\n" + paths[2] + " -> " + out + "song.ogg"),
           qPrintable(fx.messages[0]));

  // The list window, its output directory emptied (a cancelled first folder dialog): the outputs go
  // to the program folder.
  w.ui.JvXPButton12->click();
  QVERIFY(QTest::qWaitForWindowExposed(w.form4.get()));
  w.form4->ui.JvXPButton1->click();
  QCOMPARE(fx.dialogsShown, 1);
  QCOMPARE(w.form4->ui.Edit1->text(), QString());
  w.Choose(w.ui.Mp3, w.ui.RadioButton4, w.ui.RadioButton7, 1);  // 22050 Hz stereo "16"
  Drop(w.form4.get(), w.form4->ui.Edit1, paths);
  QCOMPARE(w.form4->ui.Edit1->text(), QString());
  QCOMPARE(w.list->RowCount(), 4);
  QCOMPARE(w.Row(2), QStringList({"song.mid", "Mp3", "16", "22050", "Stereo", paths[0],
                                  fx.file("song.mp3")}));
  QCOMPARE(w.Row(3).last(), fx.file("ab.mp3"));
  QCOMPARE(fx.messages.size(), 2);  // one box for the drop
  QVERIFY2(fx.messages[1].endsWith(paths[2] + " -> " + fx.file("song.mp3")),
           qPrintable(fx.messages[1]));
  // A drag without local files is not taken.
  QMimeData text;
  text.setText("song.mid");
  QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.form4->windowHandle(), &enter);
  QVERIFY(!enter.isAccepted());
}

void ListTest::addToListRefusesMissingInputAndShortOutput() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), kSongMs);
  Windows w;
  w.AddRow(fx.file("gone.mid"), "out.wav");
  w.AddRow(fx.file("song.mid"), "o");
  QCOMPARE(fx.messages, QStringList({"The input MIDI file does not exist.\n" + fx.file("gone.mid"),
                                     "Please give a name for the output file."}));
  QCOMPARE(w.list->RowCount(), 0);
  w.AddRow(fx.file("song.mid"), "ok");
  QCOMPARE(w.Row(0),
           QStringList({"song.mid", "Wav", "-", "44100", "Stereo", fx.file("song.mid"), "ok"}));
  QCOMPARE(fx.messages.size(), 2);
}

void ListTest::columnClicksSortAsText() {
  FormFixture fx;
  Windows w;
  Show(w.form4.get());
  struct {
    const char* name;
    TRadioButton* rate;
    int item;
  } rows[] = {{"b.mid", w.ui.RadioButton5, 10},  // 32000 "112"
              {"d.mid", w.ui.RadioButton4, 1},   // 22050 "16"
              {"a.mid", w.ui.RadioButton4, 0}};  // 22050 "8"
  for (const auto& row : rows) {
    smftest::WriteMidiFile((fx.folder / row.name), kSongMs);
    w.Choose(w.ui.Mp3, row.rate, w.ui.RadioButton7, row.item);
    w.AddRow(fx.file(row.name), QString(row.name) + ".mp3");
  }
  w.Choose(w.ui.Wav, w.ui.RadioButton6, w.ui.RadioButton7);
  smftest::WriteMidiFile((fx.folder / "c.mid"), kSongMs);
  w.AddRow(fx.file("c.mid"), "o.wav");
  fx.messages.clear();

  w.ClickColumn(0);  // the sort starts on this column ascending: its first click turns it round
  QCOMPARE(w.Column(0), QStringList({"d.mid", "c.mid", "b.mid", "a.mid"}));
  w.ClickColumn(3);
  QCOMPARE(w.Column(3), QStringList({"22050", "22050", "32000", "44100"}));
  w.ClickColumn(3);
  QCOMPARE(w.Column(3), QStringList({"44100", "32000", "22050", "22050"}));
  w.ClickColumn(2);
  QCOMPARE(w.Column(2), QStringList({"-", "112", "16", "8"}));
  // Rows added later go to the end, whatever the order.
  w.AddRow(fx.file("a.mid"), "z.wav");
  QCOMPARE(w.Row(4).last(), QString("z.wav"));
  QVERIFY(fx.messages.isEmpty());
}

void ListTest::useThisOneLoadsTheRowAndKeepsItsOutputName() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "a.mid"), kSongMs);
  smftest::WriteMidiFile((fx.folder / "b.mid"), kSongMs);
  Windows w;
  w.Choose(w.ui.Mp3, w.ui.RadioButton4, w.ui.RadioButton3, 1);  // 22050 Hz mono "16"
  w.AddRow(fx.file("a.mid"), "a.out");
  w.Choose(w.ui.Ogg, w.ui.RadioButton6, w.ui.RadioButton7, 14);  // 44100 Hz stereo "Auto"
  w.AddRow(fx.file("b.mid"), "b.out");
  w.Choose(w.ui.Wav, w.ui.RadioButton5, w.ui.RadioButton7);

  // Nothing selected: nothing happens.
  w.form4->ui.Useascurrent1->trigger();
  QCOMPARE(w.ui.Edit1->text(), fx.file("b.mid"));
  QVERIFY(w.ui.Wav->Checked());
  // Both selected: the first in list order.
  w.list->SelectRow(1, true);
  w.list->SelectRow(0, true);
  w.form4->ui.Useascurrent1->trigger();
  QVERIFY(w.ui.Mp3->Checked());
  QVERIFY(w.ui.RadioButton4->Checked());
  QVERIFY(w.ui.RadioButton3->Checked());
  QCOMPARE(w.ui.ComboBox1->currentText(), QString("16"));
  QCOMPARE(w.form1->MP3Out1->BitRate(), br16);
  QCOMPARE(w.ui.Edit1->text(), fx.file("a.mid"));
  QCOMPARE(w.ui.Edit2->text(), QString("a.out"));  // not swapped to ".mp3" by the type change
  QCOMPARE(w.list->RowCount(), 2);

  w.list->SelectRow(0, false);
  w.form4->ui.Useascurrent1->trigger();
  QVERIFY(w.ui.Ogg->Checked());
  QVERIFY(w.ui.RadioButton6->Checked());
  QCOMPARE(w.ui.ComboBox2->currentText(), QString("Auto"));
  QCOMPARE(w.form1->VorbisOut1->DesiredNominalBitrate(), bbrAutoSelect);
  QCOMPARE(w.ui.Edit2->text(), QString("b.out"));

  // Remove deletes every selected row.
  w.list->SelectRow(0, true);
  w.form4->ui.Remove1->trigger();
  QCOMPARE(w.list->RowCount(), 0);
}

void ListTest::runConvertsEveryRowWithItsOwnSettings() {
  FormFixture fx;
  for (const char* name : {"wav.mid", "mp3.mid", "ogg.mid", "fail.mid", "gone.mid", "drop.mid"})
    smftest::WriteMidiFile((fx.folder / name), kSongMs);
  Windows w;
  Show(w.form4.get());
  w.form4->ui.Edit1->setText(QString::fromStdString(fx.folder.Path().string()));
  w.Choose(w.ui.Wav, w.ui.RadioButton4, w.ui.RadioButton3);  // 11025 Hz mono
  w.AddRow(fx.file("wav.mid"), fx.file("wav.wav"));
  w.AddRow(fx.file("gone.mid"), fx.file("gone.wav"));
  w.Choose(w.ui.Mp3, w.ui.RadioButton5, w.ui.RadioButton7, 7);  // 32000 Hz stereo "64"
  w.AddRow(fx.file("mp3.mid"), fx.file("mp3.mp3"));
  w.AddRow(fx.file("fail.mid"), fx.file("no such folder/fail.mp3"));
  fx.folder.Write("bad.mid", "MThd, but not a MIDI file");
  w.AddRow(fx.file("bad.mid"), fx.file("bad.mp3"));
  w.Choose(w.ui.Ogg, w.ui.RadioButton6, w.ui.RadioButton7, 14);  // 44100 Hz stereo "Auto"
  w.AddRow(fx.file("ogg.mid"), fx.file("ogg.ogg"));
  w.AddRow(fx.file("ogg.mid"), fx.file("removed.ogg"));
  std::filesystem::remove((fx.folder / "gone.mid"));
  // Whatever the main window shows when the run starts.
  w.Choose(w.ui.Mp3, w.ui.RadioButton4, w.ui.RadioButton3, 13);
  fx.messages.clear();

  // While the first row records: the list's last row removed, a row dropped, a second click.
  bool changed = false;
  QStringList duringRun;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 5 || w.form1->phase() != TForm1::Phase::Recording) return;
    duringRun << w.ui.JvXPButton2->text() + (w.ui.ComboBox3->isEnabled() ? " enabled" : "");
    if (changed) return;
    changed = true;
    Later([&] {
      w.list->SelectRow(w.list->RowCount() - 1, true);
      w.form4->ui.Remove1->trigger();
      Drop(w.form4.get(), w.list, {fx.file("drop.mid")});
      w.ui.JvXPButton2->click();
    });
  });
  w.ui.JvXPButton2->click();
  QVERIFY(changed);
  for (const QString& state : duringRun) QCOMPARE(state, QString("Please wait"));

  // One message at the end, naming what was skipped and why.
  QCOMPARE(fx.messages.size(), 1);
  const QStringList lines = fx.messages[0].split('\n');
  QCOMPARE(lines.value(0), QString("Conversion finished!"));
  QCOMPARE(lines.value(2), QString("These files were not converted:"));
  QCOMPARE(lines.value(3), fx.file("gone.mid") + ": The input MIDI file does not exist.");
  QVERIFY2(lines.value(4).startsWith(fx.file("fail.mid") + ": The conversion failed:"),
           qPrintable(fx.messages[0]));
  QVERIFY2(lines.value(4).contains("fail.mp3"), qPrintable(lines.value(4)));
  QVERIFY2(lines.value(5).startsWith(fx.file("bad.mid") + ": "), qPrintable(fx.messages[0]));
  QCOMPARE(lines.size(), 6);

  const DecodedAudio wav = DecodeWav((fx.folder / "wav.wav"));
  QVERIFY2(wav.ok, wav.error.c_str());
  QCOMPARE(wav.rate, 11025);
  QCOMPARE(wav.channels, 1);
  QVERIFY(wav.SoundingFraction(kSongMs / 1000.0) > 0.3);
  const DecodedAudio mp3 = DecodeMp3((fx.folder / "mp3.mp3"));
  QVERIFY2(mp3.ok, mp3.error.c_str());
  QCOMPARE(mp3.rate, 32000);
  QCOMPARE(mp3.channels, 2);
  QVERIFY(mp3.SoundingFraction(kSongMs / 1000.0) > 0.3);
  const auto frames = enctest::Mp3Frames(tw_test::ReadFile(fx.folder / "mp3.mp3"));
  QVERIFY(frames.size() > 10);
  for (const auto& frame : frames) QCOMPARE(frame.bitrateKbps, 64);
  const DecodedAudio ogg = DecodeOgg((fx.folder / "ogg.ogg"));
  QVERIFY2(ogg.ok, ogg.error.c_str());
  QCOMPARE(ogg.rate, 44100);
  QCOMPARE(ogg.channels, 2);
  QVERIFY(ogg.SoundingFraction(kSongMs / 1000.0) > 0.3);
  const auto streams = enctest::ReadOggStreams((fx.folder / "ogg.ogg"));
  QCOMPARE(streams.size(), std::size_t{1});
  // Chosen by quality, not at a fixed bit rate.
  QVERIFY(streams[0].bitrateUpper <= 0 && streams[0].bitrateLower <= 0);
  // The dropped row, with the settings shown when it was dropped (the first row's), converted in
  // the same run; the removed row not.
  const DecodedAudio dropped = DecodeWav((fx.folder / "drop.wav"));
  QVERIFY2(dropped.ok, dropped.error.c_str());
  QCOMPARE(dropped.rate, 11025);
  QVERIFY(!fx.folder.Exists("removed.ogg"));
  QVERIFY(!fx.folder.Exists("bad.mp3"));

  // At rest.
  QCOMPARE(w.list->RowCount(), 0);
  QVERIFY(!w.form1->ListRuns());
  QCOMPARE(w.ui.JvXPButton2->text(), QString("Convert list"));
  QVERIFY(w.ui.ComboBox3->isEnabled());
  QVERIFY(w.ui.JvXPButton7->isEnabled());
  QCOMPARE(fx.dialogsShown, 0);
  // An empty list: nothing at all.
  w.ui.JvXPButton2->click();
  QCOMPARE(fx.messages.size(), 1);
}

void ListTest::stopEndsTheRowAndTheRunGoesOn() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "long.mid"), 60000);
  smftest::WriteMidiFile((fx.folder / "short.mid"), kSongMs);
  Windows w;
  w.Choose(w.ui.Mp3, w.ui.RadioButton6, w.ui.RadioButton7, 11);
  w.AddRow(fx.file("long.mid"), fx.file("long.mp3"));
  w.Choose(w.ui.Wav, w.ui.RadioButton6, w.ui.RadioButton7);
  w.AddRow(fx.file("short.mid"), fx.file("short.wav"));
  fx.messages.clear();
  bool stopped = false;
  QStringList afterStop;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 5 || w.form1->phase() != TForm1::Phase::Recording) return;
    if (stopped) {
      afterStop << w.ui.JvXPButton2->text() + (w.ui.ComboBox3->isEnabled() ? " enabled" : "");
      return;
    }
    stopped = true;
    Later([&] {
      w.ui.JvXPButton7->click();
      // After the Stop, still one run: a click on "Convert list" starts nothing.
      w.ui.JvXPButton2->click();
    });
  });
  w.ui.JvXPButton2->click();
  QVERIFY(stopped);
  QVERIFY(!afterStop.isEmpty());
  for (const QString& state : afterStop) QCOMPARE(state, QString("Please wait"));
  QCOMPARE(fx.messages, QStringList({"Conversion finished!"}));
  const DecodedAudio part = DecodeMp3((fx.folder / "long.mp3"));
  QVERIFY2(part.ok, part.error.c_str());
  QVERIFY2(part.Seconds() > 2.0 && part.Seconds() < 40.0,
           qPrintable(QString::number(part.Seconds())));
  const DecodedAudio whole = DecodeWav((fx.folder / "short.wav"));
  QVERIFY2(whole.ok, whole.error.c_str());
  QVERIFY(whole.Seconds() >= kSongMs / 1000 + 1 - 0.001);
  QCOMPARE(w.ui.JvXPButton2->text(), QString("Convert list"));
  QCOMPARE(w.ui.JvXPButton7->text(), QString("Convert one"));
  QVERIFY(w.ui.ComboBox3->isEnabled());
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
}

void ListTest::closingTheMainWindowTakesNoMoreRows() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "long.mid"), 60000);
  smftest::WriteMidiFile((fx.folder / "short.mid"), kSongMs);
  Windows w;
  Show(w.form1.get());
  w.AddRow(fx.file("long.mid"), fx.file("long.wav"));
  w.AddRow(fx.file("short.mid"), fx.file("short.wav"));
  fx.messages.clear();
  bool closed = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 5 || closed || w.form1->phase() != TForm1::Phase::Recording) return;
    closed = true;
    Later([&] { w.form1->close(); });
  });
  w.ui.JvXPButton2->click();
  QVERIFY(closed);
  const DecodedAudio part = DecodeWav((fx.folder / "long.wav"));
  QVERIFY2(part.ok, part.error.c_str());
  QVERIFY2(part.Seconds() > 2.0 && part.Seconds() < 40.0,
           qPrintable(QString::number(part.Seconds())));
  QCOMPARE(std::size_t(part.headerDataSize), part.samples.size() * 2);
  QVERIFY(!fx.folder.Exists("short.wav"));
  QCOMPARE(w.list->RowCount(), 1);
  QVERIFY(!w.form1->ListRuns());
  QVERIFY(fx.messages.isEmpty());
}

void ListTest::rowsThatWouldDestroyTheListsFilesAreRefused() {
  FormFixture fx;
  for (const char* name : {"a.mid", "b.mid", "c.mid"})
    smftest::WriteMidiFile((fx.folder / name), kSongMs);
  const auto midi = tw_test::ReadFile(fx.folder / "a.mid");
  fx.folder.Write("a.wav", "an earlier conversion's output");
  Windows w;
  w.form4->ui.Edit1->setText(QString::fromStdString(fx.folder.Path().string()));
  w.AddRow(fx.file("a.mid"), fx.file("a.wav"));
  // The first row's output by another spelling, its input as an output, its output as an input.
  const QString sameOutput = QString::fromStdString(fx.folder.Path().string()) + "/./a.wav";
  w.AddRow(fx.file("b.mid"), sameOutput);
  w.AddRow(fx.file("b.mid"), fx.file("a.mid"));
  w.AddRow(fx.file("a.wav"), fx.file("x.wav"));
  QCOMPARE(fx.messages.size(), 3);
  QVERIFY2(fx.messages[0].startsWith("These files were not added to the list: ") &&
               fx.messages[0].endsWith("\n" + fx.file("b.mid") + " -> " + sameOutput),
           qPrintable(fx.messages[0]));
  QCOMPARE(w.list->RowCount(), 1);
  fx.messages.clear();

  // While the row is converted, off the list: a dropped file that would write its output is
  // refused, the other file of the drop is taken and converted in the same run.
  bool dropped = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 5 || dropped || w.form1->phase() != TForm1::Phase::Recording) return;
    dropped = true;
    Later([&] { Drop(w.form4.get(), w.list, {fx.file("c.mid"), fx.file("a.mid")}); });
  });
  Show(w.form4.get());
  w.ui.JvXPButton2->click();
  QVERIFY(dropped);
  QCOMPARE(fx.messages.size(), 2);
  QVERIFY2(fx.messages[0].endsWith(":\n" + fx.file("a.mid") + " -> " + fx.file("a.wav")),
           qPrintable(fx.messages[0]));
  QCOMPARE(fx.messages[1], QString("Conversion finished!"));
  QVERIFY(DecodeWav((fx.folder / "c.wav")).ok);
  QVERIFY(tw_test::ReadFile(fx.folder / "a.mid") == midi);
}

void ListTest::linksMadeAfterTheRowsWereAddedAreFoundWhenTheRowStarts() {
  FormFixture fx;
  for (const char* name : {"a.mid", "b.mid", "c.mid", "d.mid", "temp.mid"})
    smftest::WriteMidiFile((fx.folder / name), kSongMs);
  const auto midi = tw_test::ReadFile(fx.folder / "b.mid");
  Windows w;
  // The last row writes the program's temporary recording, which any recording replaces.
  for (const char* name : {"a", "b", "c", "d", "temp"})
    w.AddRow(fx.file((std::string(name) + ".mid").c_str()),
             fx.file((std::string(name) + ".wav").c_str()));
  // Made after the rows were added: the first row's output leads to the third row's, still to be
  // written; while the second row records, the last row's output is made to lead to its MIDI file.
  std::filesystem::create_symlink("c.wav", (fx.folder / "a.wav"));
  bool linked = false;
  connect(w.ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 5 || linked || w.ui.Edit1->text() != fx.file("b.mid")) return;
    linked = true;
    std::filesystem::create_symlink("b.mid", (fx.folder / "d.wav"));
  });
  fx.messages.clear();
  w.ui.JvXPButton2->click();
  QVERIFY(linked);

  const QString reason =
      ": Their output file is the input or output file of a row already in the list, or their "
      "input file is the output file of such a row, and one conversion would destroy the other's "
      "file.";
  QCOMPARE(fx.messages.size(), 1);
  QCOMPARE(fx.messages[0].split('\n'),
           QStringList({"Conversion finished!", "", "These files were not converted:",
                        fx.file("a.mid") + reason, fx.file("d.mid") + reason,
                        fx.file("temp.mid") + ": The output file \"" + fx.file("temp.wav") +
                            "\" is the input MIDI file or the program's temporary recording "
                            "\"temp.wav\": the conversion would destroy it. Choose another "
                            "output file."}));
  QVERIFY(tw_test::ReadFile(fx.folder / "b.mid") == midi);
  QVERIFY(DecodeWav((fx.folder / "b.wav")).ok && DecodeWav((fx.folder / "c.wav")).ok);
}

void ListTest::boxesNamingManyFilesStayWithinTheScreen() {
  FormFixture fx;
  Windows w;
  w.form4->ui.Edit1->setText(QString::fromStdString(fx.folder.Path().string()));
  fx.folder.Write("song.mid", "");
  w.AddRow(fx.file("song.mid"), fx.file("song.wav"));
  // A thousand takes of the song dropped, each of which would write the song's output: the real
  // box, read folded and unfolded, is closed with its OK button.
  QStringList takes, refused;
  for (int i = 1; i <= 1000; ++i) {
    const std::string name = "song." + std::to_string(10000 + i).substr(1);
    fx.folder.Write(name, "");
    takes << fx.file(name.c_str());
    refused << takes.last() + " -> " + fx.file("song.wav");
  }
  Show(w.form4.get());
  SetMessageHook({});
  QString text, details;
  int outside = 0;  // pixels of the box above or below the screen's available area
  Later([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    const QRect room = box->screen()->availableGeometry();
    const auto measure = [&] {
      const QRect frame = box->frameGeometry();
      outside +=
          std::max(room.top() - frame.top(), 0) + std::max(frame.bottom() - room.bottom(), 0);
    };
    measure();
    text = box->findChild<QLabel*>("qt_msgbox_label")->text();
    for (QAbstractButton* button : box->buttons())
      if (box->buttonRole(button) == QMessageBox::ActionRole)  // "Show Details..."
        QTest::mouseClick(button, Qt::LeftButton);
    measure();
    details = box->findChild<QTextEdit*>()->toPlainText();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  Drop(w.form4.get(), w.list, takes);
  QCOMPARE(outside, 0);
  QCOMPARE(text.section('\n', 1),
           refused.first(20).join('\n') + "\n... and 980 more, all listed in the details.");
  QCOMPARE(details, refused.join('\n'));
  QCOMPARE(w.list->RowCount(), 1);
}

TW_WINDOW_TEST_MAIN(ListTest)
#include "test_list.moc"
