#pragma once
// DraggableTableView: the table of a playlist window. It keeps the behaviour
// of a Qt table (selection, type-select, scrolling) and adds a contextual
// menu per row, the playlist's keys (k stop, p pause, Escape deselects,
// Delete and Backspace remove the selection, then deselect, when the window
// allows editing), the edit actions (copy, cut, paste, delete, undo, redo,
// select all), dragging rows within the table, between windows and to the
// trash, file drops, and scrolling a row to the middle of the view. It decides nothing about the playlist: every
// decision is asked of PlaylistTableActions (the playlist window).
//
// One stretched column, no grid or headers; rows 23 pixels high (22.5
// points) or 55 with thumbnails. The row delegate draws each row, the
// selection included; the table draws no highlight of its own.
//
// Drag to the trash: Qt has no trash target. A drag that ends with no action
// (dropped nowhere) is not a delete. A drag counts as "to the trash" only
// when it ends with a move accepted by a target outside this application
// (QDrag::exec answers Qt::MoveAction and QDrag::target() is nullptr); the
// window then removes the dragged row (clipDraggedToTrash).
//
// The delete action has no shortcut of its own: the Delete and Backspace
// keys go through the key table, which asks canModifyTableView() first.
//
// Owned by its Qt parent (the playlist window); the actions are not owned
// and outlive the view. Main thread only.

#include <QTableView>

#include <cstdint>
#include <optional>
#include <set>

#include "app/playlist/PlaylistTableActions.h"

class QAction;
class QDrag;
class QDropEvent;
class QMenu;

namespace app::views {

class PlaylistRowDelegate;
class PlaylistTableModel;

class DraggableTableView : public QTableView {
  Q_OBJECT

 public:
  explicit DraggableTableView(PlaylistTableActions& actions, QWidget* parent = nullptr);
  ~DraggableTableView() override;

  PlaylistTableModel* playlistModel() const { return model_; }
  PlaylistRowDelegate* rowDelegate() const { return delegate_; }

  // Rereads the rows and the row layout (showThumbnails); the selection of
  // rows that still exist and the scroll position are kept. Tells the window once when the selection
  // changed because rows went away.
  void reloadData();
  // Applies the window's row layout (row height and delegate).
  void updateRowHeight();

  // The lowest selected row; -1 when none is selected.
  std::int64_t selectedRow() const;
  std::set<std::size_t> selectedRowSet() const;
  // Scrolls so that `row` stands about in the middle: rows row - half and
  // row + half (half: half the rows that fit the viewport) are scrolled into
  // view, first then last. Nothing when exactly one row is selected.
  void scrollClipToCenter(std::int64_t row);

  // Enables the edit actions: cut, copy and delete with a selection; paste
  // when the clipboard holds rows; select all with at least one row; undo
  // and redo as the window answers (their titles too).
  void updateEditActions();

  // The edit operations (also reached through the actions below).
  bool copy();
  void cut();
  void deleteSelection();
  void paste();
  void undo();
  void redo();

  QAction* copyAction() const { return copy_; }
  QAction* cutAction() const { return cut_; }
  QAction* pasteAction() const { return paste_; }
  QAction* deleteAction() const { return delete_; }
  QAction* undoAction() const { return undo_; }
  QAction* redoAction() const { return redo_; }
  QAction* selectAllAction() const { return selectAll_; }
  // The contextual menu of a row (shown by a right click on a row).
  QMenu* contextMenu() const { return contextMenu_; }

  // A drag of rows from this table ended with `action` on `target` (nullptr
  // outside the application): see "Drag to the trash" above.
  void dragFinished(Qt::DropAction action, const QObject* target);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void handleKeyCharacter(QKeyEvent* event, QChar character);
  void removeSelectionWithKey();
  void selectionDidChange();
  // Where a drop at `position` (viewport coordinates) lands: above the row,
  // or -1 below the last row.
  int dropRowAt(const QPoint& position) const;
  bool dragOver(QDropEvent* event);
  void setDropIndicatorRow(std::optional<int> row);

  PlaylistTableActions& actions_;            // not owned; outlives the view
  PlaylistTableModel* model_ = nullptr;      // Qt child
  PlaylistRowDelegate* delegate_ = nullptr;  // Qt child
  QAction* copy_ = nullptr;
  QAction* cut_ = nullptr;
  QAction* paste_ = nullptr;
  QAction* delete_ = nullptr;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
  QAction* selectAll_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  bool reloading_ = false;               // selection changes of a reload are told once, after it
  std::optional<int> dropIndicatorRow_;  // -1: below the last row
};

}  // namespace app::views
