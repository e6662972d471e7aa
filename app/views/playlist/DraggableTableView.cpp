#include "app/views/playlist/DraggableTableView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>

#include "app/views/playlist/PlaylistRowDelegate.h"
#include "app/views/playlist/PlaylistTableModel.h"

namespace app::views {

namespace {

constexpr char16_t kEscapeCharacter = 0x1b;
constexpr char16_t kBackspaceCharacter = 0x08;
constexpr char16_t kDeleteCharacter = 0x7f;

bool isEditKey(const QKeyEvent& event) {
  for (const QKeySequence::StandardKey key : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                                              QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll}) {
    if (event.matches(key)) return true;
  }
  return false;
}

}  // namespace

DraggableTableView::DraggableTableView(PlaylistTableActions& actions, QWidget* parent)
    : QTableView(parent), actions_(actions) {
  model_ = new PlaylistTableModel(actions_, this);
  delegate_ = new PlaylistRowDelegate(
      [this](int row) -> std::optional<PlaylistRowPaintData> {
        if (row < 0) return std::nullopt;
        const auto item = actions_.itemAtRow(static_cast<std::size_t>(row));
        if (!item) return std::nullopt;
        return playlistRowPaintData(*item, actions_.rowNodeOffersOverlayLogo(static_cast<std::size_t>(row)));
      },
      this);
  setModel(model_);
  setItemDelegate(delegate_);

  horizontalHeader()->hide();
  horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setShowGrid(false);
  setWordWrap(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);

  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setDragDropOverwriteMode(false);
  setDropIndicatorShown(false);  // drawn by paintEvent between rows

  // The row delegate draws the selection; the style's row highlight would
  // paint over the gaps between bubbles.
  QPalette noHighlight = palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    noHighlight.setBrush(group, QPalette::Highlight, Qt::transparent);
  }
  setPalette(noHighlight);

  const auto makeAction = [this](const QString& text, std::optional<QKeySequence::StandardKey> key, auto slot) {
    auto* action = new QAction(text, this);
    if (key) action->setShortcut(*key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  cut_ = makeAction(tr("Cut"), QKeySequence::Cut, [this] { cut(); });
  copy_ = makeAction(tr("Copy"), QKeySequence::Copy, [this] { copy(); });
  paste_ = makeAction(tr("Paste"), QKeySequence::Paste, [this] { paste(); });
  delete_ = makeAction(tr("Delete"), std::nullopt, [this] { deleteSelection(); });
  undo_ = makeAction(tr("Undo"), QKeySequence::Undo, [this] { undo(); });
  redo_ = makeAction(tr("Redo"), QKeySequence::Redo, [this] { redo(); });
  selectAll_ = makeAction(tr("Select All"), QKeySequence::SelectAll, [this] { selectAll(); });

  contextMenu_ = new QMenu(this);
  // The menu is a child: give it the application's palette, not the table's
  // highlight-free one.
  contextMenu_->setPalette(QApplication::palette(contextMenu_));
  contextMenu_->addAction(cut_);
  contextMenu_->addAction(copy_);
  contextMenu_->addAction(paste_);
  contextMenu_->addAction(delete_);
  contextMenu_->addSeparator();
  connect(contextMenu_->addAction(tr("Reveal in File Manager")), &QAction::triggered, this,
          [this] { actions_.revealInFileManager(); });
  connect(contextMenu_->addAction(tr("Reveal in Media Browser")), &QAction::triggered, this,
          [this] { actions_.revealInMediaBrowser(); });
  connect(contextMenu_->addAction(tr("Set Absolute Start Time...")), &QAction::triggered, this,
          [this] { actions_.showAbsoluteStartTimePanel(); });

  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionDidChange(); });
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] { updateEditActions(); });
  updateRowHeight();
  updateEditActions();
}

DraggableTableView::~DraggableTableView() = default;

void DraggableTableView::updateRowHeight() {
  const bool thumbnails = actions_.showThumbnails();
  delegate_->setShowThumbnails(thumbnails);
  verticalHeader()->setDefaultSectionSize(PlaylistRowDelegate::rowHeight(thumbnails));
  viewport()->update();
}

void DraggableTableView::reloadData() {
  const std::set<std::size_t> before = selectedRowSet();
  const int current = currentIndex().row();
  const int scrolled = verticalScrollBar()->value();
  reloading_ = true;
  model_->reload();
  updateRowHeight();
  updateGeometries();  // the scroll range of the new rows, before the position is put back
  verticalScrollBar()->setValue(scrolled);
  const int count = model_->rowCount();
  QItemSelection selection;
  for (const std::size_t row : before) {
    if (row >= static_cast<std::size_t>(count)) break;
    const QModelIndex index = model_->index(static_cast<int>(row), 0);
    selection.select(index, index);
  }
  selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  if (current >= 0 && current < count) {
    selectionModel()->setCurrentIndex(model_->index(current, 0), QItemSelectionModel::NoUpdate);
  }
  reloading_ = false;
  const std::set<std::size_t> after = selectedRowSet();
  if (after != before) actions_.tableSelectionDidChange(after);
  updateEditActions();
}

std::set<std::size_t> DraggableTableView::selectedRowSet() const {
  std::set<std::size_t> rows;
  if (!selectionModel()) return rows;
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      if (row >= 0) rows.insert(static_cast<std::size_t>(row));
    }
  }
  return rows;
}

std::int64_t DraggableTableView::selectedRow() const {
  const std::set<std::size_t> rows = selectedRowSet();
  return rows.empty() ? -1 : static_cast<std::int64_t>(*rows.begin());
}

void DraggableTableView::scrollClipToCenter(std::int64_t row) {
  if (selectedRowSet().size() == 1) return;
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());  // no grid: no spacing
  const std::int64_t visibleRows = viewport()->height() / rowHeight;
  const std::int64_t half = visibleRows / 2;
  const std::int64_t count = model_->rowCount();
  const std::int64_t first = std::max<std::int64_t>(0, row - half);
  std::int64_t last = row + half;
  if (count <= last) last = count - 1;
  if (first < count) scrollTo(model_->index(static_cast<int>(first), 0));
  if (last >= 0) scrollTo(model_->index(static_cast<int>(last), 0));
  reloadData();
}

void DraggableTableView::updateEditActions() {
  const bool hasSelection = selectionModel() != nullptr && selectionModel()->hasSelection();
  cut_->setEnabled(hasSelection);
  copy_->setEnabled(hasSelection);
  delete_->setEnabled(hasSelection);
  const QMimeData* clipboard = QApplication::clipboard()->mimeData();
  paste_->setEnabled(clipboard != nullptr && clipboard->hasFormat(QString::fromLatin1(kPlaylistItemsMimeType)));
  selectAll_->setEnabled(actions_.numberOfRows() > 0);
  undo_->setText(QString::fromStdString(actions_.undoMenuItemTitle()));
  undo_->setEnabled(actions_.canUndo());
  redo_->setText(QString::fromStdString(actions_.redoMenuItemTitle()));
  redo_->setEnabled(actions_.canRedo());
}

bool DraggableTableView::copy() {
  const std::set<std::size_t> rows = selectedRowSet();
  if (rows.empty()) return false;
  const std::optional<std::string> archive = actions_.copyRows(rows);
  if (!archive) return false;
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kPlaylistItemsMimeType),
                QByteArray(archive->data(), static_cast<qsizetype>(archive->size())));
  QApplication::clipboard()->setMimeData(data);  // the clipboard owns it
  return true;
}

void DraggableTableView::cut() {
  // Rows that could not be copied are not removed either.
  if (!copy()) return;
  actions_.removeSelectedObjects(kCutOperationName);
  clearSelection();
  reloadData();
}

void DraggableTableView::deleteSelection() {
  actions_.removeSelectedObjects(kDeleteOperationName);
  clearSelection();
  reloadData();
}

void DraggableTableView::paste() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  const QString format = QString::fromLatin1(kPlaylistItemsMimeType);
  if (data == nullptr || !data->hasFormat(format)) {
    QApplication::beep();
    return;
  }
  const QByteArray bytes = data->data(format);
  if (!actions_.pasteRows(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
    QApplication::beep();
    return;
  }
  reloadData();
}

void DraggableTableView::undo() {
  actions_.undo();
  updateEditActions();
}

void DraggableTableView::redo() {
  actions_.redo();
  updateEditActions();
}

void DraggableTableView::dragFinished(Qt::DropAction action, const QObject* target) {
  if (action == Qt::MoveAction && target == nullptr) actions_.clipDraggedToTrash();
}

void DraggableTableView::removeSelectionWithKey() {
  if (!actions_.canModifyTableView()) return;
  actions_.removeSelectedObjects(kDeleteOperationName);
  clearSelection();
}

void DraggableTableView::handleKeyCharacter(QKeyEvent* event, QChar character) {
  switch (character.unicode()) {
    case u'k':
    case u'K':
      actions_.stopButtonPushed();
      return;
    case u'p':
    case u'P':
      actions_.pauseButtonPushed();
      return;
    case kEscapeCharacter:
      clearSelection();
      return;
    case kDeleteCharacter:
    case kBackspaceCharacter:
      removeSelectionWithKey();
      return;
    default:
      break;
  }
  if (event->text().size() == 1) {
    QTableView::keyPressEvent(event);
    return;
  }
  QKeyEvent single(event->type(), event->key(), event->modifiers(), QString(character), event->isAutoRepeat());
  QTableView::keyPressEvent(&single);
}

void DraggableTableView::keyPressEvent(QKeyEvent* event) {
  // An edit key reaches here only while its action is disabled; the table's
  // own handling (copying the current cell's text) is not wanted.
  if (isEditKey(*event)) {
    event->accept();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      clearSelection();
      event->accept();
      return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
      removeSelectionWithKey();
      event->accept();
      return;
    default:
      break;
  }
  const QString text = event->text();
  if (text.isEmpty()) {  // arrows, page keys: the table's own navigation
    QTableView::keyPressEvent(event);
    return;
  }
  event->accept();
  for (const QChar character : text) handleKeyCharacter(event, character);
}

void DraggableTableView::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  // Mouse requests come through the viewport (its coordinates); the menu key
  // comes to the table and means the current row.
  const int row = event->reason() == QContextMenuEvent::Keyboard ? currentIndex().row() : indexAt(event->pos()).row();
  actions_.setLastClickedRow(row);
  if (row < 0) return;
  updateEditActions();
  contextMenu_->popup(event->globalPos());
}

void DraggableTableView::mousePressEvent(QMouseEvent* event) {
  actions_.setLastClickedRow(indexAt(event->position().toPoint()).row());
  QTableView::mousePressEvent(event);
}

void DraggableTableView::mouseDoubleClickEvent(QMouseEvent* event) {
  const int row = indexAt(event->position().toPoint()).row();
  QTableView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) actions_.doubleClickRow(row);
}

void DraggableTableView::focusInEvent(QFocusEvent* event) {
  QTableView::focusInEvent(event);
  updateEditActions();
  viewport()->update();  // focused rows use the front bubble set
}

void DraggableTableView::focusOutEvent(QFocusEvent* event) {
  QTableView::focusOutEvent(event);
  viewport()->update();
}

void DraggableTableView::selectionDidChange() {
  if (reloading_) return;
  actions_.tableSelectionDidChange(selectedRowSet());
  updateEditActions();
}

void DraggableTableView::startDrag(Qt::DropActions) {
  const std::set<std::size_t> rows = selectedRowSet();
  if (rows.empty()) return;
  QModelIndexList indexes;
  for (const std::size_t row : rows) indexes.append(model_->index(static_cast<int>(row), 0));
  QMimeData* data = model_->mimeData(indexes);
  if (data == nullptr) return;  // the window refused the rows

  QPointer<QDrag> drag = new QDrag(this);
  drag->setMimeData(data);
  const QRect firstRow = visualRect(indexes.first());
  if (firstRow.isValid()) {
    drag->setPixmap(viewport()->grab(firstRow));
    drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) - firstRow.topLeft());
  }
  const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
  if (!drag) return;  // cannot tell where it ended: never take it for the trash
  dragFinished(result, drag->target());
  drag->deleteLater();
}

int DraggableTableView::dropRowAt(const QPoint& position) const {
  const QModelIndex index = indexAt(position);
  if (!index.isValid()) return -1;
  const QRect rect = visualRect(index);
  const int row = position.y() < rect.center().y() ? index.row() : index.row() + 1;
  return row >= model_->rowCount() ? -1 : row;
}

bool DraggableTableView::dragOver(QDropEvent* event) {
  const QObject* source = event->source();
  const DropSource origin =
      source != nullptr && (source == this || source == viewport()) ? DropSource::ThisTable : DropSource::OtherSource;
  const bool copyOnly = !(event->possibleActions() & Qt::MoveAction);
  model_->setDragContext(origin, copyOnly);
  const int row = dropRowAt(event->position().toPoint());
  const DropOperation operation = model_->validateDrop(event->mimeData(), row, QModelIndex(), origin, copyOnly);
  if (operation == DropOperation::None) {
    event->ignore();
    setDropIndicatorRow(std::nullopt);
    return false;
  }
  event->setDropAction(operation == DropOperation::Copy ? Qt::CopyAction : Qt::MoveAction);
  event->accept();
  setDropIndicatorRow(row);
  return true;
}

void DraggableTableView::dragEnterEvent(QDragEnterEvent* event) {
  // Taken whenever it brings rows or files: each move that follows decides
  // where it may land.
  if (!PlaylistTableModel::carriesPlaylistData(event->mimeData())) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  setState(QAbstractItemView::DraggingState);
}

void DraggableTableView::dragMoveEvent(QDragMoveEvent* event) {
  dragOver(event);
  const QPoint position = event->position().toPoint();
  const int margin = autoScrollMargin();
  if (hasAutoScroll() && (position.y() < margin || position.y() > viewport()->height() - margin)) {
    startAutoScroll();
  }
}

void DraggableTableView::dragLeaveEvent(QDragLeaveEvent* event) {
  stopAutoScroll();
  setState(QAbstractItemView::NoState);
  setDropIndicatorRow(std::nullopt);
  event->accept();
}

void DraggableTableView::dropEvent(QDropEvent* event) {
  stopAutoScroll();
  setState(QAbstractItemView::NoState);
  if (dragOver(event)) {
    const int row = dropRowAt(event->position().toPoint());
    const auto dragged = selectedRowSet();
    const bool internal = event->source() == this;
    if (!model_->dropMimeData(event->mimeData(), event->dropAction(), row, 0, QModelIndex())) {
      event->ignore();
    } else if (internal && dragged.size() == 1) {
      // The selection follows the dragged row (or its duplicate) to where it landed.
      const int last = model_->rowCount() - 1;
      const int source = static_cast<int>(*dragged.begin());
      const bool moved = event->dropAction() == Qt::MoveAction;
      selectRow(row < 0 ? last : moved && source < row ? row - 1 : row);
    }
  }
  setDropIndicatorRow(std::nullopt);
}

void DraggableTableView::setDropIndicatorRow(std::optional<int> row) {
  if (row == dropIndicatorRow_) return;
  dropIndicatorRow_ = row;
  viewport()->update();
}

void DraggableTableView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (!dropIndicatorRow_) return;
  const int count = model_->rowCount();
  int y = 0;
  if (*dropIndicatorRow_ >= 0) {
    y = rowViewportPosition(*dropIndicatorRow_);
  } else if (count > 0) {
    y = rowViewportPosition(count - 1) + rowHeight(count - 1) - 1;
  }
  QPainter painter(viewport());
  painter.setPen(QPen(QColor(60, 110, 215), 2));
  painter.drawLine(0, y, viewport()->width(), y);
}

}  // namespace app::views
