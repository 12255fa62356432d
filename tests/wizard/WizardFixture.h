#pragma once
// What the wizard's tests share: the window in a program folder of its own (with the test melody),
// messages and questions answered by the test, the shell's requests captured, and the mixer read
// back line by line by name.

#include <QString>
#include <QStringList>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FormFixture.h"
#include "converter/MixerSettingsFile.h"
#include "mixer/AMixer.h"
#include "platform/system/Shell.h"
#include "widgets/Toolkit.h"
#include "widgets/Wizard.h"
#include "wizard/Unit1.h"

// A mixer line as the tests name it: destination index and line name.
struct LineState {
  int left = -1, right = -1, mute = -1;
};

class WizardFixture : public FormFixture {
 public:
  WizardFixture() : FormFixture(/*withDefaultSet=*/false) {
    SetQuestionHook([this](const QString& text, bool withCancel) {
      questions << text;
      questionHadCancel.push_back(withCancel);
      if (onQuestion) onQuestion();
      if (answers.empty()) return withCancel ? TAnswer::Cancel : TAnswer::No;
      const TAnswer a = answers.front();
      answers.pop_front();
      return a;
    });
    platform::SetShellHook([this](const platform::ShellRequest& r) -> std::intptr_t {
      started.push_back(r);
      return shellResult;
    });
    WizardLanguage = 0;
    form = std::make_unique<TForm1>();
    form->OnClosed = [this] { closed = true; };
  }
  ~WizardFixture() {
    form.reset();
    platform::SetShellHook({});
    SetQuestionHook({});
  }

  TWizard& wizard() const { return *form->ui.JvWizard1; }
  TWizardPage* page() const { return wizard().ActivePage(); }
  unsigned buttons() const { return page()->Buttons(); }

  // A user's click on a control that is shown.
  static void click(QAbstractButton* b) {
    QVERIFY2(b->isVisibleTo(b->window()), qPrintable(b->objectName() + " is not shown"));
    b->click();
  }
  void clickLink(TLinkLabel* link) { QTest::mouseClick(link, Qt::LeftButton); }
  void clickRow(TListView* list, int row, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(list->viewport(), button, {}, list->RowCentre(row));
  }

  // English (or French), the Xp path, the save and zero pages: the playback page is shown.
  void toPlaybackPage(bool french = false) {
    clickLink(french ? form->ui.JvLinkLabel1 : form->ui.JvLinkLabel2);
    clickLink(form->ui.JvLinkLabel4);
    wizard().Click(wbNext);
    wizard().Click(wbNext);
    click(form->ui.Button1);
    wizard().Click(wbNext);
    click(form->ui.Button2);
    wizard().Click(wbNext);
  }
  // The row of the line `name` of destination `dest`, -1 when none.
  static int row(const TListView* list, int dest, const QString& name) {
    for (int r = 0; r < list->RowCount(); ++r)
      if (list->SubItem(r, 1).toInt() == dest && list->Caption(r).endsWith(" | " + name)) return r;
    return -1;
  }
  // Playback line "SW Synth" chosen, then Next: the record page is shown.
  void toRecordPage() {
    toPlaybackPage();
    clickRow(form->ui.ListView1, row(form->ui.ListView1, 0, "SW Synth"));
    wizard().Click(wbNext);
  }
  // "Stereo Mix" chosen as recording line, answered Yes.
  void chooseStereoMix() {
    answers.push_back(TAnswer::Yes);
    clickRow(form->ui.ListView2, row(form->ui.ListView2, 1, "Stereo Mix"));
  }

  // The state of a line of device 0 as another program sees it.
  static LineState line(int dest, const QString& name) {
    TAudioMixer mixer(nullptr);
    const auto& connections = *mixer.Destinations->Get(dest)->Connections;
    for (int c = 0; c < connections.Count(); ++c) {
      if (QString(connections.Get(c)->LineInfo.szName) != name) continue;
      LineState s;
      bool stereo, volDisabled, muteDisabled, isSelect;
      mixer.GetVolume(dest, c, s.left, s.right, s.mute, stereo, volDisabled, muteDisabled,
                      isSelect);
      return s;
    }
    return {};
  }
  static void setLine(int dest, const QString& name, int volume, int mute) {
    TAudioMixer mixer(nullptr);
    const auto& connections = *mixer.Destinations->Get(dest)->Connections;
    for (int c = 0; c < connections.Count(); ++c)
      if (QString(connections.Get(c)->LineInfo.szName) == name)
        mixer.SetVolume(dest, c, volume, volume, mute);
  }
  // Every source line of every device, as a settings file would hold it.
  static std::vector<tw::MixerSettingsLine> mixerState() {
    std::vector<tw::MixerSettingsLine> lines;
    TAudioMixer mixer(nullptr);
    for (int i = 0; i < mixer.MixerCount;) {
      for (int d = 0; d < mixer.Destinations->Count(); ++d)
        for (int c = 0; c < mixer.Destinations->Get(d)->Connections->Count(); ++c) {
          tw::MixerSettingsLine l{i, d, c, -1, -1, -1};
          bool stereo, volDisabled, muteDisabled, isSelect;
          mixer.GetVolume(d, c, l.L, l.R, l.M, stereo, volDisabled, muteDisabled, isSelect);
          lines.push_back(l);
        }
      if (++i < mixer.MixerCount) mixer.SetMixerId(i);
    }
    return lines;
  }
  std::vector<tw::MixerSettingsLine> fileState(const char* name) const {
    std::vector<tw::MixerSettingsLine> lines;
    tw::ApplySettingsFile(folder.file(name),
                          [&](const tw::MixerSettingsLine& l) { lines.push_back(l); });
    return lines;
  }

  std::unique_ptr<TForm1> form;
  bool closed = false;
  QStringList questions;
  std::vector<bool> questionHadCancel;
  std::deque<TAnswer> answers;  // none left: Cancel where offered, else No
  std::function<void()> onQuestion;
  std::vector<platform::ShellRequest> started;
  std::intptr_t shellResult = 42;
};
