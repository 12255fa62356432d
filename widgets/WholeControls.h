#pragma once
// Controls drawn whole around the geometry their layout gives them.
//
// The per-language layouts place controls with pixel rectangles measured for another toolkit's
// fonts and indicators: some are too low for a radio button's indicator, some labels too narrow for
// their caption, some group boxes too low for their title and their controls together. The layout's
// rectangle stays each control's layout geometry (what the layout set, and what the layout dump
// writes); the control is drawn in a rectangle that holds its caption and indicator whole:
// - a control grows to the right from its layout's left edge, and is centred vertically on its
//   layout's rectangle;
// - a group box is as wide as its layout makes it, or as its title needs, and grows in height
//   until its controls, hidden ones included, fit inside its frame below the title, so that the
//   frame runs through none of them;
// - a control that would pass its frame's right edge is cut there and, as far as its caption then
//   needs, moved left into the room free beside the shown controls on its left; a label that still
//   does not fit shows its caption's start, ending in "..." (TLabel);
// - a control that grows stays clear of the controls beside it: it keeps inside the frames that
//   enclose it in the layout and out of the controls above and below it, and the captions to its
//   right move along as far as it grew into them.

class QRect;
class QWidget;

// Sets the layout geometry of `control`, relative to its parent's layout geometry. The control is
// drawn there by the next DrawWhole of its window.
void SetLayoutGeometry(QWidget* control, const QRect& rect);

// The layout geometry of `control`: what SetLayoutGeometry set, else the designed geometry that the
// first DrawWhole of its window found.
QRect LayoutGeometry(const QWidget* control);

// True once a layout or a DrawWhole of its window has given `control` its layout geometry.
bool HasLayoutGeometry(const QWidget* control);

// Draws every control of `window` whole around its layout geometry.
void DrawWhole(QWidget* window);
