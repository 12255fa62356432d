// Takes Knobwarden's place in the two-process test: the wizard's own window, driven page by page
// as a user would (English, Xp, save, zero, "SW Synth", "Stereo Mix", a test kept), then Finish,
// which starts Tunewisp. What it saw goes to the program folder's log.

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "HandoverSupport.h"
#include "widgets/Toolkit.h"
#include "widgets/Wizard.h"
#include "wizard/Unit1.h"

namespace {

int Row(const TListView* list, int dest, const QString& name) {
  for (int r = 0; r < list->RowCount(); ++r)
    if (list->SubItem(r, 1).toInt() == dest && list->Caption(r).endsWith(" | " + name)) return r;
  return -1;
}

void Drive(TForm1& form, const HandoverLog& log) {
  auto& ui = form.ui;
  TWizard& wizard = *ui.JvWizard1;
  auto clickRow = [](TListView* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->RowCentre(row));
  };
  QTest::mouseClick(ui.JvLinkLabel2, Qt::LeftButton);
  QTest::mouseClick(ui.JvLinkLabel4, Qt::LeftButton);
  wizard.Click(wbNext);
  wizard.Click(wbNext);
  ui.Button1->click();
  wizard.Click(wbNext);
  ui.Button2->click();
  wizard.Click(wbNext);
  clickRow(ui.ListView1, Row(ui.ListView1, 0, "SW Synth"));
  wizard.Click(wbNext);
  clickRow(ui.ListView2, Row(ui.ListView2, 1, "Stereo Mix"));
  ui.Button4->click();
  wizard.Click(wbNext);
  log(wizard.ActivePage() == ui.JvWizardInteriorPage7 ? "done page" : "not on the done page");
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
