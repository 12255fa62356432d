#include "widgets/Wizard.h"

#include <QFont>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <exception>

#include "widgets/Toolkit.h"

TWizardPage::TWizardPage(QWidget* parent) : QWidget(parent) {}

void TWizardPage::SetTitle(const QString& title) {
  if (title == title_) return;
  title_ = title;
  emit Changed();
}

void TWizardPage::SetSubtitle(const QString& subtitle) {
  if (subtitle == subtitle_) return;
  subtitle_ = subtitle;
  emit Changed();
}

void TWizardPage::SetButtons(unsigned buttons) {
  if (buttons == buttons_) return;
  buttons_ = buttons;
  emit Changed();
}

TWizard::TWizard(QWidget* parent) : QWidget(parent) {
  // The control covers whatever lies under it in its window.
  setAutoFillBackground(true);
  header_ = new QFrame(this);
  header_->setAutoFillBackground(true);
  header_->setBackgroundRole(QPalette::Base);
  title_ = new QLabel(header_);
  QFont titleFont = title_->font();
  titleFont.setBold(true);
  titleFont.setPointSize(titleFont.pointSize() + 3);
  title_->setFont(titleFont);
  subtitle_ = new QLabel(header_);
  subtitle_->setWordWrap(true);
  subtitle_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto button = [this](TWizardButton which) {
    auto* b = new QPushButton(this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, which] { Click(which); });
    return b;
  };
  back_ = button(wbBack);
  next_ = button(wbNext);
  finish_ = button(wbFinish);
  cancel_ = button(wbCancel);
  back_->setText("< &Back");
  next_->setText("&Next >");
  finish_->setText("&Finish");
  cancel_->setText("&Cancel");

  // Enter clicks the default button whenever the control's window is active, as in a dialog: also
  // when nothing in the window has the focus, as after a click on a link label, which takes none.
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &TWizard::ClickDefault);
  }
  Refresh();
}

void TWizard::AddPage(TWizardPage* page) {
  page->setParent(this);
  pages_.push_back(page);
  connect(page, &TWizardPage::Changed, this, &TWizard::Refresh);
  if (active_ < 0) active_ = 0;
  PlacePages();
  Refresh();
}

TWizardPage* TWizard::ActivePage() const {
  return active_ >= 0 ? pages_[static_cast<std::size_t>(active_)] : nullptr;
}

void TWizard::SetActivePage(TWizardPage* page) {
  const auto it = std::find(pages_.begin(), pages_.end(), page);
  if (it == pages_.end()) return;
  active_ = static_cast<int>(it - pages_.begin());
  Refresh();
}

void TWizard::Click(TWizardButton button) {
  TWizardPage* page = ActivePage();
  if (!page) return;
  try {
    bool stop = false;
    const TWizardPage::TPageEvent* pageEvent = nullptr;
    switch (button) {
      case wbBack:
        pageEvent = &page->OnBackButtonClick;
        break;
      case wbNext:
        pageEvent = &page->OnNextButtonClick;
        break;
      case wbFinish:
        pageEvent = &page->OnFinishButtonClick;
        break;
      case wbCancel:
        pageEvent = &page->OnCancelButtonClick;
        break;
    }
    if (pageEvent && *pageEvent) (*pageEvent)(stop);
    if (stop) return;
    if (button == wbFinish && OnFinishButtonClick) OnFinishButtonClick();
    if (button == wbCancel && OnCancelButtonClick) OnCancelButtonClick();
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()));
    return;
  }
  // The events may have run nested waits in which the user moved on: move from the page shown now.
  const int from = active_;
  if (button == wbNext && from + 1 < static_cast<int>(pages_.size())) active_ = from + 1;
  if (button == wbBack && from > 0) active_ = from - 1;
  Refresh();
}

QPushButton* TWizard::DefaultButton() const {
  const TWizardPage* page = ActivePage();
  if (!page) return nullptr;
  if (page->Buttons() & wbNext) return next_;
  if (page->Buttons() & wbFinish) return finish_;
  return nullptr;
}

QString TWizard::TitleText() const { return title_->text(); }
QString TWizard::SubtitleText() const { return subtitle_->text(); }

void TWizard::ClickDefault() {
  if (QPushButton* b = DefaultButton()) b->click();
}

void TWizard::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlacePages();
}

void TWizard::PlacePages() {
  const int w = width();
  const int h = height();
  header_->setGeometry(0, 0, w, kHeaderHeight);
  title_->setGeometry(12, 3, w - 24, 20);
  subtitle_->setGeometry(24, 22, w - 36, kHeaderHeight - 22);
  const QRect pageArea(0, kHeaderHeight, w, std::max(0, h - kHeaderHeight - kButtonBarHeight));
  for (TWizardPage* page : pages_) page->setGeometry(pageArea);
  // Right-aligned as Back, Next, Finish, Cancel; hidden buttons leave no gap.
  int x = w - 8;
  for (QPushButton* b : {cancel_, finish_, next_, back_}) {
    if (b->isHidden()) continue;
    x -= 75;
    b->setGeometry(x, h - kButtonBarHeight + 9, 75, 25);
    x -= 6;
  }
}

void TWizard::Refresh() {
  const TWizardPage* page = ActivePage();
  for (TWizardPage* p : pages_) p->setVisible(p == page);
  const unsigned buttons = page ? page->Buttons() : 0;
  back_->setVisible(buttons & wbBack);
  next_->setVisible(buttons & wbNext);
  finish_->setVisible(buttons & wbFinish);
  cancel_->setVisible(buttons & wbCancel);
  QPushButton* def = DefaultButton();
  for (QPushButton* b : {back_, next_, finish_, cancel_}) b->setDefault(b == def);
  title_->setText(page ? page->Title() : QString());
  subtitle_->setText(page ? page->Subtitle() : QString());
  PlacePages();
}
