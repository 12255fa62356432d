#pragma once
// The record-time window: a small tool window whose edit field, when not empty, replaces the MIDI
// file's length as the number of seconds every following conversion records.

#include <QWidget>

#include "converter/Errors.h"
#include "ui_Unit7.h"

class QKeyEvent;

// A record time that a conversion cannot record: one the window refuses, met when a conversion
// reads it, or a MIDI file's own length past the longest recording. Its text is the message.
class ERecordTimeRefused : public tw::EConvertError {
 public:
  using tw::EConvertError::EConvertError;
};

class TForm7 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm7(QWidget* parent = nullptr);
  ~TForm7() override;
  TForm7(const TForm7&) = delete;
  TForm7& operator=(const TForm7&) = delete;

  Ui::TForm7 ui;

  enum class RecordTime { Empty, Valid, Invalid };
  // Reads a record time: empty, or digits only (leading zeros allowed) giving a signed 32-bit
  // number, 0 included; anything else is invalid. Whether the capture can record that long is the
  // conversion's test (TForm1::LongestRecordTime).
  static RecordTime ParseRecordTime(const QString& text, int& seconds);
  // The sentence shown when a record time is refused, with the longest time the capture takes in
  // the format the main window has set.
  static QString RefusalText();

  // Handlers.
  bool Edit1KeyPress(QKeyEvent* event);  // true: the key is let through
  void Edit1Change();
  void JvXPButton1Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The record-time window of the running program, while it exists.
extern TForm7* Form7;
