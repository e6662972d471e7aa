#include "app/views/browser/MediaBrowserWindow.h"

#include <algorithm>
#include <sstream>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/views/browser/BrowserCellDelegates.h"
#include "app/views/browser/LiveClipDialog.h"
#include "app/views/browser/MediaCollectionTreeModel.h"
#include "app/views/browser/OfflineClipDialog.h"
#include "app/views/playlist/NodePopUpButton.h"

namespace app::views {

namespace {

constexpr int kThumbnailWidth = 128;
constexpr int kThumbnailHeight = 72;
constexpr QSize kDefaultSize{760, 480};
constexpr int kChooserMinimumWidth = 160;

}  // namespace

MediaBrowserWindow::MediaBrowserWindow(browser::MediaBrowserWindowController& controller,
                                       platform::UserDefaults& defaults)
    : QWidget(nullptr, Qt::Window),
      controller_(controller),
      defaults_(defaults),
      chooser_(new NodePopUpButton(this)),
      selectedNode_(new QLabel(this)),
      search_(new QLineEdit(this)),
      busy_(new QProgressBar(this)),
      tree_(new QTreeView(this)),
      model_(new MediaCollectionTreeModel(controller, this)),
      sorted_(new MediaCollectionSortFilter(this)),
      thumbnail_(new QLabel(this)),
      bottomText_(new QLabel(this)),
      contextMenu_(new QMenu(this)),
      offlineDialog_(new OfflineClipDialog(controller, this)),
      liveDialog_(new LiveClipDialog(controller, this)) {
  setWindowTitle(tr("Media Browser"));
  setAcceptDrops(true);
  selectedNode_->setTextFormat(Qt::PlainText);
  bottomText_->setTextFormat(Qt::PlainText);
  search_->setPlaceholderText(tr("Search"));
  search_->setClearButtonEnabled(true);
  busy_->setRange(0, 0);
  busy_->setMaximumWidth(60);
  busy_->hide();
  thumbnail_->setFixedSize(kThumbnailWidth, kThumbnailHeight);
  thumbnail_->setAlignment(Qt::AlignCenter);
  thumbnail_->setStyleSheet(QStringLiteral("background: black;"));

  auto* top = new QHBoxLayout;
  top->addWidget(chooser_);
  top->addWidget(selectedNode_);
  top->addStretch();
  top->addWidget(busy_);
  top->addWidget(search_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(thumbnail_);
  bottom->addWidget(bottomText_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tree_, 1);
  layout->addLayout(bottom);

  sorted_->setSourceModel(model_);
  tree_->setModel(sorted_);
  tree_->setSortingEnabled(true);
  tree_->sortByColumn(0, Qt::AscendingOrder);
  tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tree_->setDragEnabled(true);
  tree_->setDragDropMode(QAbstractItemView::DragOnly);
  tree_->setDefaultDropAction(Qt::CopyAction);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  tree_->setUniformRowHeights(true);
  tree_->setItemDelegateForColumn(0, new ImageAndTextCellDelegate(tree_));
  const auto& columns = mediaBrowserColumns();
  for (std::size_t column = 0; column < columns.size(); ++column) {
    if (std::string_view(columns[column].identifier) == kFinderLabelColumn) {
      tree_->setItemDelegateForColumn(static_cast<int>(column), new FinderLabelCellDelegate(tree_));
    }
  }
  tree_->header()->resizeSection(0, 260);
  tree_->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  buildContextMenu();

  chooser_->setWillPopUpHandler([this] { controller_.popUpButtonWillPopUp(); });
  connect(chooser_, &QComboBox::activated, this,
          [this](int index) { controller_.nodeChooserChose(static_cast<std::size_t>(std::max(index, 0))); });
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { sorted_->setSearchText(text); });
  connect(tree_, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (auto* node = MediaCollectionTreeModel::nodeAt(sorted_->mapToSource(index))) {
      controller_.itemDidExpand(node->shared_from_this(), true);
    }
  });
  connect(tree_, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (auto* node = MediaCollectionTreeModel::nodeAt(sorted_->mapToSource(index))) {
      controller_.itemDidExpand(node->shared_from_this(), false);
    }
  });
  connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionDidChange(); });
  connect(tree_, &QWidget::customContextMenuRequested, this, &MediaBrowserWindow::showContextMenu);
  connect(tree_->header(), &QWidget::customContextMenuRequested, this, &MediaBrowserWindow::showHeaderMenu);
  restoreFrame();
}

MediaBrowserWindow::~MediaBrowserWindow() = default;

void MediaBrowserWindow::buildContextMenu() {
  const std::vector<std::pair<QString, void (browser::MediaBrowserWindowController::*)()>> items = {
      {tr("Reveal in File Manager"), &browser::MediaBrowserWindowController::revealInFinderAction},
      {tr("Refresh"), &browser::MediaBrowserWindowController::refreshSelectedCollectionNode},
      {tr("New Offline Clip..."), &browser::MediaBrowserWindowController::makeOfflineClipAction},
      {tr("Remove Offline Clip(s)"), &browser::MediaBrowserWindowController::deleteSelectedOfflineCollectionNode},
      {tr("New Live Clip..."), &browser::MediaBrowserWindowController::makeZiraClipAction},
      {tr("Remove Live Clip(s)"), &browser::MediaBrowserWindowController::removeSelectedZiraClip},
      {tr("Duplicate"), &browser::MediaBrowserWindowController::duplicateClip},
      {tr("Rename"), &browser::MediaBrowserWindowController::renameClip},
  };
  for (const auto& [title, action] : items) {
    QAction* item = contextMenu_->addAction(title);
    connect(item, &QAction::triggered, this, [this, action = action] { (controller_.*action)(); });
    contextItems_.push_back(item);
  }
  contextMenu_->addSeparator();
  connect(contextMenu_->addAction(tr("Refresh All Folders")), &QAction::triggered, this,
          [this] { controller_.forceEnumerationForAllMediaFolder(); });
}

void MediaBrowserWindow::showContextMenu(const QPoint& position) {
  const QModelIndex index = tree_->indexAt(position);
  browser::MediaCollectionNode* node = MediaCollectionTreeModel::nodeAt(sorted_->mapToSource(index));
  if (node && !node->isLeaf()) tree_->expand(index.siblingAtColumn(0));
  const browser::ContextMenuEnabling enabling =
      controller_.contextMenuWillOpen(node ? node->shared_from_this() : nullptr);
  for (std::size_t item = 0; item < contextItems_.size(); ++item) {
    if (enabling[item]) contextItems_[item]->setEnabled(*enabling[item]);
  }
  contextMenu_->popup(tree_->viewport()->mapToGlobal(position));
}

void MediaBrowserWindow::showHeaderMenu(const QPoint& position) {
  QMenu menu(this);
  for (int column = 0; column < model_->columnCount(); ++column) {
    QAction* item = menu.addAction(model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    item->setCheckable(true);
    item->setChecked(!tree_->isColumnHidden(column));
    connect(item, &QAction::toggled, this, [this, column](bool shown) { tree_->setColumnHidden(column, !shown); });
  }
  menu.exec(tree_->header()->mapToGlobal(position));
}

// ---- MediaBrowserView ----

void MediaBrowserWindow::showWindow() {
  show();
  raise();
  activateWindow();
}

void MediaBrowserWindow::showNodeChooser(const browser::NodeChooserState& chooser) {
  std::vector<NodeMenuItem> items;
  for (const auto& item : chooser.items) {
    items.push_back({item.title, item.nodeUniqueID, item.separator, item.enabled, ""});
  }
  chooser_->showItems(items, chooser.selectedIndex);
  chooser_->setMinimumWidth(std::max(kChooserMinimumWidth, chooser_->widthForSelectedName()));
}

void MediaBrowserWindow::showSelectedNodeName(const std::string& name) {
  selectedNode_->setText(QString::fromStdString(name));
}

QModelIndex MediaBrowserWindow::viewIndexOfNode(const browser::MediaCollectionNode* node) const {
  return sorted_->mapFromSource(model_->indexOfNode(node));
}

void MediaBrowserWindow::expandMarkedNodes(const QModelIndex& sourceParent) {
  for (int row = 0; row < model_->rowCount(sourceParent); ++row) {
    const QModelIndex index = model_->index(row, 0, sourceParent);
    const browser::MediaCollectionNode* node = MediaCollectionTreeModel::nodeAt(index);
    if (!node || !node->expanded() || node->isLeaf()) continue;
    tree_->expand(sorted_->mapFromSource(index));
    expandMarkedNodes(index);
  }
}

void MediaBrowserWindow::reloadOutline(const std::vector<browser::MediaCollectionNodePtr>& roots,
                                       bool keepScrollPosition) {
  const int scroll = tree_->verticalScrollBar()->value();
  const auto selected = selectedNodes();
  reloading_ = true;
  model_->setRoots(roots);
  expandMarkedNodes(QModelIndex());
  QItemSelection selection;
  for (const auto& node : selected) {
    const QModelIndex index = viewIndexOfNode(node.get());
    if (index.isValid()) selection.select(index, index);
  }
  tree_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  reloading_ = false;
  if (keepScrollPosition) tree_->verticalScrollBar()->setValue(scroll);
  if (selectedNodes() != selected) selectionDidChange();
}

void MediaBrowserWindow::selectNodes(const std::vector<browser::MediaCollectionNodePtr>& nodes) {
  QItemSelection selection;
  QModelIndex first;
  for (const auto& node : nodes) {
    const QModelIndex index = viewIndexOfNode(node.get());
    if (!index.isValid()) continue;
    if (!first.isValid()) first = index;
    selection.select(index, index);
  }
  tree_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (first.isValid()) tree_->scrollTo(first);
}

void MediaBrowserWindow::showThumbnail(std::shared_ptr<const nodes::RGBAImage> image) {
  if (!image || image->width == 0 || image->height == 0 ||
      image->rgba.size() < std::size_t{image->width} * image->height * 4) {
    thumbnail_->clear();
    return;
  }
  const QImage picture(image->rgba.data(), static_cast<int>(image->width), static_cast<int>(image->height),
                       static_cast<qsizetype>(image->width) * 4, QImage::Format_RGBA8888);
  thumbnail_->setPixmap(
      QPixmap::fromImage(picture.scaled(thumbnail_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void MediaBrowserWindow::showClipCount(const std::string& text) { bottomText_->setText(QString::fromStdString(text)); }

void MediaBrowserWindow::showBusy(bool busy) { busy_->setVisible(busy); }

void MediaBrowserWindow::setRestrictedMode(bool restricted) {
  tree_->setSelectionMode(restricted ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
}

void MediaBrowserWindow::beginRenaming(const browser::MediaCollectionNodePtr& node) {
  const QModelIndex index = viewIndexOfNode(node.get());
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  tree_->edit(index);
}

void MediaBrowserWindow::openOfflineClipSheet(const browser::OfflineClipSheetState& state) {
  offlineDialog_->openWith(state);
}

void MediaBrowserWindow::openLiveClipPanel() { liveDialog_->openEmpty(); }

void MediaBrowserWindow::closeLiveClipPanel() { liveDialog_->closeMade(); }

void MediaBrowserWindow::beep() { QApplication::beep(); }

// ---- Events ----

std::vector<browser::MediaCollectionNodePtr> MediaBrowserWindow::selectedNodes() const {
  QModelIndexList rows = tree_->selectionModel()->selectedRows(0);
  std::sort(rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
    return tree_->visualRect(a).top() < tree_->visualRect(b).top();
  });
  std::vector<browser::MediaCollectionNodePtr> nodes;
  for (const QModelIndex& row : rows) {
    if (auto* node = MediaCollectionTreeModel::nodeAt(sorted_->mapToSource(row))) {
      nodes.push_back(node->shared_from_this());
    }
  }
  return nodes;
}

void MediaBrowserWindow::selectionDidChange() {
  if (!reloading_) controller_.outlineSelectionDidChange(selectedNodes());
}

bool MediaBrowserWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) controller_.windowDidBecomeKey();
  return QWidget::event(event);
}

void MediaBrowserWindow::closeEvent(QCloseEvent* event) {
  saveFrame();
  QWidget::closeEvent(event);
}

void MediaBrowserWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MediaBrowserWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  if (controller_.performDropOfPaths(paths)) event->acceptProposedAction();
}

void MediaBrowserWindow::restoreFrame() {
  resize(kDefaultSize);
  const auto saved = defaults_.stringForKey(browser::kMediaBrowserFrameAutosaveName);
  if (!saved) return;
  std::istringstream fields(*saved);
  int x = 0, y = 0, width = 0, height = 0;
  if (!(fields >> x >> y >> width >> height) || width <= 0 || height <= 0) return;
  setGeometry(x, y, width, height);
}

void MediaBrowserWindow::saveFrame() {
  const QRect frame = geometry();
  std::ostringstream text;
  text << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' ' << frame.height();
  defaults_.setObject(text.str(), browser::kMediaBrowserFrameAutosaveName);
}

}  // namespace app::views
