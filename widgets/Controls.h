#pragma once
// Two more controls both programs' windows may use.
//
// - TLinkLabel: a label whose text may hold "<link>word</link>" markers; the word between them is
//   shown as a link, the markers are not shown, and a click anywhere on the label runs OnClick.
// - TListView: a list in report view, one row per item with a check box, whole-row selection and
// one
//   selected row at most. Check marks change only from code (SetChecked), never by a click on the
//   box itself: the handlers decide. A mouse press selects the row under it (any button), then runs
//   OnMouseDown; a left click (press and release) then runs OnClick.

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <functional>

class TLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLinkLabel(QWidget* parent = nullptr);
  // The text with its link markers, as given.
  QString Text() const { return text_; }
  void SetText(const QString& text);
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString text_;
};

class TListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit TListView(QWidget* parent = nullptr);

  // Column captions and widths, left to right.
  void SetColumns(const QStringList& captions, const QList<int>& widths);
  // Appends an unchecked row: its caption and the texts of the following columns.
  void AddRow(const QString& caption, const QStringList& subItems);
  int RowCount() const { return topLevelItemCount(); }
  QString Caption(int row) const;
  // Text of column index + 1 of the row.
  QString SubItem(int row, int index) const;
  bool Checked(int row) const;
  void SetChecked(int row, bool checked);
  // The row at a point of the list's viewport, or -1.
  int RowAt(const QPoint& point) const;
  // The selected row, or -1; the count of selected rows (0 or 1).
  int Selected() const;
  int SelCount() const;
  void SetSelected(int row);
  // The centre of a row in viewport coordinates, for a click on it.
  QPoint RowCentre(int row) const;

  std::function<void(Qt::MouseButton button, int x, int y)> OnMouseDown;
  std::function<void()> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool leftPressed_ = false;
};
