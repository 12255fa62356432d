// Takes Knobwarden's place in the two-process test: the wizard's own window, driven page by page
// as a user would (English, Xp, save, zero, "SW Synth", "Stereo Mix", a test kept), then Finish,
// which starts Tunewisp. What it saw goes to the program folder's log.

#include <QApplication>
#include <QTimer>

#include "HandoverSupport.h"
#include "WizardCourse.h"
#include "widgets/Toolkit.h"
#include "widgets/Wizard.h"
#include "wizard/Unit1.h"

namespace {

void Drive(TForm1& form, const HandoverLog& log) {
  TWizard& wizard = *form.ui.JvWizard1;
  ToRecordPage(form);
  ClickStereoMix(form);
  form.ui.Button4->click();
  wizard.Click(wbNext);
  log(wizard.ActivePage() == form.ui.JvWizardInteriorPage7 ? "done page" : "not on the done page");
  log("finish");
  wizard.Click(wbFinish);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("Knobwarden");
  InstallQtHooks();
  const HandoverLog log("wizard");
  SetMessageHook([&](const QString& text) { log("message " + text.toStdString()); });
  SetQuestionHook([](const QString&, bool) { return TAnswer::Yes; });
  int result = 0;
  {
    TForm1 form;
    form.OnClosed = [] { QCoreApplication::quit(); };
    form.show();
    QTimer::singleShot(0, &form, [&] { Drive(form, log); });
    result = QApplication::exec();
  }
  RemoveQtHooks();
  return result;
}
