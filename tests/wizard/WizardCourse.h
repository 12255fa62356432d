#pragma once
// A user's way through the wizard's pages, for the window's tests and for the program that stands
// in for Knobwarden in the two-process test.

#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>

#include "audio/ACS_Wave.h"
#include "widgets/Controls.h"
#include "widgets/Wizard.h"
#include "wizard/Unit1.h"

// Runs `action` once, from the first message pass in which the test's recording runs.
inline void WhenRecording(TForm1& form, std::function<void()> action) {
  auto* timer = new QTimer(&form);
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, timer, [&form, timer, action] {
    if (form.WaveOut1->Status() != 0) return;
    timer->stop();
    action();
  });
  timer->start();
}

inline void ClickLink(TLinkLabel* link) { QTest::mouseClick(link, Qt::LeftButton); }

inline void ClickRow(TListView* list, int row, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseClick(list->viewport(), button, {}, list->RowCentre(row));
}

// The row of the line `name` of destination `dest`, -1 when none.
inline int RowOf(const TListView* list, int dest, const QString& name) {
  for (int r = 0; r < list->RowCount(); ++r)
    if (list->SubItem(r, 1).toInt() == dest && list->Caption(r).endsWith(" | " + name)) return r;
  return -1;
}

// English (or French), the Xp path, "Ok" on the save and zero pages: the playback page is shown.
inline void ToPlaybackPage(TForm1& form, bool french = false) {
  ClickLink(french ? form.ui.JvLinkLabel1 : form.ui.JvLinkLabel2);
  ClickLink(form.ui.JvLinkLabel4);
  TWizard& wizard = *form.ui.JvWizard1;
  wizard.Click(wbNext);
  wizard.Click(wbNext);
  form.ui.Button1->click();
  wizard.Click(wbNext);
  form.ui.Button2->click();
  wizard.Click(wbNext);
}

// Then "SW Synth" as the playback line, and Next: the record page is shown.
inline void ToRecordPage(TForm1& form) {
  ToPlaybackPage(form);
  ClickRow(form.ui.ListView1, RowOf(form.ui.ListView1, 0, "SW Synth"));
  form.ui.JvWizard1->Click(wbNext);
}

// "Stereo Mix" clicked as the recording line; the question goes to whoever answers questions.
inline void ClickStereoMix(TForm1& form) {
  ClickRow(form.ui.ListView2, RowOf(form.ui.ListView2, 1, "Stereo Mix"));
}
