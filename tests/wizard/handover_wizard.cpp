// Takes Knobwarden's place in the two-process tests: the wizard program itself (its window, its
// message loop, its handling of termination signals), driven as a user would. The course comes
// from the environment variable HANDOVER_WIZARD_COURSE:
// - unset or "finish": English, Xp, save, zero, "SW Synth", "Stereo Mix", a test kept, then Finish,
//   which starts Tunewisp;
// - "start": ends at once (the wizard was started, which is all a test wants to know);
// - "zeroed": stops on the playback page, the lines zeroed, until a signal ends it;
// - "testing": starts the test at twice real time and waits in it until a signal ends it;
// - "box": French, every box shown by Qt and answered by a mouse click; the test's last question
//   comes while no window of the program is active (the user looked at another program).
// Questions are answered Yes. What it saw goes to the program folder's log.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "HandoverSupport.h"
#include "WizardCourse.h"
#include "platform/softcard/Softcard.h"
#include "widgets/Toolkit.h"
#include "widgets/Wizard.h"
#include "wizard/Knobwarden.h"
#include "wizard/Unit1.h"

namespace {

// Answers every message box Qt shows with a click on its button "Yes" (in the system's language),
// noting the box's first line and its buttons.
void AnswerBoxesYesByClicks(TForm1& form, const HandoverLog& log) {
  auto* timer = new QTimer(&form);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [log] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    QStringList names;
    for (QAbstractButton* b : box->buttons()) names << b->text();
    log("box " + box->text().section('\n', 0, 0).trimmed().toStdString() + " [" +
        names.join(" ").toStdString() + "]");
    QAbstractButton* yes = box->button(QMessageBox::Yes);
    QTest::mouseClick(yes ? yes : box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  timer->start();
}

void Drive(TForm1& form, const std::string& course, const HandoverLog& log) {
  TWizard& wizard = *form.ui.JvWizard1;
  if (course == "start") {
    form.close();
    return;
  }
  if (course == "zeroed") {
    ToPlaybackPage(form);
    log("zeroed");
    HoldNextMixerChange(log);
    return;
  }
  if (course == "box") {
    AnswerBoxesYesByClicks(form, log);
    ToPlaybackPage(form, /*french=*/true);
    ClickRow(form.ui.ListView1, RowOf(form.ui.ListView1, 0, "SW Synth"));
    wizard.Click(wbNext);
    ClickStereoMix(form);
    // Another window takes the focus during the recording and goes, as when the user looks at
    // another program: no window of the wizard is active when its question comes.
    WhenRecording(form, [log] {
      auto other = std::make_unique<QWidget>();
      other->setAttribute(Qt::WA_QuitOnClose, false);  // it stands for another program's window
      other->show();
      other->activateWindow();
      QCoreApplication::processEvents();
      other.reset();
      QCoreApplication::processEvents();
      log(QApplication::activeWindow() ? "a window is active" : "no window active");
    });
    form.ui.Button4->click();
    log(tw::FileExists(tw::ProgramFile("default.set")) ? "test kept" : "test not kept");
    // A program that quit when the box closed ends before this comes round.
    QTimer::singleShot(100, &form, [&form, log] {
      log("still running");
      form.ui.JvWizard1->Click(wbCancel);
    });
    return;
  }
  ToRecordPage(form);
  ClickStereoMix(form);
  if (course == "testing") {
    platform::softcard::Card::Instance().SetSpeed(2);
    WhenRecording(form, [log] { log("recording"); });
    form.ui.Button4->click();
    log("test ended");
    return;
  }
  form.ui.Button4->click();
  wizard.Click(wbNext);
  log(wizard.ActivePage() == form.ui.JvWizardInteriorPage7 ? "done page" : "not on the done page");
  log("finish");
  wizard.Click(wbFinish);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const HandoverLog log("wizard");
  const char* chosen = std::getenv("HANDOVER_WIZARD_COURSE");
  const std::string course = chosen && *chosen ? chosen : "finish";
  log("start " + course);
  NoteIgnoredFileSizeSignal(log);
  if (course != "box") {
    SetMessageHook([&](const QString& text) { log("message " + text.toStdString()); });
    SetQuestionHook([](const QString&, bool) { return TAnswer::Yes; });
  }
  const int result = RunKnobwarden(app, [&](TForm1& form) {
    QTimer::singleShot(0, &form, [&form, &course, &log] { Drive(form, course, log); });
  });
  log("exit");
  return result;
}
