#pragma once
// The record-time window: a small tool window whose edit field, when not empty, replaces the MIDI
// file's length as the number of seconds every following conversion records.

#include <QWidget>

#include "converter/Errors.h"
#include "ui_Unit7.h"

class QCloseEvent;
class QKeyEvent;

// A record time that the window refuses, met when a conversion reads it.
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

  // Longest record time accepted: the longest recording of the richest format (16-bit stereo at
  // 44100 Hz, 176400 bytes a second) whose data still fits the 32-bit sizes of a WAV header.
  static constexpr int kMaxRecordSeconds = 24347;

  enum class RecordTime { Empty, Valid, Invalid };
  // Reads a record time: empty, a whole number of seconds from 1 to kMaxRecordSeconds (leading
  // zeros allowed), or invalid.
  static RecordTime ParseRecordTime(const QString& text, int& seconds);
  // The sentence shown when a record time is refused.
  static QString RefusalText();

  // Handlers.
  bool Edit1KeyPress(QKeyEvent* event);  // true: the key is let through
  void Edit1Change();
  void JvXPButton1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// The record-time window of the running program, while it exists.
extern TForm7* Form7;
