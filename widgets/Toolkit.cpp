#include "widgets/Toolkit.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextDocument>
#include <QTextEdit>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <memory>

#include "platform/runtime/GuiThread.h"
#include "widgets/WholeControls.h"

TRadioButton::TRadioButton(QWidget* parent) : QRadioButton(parent) {
  // Qt's toggled(true) arrives exactly when the button becomes checked, after the other buttons of
  // its parent have been unchecked, and never when it was checked already.
  connect(this, &QRadioButton::toggled, this, [this](bool on) {
    if (on && OnClick) OnClick();
  });
}

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
  // `activated` is raised only by the user's choice, never by setCurrentIndex.
  connect(this, &QComboBox::activated, this, [this](int) {
    if (OnClick) OnClick();
    if (OnChange) OnChange();
  });
}

void TComboBox::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  // The focus that comes back when the list's own drop-down closes (before the item picked in it is
  // chosen), or when its window becomes active again, does not enter the list: it never left it.
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return;
  if (OnEnter) OnEnter();
}

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  // valueChanged is raised for every change of the position, whoever makes it, and never when the
  // position stays the same.
  connect(this, &QSlider::valueChanged, this, [this](int) {
    if (OnChange) OnChange();
  });
}

void TComboBox::paintEvent(QPaintEvent*) {
  // As QComboBox paints itself, with a current text that does not fit its field ending in "...":
  // the style would cut it off at the field's edge.
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const QRect field =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  // The style draws the text one pixel in from each side of the field.
  option.currentText =
      option.fontMetrics.elidedText(option.currentText, Qt::ElideRight, field.width() - 2);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TComboBox::Choose(int index) {
  setCurrentIndex(index);
  emit activated(index);
}

TCheckBox::TCheckBox(QWidget* parent) : QCheckBox(parent) {
  connect(this, &QCheckBox::toggled, this, [this](bool) {
    if (OnClick) OnClick();
  });
}

TLabel::TLabel(QWidget* parent) : QLabel(parent) {}

void TLabel::paintEvent(QPaintEvent* event) {
  const QRect room = contentsRect();
  const QFontMetrics metrics = fontMetrics();
  if (wordWrap() || textFormat() == Qt::RichText || Qt::mightBeRichText(text()) ||
      metrics.horizontalAdvance(text()) <= room.width()) {
    QLabel::paintEvent(event);
    return;
  }
  // Held narrower than its caption (by the frame around it): the caption ends in "...", rather
  // than being cut off in the middle of a letter.
  QPainter painter(this);
  style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                        palette(), isEnabled(),
                        metrics.elidedText(text(), Qt::ElideRight, room.width()), foregroundRole());
}

void TLabel::setText(const QString& text) {
  QLabel::setText(text);
  // Before its window was first drawn whole, the label keeps its designed geometry as its layout.
  if (HasLayoutGeometry(this)) DrawWhole(window());
}

namespace {

std::function<bool(TFileDialog&)>& DialogHook() {
  static std::function<bool(TFileDialog&)> hook;
  return hook;
}

std::function<void(const QString&)>& MessageHook() {
  static std::function<void(const QString&)> hook;
  return hook;
}

std::function<TAnswer(const QString&, bool)>& QuestionHook() {
  static std::function<TAnswer(const QString&, bool)> hook;
  return hook;
}

QString& Title() {
  static QString title;
  return title;
}

QPointer<QWidget>& MainWindow() {
  static QPointer<QWidget> window;
  return window;
}

QWidget* MessageOwner() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  return MainWindow();
}

// The boxes of ShowMessage and AskQuestion. Their texts name files, and settings-file lines hold
// tags such as "<A>", which rich text would swallow.
class TMessageBox : public QMessageBox {
 public:
  TMessageBox(const QString& text, StandardButtons buttons, const QString& details = QString())
      : QMessageBox(NoIcon, ApplicationTitle(), text, buttons, MessageOwner()) {
    setTextFormat(Qt::PlainText);
    if (details.isEmpty()) return;
    setDetailedText(details);
    details_ = findChild<QTextEdit*>();
  }

 protected:
  // QMessageBox fixes its size to its contents whenever they change (when it is shown, when its
  // details are unfolded or folded), which resizes it at once: this is where it is brought back
  // within the screen, before it is drawn.
  void resizeEvent(QResizeEvent* event) override {
    QMessageBox::resizeEvent(event);
    if (details_ && isVisible()) KeepOnScreen();
  }
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    placed_ = true;
  }

 private:
  void KeepOnScreen() {
    const QRect room = screen()->availableGeometry();
    const int frame = frameGeometry().height() - height();
    int excess = frameGeometry().height() - room.height();
    if (excess > 0) {
      // The details scroll anyway, so they give up height before the text does; with a few lines
      // left they still show what they are.
      if (details_->isVisible()) {
        const int least = 4 * details_->fontMetrics().lineSpacing() + 2 * details_->frameWidth();
        const int give = std::clamp(excess, 0, std::max(details_->height() - least, 0));
        details_->setFixedHeight(details_->height() - give);
        excess -= give;
      }
      // Only a text that alone outgrows the screen (long names wrapped over several lines, a small
      // screen) is cut, at its end, so that the buttons stay within reach; the details still hold
      // everything.
      if (excess > 0)
        if (auto* text = findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
          text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
      // This sends the event again, which then finds the box within the screen's height.
      setFixedHeight(room.height() - frame);
      return;
    }
    // A box unfolded downwards can reach below the screen: it moves up. While it is first shown,
    // the dialog's own placement (which keeps it within the screen) is still to come: a move now
    // would cancel it.
    if (!placed_) return;
    const QRect outer = frameGeometry();
    const int top = std::clamp(outer.top(), room.top(), room.bottom() + 1 - outer.height());
    if (top != outer.top()) move(outer.left(), top);
  }

  QTextEdit* details_ = nullptr;  // the box's own field of the details
  bool placed_ = false;
};

// "Midi|*.mid|All|*.*" -> "Midi (*.mid);;All (*.*)"
QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i] + " (" + parts[i + 1] + ")";
  return out.join(";;");
}

}  // namespace

bool TFileDialog::Execute(QWidget* parent) {
  if (DialogHook()) return DialogHook()(*this);
  QString chosen;
  switch (kind_) {
    case Kind::Open:
      chosen = QFileDialog::getOpenFileName(parent, QString(), FileName, QtFilter(Filter));
      break;
    case Kind::Save:
      chosen = QFileDialog::getSaveFileName(parent, QString(), FileName, QtFilter(Filter));
      break;
    case Kind::Folder:
      chosen = QFileDialog::getExistingDirectory(parent, QString(), FileName);
      break;
  }
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}

void TFileDialog::SetHook(std::function<bool(TFileDialog&)> hook) {
  DialogHook() = std::move(hook);
}

QStringList TakeDroppedFiles(QDropEvent* event) {
  QStringList paths;
  const QMimeData* data = event->mimeData();
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (!paths.isEmpty()) event->acceptProposedAction();
  return paths;
}

void ShowMessage(const QString& text) { ShowMessage(text, QString()); }

void ShowMessage(const QString& text, const QString& details) {
  if (MessageHook()) {
    MessageHook()(details.isEmpty() ? text : text + '\n' + kMessageDetailsLine + '\n' + details);
    return;
  }
  TMessageBox box(text, QMessageBox::Ok, details);
  box.exec();
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowMessage(QString::fromUtf8(e.what()));
  }
}

void SetMessageHook(std::function<void(const QString&)> hook) { MessageHook() = std::move(hook); }

TAnswer AskQuestion(const QString& text, bool withCancel) {
  if (QuestionHook()) return QuestionHook()(text, withCancel);
  QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
  if (withCancel) buttons |= QMessageBox::Cancel;
  TMessageBox box(text, buttons);
  box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return TAnswer::Yes;
    case QMessageBox::No:
      return TAnswer::No;
    default:
      return withCancel ? TAnswer::Cancel : TAnswer::No;
  }
}

void SetQuestionHook(std::function<TAnswer(const QString&, bool)> hook) {
  QuestionHook() = std::move(hook);
}

QString ApplicationTitle() {
  return Title().isEmpty() ? QCoreApplication::applicationName() : Title();
}
void SetApplicationTitle(const QString& title) { Title() = title; }

void SetMainWindow(QWidget* window) { MainWindow() = window; }

void LoadQtTranslations() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QLocale::system(), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return;
  // The application keeps it for as long as it runs.
  translator->setParent(QCoreApplication::instance());
  QCoreApplication::installTranslator(translator.release());
}

namespace {

// Runs the GUI thread's call queue when Qt's event loop comes round to it. Workers wake it by the
// slot's name, so that what the wake-up needs is made and freed inside Qt: a functor made here on a
// worker and freed by the event loop would pass between the threads through Qt's own locks, which
// the thread sanitizer cannot see.
class QueueRunner : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
 public slots:
  void checkSynchronize() { platform::CheckSynchronize(); }
};

}  // namespace

namespace {

constexpr const char* kReportsStopped = "twReportsStopped";

}  // namespace

void RunOnGuiThread(QObject* owner, std::function<void()> fn) {
  if (platform::IsGuiThread()) {
    fn();
    return;
  }
  platform::PostToGui([alive = QPointer<QObject>(owner), fn = std::move(fn)] {
    if (alive && !alive->property(kReportsStopped).toBool()) fn();
  });
}

void StopReports(QObject* owner) { owner->setProperty(kReportsStopped, true); }

void InstallQtHooks() {
  QCoreApplication* app = QCoreApplication::instance();
  // One runner per application, however often the hooks are installed; it goes with the
  // application.
  QueueRunner* runner = app->findChild<QueueRunner*>(QString(), Qt::FindDirectChildrenOnly);
  if (runner == nullptr) runner = new QueueRunner(app);
  platform::SetToolkitHooks(
      [runner] {
        if (QCoreApplication::instance() != nullptr)
          QMetaObject::invokeMethod(runner, "checkSynchronize", Qt::QueuedConnection);
      },
      [] { QCoreApplication::processEvents(); });
}

void RemoveQtHooks() { platform::SetToolkitHooks({}, {}); }

#include "Toolkit.moc"
