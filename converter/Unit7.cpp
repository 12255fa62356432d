#include "converter/Unit7.h"

#include <QKeyEvent>

#include "audio/ACS_Audio.h"
#include "converter/Errors.h"
#include "converter/Unit1.h"
#include "widgets/Toolkit.h"
#include "widgets/WholeControls.h"

TForm7* Form7 = nullptr;

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Tool) {
  ui.setupUi(this);
  // The window has no title. Qt gives a window whose title is empty the application's name instead;
  // a blank shows nothing.
  setWindowTitle(QStringLiteral(" "));
  setAutoFillBackground(true);
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(212, 208, 200));
  setPalette(grey);
  ui.Edit1->installEventFilter(this);
  connect(ui.Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
  connect(ui.JvXPButton1, &QPushButton::clicked, this, [this] { JvXPButton1Click(); });
  DrawWhole(this);
  Form7 = this;
}

TForm7::~TForm7() {
  if (Form7 == this) Form7 = nullptr;
}

TForm7::RecordTime TForm7::ParseRecordTime(const QString& text, int& seconds) {
  if (text.isEmpty()) return RecordTime::Empty;
  for (const QChar c : text)
    if (c < '0' || c > '9') return RecordTime::Invalid;
  int value = 0;
  if (!tw::TryStrToInt(text.toStdString(), value)) return RecordTime::Invalid;
  seconds = value;
  return RecordTime::Valid;
}

QString TForm7::RefusalText() {
  const QString fallback = QStringLiteral(
      "The record time must be a whole number of seconds from 0 to %1 at the chosen rate and "
      "channels, or empty to record for the length of the MIDI file.");
  const QString text = Form1 ? Form1->Text(tw::TextId::BadRecordTime) : QString();
  // The limit is the capture's for the format it records in now: 16-bit stereo at 44100 Hz
  // before the main window exists.
  const int longest = Form1 ? Form1->LongestRecordTime() : TAudioIn::LongestRecTime(16, 2, 44100);
  return (text.isEmpty() ? fallback : text).arg(longest);
}

bool TForm7::Edit1KeyPress(QKeyEvent* event) {
  const QString text = event->text();
  if (text.isEmpty()) return true;  // keys without a character: arrows, Delete, Home...
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    // An editing key that X11 gives a character (DEL); it types nothing into the field.
    case Qt::Key_Delete:
      return true;
    default:
      break;
  }
  const QChar c = text.at(0);
  return text.size() == 1 && (c == QChar(8) || (c >= '0' && c <= '9'));
}

void TForm7::Edit1Change() {
  const QString text = ui.Edit1->text();
  if (text.isEmpty()) {
    ui.Label4->setText("0");
    ui.Label6->setText("0");
    return;
  }
  int n = 0;
  // Typing gives digits only, but a pasted text can hold anything: it is refused at once, and the
  // display keeps what it showed. A conversion refuses the same text again when it reads it.
  if (ParseRecordTime(text, n) != RecordTime::Valid) {
    ShowMessage(RefusalText());
    return;
  }
  ui.Label4->setText(QString::number(n / 60));
  ui.Label6->setText(QString::number(n % 60));
}

void TForm7::JvXPButton1Click() { ui.Edit1->setText(QString()); }

bool TForm7::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui.Edit1 && event->type() == QEvent::KeyPress)
    return !Edit1KeyPress(static_cast<QKeyEvent*>(event));
  return QWidget::eventFilter(watched, event);
}
