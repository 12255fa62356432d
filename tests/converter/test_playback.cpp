// "Play this midi" on the virtual card (run at SOFTCARD_SPEED=max): playing to the end, stopping,
// relabelling while playing, a missing MIDI file, a MIDI the sequencer cannot read; and the MIDI
// length and record-time rules the conversion uses.

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "FormFixture.h"
#include "converter/Errors.h"
#include "converter/MixerSettingsFile.h"
#include "converter/Unit1.h"
#include "converter/Unit7.h"
#include "mixer/AMixer.h"
#include "platform/softcard/mci/Mci.h"
#include "tests/support/SmfBuilder.h"

namespace {

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
  Windows() { form1->FormActivate(); }  // loads English
  // With `midi` typed in as the file to play.
  explicit Windows(const QString& midi) : Windows() { form1->ui.Edit1->setText(midi); }
};

bool SongIsOpen() {
  char reply[128] = {};
  return platform::mciSendStringA("status song position", reply, sizeof reply, nullptr) == 0;
}

// Nothing plays any more: the song is closed and the controls are usable again.
void VerifyIdle(const Windows& w) {
  const auto& ui = w.form1->ui;
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QCOMPARE(ui.JvXPButton6->text(), QString("Play this midi"));
  QVERIFY(ui.JvXPButton7->isEnabled());
  QVERIFY(ui.ComboBox3->isEnabled());
  QVERIFY(!SongIsOpen());
}

}  // namespace

class PlaybackTest : public QObject {
  Q_OBJECT

 private slots:
  void playsToItsEnd();
  void secondClickStops();
  void relabellingKeepsThePlayingPhase();
  void closingTheWindowStopsThePlayback();
  void missingMidiAsksForOne();
  void unreadableMidiGivesAMessage();
  void lengthAndRecordTime();
  void midiPresetsApplyBeforeThePlayback();
};

void PlaybackTest::playsToItsEnd() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "song.mid"), 10000);
  Windows w(fx.file("song.mid"));
  auto& ui = w.form1->ui;
  QList<int> progress;
  QStringList statusWhilePlaying;
  connect(ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    progress << v;
    if (v > 0) {
      statusWhilePlaying << ui.Label3->text();
      QVERIFY(!ui.JvXPButton7->isEnabled());
      QVERIFY(!ui.JvXPButton2->isEnabled());
      QVERIFY(!ui.ComboBox3->isEnabled());
      QCOMPARE(ui.JvXPButton6->text(), QString("Stop"));
    }
  });
  // Each pass of the play loop asks the position twice (the end test, then the progress) with no
  // window message processed between them; passes lie a message-pumping wait apart. A zero timer
  // counts the pumps, so the queries group into their passes whatever the machine's load.
  int pumps = 0;
  QTimer pump;
  connect(&pump, &QTimer::timeout, this, [&] { ++pumps; });
  pump.start(0);
  QList<int> pumpsAtQuery;
  platform::SetMciObserver([&](std::string_view command) {
    if (command == "STATUS SONG POSITION") pumpsAtQuery << pumps;
  });
  ui.JvXPButton6->click();
  platform::SetMciObserver({});
  pump.stop();
  QCOMPARE(fx.messages, QStringList({"Finished!"}));
  QCOMPARE(w.form1->MidiLengthMs, 10000);
  QList<int> perPass{1};
  for (qsizetype i = 1; i < pumpsAtQuery.size(); ++i) {
    if (pumpsAtQuery[i] != pumpsAtQuery[i - 1])
      perPass << 1;
    else
      ++perPass.last();
  }
  QVERIFY2(perPass.size() >= 5, qPrintable(QString::number(perPass.size())));
  QCOMPARE(perPass, QList<int>(perPass.size(), 2));
  // The bar rose in steps (a poll every 500 ms of card time: about 20 in 10 s, fewer when the card
  // runs ahead of a busy machine) and went back to 0.
  QVERIFY2(progress.size() >= 5, qPrintable(QString::number(progress.size())));
  QCOMPARE(progress.last(), 0);
  for (int i = 1; i + 1 < progress.size(); ++i) QVERIFY(progress[i] >= progress[i - 1]);
  // The last pass may come well before the end when the machine holds the window back while the
  // card plays on, so only a bar that got far into the song is asked for.
  QVERIFY2(progress[progress.size() - 2] >= 50,
           qPrintable(QString::number(progress[progress.size() - 2])));
  QVERIFY(statusWhilePlaying.size() > 0 && statusWhilePlaying.first() == "Playing...");
  QCOMPARE(ui.Label3->text(), QString("Ready"));
  QVERIFY(ui.JvXPButton2->isEnabled());
  VerifyIdle(w);
}

void PlaybackTest::secondClickStops() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "long.mid"), 120000);
  Windows w(fx.file("long.mid"));
  auto& ui = w.form1->ui;
  bool clicked = false;
  connect(ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 5 && !clicked) {
      clicked = true;
      ui.JvXPButton6->click();  // nested inside the playing click's wait
    }
  });
  ui.JvXPButton6->click();
  QVERIFY(clicked);
  QVERIFY(fx.messages.isEmpty());  // no message after a stop
  QCOMPARE(ui.JvXPButton2->text(), QString("Convert list"));
  QCOMPARE(ui.Label3->text(), QString("Ready"));
  QCOMPARE(ui.ProgressBar1->value(), 0);
  VerifyIdle(w);
}

void PlaybackTest::relabellingKeepsThePlayingPhase() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "long.mid"), 120000);
  Windows w(fx.file("long.mid"));
  auto& ui = w.form1->ui;
  QString captionAfterRelabel, statusAfterRelabel;
  bool stopped = false;
  connect(ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 3 && captionAfterRelabel.isEmpty()) {
      w.form1->FormActivate();  // the user came back from another window of the program
      captionAfterRelabel = ui.JvXPButton6->text();
      statusAfterRelabel = ui.Label3->text();
    } else if (v >= 6 && !stopped) {
      stopped = true;
      ui.JvXPButton6->click();
    }
  });
  ui.JvXPButton6->click();
  QCOMPARE(captionAfterRelabel, QString("Stop"));
  QCOMPARE(statusAfterRelabel, QString("Playing..."));
  QVERIFY(stopped);  // the playback went on after the relabelling until the Stop click
  QVERIFY(!SongIsOpen());
  QVERIFY(fx.messages.isEmpty());
}

void PlaybackTest::closingTheWindowStopsThePlayback() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "long.mid"), 120000);
  Windows w(fx.file("long.mid"));
  auto& ui = w.form1->ui;
  w.form1->show();
  bool closed = false;
  connect(ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 2 && !closed) {
      closed = true;
      w.form1->close();
    }
  });
  ui.JvXPButton6->click();
  QVERIFY(closed);
  QCOMPARE(w.form1->phase(), TForm1::Phase::Idle);
  QVERIFY(!SongIsOpen());
  QVERIFY(fx.messages.isEmpty());
}

void PlaybackTest::missingMidiAsksForOne() {
  FormFixture fx;
  Windows w(fx.file("none.mid"));
  auto& ui = w.form1->ui;
  ui.JvXPButton6->click();  // cancelled before any file was ever chosen
  QCOMPARE(fx.dialogsShown, 1);
  QCOMPARE(ui.Edit1->text(), QString());
  QCOMPARE(w.form1->OpenDialog1.Filter, QString("Midi|*.mid"));
  fx.dialogAnswers.push_back(fx.file("chosen.mid"));
  ui.JvXPButton6->click();
  QCOMPARE(ui.Edit1->text(), fx.file("chosen.mid"));
  ui.Edit1->setText("still-none.mid");
  ui.JvXPButton6->click();  // cancelled: the last name chosen comes back
  QCOMPARE(ui.Edit1->text(), fx.file("chosen.mid"));
  QCOMPARE(fx.dialogsShown, 3);
  VerifyIdle(w);
  QVERIFY(fx.messages.isEmpty());
}

void PlaybackTest::unreadableMidiGivesAMessage() {
  FormFixture fx;
  fx.folder.Write("bad.mid", "this is not a MIDI file");
  fx.folder.Write("empty.mid", "");
  fx.folder.Write("header.mid", std::string("MThd\0\0\0\6\0\1\0\1\0\x60", 14));
  std::filesystem::create_directory((fx.folder / "folder.mid"));
  Windows w;
  auto& ui = w.form1->ui;
  // Each says which file and why, for playing and for converting alike.
  const std::pair<const char*, const char*> cases[] = {
      {"bad.mid", "It is not a Standard MIDI File, or the file is damaged."},
      {"header.mid", "It is not a Standard MIDI File, or the file is damaged."},
      {"empty.mid", "The file is empty."},
      {"folder.mid", "It is a folder, not a file."},
  };
  for (const auto& [name, reason] : cases) {
    fx.messages.clear();
    ui.Edit1->setText(fx.file(name));
    ui.JvXPButton6->click();
    ui.JvXPButton7->click();
    const QString expected =
        "The MIDI file \"" + fx.file(name) + "\" could not be played.\n" + reason;
    QCOMPARE(fx.messages, QStringList({expected, expected}));
  }
  // In French the sentence is French; the reason stays as it is.
  w.form1->ChangeLanguage(1);
  fx.messages.clear();
  ui.JvXPButton6->click();
  QCOMPARE(fx.messages,
           QStringList({"Le fichier midi \"" + fx.file("folder.mid") +
                        "\" n'a pas pu \u00eatre jou\u00e9.\nIt is a folder, not a file."}));
  w.form1->ChangeLanguage(0);
  fx.messages.clear();
  ui.Edit1->setText(fx.file("bad.mid"));
  ui.JvXPButton6->click();
  QCOMPARE(fx.messages.size(), 1);
  VerifyIdle(w);
  QVERIFY_THROWS_EXCEPTION(tw::EConvertError, w.form1->GetMidiLength(fx.file("bad.mid")));
}

void PlaybackTest::lengthAndRecordTime() {
  FormFixture fx;
  smftest::WriteMidiFile((fx.folder / "a.mid"), 2500);
  smftest::WriteMidiFile((fx.folder / "b.mid"), 60000);
  Windows w;
  QCOMPARE(w.form1->GetMidiLength(fx.file("a.mid")), 2500);
  QCOMPARE(w.form1->MidiLengthMs, 2500);
  QCOMPARE(w.form1->GetMidiLength(fx.file("missing.mid")), 0);
  QCOMPARE(w.form1->MidiLengthMs, 2500);    // left as it was
  QCOMPARE(w.form1->GetMidiPosition(), 0);  // nothing plays

  // Whole seconds plus one: 2.5 s records 3 s; just under a minute 60 s, a minute 61 s.
  QCOMPARE(w.form1->GetRecordTime(fx.file("a.mid")), 3);
  smftest::WriteMidiFile((fx.folder / "c.mid"), 59500);
  QCOMPARE(w.form1->GetRecordTime(fx.file("c.mid")), 60);
  QCOMPARE(w.form1->GetRecordTime(fx.file("b.mid")), 61);
  // A typed time wins, and the length is still measured.
  w.form7->ui.Edit1->setText("007");
  QCOMPARE(w.form1->GetRecordTime(fx.file("a.mid")), 7);
  QCOMPARE(w.form1->MidiLengthMs, 2500);
  w.form7->ui.Edit1->setText("0");  // an empty recording
  QCOMPARE(w.form1->GetRecordTime(fx.file("a.mid")), 0);
  w.form7->ui.Edit1->setText("12x");
  QVERIFY_THROWS_EXCEPTION(tw::EConvertError, w.form1->GetRecordTime(fx.file("a.mid")));
}

void PlaybackTest::midiPresetsApplyBeforeThePlayback() {
  FormFixture fx;
  // Default settings that put the synthesiser's playback line at 1234 on both channels.
  fx.folder.Write("default.set", "<A>0</A><B>0</B><C>0</C><L>1234</L><R>1234</R><M>0</M>\r\n");
  smftest::WriteMidiFile((fx.folder / "long.mid"), 120000);
  Windows w(fx.file("long.mid"));
  auto& ui = w.form1->ui;
  QVERIFY(ui.CheckBox1->Checked());
  int leftWhilePlaying = -2;
  connect(ui.ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
    if (v >= 2 && leftWhilePlaying == -2) {
      TAudioMixer mixer(nullptr);
      std::int32_t left = -1, right = -1, mute = -1;
      bool stereo, volDisabled, muteDisabled, isSelect;
      mixer.GetVolume(0, 0, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
      leftWhilePlaying = left;
      ui.JvXPButton6->click();
    }
  });
  ui.JvXPButton6->click();
  QCOMPARE(leftWhilePlaying, 1234);
  QVERIFY(fx.messages.isEmpty());

  // A default settings file that cannot be read, or one with a line that is not a settings line:
  // a message naming the file (and the line) and why, and nothing plays.
  const QString file = "\"" + fx.file("default.set") + "\"";
  const std::pair<std::string, QString> broken[] = {
      {"<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n"
       "<A>0</A><B>0</B><C>1</C><L>oops</L><R>1</R><M>0</M>\r\n",
       "Line 2 of the mixer settings file " + file +
           " could not be read.\nThe <L> field holds \"oops\", which is not a whole number."},
      {"\r\n", "Line 1 of the mixer settings file " + file +
                   " could not be read.\nThe <A> field is missing or empty."},
      {"", "The mixer settings file " + file + " could not be read.\nNo such file or directory."},
      {"<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n" +
           std::string(tw::kMaxSettingsFileBytes, '\n'),
       "The mixer settings file " + file +
           " could not be read.\nThe file is larger than 64 KiB, more than a file of its kind "
           "holds."},
  };
  for (const auto& [content, message] : broken) {
    std::filesystem::remove((fx.folder / "default.set"));
    if (!content.empty()) fx.folder.Write("default.set", content);
    fx.messages.clear();
    ui.JvXPButton6->click();
    QCOMPARE(fx.messages, QStringList({message}));
    VerifyIdle(w);
  }
}

TW_WINDOW_TEST_MAIN(PlaybackTest)
#include "test_playback.moc"
