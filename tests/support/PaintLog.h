#pragma once
// When a widget was painted showing what: each paint event with the widget's state at that moment
// (by default its "text" property, the caption of a button or a label) and the time.

#include <QEvent>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace tw_test {

class PaintLog : public QObject {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PaintLog(QWidget* widget, std::function<QString()> state = {})
      : widget_(widget), state_(std::move(state)) {
    if (!state_) state_ = [widget] { return widget->property("text").toString(); };
    widget_->installEventFilter(this);
  }

  // When the widget was first painted showing `state`; nothing when it never was.
  std::optional<Clock::time_point> FirstShowing(const QString& state) const {
    for (const auto& [shown, at] : paints_)
      if (shown == state) return at;
    return std::nullopt;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget_ && event->type() == QEvent::Paint)
      paints_.emplace_back(state_(), Clock::now());
    return false;
  }

 private:
  QWidget* widget_;
  std::function<QString()> state_;
  std::vector<std::pair<QString, Clock::time_point>> paints_;
};

}  // namespace tw_test
