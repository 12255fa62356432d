#pragma once
// The conversion list window: the rows waiting for "Convert list", each with the output settings it
// was added with, the output directory for dropped files, sorting by a column, and the popup menu
// (Remove and Use this one over the list, Copy and Paste over the output directory).
//
// The rows are built and converted by the main window, which owns the settings they copy; this
// window holds them, sorts them and hands a row to the main window for "Use this one".

#include <QMenu>
#include <QWidget>

#include "ui_Unit4.h"
#include "widgets/Controls.h"
#include "widgets/Toolkit.h"

class QCloseEvent;
class QContextMenuEvent;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;

class TForm4 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);
  ~TForm4() override;
  TForm4(const TForm4&) = delete;
  TForm4& operator=(const TForm4&) = delete;

  Ui::TForm4 ui;
  QMenu JvPopupMenu1;
  TFileDialog JvBrowseForFolderDialog1{TFileDialog::Kind::Folder};

  // The sort order: the column last clicked and its direction. A click on the same column turns the
  // direction round; a click on another column sorts it ascending.
  int ListSortColumn = 0;
  bool ListSortAscending = true;

  // Handlers.
  void FormCreate();
  void WMDropFiles(const QStringList& paths);
  void ListView1ColumnClick(int column);
  // -1, 0 or 1 as row `a` sorts before, with or after row `b` in the current sort order.
  int ListView1Compare(const QTreeWidgetItem* a, const QTreeWidgetItem* b) const;
  void JvXPButton1Click();  // "..."
  void Remove1Click();
  void Useascurrent1Click();
  void Copy1Click();
  void Paste1Click();
  void Edit1MouseDown();
  void Edit1MouseUp();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The popup's items as the pointer's last press left them: Copy and Paste for the output
  // directory, Remove and Use this one for the list.
  void Stabilize();
  bool editMenu_ = false;
};

// The conversion list window of the running program, while it exists.
extern TForm4* Form4;
