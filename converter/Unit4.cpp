#include "converter/Unit4.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMouseEvent>

#include "converter/FileNames.h"
#include "converter/ProgramFolder.h"
#include "converter/Unit1.h"

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  Form4 = this;
  static constexpr int kWidths[] = {90, 110, 60, 60, 70, 125, 125};
  for (int column = 0; column < 7; ++column) ui.ListView1->setColumnWidth(column, kWidths[column]);
  ui.ListView1->SetCheckboxes(false);
  ui.ListView1->SetMultiSelect(true);
  // Columns widen for long names: the list scrolls sideways to show them.
  ui.ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  JvPopupMenu1.addAction(ui.Remove1);
  JvPopupMenu1.addAction(ui.Useascurrent1);
  JvPopupMenu1.addAction(ui.Copy1);
  JvPopupMenu1.addAction(ui.Paste1);
  // The output directory is typed, pasted or browsed; a file dropped on it is a row, not text. The
  // window's own menu stands for the edit's.
  ui.Edit1->setAcceptDrops(false);
  ui.Edit1->setContextMenuPolicy(Qt::NoContextMenu);
  ui.Edit1->installEventFilter(this);

  ui.ListView1->OnColumnClick = [this](int column) { ListView1ColumnClick(column); };
  connect(ui.JvXPButton1, &QPushButton::clicked, this, [this] { JvXPButton1Click(); });
  connect(ui.Remove1, &QAction::triggered, this, [this] { Remove1Click(); });
  connect(ui.Useascurrent1, &QAction::triggered, this, [this] { Useascurrent1Click(); });
  connect(ui.Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
  connect(ui.Paste1, &QAction::triggered, this, [this] { Paste1Click(); });
  FormCreate();
}

TForm4::~TForm4() {
  if (Form4 == this) Form4 = nullptr;
}

void TForm4::FormCreate() {
  setAcceptDrops(true);
  ui.Edit1->setText(QString::fromStdString(tw::ProgramFolder()));
  Stabilize();
}

void TForm4::Stabilize() {
  ui.Copy1->setVisible(editMenu_);
  ui.Paste1->setVisible(editMenu_);
  ui.Remove1->setVisible(!editMenu_);
  ui.Useascurrent1->setVisible(!editMenu_);
}

void TForm4::WMDropFiles(const QStringList& paths) {
  if (Form1) Form1->WMDropFiles(paths);
}

void TForm4::dragEnterEvent(QDragEnterEvent* event) { TakeDroppedFiles(event); }

void TForm4::dragMoveEvent(QDragMoveEvent* event) { TakeDroppedFiles(event); }

void TForm4::dropEvent(QDropEvent* event) {
  const QStringList paths = TakeDroppedFiles(event);
  if (!paths.isEmpty()) WMDropFiles(paths);
}

void TForm4::ListView1ColumnClick(int column) {
  if (column == ListSortColumn) {
    ListSortAscending = !ListSortAscending;
  } else {
    ListSortColumn = column;
    ListSortAscending = true;
  }
  ui.ListView1->SortRows([this](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return ListView1Compare(a, b) < 0;
  });
}

int TForm4::ListView1Compare(const QTreeWidgetItem* a, const QTreeWidgetItem* b) const {
  // Column 0 is the caption and column k sub-item k - 1: either way the text of column k.
  const int order = tw::CompareBytes(a->text(ListSortColumn).toStdString(),
                                     b->text(ListSortColumn).toStdString());
  return ListSortAscending ? order : -order;
}

void TForm4::JvXPButton1Click() {
  // Whatever the answer: after a cancel the dialog still holds the folder chosen last, or nothing.
  JvBrowseForFolderDialog1.Execute(this);
  ui.Edit1->setText(JvBrowseForFolderDialog1.FileName);
}

void TForm4::Remove1Click() {
  // From the last row to the first, so that the positions still to delete do not move.
  const std::vector<int> rows = ui.ListView1->SelectedRows();
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) ui.ListView1->Delete(*row);
}

void TForm4::Useascurrent1Click() {
  const std::vector<int> rows = ui.ListView1->SelectedRows();
  if (rows.empty() || !Form1) return;
  Form1->UseListRow(rows.front());
}

void TForm4::Copy1Click() { QGuiApplication::clipboard()->setText(ui.Edit1->text()); }

void TForm4::Paste1Click() { ui.Edit1->setText(QGuiApplication::clipboard()->text()); }

void TForm4::Edit1MouseDown() {
  editMenu_ = true;
  Stabilize();
}

void TForm4::Edit1MouseUp() {
  editMenu_ = false;
  Stabilize();
}

void TForm4::contextMenuEvent(QContextMenuEvent* event) {
  JvPopupMenu1.exec(event->globalPos());
  // The menu took the release of the press that opened it over the output directory.
  if (editMenu_) Edit1MouseUp();
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui.Edit1) {
    if (event->type() == QEvent::MouseButtonPress) Edit1MouseDown();
    if (event->type() == QEvent::MouseButtonRelease) Edit1MouseUp();
  }
  return QWidget::eventFilter(watched, event);
}
