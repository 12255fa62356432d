#include "widgets/Controls.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionHeader>
#include <algorithm>

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::RichText);
  // The whole label is the click target, so the label handles clicks itself instead of opening
  // the link.
  setTextInteractionFlags(Qt::NoTextInteraction);
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::SetText(const QString& text) {
  text_ = text;
  QString html = text.toHtmlEscaped();
  html.replace("&lt;link&gt;", "<a href=\"#\">").replace("&lt;/link&gt;", "</a>");
  html.replace("\r\n", "<br>");
  setText(html);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
    OnClick();
}

namespace {

// A list's column header whose captions, when wider than their column, show their start ending in
// "...", wherever they are aligned. (Qt's own eliding measures a caption against the whole header,
// so that a centred caption a little wider than its column is cut at both ends.)
class TListHeader : public QHeaderView {
 public:
  explicit TListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // As the header a tree view makes for itself.
    setSectionsMovable(true);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  }

 protected:
  void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    QStyleOptionHeader section = *option;
    section.rect =
        QRect(sectionViewportPosition(logicalIndex), 0, sectionSize(logicalIndex), height());
    const int room = style()->subElementRect(QStyle::SE_HeaderLabel, &section, this).width();
    option->text = option->fontMetrics.elidedText(option->text, Qt::ElideRight, room);
  }
};

}  // namespace

TListView::TListView(QWidget* parent) : QTreeWidget(parent) {
  setHeader(new TListHeader(this));
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  header()->setStretchLastSection(false);
  // The columns are sized to the list; a horizontal scroll bar would only hide a row.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  header()->setSectionsClickable(true);
  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (OnColumnClick) OnColumnClick(column);
  });
}

void TListView::SetMultiSelect(bool on) {
  setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TListView::SetColumns(const QStringList& captions, const QList<int>& widths) {
  setColumnCount(static_cast<int>(captions.size()));
  setHeaderLabels(captions);
  for (int i = 0; i < widths.size() && i < captions.size(); ++i) setColumnWidth(i, widths[i]);
}

void TListView::AddRow(const QString& caption, const QStringList& subItems) {
  auto* item = new QTreeWidgetItem(this, QStringList{caption} + subItems);
  // Checkable display without user toggling: the check state is data the handlers set.
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  if (checkboxes_) item->setCheckState(0, Qt::Unchecked);
  for (int column = 0; column < columnCount(); ++column)
    item->setData(column, Qt::TextAlignmentRole, headerItem()->data(column, Qt::TextAlignmentRole));
}

void TListView::Delete(int row) { delete takeTopLevelItem(row); }

QString TListView::Caption(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(0) : QString();
}

QString TListView::SubItem(int row, int index) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(index + 1) : QString();
}

bool TListView::Checked(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item && item->checkState(0) == Qt::Checked;
}

void TListView::SetChecked(int row, bool checked) {
  if (QTreeWidgetItem* item = topLevelItem(row))
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

int TListView::RowAt(const QPoint& point) const {
  const QTreeWidgetItem* item = itemAt(point);
  return item ? indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) : -1;
}

int TListView::Selected() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? -1 : indexOfTopLevelItem(items.front());
}

int TListView::SelCount() const { return static_cast<int>(selectedItems().size()); }

void TListView::SetSelected(int row) {
  clearSelection();
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setSelected(true);
    setCurrentItem(item);
  }
}

QPoint TListView::RowCentre(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? visualItemRect(item).center() : QPoint(-1, -1);
}

std::vector<int> TListView::SelectedRows() const {
  std::vector<int> rows;
  for (int row = 0; row < RowCount(); ++row)
    if (topLevelItem(row)->isSelected()) rows.push_back(row);
  return rows;
}

void TListView::SelectRow(int row, bool selected) {
  if (QTreeWidgetItem* item = topLevelItem(row)) item->setSelected(selected);
}

int TListView::TextWidth(const QString& text) const {
  return fontMetrics().horizontalAdvance(text);
}

void TListView::SortRows(
    const std::function<bool(const QTreeWidgetItem*, const QTreeWidgetItem*)>& less) {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  std::vector<QTreeWidgetItem*> items;
  while (RowCount() > 0) items.push_back(takeTopLevelItem(0));
  std::stable_sort(items.begin(), items.end(), less);
  for (QTreeWidgetItem* item : items) addTopLevelItem(item);
  for (QTreeWidgetItem* item : selected) item->setSelected(true);
}

void TListView::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  leftPressed_ = event->button() == Qt::LeftButton;
  const QPoint p = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(event->button(), p.x(), p.y());
}

void TListView::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  const bool click = leftPressed_ && event->button() == Qt::LeftButton;
  leftPressed_ = false;
  if (click && OnClick) OnClick();
}
