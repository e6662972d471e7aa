// The playlist table on the offscreen platform, driven by synthetic events
// and a fake window that records what the table asks of it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

#include "app/views/playlist/DraggableTableView.h"
#include "app/views/playlist/PlaylistTableModel.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

using app::DropOperation;
using app::DropSource;
using app::views::DraggableTableView;
using ::testing::ElementsAre;

struct Validation {
  DropSource source;
  std::int64_t row;
  bool dropAbove;
  bool copyOnly;
  friend bool operator==(const Validation&, const Validation&) = default;
};

class FakeTableActions : public app::PlaylistTableActions {
 public:
  explicit FakeTableActions(const std::vector<std::string>& names) { setRows(names); }
  void setRows(const std::vector<std::string>& names) {
    items.clear();
    for (const std::string& name : names) {
      auto item = std::make_shared<nodes::PlaylistItem>();
      item->setDisplayName(name + ".mov");
      items.push_back(item);
    }
  }

  std::size_t numberOfRows() const override { return items.size(); }
  std::shared_ptr<nodes::PlaylistItem> itemAtRow(std::size_t row) const override {
    return row < items.size() ? items[row] : nullptr;
  }
  bool showThumbnails() const override { return thumbnails; }
  bool rowNodeOffersOverlayLogo(std::size_t) const override { return false; }

  void tableSelectionDidChange(const std::set<std::size_t>& rows) override { selections.push_back(rows); }
  void setLastClickedRow(std::int64_t row) override { calls.push_back("lastClicked " + std::to_string(row)); }
  void doubleClickRow(std::int64_t row) override { calls.push_back("doubleClick " + std::to_string(row)); }

  void stopButtonPushed() override { calls.push_back("stop"); }
  void pauseButtonPushed() override { calls.push_back("pause"); }
  bool canModifyTableView() const override { return canModify; }

  void removeSelectedObjects(const std::string& operation) override { calls.push_back("remove " + operation); }
  std::optional<std::string> copyRows(const std::set<std::size_t>& rows) override {
    copiedRows = rows;
    return copyAnswer;
  }
  bool pasteRows(std::string_view archive) override {
    pasted.emplace_back(archive);
    return pasteAnswer;
  }
  void undo() override { calls.push_back("undo"); }
  void redo() override { calls.push_back("redo"); }
  bool canUndo() const override { return true; }
  bool canRedo() const override { return false; }
  std::string undoMenuItemTitle() const override { return "Undo Move Clip"; }
  std::string redoMenuItemTitle() const override { return "Redo"; }

  std::optional<std::string> writeRowsForDrag(const std::set<std::size_t>& rows) override {
    draggedRows = rows;
    return dragAnswer;
  }
  DropOperation validateDrop(DropSource source, std::int64_t row, bool above, bool copyOnly) override {
    validations.push_back({source, row, above, copyOnly});
    return dropAnswer;
  }
  bool acceptDrop(const app::PlaylistDrop& drop, std::int64_t row) override {
    drops.push_back({drop, row});
    return true;
  }
  void clipDraggedToTrash() override { calls.push_back("trash"); }
  void revealInFileManager() override { calls.push_back("reveal"); }
  void revealInMediaBrowser() override { calls.push_back("reveal in browser"); }
  void showAbsoluteStartTimePanel() override { calls.push_back("absoluteStartTime"); }

  std::vector<std::shared_ptr<nodes::PlaylistItem>> items;
  bool thumbnails = false;
  bool canModify = true;
  std::optional<std::string> copyAnswer = std::string("copied-rows");
  bool pasteAnswer = true;
  std::optional<std::string> dragAnswer = std::string("dragged-rows");
  DropOperation dropAnswer = DropOperation::Copy;

  std::vector<std::string> calls;
  std::vector<std::set<std::size_t>> selections;
  std::set<std::size_t> copiedRows, draggedRows;
  std::vector<std::string> pasted;
  std::vector<Validation> validations;
  std::vector<std::pair<app::PlaylistDrop, std::int64_t>> drops;
};

constexpr int kRowHeight = 23;

std::vector<std::string> rowNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("Clip " + std::to_string(i));
  return names;
}

// A shown table whose viewport is exactly `visibleRows` compact rows high.
class TableFixture : public ::testing::Test {
 protected:
  void build(const std::vector<std::string>& names, int visibleRows = 10) {
    testing_support::qtTestApplication();
    actions = std::make_unique<FakeTableActions>(names);
    view = std::make_unique<DraggableTableView>(*actions);
    view->resize(400, visibleRows * kRowHeight + 2 * view->frameWidth());
    view->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(view->viewport()->height(), visibleRows * kRowHeight);
  }
  void select(std::initializer_list<int> rows) {
    for (const int row : rows) {
      view->selectionModel()->select(view->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  QPoint rowPoint(int row, int yInRow = kRowHeight / 4) const { return QPoint(100, row * kRowHeight + yInRow); }
  // Qt hands moves and drops to the widget that accepted the drag's entry.
  // Answers whether the drop was accepted.
  bool dragAndDrop(const QPoint& position, Qt::DropActions offered, const QMimeData& data) {
    QDragEnterEvent enter(position, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(position, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QDropEvent drop(position, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    lastDropAction = drop.dropAction();
    return drop.isAccepted();
  }
  void pressKey(int key, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(view.get(), &event);
  }

  std::unique_ptr<FakeTableActions> actions;
  std::unique_ptr<DraggableTableView> view;
  Qt::DropAction lastDropAction = Qt::IgnoreAction;
};

TEST_F(TableFixture, ClicksAndTheContextMenuReportTheRowUnderThePointer) {
  build(rowNames(3));
  auto menuTitles = [&] {
    QStringList titles;
    for (QAction* action : view->contextMenu()->actions()) titles << (action->isSeparator() ? "-" : action->text());
    return titles;
  };
  EXPECT_EQ(menuTitles(), (QStringList{"Cut", "Copy", "Paste", "Delete", "-", "Reveal in File Manager",
                                       "Reveal in Media Browser", "Set Absolute Start Time..."}));

  // Below the last row: row -1 and no menu.
  const QPoint below = rowPoint(5);
  QContextMenuEvent belowRows(QContextMenuEvent::Mouse, below, view->viewport()->mapToGlobal(below));
  QApplication::sendEvent(view->viewport(), &belowRows);
  EXPECT_THAT(actions->calls, ElementsAre("lastClicked -1"));
  EXPECT_FALSE(view->contextMenu()->isVisible());

  actions->calls.clear();
  QContextMenuEvent onRow(QContextMenuEvent::Mouse, rowPoint(1), view->viewport()->mapToGlobal(rowPoint(1)));
  QApplication::sendEvent(view->viewport(), &onRow);
  EXPECT_TRUE(view->contextMenu()->isVisible());
  view->contextMenu()->actions().at(5)->trigger();
  view->contextMenu()->actions().at(6)->trigger();
  view->contextMenu()->actions().at(7)->trigger();
  view->contextMenu()->hide();
  EXPECT_THAT(actions->calls, ElementsAre("lastClicked 1", "reveal", "reveal in browser", "absoluteStartTime"));

  actions->calls.clear();
  const QPointF point = rowPoint(2);
  const QPointF global = view->viewport()->mapToGlobal(point);
  QMouseEvent press(QEvent::MouseButtonPress, point, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, point, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QMouseEvent twice(QEvent::MouseButtonDblClick, point, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &press);
  QApplication::sendEvent(view->viewport(), &release);
  QApplication::sendEvent(view->viewport(), &twice);
  EXPECT_THAT(actions->calls, ElementsAre("lastClicked 2", "doubleClick 2"));
  EXPECT_THAT(actions->selections, ElementsAre(std::set<std::size_t>{2}));
}

TEST_F(TableFixture, SelectedRowIsTheLowestSelectedIndex) {
  build(rowNames(8));
  EXPECT_EQ(view->selectedRow(), -1);
  select({5, 3});
  EXPECT_EQ(view->selectedRow(), 3);
  EXPECT_THAT(actions->selections.back(), ElementsAre(3, 5));
  view->clearSelection();
  EXPECT_EQ(view->selectedRow(), -1);
}

TEST_F(TableFixture, ScrollClipToCenterBringsRowsAroundTheClipIntoView) {
  struct Case {
    int rows;
    std::vector<int> selected;
    bool startAtBottom;
    int centre;
    int topRowAfter;
  };
  // The viewport shows ten rows, so the clip's neighbours are five either side.
  const Case cases[] = {
      {20, {}, false, 12, 8},      // rows 7 then 17 scrolled into view
      {20, {1, 2}, false, 12, 8},  // two selected rows do not stop it
      {20, {4}, false, 12, 0},     // exactly one selected row: nothing
      {20, {}, true, 2, 0},        // rows 0 and 7
      {12, {}, false, 11, 2},      // rows 6 and 11, the last one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rows << " rows, centre " << c.centre);
    build(rowNames(c.rows));
    for (const int row : c.selected) select({row});
    if (c.startAtBottom) view->scrollToBottom();
    view->scrollClipToCenter(c.centre);
    EXPECT_EQ(view->rowAt(0), c.topRowAfter);
  }
}

TEST_F(TableFixture, KeysFollowTheKeyTable) {
  struct Case {
    int key;
    QString text;
    Qt::KeyboardModifiers modifiers;
    bool canModify;
    std::vector<std::string> calls;
    bool selectionKept;
  };
  const Case cases[] = {
      {Qt::Key_K, "k", Qt::NoModifier, true, {"stop"}, true},
      {Qt::Key_P, "P", Qt::ShiftModifier, true, {"pause"}, true},
      {Qt::Key_Escape, QString(QChar(0x1b)), Qt::NoModifier, true, {}, false},
      {Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier, true, {"remove Delete"}, false},
      {Qt::Key_Backspace, QString(QChar(0x08)), Qt::NoModifier, true, {"remove Delete"}, false},
      {Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier, false, {}, true},
      // Several characters in one event are handled one by one.
      {Qt::Key_unknown, "kp", Qt::NoModifier, true, {"stop", "pause"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    build(rowNames(4));
    actions->canModify = c.canModify;
    select({1, 2});
    pressKey(c.key, c.text, c.modifiers);
    EXPECT_EQ(actions->calls, c.calls);
    EXPECT_EQ(view->selectedRowSet().size(), c.selectionKept ? 2u : 0u);
  }

  // Any other letter reaches the table's own handling: type-select.
  build({"Bravo", "Charlie", "Alpha"});
  view->setCurrentIndex(view->model()->index(0, 0));
  pressKey(Qt::Key_A, "a");
  EXPECT_EQ(view->currentIndex().row(), 2);
  EXPECT_TRUE(actions->calls.empty());
}

TEST_F(TableFixture, EditActionsFollowSelectionClipboardAndUndoState) {
  build({});
  QClipboard& clipboard = *QApplication::clipboard();
  clipboard.setText("just text");
  view->updateEditActions();
  EXPECT_FALSE(view->selectAllAction()->isEnabled());  // empty playlist
  EXPECT_FALSE(view->pasteAction()->isEnabled());      // text only
  EXPECT_FALSE(view->copyAction()->isEnabled());
  EXPECT_TRUE(view->undoAction()->isEnabled());
  EXPECT_EQ(view->undoAction()->text(), "Undo Move Clip");
  EXPECT_FALSE(view->redoAction()->isEnabled());

  actions->setRows(rowNames(3));
  view->reloadData();
  select({0, 2});
  EXPECT_TRUE(view->selectAllAction()->isEnabled());
  EXPECT_TRUE(view->copyAction()->isEnabled());
  EXPECT_TRUE(view->cutAction()->isEnabled());
  EXPECT_TRUE(view->deleteAction()->isEnabled());

  // Copy puts the window's archive on the clipboard, which enables paste.
  view->copyAction()->trigger();
  EXPECT_THAT(actions->copiedRows, ElementsAre(0, 2));
  EXPECT_EQ(clipboard.mimeData()->data(app::views::kPlaylistItemsMimeType), QByteArray("copied-rows"));
  EXPECT_TRUE(view->pasteAction()->isEnabled());
  view->pasteAction()->trigger();
  EXPECT_THAT(actions->pasted, ElementsAre("copied-rows"));

  // Cut removes only what it could copy.
  actions->copyAnswer.reset();
  view->cut();
  EXPECT_TRUE(actions->calls.empty());
  actions->copyAnswer = "again";
  view->cut();
  EXPECT_THAT(actions->calls, ElementsAre("remove Cut"));
  EXPECT_EQ(view->selectedRow(), -1);
  EXPECT_FALSE(view->copyAction()->isEnabled());
}

TEST_F(TableFixture, DraggedRowsCarryOnlyTheWindowsArchive) {
  build(rowNames(3));
  app::views::PlaylistTableModel& model = *view->playlistModel();
  EXPECT_EQ(model.mimeTypes(), (QStringList{"PlaylistItemsDragInfoType", "text/uri-list"}));

  std::unique_ptr<QMimeData> data(model.mimeData({model.index(2, 0), model.index(0, 0)}));
  ASSERT_NE(data, nullptr);
  EXPECT_THAT(actions->draggedRows, ElementsAre(0, 2));
  EXPECT_EQ(data->formats(), QStringList{"PlaylistItemsDragInfoType"});
  EXPECT_EQ(data->data("PlaylistItemsDragInfoType"), QByteArray("dragged-rows"));

  actions->dragAnswer.reset();  // e.g. a playing row
  EXPECT_EQ(model.mimeData({model.index(1, 0)}), nullptr);
}

TEST_F(TableFixture, DroppedFilesReachTheWindowWithTheRowBelowTheDrop) {
  struct Case {
    QPoint position;
    std::int64_t row;
  };
  const Case cases[] = {
      {QPoint(100, 1 * kRowHeight + 3), 1},                // upper half of row 1: above it
      {QPoint(100, 1 * kRowHeight + kRowHeight - 3), 2},   // lower half: above row 2
      {QPoint(100, 2 * kRowHeight + kRowHeight - 3), -1},  // lower half of the last row
      {QPoint(100, 6 * kRowHeight), -1},                   // below the rows
  };
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile("/media/b clip.mov"), QUrl::fromLocalFile("/media/A folder")});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    build(rowNames(3));
    EXPECT_TRUE(dragAndDrop(c.position, Qt::CopyAction, files));
    EXPECT_EQ(lastDropAction, Qt::CopyAction);
    const Validation expected{DropSource::OtherSource, c.row, true, true};
    EXPECT_THAT(actions->validations, ElementsAre(expected, expected));  // the move, then the drop
    ASSERT_EQ(actions->drops.size(), 1u);
    EXPECT_EQ(actions->drops[0].second, c.row);
    const app::PlaylistDrop& received = actions->drops[0].first;
    EXPECT_EQ(received.source, DropSource::OtherSource);
    EXPECT_FALSE(received.itemsArchive);
    EXPECT_THAT(received.files, ElementsAre("/media/b clip.mov", "/media/A folder"));
  }

  // Refused by the window: nothing is accepted.
  build(rowNames(3));
  actions->dropAnswer = DropOperation::None;
  EXPECT_FALSE(dragAndDrop(rowPoint(0), Qt::CopyAction, files));
  EXPECT_TRUE(actions->drops.empty());

  // Text and remote links are not playlist data: the window is not asked.
  build(rowNames(3));
  QMimeData other;
  other.setText("hello");
  other.setUrls({QUrl("https://example.invalid/clip.mov")});
  EXPECT_FALSE(dragAndDrop(rowPoint(0), Qt::CopyAction, other));
  EXPECT_TRUE(actions->validations.empty());
  EXPECT_TRUE(actions->drops.empty());
}

TEST_F(TableFixture, DroppedRowsKeepWhereTheDragCameFrom) {
  build(rowNames(4));
  app::views::PlaylistTableModel& model = *view->playlistModel();
  QMimeData rows;
  rows.setData("PlaylistItemsDragInfoType", "archive");
  for (const DropSource source : {DropSource::ThisTable, DropSource::OtherSource}) {
    actions->validations.clear();
    actions->drops.clear();
    actions->dropAnswer = source == DropSource::ThisTable ? DropOperation::Move : DropOperation::Copy;
    model.setDragContext(source, source == DropSource::OtherSource);
    EXPECT_TRUE(model.canDropMimeData(&rows, Qt::MoveAction, 3, 0, QModelIndex()));
    EXPECT_TRUE(model.dropMimeData(&rows, Qt::MoveAction, 3, 0, QModelIndex()));
    const bool copyOnly = source == DropSource::OtherSource;
    EXPECT_THAT(actions->validations, ElementsAre(Validation{source, 3, true, copyOnly}));
    ASSERT_EQ(actions->drops.size(), 1u);
    EXPECT_EQ(actions->drops[0].first.source, source);
    EXPECT_EQ(actions->drops[0].first.itemsArchive, "archive");
    EXPECT_EQ(actions->drops[0].first.copyOnly, copyOnly);
    EXPECT_EQ(actions->drops[0].second, 3);
  }
  // A drop onto a row (not between rows) is told as such.
  actions->validations.clear();
  model.setDragContext(DropSource::ThisTable, false);
  model.canDropMimeData(&rows, Qt::MoveAction, -1, -1, model.index(2, 0));
  EXPECT_THAT(actions->validations, ElementsAre(Validation{DropSource::ThisTable, 2, false, false}));

  // A drag from elsewhere is another source, and a move it offers becomes
  // a copy when the window says so.
  actions->validations.clear();
  actions->drops.clear();
  actions->dropAnswer = DropOperation::Copy;
  EXPECT_TRUE(dragAndDrop(rowPoint(1), Qt::CopyAction | Qt::MoveAction, rows));
  EXPECT_EQ(lastDropAction, Qt::CopyAction);
  EXPECT_EQ(actions->validations.back(), (Validation{DropSource::OtherSource, 1, true, false}));
  ASSERT_EQ(actions->drops.size(), 1u);
  EXPECT_EQ(actions->drops[0].first.source, DropSource::OtherSource);
}

TEST_F(TableFixture, OnlyAMoveOutsideTheApplicationIsADragToTheTrash) {
  build(rowNames(2));
  QWidget otherWindow;
  struct Case {
    Qt::DropAction action;
    const QObject* target;
    bool trash;
  };
  const Case cases[] = {
      {Qt::MoveAction, nullptr, true},           {Qt::IgnoreAction, nullptr, false},     // dropped nowhere
      {Qt::CopyAction, nullptr, false},          {Qt::MoveAction, &otherWindow, false},  // another window of ours
      {Qt::MoveAction, view->viewport(), false},
  };
  for (const Case& c : cases) {
    actions->calls.clear();
    view->dragFinished(c.action, c.target);
    EXPECT_EQ(actions->calls, c.trash ? std::vector<std::string>{"trash"} : std::vector<std::string>{}) << c.action;
  }
}

TEST_F(TableFixture, ReloadKeepsTheSelectionOfRowsThatRemainAndTheRowLayout) {
  build(rowNames(5));
  EXPECT_EQ(view->rowHeight(0), 23);
  select({1, 4});
  actions->selections.clear();

  actions->setRows(rowNames(3));
  actions->thumbnails = true;
  view->reloadData();
  EXPECT_THAT(view->selectedRowSet(), ElementsAre(1));
  EXPECT_THAT(actions->selections, ElementsAre(std::set<std::size_t>{1}));  // told once
  EXPECT_EQ(view->rowHeight(0), 55);

  actions->selections.clear();
  view->reloadData();  // nothing changed: nothing told
  EXPECT_TRUE(actions->selections.empty());
  EXPECT_THAT(view->selectedRowSet(), ElementsAre(1));
}

}  // namespace
