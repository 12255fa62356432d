#pragma once
// Qt widgets that behave the way the windows' handlers of both programs expect of their toolkit,
// and the one place where a program shows messages and file dialogs (which tests can answer instead
// of a user). Nothing here belongs to one program: each sets its own application title.
//
// The rules the handlers rely on:
// - TRadioButton: checking a radio button (by the user or with SetChecked(true)) unchecks the
//   others of its parent without running their handlers, then runs its own OnClick, but only when
//   it was not checked before. Checking the button that is already checked does nothing.
// - TComboBox: setting the item index from code runs no handler. A choice by the user runs OnClick,
//   then OnChange.
// - TComboBox: OnEnter runs when the keyboard focus moves into the list from elsewhere in its
//   window (a click, Tab, a shortcut or code), not when it comes back to the list as its drop-down
//   closes or as its window becomes active again.
// - TCheckBox: OnClick runs whenever the checked state changes, from code as well as by the user.
// - TTrackBar: OnChange runs whenever the position changes, from code as well as by the user; a
//   position outside the range is kept within it.
// - TLabel: a new caption is drawn whole. Once its window has been drawn whole (WholeControls.h),
//   each new text draws the window whole again, so a status text longer than the label's layout
//   width is never cut and the captions beside it move along. A label that its frame holds
//   narrower than its caption shows the caption's start ending in "...".
// - TComboBox: a current text wider than the list's field ends in "...".

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <functional>

class QDropEvent;
class QPaintEvent;
class QWidget;

class TRadioButton : public QRadioButton {
  Q_OBJECT
 public:
  explicit TRadioButton(QWidget* parent = nullptr);
  bool Checked() const { return isChecked(); }
  void SetChecked(bool checked) { setChecked(checked); }
  std::function<void()> OnClick;
};

class TComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TComboBox(QWidget* parent = nullptr);
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int index) { setCurrentIndex(index); }
  // What a user's choice of item `index` does: select it, then OnClick and OnChange. Tests use it.
  void Choose(int index);
  std::function<void()> OnClick;
  std::function<void()> OnChange;
  std::function<void()> OnEnter;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

class TCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  explicit TCheckBox(QWidget* parent = nullptr);
  bool Checked() const { return isChecked(); }
  void SetChecked(bool checked) { setChecked(checked); }
  std::function<void()> OnClick;
};

class TTrackBar : public QSlider {
  Q_OBJECT
 public:
  explicit TTrackBar(QWidget* parent = nullptr);
  int Position() const { return value(); }
  void SetPosition(int position) { setValue(position); }
  std::function<void()> OnChange;
};

class TLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLabel(QWidget* parent = nullptr);
  // Hides QLabel::setText, so that every text given through a TLabel, the generated window code's
  // included, is drawn whole.
  void setText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A file dialog that keeps the last name chosen: after a cancel, FileName still holds it. A folder
// dialog keeps the last folder chosen in FileName the same way.
class TFileDialog {
 public:
  enum class Kind { Open, Save, Folder };
  explicit TFileDialog(Kind kind) : kind_(kind) {}
  TFileDialog(const TFileDialog&) = delete;
  TFileDialog& operator=(const TFileDialog&) = delete;

  // "Name|*.ext" pairs, as in "Midi|*.mid"; empty for no filter.
  QString Filter;
  QString FileName;
  Kind kind() const { return kind_; }

  // Shows the dialog; true when the user chose a file (which is then FileName).
  bool Execute(QWidget* parent);

  // Tests answer dialogs through this hook: it gets the dialog and returns what Execute returns
  // (setting FileName when it "chooses" one). An empty function restores the real dialogs.
  static void SetHook(std::function<bool(TFileDialog&)> hook);

 private:
  Kind kind_;
};

// The local files and folders a drag or drop carries, in its order. An event that carries some is
// accepted; one that carries none is left alone (and the list is empty). Both windows take dropped
// files through it.
QStringList TakeDroppedFiles(QDropEvent* event);

// The program's message box: the text, shown as it stands (never as markup), one OK button, the
// application title as caption; returns when the user has closed it. Its owner is the program's
// active window, or the main window while none of the program's windows is active. Tests capture
// the texts through the hook instead of showing a box.
void ShowMessage(const QString& text);
// The same box with `details` in a part that the user unfolds with its "Show Details..." button and
// that scrolls, for a list too long for the text. Folded or unfolded, the box is never taller than
// the available height of its screen: the details give up height first (down to a few lines), then
// the text is cut at its end; and it is moved up to stay within the screen. Empty details: the box
// of ShowMessage(text). The hook receives the text, then a line kMessageDetailsLine, then the
// details; only the text when the details are empty.
void ShowMessage(const QString& text, const QString& details);
inline constexpr char kMessageDetailsLine[] = "[Details]";
void SetMessageHook(std::function<void(const QString&)> hook);

// Runs an event handler; an exception it raises is shown in a message box, as a toolkit's default
// error handler would, and ends the handler there.
void Guarded(const std::function<void()>& handler);

// Runs window->handler() through Guarded on every click of `button`.
template <class Window>
void BindClick(Window* window, QAbstractButton* button, void (Window::*handler)()) {
  QObject::connect(button, &QAbstractButton::clicked, window,
                   [window, handler] { Guarded([&] { (window->*handler)(); }); });
}

// A question in a message box with the buttons Yes and No, or Yes, No and Cancel; no icon, the
// application title as caption, the text and the owner as in ShowMessage. Returns the button the
// user pressed (closing the box is Cancel where Cancel is offered, else No). Tests answer through
// the hook instead of a user.
enum class TAnswer { Yes, No, Cancel };
TAnswer AskQuestion(const QString& text, bool withCancel);
void SetQuestionHook(std::function<TAnswer(const QString& text, bool withCancel)> hook);

// The program's main window (Knobwarden's only window, Tunewisp's main window), owner of the boxes
// shown while none of the program's windows is active: a box without an owner would be a window of
// its own, and closing it would count as closing the program's last window. Null when there is
// none.
void SetMainWindow(QWidget* window);

// Loads Qt's own translations (its standard buttons and dialogs) for the system's language, so that
// a box asking in French offers "Oui" and "Non" on a French desktop. Without a translation for that
// language they stay English. Call once after the application object exists.
void LoadQtTranslations();

// The application title, caption of every message box: what the program set, else the
// application's name.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Runs `fn` on the GUI thread: at once when called there; from a worker, at the GUI thread's next
// message processing, and then only while `owner` still exists and has not called StopReports (a
// worker's report about a window that is going or has gone is dropped). The worker does not wait.
void RunOnGuiThread(QObject* owner, std::function<void()> fn);
// Called first in the destructor of a window whose components report through RunOnGuiThread: the
// components go last, and a report they run on their way out would find the members it writes gone.
void StopReports(QObject* owner);

// Hooks the GUI thread's call queue (platform/runtime/GuiThread.h) into Qt: a queued call wakes
// Qt's event loop, which then runs it, and ProcessMessages() also processes Qt's pending events.
// Call once after the QApplication exists; RemoveQtHooks() before it goes.
void InstallQtHooks();
void RemoveQtHooks();
