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
#include "WizardCourse.h"
#include "converter/MixerSettings.h"
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
  void clickLink(TLinkLabel* link) { ClickLink(link); }
  void clickRow(TListView* list, int row, Qt::MouseButton button = Qt::LeftButton) {
    ClickRow(list, row, button);
  }
  static int row(const TListView* list, int dest, const QString& name) {
    return RowOf(list, dest, name);
  }
  void toPlaybackPage(bool french = false) { ToPlaybackPage(*form, french); }
  void toRecordPage() { ToRecordPage(*form); }
  // "Stereo Mix" chosen as recording line, answered Yes.
  void chooseStereoMix() {
    answers.push_back(TAnswer::Yes);
    ClickStereoMix(*form);
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
  std::vector<tw::MixerSettingsLine> fileState(const char* name) const {
    std::vector<tw::MixerSettingsLine> lines;
    tw::ApplySettingsFile((folder / name),
                          [&](const tw::MixerSettingsLine& l) { lines.push_back(l); });
    return lines;
  }

  std::unique_ptr<TForm1> form;
  bool closed = false;
  QStringList questions;
  std::vector<bool> questionHadCancel;
  std::deque<TAnswer> answers;  // none left: Cancel where offered, else No
  std::vector<platform::ShellRequest> started;
  std::intptr_t shellResult = 42;
};
