#include "app/views/browser/MediaCollectionTreeModel.h"

#include <algorithm>

#include <QBrush>
#include <QMimeData>

#include "app/browser/MediaBrowserRowAppearance.h"
#include "foundation/NameComparison.h"
#include "nodes/playlist/PlaylistItemPasteboard.h"

namespace app::views {

namespace {

QColor colourOf(browser::RowTextColour colour) {
  switch (colour) {
    case browser::RowTextColour::Black: return Qt::black;
    case browser::RowTextColour::Grey: return Qt::gray;
    case browser::RowTextColour::White: return Qt::white;
    case browser::RowTextColour::LightGrey: return Qt::lightGray;
  }
  return Qt::black;
}

std::string columnIdentifier(int column) {
  const auto& columns = mediaBrowserColumns();
  return column >= 0 && column < static_cast<int>(columns.size()) ? columns[static_cast<std::size_t>(column)].identifier
                                                                   : std::string();
}

}  // namespace

const std::vector<MediaBrowserColumn>& mediaBrowserColumns() {
  static const std::vector<MediaBrowserColumn> columns = {
      {kNameColumn, "Name"},
      {"durationAsString", "Duration"},
      {"startTime", "Start"},
      {"endTime", "End"},
      {"inPointAsString", "In"},
      {"outPointAsString", "Out"},
      {kFinderLabelColumn, "Label"},
      {"clipInfoString", "Info"},
      {"videoCodecDescription", "Codec"},
      {"framesPerSecondAsString", "FPS"},
      {"naturalVideoSize", "Size"},
      {"lastModificationDate", "Modified"},
  };
  return columns;
}

MediaCollectionTreeModel::MediaCollectionTreeModel(browser::MediaBrowserWindowController& controller, QObject* parent)
    : QAbstractItemModel(parent), controller_(controller) {}

void MediaCollectionTreeModel::setRoots(std::vector<browser::MediaCollectionNodePtr> roots) {
  beginResetModel();
  roots_ = std::move(roots);
  endResetModel();
}

browser::MediaCollectionNode* MediaCollectionTreeModel::nodeAt(const QModelIndex& index) {
  return index.isValid() ? static_cast<browser::MediaCollectionNode*>(index.internalPointer()) : nullptr;
}

const std::vector<browser::MediaCollectionNodePtr>& MediaCollectionTreeModel::siblingsOf(
    const browser::MediaCollectionNode* node) const {
  const auto parent = node->parent();
  // The roots' own parent (the tree root) is not shown.
  if (!parent || std::any_of(roots_.begin(), roots_.end(), [node](const auto& r) { return r.get() == node; })) {
    return roots_;
  }
  return *parent->children();
}

QModelIndex MediaCollectionTreeModel::indexOfNode(const browser::MediaCollectionNode* node) const {
  if (!node) return {};
  const auto& siblings = siblingsOf(node);
  const auto found = std::find_if(siblings.begin(), siblings.end(), [node](const auto& s) { return s.get() == node; });
  if (found == siblings.end()) return {};
  return createIndex(static_cast<int>(found - siblings.begin()), 0, const_cast<browser::MediaCollectionNode*>(node));
}

QModelIndex MediaCollectionTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= columnCount()) return {};
  const browser::MediaCollectionNode* above = nodeAt(parent);
  const std::vector<browser::MediaCollectionNodePtr>* children = above ? above->children() : &roots_;
  if (!children || row >= static_cast<int>(children->size())) return {};
  return createIndex(row, column, (*children)[static_cast<std::size_t>(row)].get());
}

QModelIndex MediaCollectionTreeModel::parent(const QModelIndex& child) const {
  const browser::MediaCollectionNode* node = nodeAt(child);
  if (!node) return {};
  if (std::any_of(roots_.begin(), roots_.end(), [node](const auto& r) { return r.get() == node; })) return {};
  const auto above = node->parent();
  return above ? indexOfNode(above.get()) : QModelIndex();
}

int MediaCollectionTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  const browser::MediaCollectionNode* node = nodeAt(parent);
  return static_cast<int>(node ? node->childrenCount() : roots_.size());
}

int MediaCollectionTreeModel::columnCount(const QModelIndex&) const {
  return static_cast<int>(mediaBrowserColumns().size());
}

bool MediaCollectionTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant MediaCollectionTreeModel::data(const QModelIndex& index, int role) const {
  const browser::MediaCollectionNode* node = nodeAt(index);
  if (!node) return {};
  const std::string column = columnIdentifier(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (column == kFinderLabelColumn) return QString::fromStdString(node->finderLabelName());
      return QString::fromStdString(node->textForColumn(column).value_or(""));
    case Qt::ToolTipRole: {
      const auto tip = browser::toolTipForNode(*node);
      // Rich text made from escaped text: the tip shows exactly the name.
      if (!tip) return {};
      return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(QString::fromStdString(*tip).toHtmlEscaped());
    }
    case Qt::ForegroundRole:
      return QBrush(colourOf(browser::textCellColour(*node, false)));
    default:
      return {};
  }
}

QVariant MediaCollectionTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const auto& columns = mediaBrowserColumns();
  if (section < 0 || section >= static_cast<int>(columns.size())) return {};
  return QString::fromLatin1(columns[static_cast<std::size_t>(section)].title);
}

Qt::ItemFlags MediaCollectionTreeModel::flags(const QModelIndex& index) const {
  const browser::MediaCollectionNode* node = nodeAt(index);
  if (!node) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  if (node->isLeaf() && index.column() == 0 && !controller_.restrictedMode()) flags |= Qt::ItemIsEditable;
  return flags;
}

bool MediaCollectionTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  browser::MediaCollectionNode* node = nodeAt(index);
  if (role != Qt::EditRole || !node || index.column() != 0) return false;
  if (!controller_.renameNode(node->shared_from_this(), value.toString().toStdString())) return false;
  emit dataChanged(index, index);
  return true;
}

QStringList MediaCollectionTreeModel::mimeTypes() const {
  return {QString::fromLatin1(nodes::kPlaylistItemsDragInfoType)};
}

QMimeData* MediaCollectionTreeModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<browser::MediaCollectionNodePtr> rows;
  for (const QModelIndex& index : indexes) {
    if (index.column() != 0) continue;
    if (browser::MediaCollectionNode* node = nodeAt(index)) rows.push_back(node->shared_from_this());
  }
  const auto archive = controller_.dragDataForRows(rows);
  if (!archive) return nullptr;
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(nodes::kPlaylistItemsDragInfoType), QByteArray::fromStdString(*archive));
  return data;
}

// ---- Sorting and searching ----

MediaCollectionSortFilter::MediaCollectionSortFilter(QObject* parent) : QSortFilterProxyModel(parent) {
  setRecursiveFilteringEnabled(true);
}

void MediaCollectionSortFilter::setSearchText(const QString& text) {
  searchText_ = text;
  invalidateFilter();
}

bool MediaCollectionSortFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const auto* a = MediaCollectionTreeModel::nodeAt(left);
  const auto* b = MediaCollectionTreeModel::nodeAt(right);
  if (!a || !b) return false;
  if (left.column() == 0) return foundation::caseInsensitiveCompareWithNumber(a->name(), b->name()) < 0;
  return QSortFilterProxyModel::lessThan(left, right);
}

bool MediaCollectionSortFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (searchText_.isEmpty()) return true;
  const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
  const auto* node = MediaCollectionTreeModel::nodeAt(index);
  // Clips match by display name; folders stay while a clip in them matches.
  if (!node || !node->isLeaf() || !node->playlistItem()) return false;
  return QString::fromStdString(node->playlistItem()->displayName()).contains(searchText_, Qt::CaseInsensitive);
}

}  // namespace app::views
