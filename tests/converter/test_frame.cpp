// Tunewisp's frame: the main window's controls, start-up and its languages, activation and
// relabelling, language switches, layouts, the hand-over to the wizard, the web pages, the toolkit
// rules the handlers rely on, and the record-time window.

#include <sys/stat.h>

#include <QHeaderView>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <memory>

#include "FormFixture.h"
#include "converter/Errors.h"
#include "converter/Unit1.h"
#include "converter/Unit3.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "platform/system/Shell.h"
#include "widgets/WholeControls.h"

namespace {

struct Windows {
  std::unique_ptr<TForm1> form1 = std::make_unique<TForm1>();
  std::unique_ptr<TForm4> form4 = std::make_unique<TForm4>();
  std::unique_ptr<TForm7> form7 = std::make_unique<TForm7>();
};

// Whether a label is wide enough to show its whole caption.
bool Fits(const QLabel* label) {
  return label->width() >= label->fontMetrics().horizontalAdvance(label->text());
}

// Controls with a caption; pictures, bevels, edit fields and progress bars have none.
bool ShowsCaption(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return !label->text().isEmpty();
  return qobject_cast<QAbstractButton*>(control) || qobject_cast<QGroupBox*>(control) ||
         qobject_cast<QComboBox*>(control);
}

// What is wrong with how `control` is drawn: a caption or an indicator that does not
// fit, a control that its group box's frame runs through, captions drawn over each other. Empty
// when the control is whole.
QString DrawingFault(QWidget* control) {
  const QFontMetrics metrics = control->fontMetrics();
  const QStyle* style = control->style();
  const QSize size = control->size();
  const QString name = control->objectName();
  QString text;
  int needed = 0, neededHeight = metrics.height();
  if (auto* radio = qobject_cast<QRadioButton*>(control)) {
    text = radio->text();
    needed = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, control) +
             style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, control) +
             metrics.horizontalAdvance(text);
    neededHeight = std::max(
        neededHeight, style->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, control));
  } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
    text = box->text();
    needed = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, control) +
             style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, control) +
             metrics.horizontalAdvance(text);
    neededHeight =
        std::max(neededHeight, style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, control));
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    text = button->text();
    needed = metrics.horizontalAdvance(text) + 2;
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    text = label->text();
    needed = metrics.horizontalAdvance(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    text = group->title();
    needed = metrics.horizontalAdvance(text);
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isVisibleTo(group) && !group->contentsRect().contains(child->geometry()))
        return QString("%1: the frame of %2 runs through it").arg(child->objectName(), name);
  }
  if (text.isEmpty()) return {};
  if (size.width() < needed || size.height() < neededHeight)
    return QString("%1 \"%2\" is drawn %3 x %4, needs %5 x %6")
        .arg(name, text)
        .arg(size.width())
        .arg(size.height())
        .arg(needed)
        .arg(neededHeight);
  // A caption must not lie over another one that the layout puts beside it.
  for (QWidget* other : control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (other != control && other->isVisibleTo(control->window()) && ShowsCaption(other) &&
        other->geometry().intersects(control->geometry()) &&
        !LayoutGeometry(other).intersects(LayoutGeometry(control)))
      return QString("%1 is drawn over %2").arg(name, other->objectName());
  return {};
}

QStringList DrawingFaults(QWidget* window) {
  QStringList faults;
  for (QWidget* control : window->findChildren<QWidget*>())
    if (control->isVisibleTo(window))
      if (const QString fault = DrawingFault(control); !fault.isEmpty()) faults << fault;
  return faults;
}

// Records the texts a widget draws through its style that do not fit the room they are drawn in.
struct TextRecorder : QProxyStyle {
  void drawItemText(QPainter* painter, const QRect& room, int flags, const QPalette& palette,
                    bool enabled, const QString& text, QPalette::ColorRole role) const override {
    if (painter->fontMetrics().horizontalAdvance(text) > room.width()) cut << text;
    QProxyStyle::drawItemText(painter, room, flags, palette, enabled, text, role);
  }
  mutable QStringList cut;
};

// The texts that `widget` draws cut off at the edge of their room.
QStringList TextsDrawnCut(QWidget* widget) {
  TextRecorder recorder;
  widget->setStyle(&recorder);
  widget->grab();
  widget->setStyle(nullptr);
  return recorder.cut;
}

}  // namespace

class FrameTest : public QObject {
  Q_OBJECT

 private slots:
  void inventoryAsDesigned();
  void radioButtonRule();
  void comboAndCheckBoxRules();

  void startWithoutLanguageFileCreatesEnglish();
  void startWithPolish();
  void startWithUnknownCodes_data();
  void startWithUnknownCodes();
  void missingTextTableStaysPending();
  void uncreatableLanguageFileStillGivesEnglish();
  void defaultSetDecidesMidiPresets();

  void relabelsOnEveryActivation();
  void activationCountsOnlyFromInsideTheProgram();
  void realWindowsActivateTheMainWindow();
  void firstShowActivatesWithoutTheFocus();
  void anActivationFailureIsShownOncePerActivation();
  void languageSwitchThroughTheCombo();
  void languageSwitchWithUnwritableLanguageFile();
  void damagedTablesFallBackToEnglishWithOneMessage();

  void layoutsMoveControls();
  void layoutDump();
  void controlsAreDrawnWholeInEveryLayout();

  void handsOverToTheWizardWithoutDefaultSet();
  void saysWhyTheWizardCannotStart();
  void webAndHelpPages();

  void secondCopyMessageInTheChosenLanguage();
  void recordTimeParsing();
  void recordTimeWindowDisplayAndKeys();
  void recordTimeWindowRefusesPastedTextsAtOnce();
};

void FrameTest::inventoryAsDesigned() {
  FormFixture fx;
  Windows w;
  auto& ui = w.form1->ui;
  QCOMPARE(w.form1->minimumSize(), QSize(472, 376));
  QCOMPARE(w.form1->font().pointSize(), 8);
  QCOMPARE(ui.Wav->parentWidget(), ui.Output);
  QVERIFY(ui.Wav->Checked());
  QVERIFY(!ui.Mp3->Checked());
  QVERIFY(ui.RadioButton6->Checked());
  QVERIFY(ui.RadioButton7->Checked());
  QCOMPARE(ui.RadioButton4->text(), QString("11025"));
  QCOMPARE(ui.ComboBox1->count(), 18);
  QCOMPARE(ui.ComboBox1->currentText(), QString("128"));
  QCOMPARE(ui.ComboBox1->itemText(0), QString("8"));
  QCOMPARE(ui.ComboBox1->itemText(17), QString("320"));
  QCOMPARE(ui.ComboBox2->count(), 15);
  QCOMPARE(ui.ComboBox2->currentIndex(), 7);
  QCOMPARE(ui.ComboBox2->itemText(14), QString("Auto"));
  QVERIFY(ui.ComboBox1->isHidden());
  QVERIFY(ui.ComboBox2->isHidden());
  QVERIFY(ui.Button1->isHidden());
  QVERIFY(ui.Button6->isHidden());
  QVERIFY(ui.Button7->isHidden());
  QCOMPARE(ui.ComboBox3->count(), 5);
  QCOMPARE(ui.ComboBox3->itemText(1), QString::fromUtf8("Fran\xC3\xA7"
                                                        "ais"));
  QCOMPARE(ui.ComboBox3->itemText(4), QString("Rossiya"));
  QCOMPARE(ui.ProgressBar1->maximum(), 100);
  QCOMPARE(ui.Label3->parentWidget(), ui.GroupBox2);
  QCOMPARE(ui.JvXPButton7->parentWidget(), ui.GroupBox5);
  QCOMPARE(ui.JvXPButton7->geometry(), QRect(96, 144, 81, 25));
  QCOMPARE(ui.Image3->geometry(), QRect(0, 0, 475, 375));
  QCOMPARE(ui.Button1->geometry(), QRect(88, 312, 75, 25));
  QCOMPARE(w.form7->size(), QSize(168, 135));
  QVERIFY(w.form7->windowFlags() & Qt::Tool);
  QCOMPARE(w.form7->ui.JvXPButton1->size(), QSize(15, 15));
  QVERIFY(w.form7->ui.Edit1->text().isEmpty());
}

void FrameTest::radioButtonRule() {
  FormFixture fx;
  Windows w;
  auto& ui = w.form1->ui;
  int clicks4 = 0, clicks6 = 0;
  bool sixUncheckedWhenFourRan = false;
  ui.RadioButton4->OnClick = [&] {
    ++clicks4;
    sixUncheckedWhenFourRan = !ui.RadioButton6->Checked();
  };
  ui.RadioButton6->OnClick = [&] { ++clicks6; };
  ui.RadioButton6->SetChecked(true);  // already checked: nothing runs
  QCOMPARE(clicks6, 0);
  ui.RadioButton4->SetChecked(true);
  QCOMPARE(clicks4, 1);
  QVERIFY(sixUncheckedWhenFourRan);
  QCOMPARE(clicks6, 0);  // unchecking runs no handler
  ui.RadioButton4->SetChecked(true);
  QCOMPARE(clicks4, 1);
  QTest::mouseClick(ui.RadioButton4, Qt::LeftButton);  // a user's click on the checked one
  QCOMPARE(clicks4, 1);
  // Only the buttons of the same parent are unchecked: the channels keep theirs.
  QVERIFY(ui.RadioButton7->Checked());
}

void FrameTest::comboAndCheckBoxRules() {
  FormFixture fx;
  Windows w;
  auto& ui = w.form1->ui;
  QStringList order;
  ui.ComboBox1->OnClick = [&] { order << "click"; };
  ui.ComboBox1->OnChange = [&] { order << "change"; };
  ui.ComboBox1->SetItemIndex(3);
  QVERIFY(order.isEmpty());
  ui.ComboBox1->Choose(5);
  QCOMPARE(order, QStringList({"click", "change"}));
  QCOMPARE(ui.ComboBox1->ItemIndex(), 5);
  int boxClicks = 0;
  ui.CheckBox4->OnClick = [&] { ++boxClicks; };
  ui.CheckBox4->SetChecked(false);
  ui.CheckBox4->SetChecked(false);
  ui.CheckBox4->SetChecked(true);
  QCOMPARE(boxClicks, 2);
}

void FrameTest::startWithoutLanguageFileCreatesEnglish() {
  FormFixture fx;
  QVERIFY(!fx.folder.Exists("lang.ini"));
  Windows w;
  QCOMPARE(fx.folder.Read("lang.ini"), std::string("en\r\n"));
  QCOMPARE(w.form1->ui.ComboBox3->ItemIndex(), 0);
  QCOMPARE(w.form1->PendingLanguage, 1);
  // Before the first activation the designed captions show; the table is still empty.
  QVERIFY(w.form1->LangTexts[static_cast<std::size_t>(tw::TextId::ConvertOneButton)].empty());
  w.form1->FormActivate();
  QCOMPARE(w.form1->PendingLanguage, 0);
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(w.form1->windowTitle(), QString("Tunewisp 1.04 v1nl it Orlos midi files !"));
  QCOMPARE(w.form7->ui.Label1->text(), QString("Set record time"));
  QVERIFY(fx.messages.isEmpty());
}

void FrameTest::startWithPolish() {
  FormFixture fx;
  fx.folder.Write("lang.ini", "pl\r\n");
  Windows w;
  QCOMPARE(w.form1->ui.ComboBox3->currentText(), QString("Polski"));
  QCOMPARE(w.form1->PendingLanguage, 4);
  w.form1->FormActivate();
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Konwertuj"));
  QCOMPARE(w.form1->ui.GroupBox3->title(), QString::fromUtf8("Kana\xC5\x82y"));
  QCOMPARE(LayoutGeometry(w.form1->ui.GroupBox1), QRect(340, 48, 101, 121));  // Polish layout
  // Laid out before the relabelling, the record-time window's title then takes the width its Polish
  // caption needs.
  QCOMPARE(w.form7->ui.Label1->text(), QString::fromUtf8("Ustaw czas nagrania"));
  QVERIFY(Fits(w.form7->ui.Label1));
  QCOMPARE(fx.folder.Read("lang.ini"), std::string("pl\r\n"));  // read, not rewritten
}

void FrameTest::startWithUnknownCodes_data() {
  QTest::addColumn<QString>("content");
  QTest::newRow("capitals") << "FR\r\n";
  QTest::newRow("trailing blank") << "fr \r\n";
  QTest::newRow("empty file") << "";
}

void FrameTest::startWithUnknownCodes() {
  QFETCH(QString, content);
  FormFixture fx;
  fx.folder.Write("lang.ini", content.toStdString());
  Windows w;
  QCOMPARE(w.form1->ui.ComboBox3->ItemIndex(), -1);
  QCOMPARE(w.form1->PendingLanguage, 0);
  w.form1->FormActivate();
  // No language is chosen, but the windows show English instead of empty captions.
  QCOMPARE(w.form1->ui.ComboBox3->ItemIndex(), -1);
  QCOMPARE(w.form1->ui.JvXPButton6->text(), QString("Play this midi"));
  QCOMPARE(fx.folder.Read("lang.ini"), content.toStdString());
  QVERIFY(fx.messages.isEmpty());
}

void FrameTest::missingTextTableStaysPending() {
  FormFixture fx;
  fx.folder.Write("lang.ini", "nl\r\n");
  std::filesystem::remove((fx.folder / "nl.ini"));
  Windows w;
  w.form1->ui.JvXPButton7->setText("unchanged");
  w.form1->show();
  w.form1->ProgramWindowActivated(
      w.form1->windowHandle());  // shows the failure, as activation does
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("nl.ini"));
  QVERIFY_THROWS_EXCEPTION(tw::EInOutError, w.form1->FormActivate());
  QCOMPARE(w.form1->PendingLanguage, 3);  // tried again at the next activation
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("unchanged"));
  std::filesystem::copy_file((fx.folder / "en.ini"), (fx.folder / "nl.ini"));
  w.form1->FormActivate();
  QCOMPARE(w.form1->PendingLanguage, 0);
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
}

void FrameTest::uncreatableLanguageFileStillGivesEnglish() {
  FormFixture fx;
  // "lang.ini" is missing and cannot be created: the name leads into a folder that does not exist.
  std::filesystem::create_symlink((fx.folder / "no-such-folder/lang.ini"),
                                  (fx.folder / "lang.ini"));
  Windows w;
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("lang.ini"));
  QCOMPARE(w.form1->ui.ComboBox3->ItemIndex(), 0);
  w.form1->FormActivate();
  // English all the same, not a window of empty captions.
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(w.form1->ui.GroupBox3->title(), QString("Channels"));
  QCOMPARE(w.form1->PendingLanguage, 0);
  QCOMPARE(fx.messages.size(), 1);
}

void FrameTest::defaultSetDecidesMidiPresets() {
  {
    FormFixture fx;  // empty "default.set": presets off, and no wizard
    Windows w;
    QVERIFY(!w.form1->ui.CheckBox1->Checked());
    bool closed = false;
    w.form1->OnClosed = [&] { closed = true; };
    w.form1->show();
    w.form1->FormActivate();
    QVERIFY(!closed);
    QVERIFY(w.form1->isVisible());
    QVERIFY(fx.messages.isEmpty());
  }
  {
    FormFixture fx;
    fx.folder.Write("default.set", "<A>0</A><B>0</B><C>0</C><L>1</L><R>1</R><M>0</M>\r\n");
    Windows w;
    QVERIFY(w.form1->ui.CheckBox1->Checked());
    QCOMPARE(TForm1::FileSizeOf(fx.file("default.set")), std::uint64_t{50});
    QCOMPARE(TForm1::FileSizeOf(fx.file("none.set")), std::uint64_t{0});
  }
}

void FrameTest::relabelsOnEveryActivation() {
  FormFixture fx;
  Windows w;
  w.form1->FormActivate();
  auto& ui = w.form1->ui;
  ui.JvXPButton7->setText("x7");
  ui.JvXPButton6->setText("x6");
  ui.JvXPButton2->setText("x2");
  ui.Label3->setText("x3");
  ui.GroupBox5->setTitle("x5");
  w.form1->FormActivate();
  QCOMPARE(ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(ui.JvXPButton6->text(), QString("Play this midi"));
  QCOMPARE(ui.JvXPButton2->text(), QString("Convert list"));
  QCOMPARE(ui.Label3->text(), QString("Ready"));
  QCOMPARE(ui.GroupBox5->title(), QString("File settings"));
  // An entry emptied in the table empties its caption.
  w.form1->LangTexts[2].clear();
  w.form1->tolang();
  QVERIFY(ui.GroupBox3->title().isEmpty());
}

void FrameTest::activationCountsOnlyFromInsideTheProgram() {
  FormFixture fx;
  Windows w;
  w.form1->show();
  w.form7->show();
  QWindow* main = w.form1->windowHandle();
  QWindow* other = w.form7->windowHandle();
  QVERIFY(main && other);
  auto& caption = *w.form1->ui.JvXPButton7;

  w.form1->ProgramWindowActivated(main);  // first activation
  QCOMPARE(caption.text(), QString("Convert one"));

  caption.setText("changed");
  w.form1->ProgramWindowActivated(nullptr);  // to another program...
  w.form1->ProgramWindowActivated(main);     // ...and straight back: no activation
  QCOMPARE(caption.text(), QString("changed"));

  w.form1->ProgramWindowActivated(other);  // the record-time window, then back
  w.form1->ProgramWindowActivated(main);
  QCOMPARE(caption.text(), QString("Convert one"));

  caption.setText("changed");
  w.form1->ProgramWindowActivated(other);
  w.form1->ProgramWindowActivated(nullptr);  // left the program from another of its windows
  w.form1->ProgramWindowActivated(main);
  QCOMPARE(caption.text(), QString("Convert one"));

  // A message box that has closed (its window is gone) counts as another window of the program.
  caption.setText("changed");
  {
    QWindow box;
    w.form1->ProgramWindowActivated(&box);
  }
  w.form1->ProgramWindowActivated(main);
  QCOMPARE(caption.text(), QString("Convert one"));
}

void FrameTest::realWindowsActivateTheMainWindow() {
  FormFixture fx;
  Windows w;
  w.form1->show();
  w.form1->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(w.form1.get()));
  QCOMPARE(w.form1->ui.JvXPButton7->text(),
           QString("Convert one"));  // first activation loaded "en"
  w.form1->ui.JvXPButton7->setText("changed");
  w.form1->JvXPButton13Click();  // "Set timer" shows the record-time window
  QVERIFY(QTest::qWaitForWindowActive(w.form7.get()));
  w.form1->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(w.form1.get()));
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
}

void FrameTest::firstShowActivatesWithoutTheFocus() {
  FormFixture fx;
  fx.folder.Write("lang.ini", "fr\r\n");
  Windows w;
  {
    // Not every desktop gives a new window the focus (no window manager, focus-stealing
    // prevention): here no change of the focus window reaches the program.
    const QSignalBlocker noFocus(qApp);
    w.form1->show();
    QTRY_COMPARE(w.form1->ui.JvXPButton7->text(), QString("Conversion"));
  }
  QCOMPARE(w.form1->PendingLanguage, 0);
  QCOMPARE(w.form1->windowTitle(), QString::fromUtf8(w.form1->LangTexts[23].c_str()));
  // The focus that arrives afterwards is the same activation, not a second one.
  w.form1->ui.JvXPButton7->setText("changed");
  w.form1->ProgramWindowActivated(w.form1->windowHandle());
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("changed"));
  // Coming back from another window of the program still is one.
  QWindow other;
  w.form1->ProgramWindowActivated(&other);
  w.form1->ProgramWindowActivated(w.form1->windowHandle());
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Conversion"));
}

void FrameTest::anActivationFailureIsShownOncePerActivation() {
  FormFixture fx;
  fx.folder.Write("lang.ini", "nl\r\n");
  std::filesystem::remove((fx.folder / "nl.ini"));
  Windows w;
  w.form1->show();
  QWindow* main = w.form1->windowHandle();
  // What a real message box does: it takes the focus while it is shown and gives it back to the
  // main window once closed.
  auto box = std::make_unique<QWindow>();
  SetMessageHook([&](const QString& text) {
    fx.messages << text;
    w.form1->ProgramWindowActivated(box.get());
  });
  w.form1->ProgramWindowActivated(main);
  w.form1->ProgramWindowActivated(main);  // the focus back from the failure's box
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("nl.ini"));
  QCOMPARE(w.form1->PendingLanguage, 3);
  // A later activation tries the table again.
  QWindow other;
  w.form1->ProgramWindowActivated(&other);
  w.form1->ProgramWindowActivated(main);
  QCOMPARE(fx.messages.size(), 2);
  std::filesystem::copy_file((fx.folder / "en.ini"), (fx.folder / "nl.ini"));
  w.form1->ProgramWindowActivated(&other);
  w.form1->ProgramWindowActivated(main);
  QCOMPARE(fx.messages.size(), 2);
  QCOMPARE(w.form1->PendingLanguage, 0);
  QCOMPARE(w.form1->ui.Image3->y(), -8);  // the Dutch layout came with the table
}

void FrameTest::languageSwitchThroughTheCombo() {
  FormFixture fx;
  Windows w;
  w.form1->FormActivate();
  auto& ui = w.form1->ui;
  ui.ComboBox3->SetItemIndex(2);  // from code: nothing happens
  QCOMPARE(fx.folder.Read("lang.ini"), std::string("en\r\n"));
  QCOMPARE(ui.JvXPButton7->text(), QString("Convert one"));

  ui.ComboBox3->Choose(2);  // the user picks "Nederlands"
  QCOMPARE(fx.folder.Read("lang.ini"), std::string("nl\r\n"));
  QCOMPARE(ui.JvXPButton7->text(), QString("Converteer"));
  QCOMPARE(ui.Image3->y(), -8);  // Dutch layout
  QCOMPARE(w.form7->ui.Label1->text(), QString("Opnameduur"));
  QCOMPARE(w.form4->ui.GroupBox1->title(), QString("Uitvoermap"));
  QCOMPARE(w.form4->ui.Remove1->text(), QString("Verwijderen"));
  QCOMPARE(w.form4->ui.Paste1->text(), QString("Plakken"));
  QCOMPARE(w.form4->ui.ListView1->headerItem()->text(0), QString("Midi-bestand"));
  QCOMPARE(w.form4->ui.ListView1->headerItem()->text(6), QString("Uitvoerbestand"));
  QVERIFY(w.form4->windowTitle().startsWith("Conversielijst"));

  ui.ComboBox3->Choose(4);
  QCOMPARE(fx.folder.Read("lang.ini"), std::string("ru\r\n"));
  QCOMPARE(LayoutGeometry(ui.JvXPButton5), QRect(128, 48, 49, 21));
  QCOMPARE(ui.Image3->y(), 0);

  ui.ComboBox3->Choose(1);  // French shares the English layout
  QCOMPARE(LayoutGeometry(ui.JvXPButton5), QRect(140, 48, 33, 21));
  QCOMPARE(ui.JvXPButton4->text(), QString("Midi"));
  QCOMPARE(ui.GroupBox4->title(), QString::fromUtf8("D\xC3\xA9"
                                                    "bit"));
  QVERIFY(fx.messages.isEmpty());
}

void FrameTest::damagedTablesFallBackToEnglishWithOneMessage() {
  FormFixture fx;
  fx.folder.Write("en.ini", "0\r\nMy files\r\n\r\nMy rate\r\nMy bitrate\r\n");
  Windows w;
  w.form1->FormActivate();
  auto& ui = w.form1->ui;
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].contains("en.ini") && fx.messages[0].contains("74"),
           qPrintable(fx.messages[0]));
  // The table's own lines stand, an empty one included; the entries it lacks are English.
  QCOMPARE(ui.GroupBox5->title(), QString("My files"));
  QCOMPARE(ui.GroupBox3->title(), QString());
  QCOMPARE(ui.GroupBox4->title(), QString("My bitrate"));
  QCOMPARE(ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(w.form7->ui.Label1->text(), QString("Set record time"));

  // A shorter table after a complete one keeps the first one's later entries.
  fx.messages.clear();
  fx.folder.Write("nl.ini", "0\r\nMijn bestanden\r\n");
  ui.ComboBox3->Choose(2);
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("nl.ini"));
  ui.ComboBox3->Choose(1);
  QCOMPARE(ui.JvXPButton7->text(), QString("Conversion"));
  fx.messages.clear();
  ui.ComboBox3->Choose(2);
  QCOMPARE(ui.GroupBox5->title(), QString("Mijn bestanden"));
  QCOMPARE(ui.JvXPButton7->text(), QString("Conversion"));

  // A table that is not there at all, or one far larger than a table can be: one message naming
  // it, and the captions stay.
  std::filesystem::remove((fx.folder / "pl.ini"));
  fx.folder.Write("ru.ini", "0\r\nBig\r\n" + std::string(tw::kMaxTextTableBytes, 'x'));
  for (const int language : {3, 4}) {
    fx.messages.clear();
    ui.ComboBox3->Choose(language);
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY(fx.messages[0].contains(tw::kLanguages[static_cast<std::size_t>(language)].file));
    QCOMPARE(ui.JvXPButton7->text(), QString("Conversion"));
  }
}

void FrameTest::languageSwitchWithUnwritableLanguageFile() {
  FormFixture fx;
  Windows w;
  w.form1->FormActivate();
  // A folder in place of the language file makes it unwritable.
  std::filesystem::remove((fx.folder / "lang.ini"));
  std::filesystem::create_directory((fx.folder / "lang.ini"));
  w.form1->ui.ComboBox3->Choose(3);
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY(fx.messages[0].contains("lang.ini"));
  // Nothing else changed: texts and layout stay English.
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
  QCOMPARE(w.form1->ui.GroupBox1->x(), 356);
}

void FrameTest::layoutsMoveControls() {
  FormFixture fx;
  Windows w;
  auto& ui = w.form1->ui;
  w.form1->ApplyLayoutRu();
  QCOMPARE(LayoutGeometry(ui.JvXPButton4), QRect(128, 17, 49, 21));
  QCOMPARE(ui.CheckBox1->height(), 41);
  QCOMPARE(w.form7->ui.Label1->width(), 123);
  w.form1->ApplyLayoutEnFr();
  QCOMPARE(LayoutGeometry(ui.JvXPButton4), QRect(140, 17, 33, 21));
  QCOMPARE(ui.CheckBox1->height(), 33);
  // The same layout twice draws every control where the first one did.
  auto drawn = [&] {
    QList<QRect> rects;
    for (const QWidget* control : w.form1->findChildren<QWidget*>()) rects << control->geometry();
    return rects;
  };
  w.form1->ApplyLayoutNl();
  const QList<QRect> dutch = drawn();
  w.form1->ApplyLayoutNl();
  QCOMPARE(drawn(), dutch);
  QCOMPARE(ui.Image3->geometry(), QRect(0, -8, 475, 375));
  w.form1->ApplyLayoutPl();
  QCOMPARE(LayoutGeometry(ui.JvXPButton8), QRect(368, 352, 89, 17));
  QCOMPARE(LayoutGeometry(w.form4->ui.GroupBox1), QRect(16, 8, 481, 41));
  QCOMPARE(LayoutGeometry(w.form4->ui.JvXPButton1).x(), 432);
}

void FrameTest::layoutDump() {
  FormFixture fx;
  Windows w;
  TForm3 form3;
  w.form1->ApplyLayoutEnFr();
  w.form1->ui.Button1->click();  // hidden, but its click still dumps
  const std::string dump = fx.folder.Read("turlututu.txt");
  QVERIFY(dump.rfind("Form1.Bevel1.height:=137;\r\nForm1.Bevel1.left:=224;\r\n", 0) == 0);
  const std::string tail = "Form7.Label6.width:=6;\r\n";
  QVERIFY(dump.size() > tail.size() &&
          dump.compare(dump.size() - tail.size(), tail.size(), tail) == 0);
  // The lines of the windows present: all 73 controls, 40 of the main window, 21 of the mixer
  // settings window, 4 of the conversion list window and 8 of the record-time window.
  QCOMPARE(std::count(dump.begin(), dump.end(), '\n'), std::ptrdiff_t{(40 + 21 + 4 + 8) * 4});
  QVERIFY(dump.find("Form3.GroupBox1.height:=153;\r\nForm3.GroupBox1.left:=216;\r\n") !=
          std::string::npos);
  QVERIFY(dump.find("Form4.ListView1.width:=649;\r\nForm7.Edit1.height:=21;\r\n") !=
          std::string::npos);
  w.form1->ApplyLayoutNl();
  w.form1->DumpLayout();
  const std::string second = fx.folder.Read("turlututu.txt");
  // Replaced, not appended.
  QCOMPARE(std::count(second.begin(), second.end(), '\n'), std::ptrdiff_t{(40 + 21 + 4 + 8) * 4});
  QVERIFY(second.find("Form1.Image3.top:=-8;\r\n") != std::string::npos);
}

void FrameTest::controlsAreDrawnWholeInEveryLayout() {
  FreshCard card("quirks");  // a device with a long name, and a line without controls
  FormFixture fx;
  Windows w;
  TForm3 form3;
  w.form1->FormActivate();
  w.form4->show();
  auto& ui = w.form1->ui;
  auto& ui3 = form3.ui;
  auto& ui7 = w.form7->ui;
  QCOMPARE(DrawingFaults(w.form1.get()), QStringList());
  // Each language's captions, right after the user picked it (the layout comes after the
  // relabelling), with each output type's bit-rate list, a long record time and the status texts of
  // the running operations.
  for (int language = 0; language < 5; ++language) {
    ui.ComboBox3->Choose(language);
    ui7.Edit1->setText("1253600");
    for (TRadioButton* type : {ui.Mp3, ui.Ogg, ui.Wav}) {
      type->click();
      const QString when = QString("language %1, %2").arg(language).arg(type->text());
      QVERIFY2(DrawingFaults(w.form1.get()).isEmpty(),
               qPrintable(when + ": " + DrawingFaults(w.form1.get()).join("; ")));
      QVERIFY2(DrawingFaults(w.form7.get()).isEmpty(),
               qPrintable(when + ": " + DrawingFaults(w.form7.get()).join("; ")));
    }
    // The mixer window showing a line with neither volume nor box, then one with both: its frame
    // and its device list keep their layout's width (the device's long name ends in "..."). The
    // list window with its column captions.
    for (int line : {ui3.ComboBox2->findText("Silent Line"), 0}) {
      ui3.ComboBox2->Choose(line);
      QCOMPARE(DrawingFaults(&form3), QStringList());
      QCOMPARE(ui3.GroupBox2->width(), LayoutGeometry(ui3.GroupBox2).width());
      QCOMPARE(ui3.ComboBox3->width(), LayoutGeometry(ui3.ComboBox3).width());
      QCOMPARE(TextsDrawnCut(ui3.ComboBox3), QStringList());
    }
    QVERIFY(!ui3.Label1->isHidden() && !ui3.Label2->isHidden());
    QCOMPARE(DrawingFaults(w.form4.get()), QStringList());
    QCOMPARE(TextsDrawnCut(w.form4->ui.ListView1->header()), QStringList());
    for (tw::TextId status : {tw::TextId::StatusEncoding, tw::TextId::StatusReady,
                              tw::TextId::StatusPlaying, tw::TextId::StatusRecording}) {
      ui.Label3->setText(w.form1->Text(status));
      QVERIFY2(DrawingFaults(ui.GroupBox2).isEmpty(), qPrintable(ui.Label3->text()));
      QCOMPARE(ui.Label3->x(), 16);  // it grows to the right only
    }
    // The layout dump writes the layout's values, not the room the captions took.
    w.form1->DumpLayout();
    const std::string dump = fx.folder.Read("turlututu.txt");
    QVERIFY(dump.find("Form1.RadioButton5.height:=9;") != std::string::npos);
    QVERIFY(dump.find("Form7.Label4.width:=6;") != std::string::npos);
  }
  // A caption that its frame cannot hold shows its start, ending in "...", inside the frame.
  ui3.ComboBox2->Choose(ui3.ComboBox2->findText("Silent Line"));
  ui3.Label4->setText(QString(60, 'W'));
  QCOMPARE(TextsDrawnCut(ui3.Label4), QStringList());
  QVERIFY(ui3.GroupBox2->contentsRect().contains(ui3.Label4->geometry()));
  QCOMPARE(ui7.Label4->text(), QString("20893"));
  QCOMPARE(ui7.Label4->pos(), QPoint(24, 72));
}

void FrameTest::handsOverToTheWizardWithoutDefaultSet() {
  FormFixture fx(false);
  // A stand-in wizard that records the folder it was started in.
  const std::string wizard = (fx.folder / "Knobwarden");
  std::ofstream(wizard) << "#!/bin/sh\npwd > started.tmp && mv started.tmp started.txt\n";
  ::chmod(wizard.c_str(), 0755);
  const auto oldFolder = std::filesystem::current_path();
  Windows w;
  QVERIFY(!w.form1->ui.CheckBox1->Checked());
  bool closed = false;
  w.form1->OnClosed = [&] { closed = true; };
  w.form1->show();
  w.form1->FormActivate();
  QVERIFY(closed);
  QVERIFY(!w.form1->isVisible());
  QCOMPARE(std::filesystem::current_path().string(), fx.folder.Path().string());
  QTRY_VERIFY_WITH_TIMEOUT(fx.folder.Exists("started.txt"), 5000);
  QCOMPARE(fx.folder.Read("started.txt"),
           std::filesystem::canonical(fx.folder.Path().string()).string() + "\n");
  // The activation went on after closing: the pending language was loaded.
  QCOMPARE(w.form1->ui.JvXPButton7->text(), QString("Convert one"));
  std::filesystem::current_path(oldFolder);
}

void FrameTest::saysWhyTheWizardCannotStart() {
  FormFixture fx(false);  // and no wizard in the program folder
  const auto oldFolder = std::filesystem::current_path();
  Windows w;
  w.form1->show();
  w.form1->FormActivate();
  QVERIFY(!w.form1->isVisible());
  QCOMPARE(fx.messages.size(), 1);
  // The wizard's file as it is named here.
  QVERIFY2(fx.messages[0].contains(QString::fromStdString((fx.folder / "Knobwarden\""))) &&
               fx.messages[0].contains(QString::fromStdString(
                   platform::ShellErrorText(std::uint32_t(platform::SE_ERR_FNF)))),
           qPrintable(fx.messages[0]));
  std::filesystem::current_path(oldFolder);
}

void FrameTest::webAndHelpPages() {
  FormFixture fx;
  Windows w;
  QStringList opened;
  QList<std::uint32_t> askingWindows;
  platform::SetShellHook([&](const platform::ShellRequest& r) {
    opened << QString::fromStdString(r.target);
    askingWindows << r.window;
    return std::intptr_t{42};
  });
  w.form1->ui.ComboBox3->SetItemIndex(1);
  w.form1->ui.JvXPButton11->click();
  w.form1->ui.ComboBox3->SetItemIndex(-1);
  w.form1->ui.JvXPButton11->click();  // no language: nothing opens
  w.form1->ui.ComboBox3->SetItemIndex(4);
  w.form1->ui.JvXPButton11->click();
  w.form1->ui.JvXPButton8->click();
  platform::SetShellHook({});
  QCOMPARE(opened,
           QStringList({fx.file("help-fr.html"), fx.file("help-ru.html"), fx.file("home.html")}));
  // The main window asks, by its handle.
  QVERIFY(w.form1->Handle() != 0);
  QCOMPARE(askingWindows, QList<std::uint32_t>(3, w.form1->Handle()));
  for (const char* page : {"help-en.html", "help-fr.html", "help-nl.html", "help-pl.html",
                           "help-ru.html", "home.html"})
    QVERIFY2(fx.folder.Exists(page), page);
}

void FrameTest::secondCopyMessageInTheChosenLanguage() {
  FormFixture fx;
  const QString folder = "\"" + QString::fromStdString(fx.folder.Path().string()) + "\"";
  // No language chosen yet: English.
  QCOMPARE(TForm1::SecondCopyMessage(),
           "Tunewisp is already running from the folder " + folder +
               ". Two copies in one folder would overwrite each other's files, so this copy ends.");
  fx.folder.Write("lang.ini", "fr\r\n");
  QVERIFY2(TForm1::SecondCopyMessage().startsWith(
               "Tunewisp fonctionne d\u00e9j\u00e0 depuis le dossier " + folder),
           qPrintable(TForm1::SecondCopyMessage()));
}

void FrameTest::recordTimeParsing() {
  int s = -1;
  QCOMPARE(TForm7::ParseRecordTime("", s), TForm7::RecordTime::Empty);
  QCOMPARE(TForm7::ParseRecordTime("1", s), TForm7::RecordTime::Valid);
  QCOMPARE(s, 1);
  QCOMPARE(TForm7::ParseRecordTime("007", s), TForm7::RecordTime::Valid);
  QCOMPARE(s, 7);
  QCOMPARE(TForm7::ParseRecordTime("000", s), TForm7::RecordTime::Valid);  // an empty recording
  QCOMPARE(s, 0);
  QCOMPARE(TForm7::ParseRecordTime("2147483647", s), TForm7::RecordTime::Valid);
  for (const char* bad : {"2147483648", "99999999999", "-5", "+5", "1 ", "12a", "x"})
    QVERIFY2(TForm7::ParseRecordTime(bad, s) == TForm7::RecordTime::Invalid, bad);
}

void FrameTest::recordTimeWindowDisplayAndKeys() {
  FormFixture fx;
  Windows w;
  auto& ui = w.form7->ui;
  QTest::keyClicks(ui.Edit1, "1a2-5 ");
  QCOMPARE(ui.Edit1->text(), QString("125"));
  QCOMPARE(ui.Label4->text(), QString("2"));
  QCOMPARE(ui.Label6->text(), QString("5"));
  QTest::keyClick(ui.Edit1, Qt::Key_Backspace);
  QCOMPARE(ui.Edit1->text(), QString("12"));
  QCOMPARE(ui.Label4->text(), QString("0"));
  QCOMPARE(ui.Label6->text(), QString("12"));
  // Delete is an editing key, not a typed character: it works as backspace does. (X11 gives its key
  // events the DEL character as their text.)
  QTest::keyClick(ui.Edit1, Qt::Key_Home);
  QTest::sendKeyEvent(QTest::Click, ui.Edit1, Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier);
  QCOMPARE(ui.Edit1->text(), QString("2"));
  QCOMPARE(ui.Label6->text(), QString("2"));
  ui.Edit1->setText("3600");
  QCOMPARE(ui.Label4->text(), QString("60"));
  QCOMPARE(ui.Label6->text(), QString("0"));
  QVERIFY(fx.messages.isEmpty());
  ui.Edit1->setText("pasted!");  // a paste is not filtered; the display keeps its values
  QCOMPARE(ui.Label4->text(), QString("60"));
  QCOMPARE(fx.messages.size(), 1);
  ui.JvXPButton1->click();  // "c"
  QVERIFY(ui.Edit1->text().isEmpty());
  QCOMPARE(ui.Label4->text(), QString("0"));
  QCOMPARE(ui.Label6->text(), QString("0"));
}

void FrameTest::recordTimeWindowRefusesPastedTextsAtOnce() {
  FormFixture fx;
  Windows w;
  w.form7->show();
  // A title that shows nothing: an empty one would show the application's name.
  const QString title = w.form7->windowHandle()->title();
  QVERIFY(!title.isEmpty() && title.trimmed().isEmpty());
  // A pasted text that is not a number is refused as soon as it is there, with the longest time
  // the capture takes in the format set now; the window still closes.
  w.form7->ui.Edit1->setText("12a");
  QCOMPARE(fx.messages.size(), 1);
  QVERIFY2(fx.messages[0].startsWith("The record time must be") && fx.messages[0].contains("12173"),
           qPrintable(fx.messages[0]));
  QVERIFY(w.form7->close());
  w.form1->ui.RadioButton3->click();  // mono: twice as long
  w.form7->ui.Edit1->setText("2147483648");
  QCOMPARE(fx.messages.size(), 2);
  QVERIFY2(fx.messages[1].contains("24347"), qPrintable(fx.messages[1]));
  // Digits within range are the conversion's to judge.
  w.form7->ui.Edit1->setText("0");
  w.form7->ui.Edit1->setText("99999");
  QCOMPARE(fx.messages.size(), 2);
  QCOMPARE(w.form7->ui.Label4->text(), QString("1666"));
}

TW_WINDOW_TEST_MAIN(FrameTest)
#include "test_frame.moc"
