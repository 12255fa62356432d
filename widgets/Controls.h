#pragma once
// Two more controls both programs' windows may use.
//
// - TLinkLabel: a label whose text may hold "<link>word</link>" markers; the word between them is
//   shown as a link, the markers are not shown, and a click anywhere on the label runs OnClick.
// - TListView: a list in report view, one row per item, whole-row selection. By default each row
//   has a check box and one row at most is selected; SetCheckboxes(false) leaves the boxes out and
//   SetMultiSelect(true) lets several rows be selected. Check marks change only from code
//   (SetChecked), never by a click on the box itself: the handlers decide. A mouse press selects
//   the row under it (any button), then runs OnMouseDown; a left click (press and release) then
//   runs OnClick. A click on a column header runs OnColumnClick and sorts nothing by itself: the
//   window sorts with SortRows.

#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <vector>

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
  void SetCheckboxes(bool on) { checkboxes_ = on; }
  void SetMultiSelect(bool on);
  // Appends a row (unchecked when rows have check boxes): its caption and the texts of the
  // following columns, each aligned as its column's header.
  void AddRow(const QString& caption, const QStringList& subItems);
  void Delete(int row);
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
  // Positions of the selected rows, in list order; selecting one row leaves the others as they are.
  std::vector<int> SelectedRows() const;
  void SelectRow(int row, bool selected);
  // Width in pixels of a text in the list's font.
  int TextWidth(const QString& text) const;
  // Puts the rows in the order `less` gives (a stable sort); selected rows stay selected.
  void SortRows(const std::function<bool(const QTreeWidgetItem*, const QTreeWidgetItem*)>& less);

  std::function<void(Qt::MouseButton button, int x, int y)> OnMouseDown;
  std::function<void()> OnClick;
  std::function<void(int column)> OnColumnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool leftPressed_ = false;
  bool checkboxes_ = true;
};
