#include "widgets/WholeControls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QStyle>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <limits>

namespace {

constexpr char kLayoutGeometry[] = "twLayoutGeometry";
// Room left between a caption that grew and the caption it moved.
constexpr int kCaptionGap = 2;
// Room around a push button's caption, for its frame.
constexpr int kButtonPadding = 2;

QRect Anchor(QWidget* control) {
  const QVariant stored = control->property(kLayoutGeometry);
  if (stored.isValid()) return stored.toRect();
  // The first look at a control no layout has placed: its designed geometry is its layout.
  const QRect designed = control->geometry();
  control->setProperty(kLayoutGeometry, designed);
  return designed;
}

QList<QWidget*> Controls(QWidget* parent) {
  QList<QWidget*> controls;
  for (QObject* child : parent->children())
    if (auto* control = qobject_cast<QWidget*>(child); control && !control->isWindow())
      controls << control;
  return controls;
}

// The size a control needs to show its caption and indicator whole; empty for a control without
// caption (a frame, a picture, an edit field, a progress bar).
QSize CaptionSize(QWidget* control) {
  const QFontMetrics metrics = control->fontMetrics();
  if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control)) {
    // The size hint's width holds indicator, spacing and caption; its height adds a focus frame
    // that the layouts have no room for.
    const bool radio = qobject_cast<QRadioButton*>(control) != nullptr;
    const int indicator = control->style()->pixelMetric(
        radio ? QStyle::PM_ExclusiveIndicatorHeight : QStyle::PM_IndicatorHeight, nullptr, control);
    return {control->sizeHint().width(), std::max(indicator, metrics.height()) + 2};
  }
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    if (button->text().isEmpty()) return {};
    // Not the size hint: the style asks a width of every push button that the layouts' small
    // buttons ("In", "Out") do not need.
    return {metrics.horizontalAdvance(button->text()) + 2 * kButtonPadding,
            metrics.height() + kButtonPadding};
  }
  if (auto* label = qobject_cast<QLabel*>(control)) {
    if (label->text().isEmpty()) return {};
    // The size hint covers the text's drawn extent, which can pass its advance by a pixel.
    const QSize hint = label->sizeHint();
    return {std::max(metrics.horizontalAdvance(label->text()), hint.width()), hint.height()};
  }
  if (qobject_cast<QComboBox*>(control)) return control->sizeHint();
  return {};
}

QRect Wanted(QWidget* control);

// A group box holds its title, and its controls below the title inside the frame: those hidden
// too, so that showing one does not need another frame. It is as wide as its layout makes it, or
// as its title needs: its controls are fitted into that width (PlaceControls), so that a frame
// never grows into the controls beside it for a caption, nor for a control hidden in it.
QSize GroupSize(QGroupBox* group) {
  const QMargins margins = group->contentsMargins();
  int top = 0, bottom = -1;
  for (QWidget* child : Controls(group)) {
    const QRect wanted = Wanted(child);
    if (bottom < top) {
      top = wanted.top();
      bottom = wanted.bottom();
    }
    top = std::min(top, wanted.top());
    bottom = std::max(bottom, wanted.bottom());
  }
  const int title =
      group->title().isEmpty() ? 0 : group->fontMetrics().horizontalAdvance(group->title());
  return {title + margins.left() + margins.right(),
          margins.top() + std::max(0, bottom - top + 1) + margins.bottom()};
}

// The rectangle a control wants in its parent's layout coordinates: its layout rectangle, grown to
// the right and evenly up and down to the size its content needs.
QRect Wanted(QWidget* control) {
  const QRect anchor = Anchor(control);
  const QSize needed = qobject_cast<QGroupBox*>(control)
                           ? GroupSize(static_cast<QGroupBox*>(control))
                           : CaptionSize(control);
  const int width = std::max(anchor.width(), needed.width());
  const int height = std::max(anchor.height(), needed.height());
  return {anchor.left(), anchor.top() - (height - anchor.height()) / 2, width, height};
}

// A bevel: a plain frame drawn around other controls of its parent.
bool IsBevel(const QWidget* control) { return control->metaObject() == &QFrame::staticMetaObject; }

bool OverlapHorizontally(const QRect& a, const QRect& b) {
  return a.left() <= b.right() && b.left() <= a.right();
}

// Places the controls of `parent`, whose drawn origin lies `shift` from its layout origin, inside
// `area` of its drawn area: between its rows, and left of its right edge.
void PlaceControls(QWidget* parent, QPoint shift, const QRect& area) {
  const int top = area.top(), bottom = area.bottom();
  QList<QWidget*> controls = Controls(parent);
  std::stable_sort(controls.begin(), controls.end(),
                   [](QWidget* a, QWidget* b) { return Anchor(a).left() < Anchor(b).left(); });
  QList<QPair<QWidget*, QRect>> placed;
  for (QWidget* control : controls) {
    const QRect anchor = Anchor(control).translated(-shift);
    QRect drawn = Wanted(control).translated(-shift);
    // Vertically: inside its group box's frame; and, when it grew, inside the bevels around it and
    // clear of the controls above and below it.
    int low = top, high = bottom;
    if (drawn.size() != anchor.size())
      for (QWidget* other : controls) {
        if (other == control || other->isHidden()) continue;
        const QRect around = Anchor(other).translated(-shift);
        if (around.contains(anchor) && IsBevel(other)) {
          low = std::max(low, around.top() + 1);
          high = std::min(high, around.bottom() - 1);
        } else if (!around.intersects(anchor) && OverlapHorizontally(around, drawn)) {
          if (around.bottom() < anchor.top()) low = std::max(low, around.bottom() + 1);
          if (around.top() > anchor.bottom()) high = std::min(high, around.top() - 1);
        }
      }
    if (drawn.bottom() > high) drawn.moveBottom(high);
    if (drawn.top() < low) drawn.moveTop(low);
    // Horizontally: past the captions on its left that grew into it.
    if (!control->isHidden())
      for (const auto& [other, otherDrawn] : placed)
        if (!Anchor(other).translated(-shift).intersects(anchor) && otherDrawn.intersects(drawn))
          drawn.moveLeft(otherDrawn.right() + 1 + kCaptionGap);
    // And inside its frame: cut at the frame's edge, then, when its caption no longer fits, moved
    // left into the room free beside the shown controls on its left. A label that still does not
    // fit elides its caption (TLabel).
    if (drawn.right() > area.right()) {
      drawn.setRight(std::max(drawn.left(), area.right()));
      int leftmost = area.left();
      for (const auto& [other, otherDrawn] : placed)
        if (otherDrawn.right() < drawn.left() && otherDrawn.top() <= drawn.bottom() &&
            drawn.top() <= otherDrawn.bottom())
          leftmost = std::max(leftmost, otherDrawn.right() + 1 + kCaptionGap);
      const int missing = CaptionSize(control).width() - drawn.width();
      if (missing > 0)
        drawn.setLeft(std::max(std::min(leftmost, drawn.left()), drawn.left() - missing));
    }
    control->setGeometry(drawn);
    if (!control->isHidden()) placed.append({control, drawn});
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
      const QMargins margins = group->contentsMargins();
      PlaceControls(group, drawn.topLeft() - anchor.topLeft(),
                    QRect(QPoint(), drawn.size()).marginsRemoved(margins));
    }
  }
}

}  // namespace

void SetLayoutGeometry(QWidget* control, const QRect& rect) {
  control->setProperty(kLayoutGeometry, rect);
}

bool HasLayoutGeometry(const QWidget* control) {
  return control->property(kLayoutGeometry).isValid();
}

QRect LayoutGeometry(const QWidget* control) {
  const QVariant stored = control->property(kLayoutGeometry);
  return stored.isValid() ? stored.toRect() : control->geometry();
}

void DrawWhole(QWidget* window) {
  if (!window) return;
  // A window has no frame: its controls may lie partly outside it, as a layout's background
  // picture does.
  const int far = std::numeric_limits<int>::max() / 4;
  PlaceControls(window, QPoint(), QRect(QPoint(-far, -far), QPoint(far, far)));
}
