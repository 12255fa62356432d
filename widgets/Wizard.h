#pragma once
// A wizard control: pages stacked in one window, a header with the shown page's title and subtitle,
// and a bar of navigation buttons (Back, Next, Finish, Cancel) 42 pixels high at the bottom.
//
// Unlike a wizard dialog, it lives inside its window, hides the buttons a page does not offer
// (rather than disabling them) and lets each page offer any set of them, for instance Next, Finish
// and Cancel without Back.
//
// - Pages are added in their order with AddPage; the first one added is shown first. Next shows the
//   following page, Back the previous one.
// - Each page holds its own button set (TWizardPage::SetButtons); the set stays with the page when
//   the user leaves it and comes back.
// - A click on a navigation button runs, in this order: the shown page's event for that button
//   (with a stop flag, false at first), unless stopped the wizard's event for it (Finish and Cancel
//   have one), unless stopped the move (Next and Back only). An exception from an event ends the
//   click there and is shown in a message box.
// - While Next is shown it is the default button, else Finish when shown: Enter clicks it whenever
//   the control's window is active.

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;

// The navigation buttons, as flags of a page's button set.
enum TWizardButton : unsigned {
  wbBack = 1,
  wbNext = 2,
  wbFinish = 4,
  wbCancel = 8,
};

class TWizardPage : public QWidget {
  Q_OBJECT
 public:
  explicit TWizardPage(QWidget* parent = nullptr);

  QString Title() const { return title_; }
  void SetTitle(const QString& title);
  QString Subtitle() const { return subtitle_; }
  void SetSubtitle(const QString& subtitle);
  unsigned Buttons() const { return buttons_; }
  void SetButtons(unsigned buttons);

  // The page's events of the navigation buttons; setting Stop to true ends the click.
  using TPageEvent = std::function<void(bool& Stop)>;
  TPageEvent OnBackButtonClick;
  TPageEvent OnNextButtonClick;
  TPageEvent OnFinishButtonClick;
  TPageEvent OnCancelButtonClick;

 signals:
  // Title, subtitle or button set changed.
  void Changed();

 private:
  QString title_;
  QString subtitle_;
  unsigned buttons_ = wbBack | wbNext | wbCancel;
};

class TWizard : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kButtonBarHeight = 42;
  static constexpr int kHeaderHeight = 48;

  explicit TWizard(QWidget* parent = nullptr);

  // Appends a page (a child of this control) to the page order.
  void AddPage(TWizardPage* page);
  const std::vector<TWizardPage*>& Pages() const { return pages_; }
  TWizardPage* ActivePage() const;
  void SetActivePage(TWizardPage* page);

  // The wizard's events of Finish and Cancel, run after the page's own.
  std::function<void()> OnFinishButtonClick;
  std::function<void()> OnCancelButtonClick;

  // What a user's click on a navigation button does (the button need not be shown).
  void Click(TWizardButton button);

  QPushButton* BackButton() const { return back_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* FinishButton() const { return finish_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The button Enter clicks, or null when neither Next nor Finish is shown.
  QPushButton* DefaultButton() const;
  QString TitleText() const;
  QString SubtitleText() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Refresh();
  void PlacePages();
  void ClickDefault();

  std::vector<TWizardPage*> pages_;  // borrowed: the pages are this control's children
  int active_ = -1;
  QLabel* title_ = nullptr;
  QLabel* subtitle_ = nullptr;
  QWidget* header_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* finish_ = nullptr;
  QPushButton* cancel_ = nullptr;
};
