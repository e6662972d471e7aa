#include "app/views/playlist/PlaylistTableModel.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <limits>
#include <string>

#include "app/views/playlist/PlaylistRowPaintData.h"
#include "foundation/PathUtilities.h"

namespace app::views {

namespace {

std::vector<std::filesystem::path> localFiles(const QMimeData& data) {
  std::vector<std::filesystem::path> files;
  if (!data.hasUrls()) return files;
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (path.isEmpty()) continue;
    files.emplace_back(QFile::encodeName(path).toStdString());
  }
  return files;
}

bool hasRows(const QMimeData& data) { return data.hasFormat(QString::fromLatin1(kPlaylistItemsMimeType)); }

}  // namespace

namespace {

int rowsOf(const PlaylistTableActions& actions) {
  const std::size_t rows = actions.numberOfRows();
  return rows > static_cast<std::size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                          : static_cast<int>(rows);
}

}  // namespace

PlaylistTableModel::PlaylistTableModel(PlaylistTableActions& actions, QObject* parent)
    : QAbstractTableModel(parent), actions_(actions), rows_(rowsOf(actions)) {}

void PlaylistTableModel::reload() {
  const int rows = rowsOf(actions_);
  if (rows == rows_) {
    if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, 0));
    return;
  }
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

int PlaylistTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int PlaylistTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant PlaylistTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) return {};
  const auto item = actions_.itemAtRow(static_cast<std::size_t>(index.row()));
  if (!item) return {};
  return QString::fromStdString(foundation::stringByDeletingPathExtension(item->displayName()));
}

Qt::ItemFlags PlaylistTableModel::flags(const QModelIndex& index) const {
  // Only the table itself takes drops, so a drop always lands between rows.
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

Qt::DropActions PlaylistTableModel::supportedDragActions() const { return Qt::CopyAction | Qt::MoveAction; }

Qt::DropActions PlaylistTableModel::supportedDropActions() const { return Qt::CopyAction | Qt::MoveAction; }

QStringList PlaylistTableModel::mimeTypes() const {
  return {QString::fromLatin1(kPlaylistItemsMimeType), QString::fromLatin1(kUriListMimeType)};
}

QMimeData* PlaylistTableModel::mimeData(const QModelIndexList& indexes) const {
  std::set<std::size_t> rows;
  for (const QModelIndex& index : indexes) {
    if (index.isValid() && index.row() >= 0) rows.insert(static_cast<std::size_t>(index.row()));
  }
  if (rows.empty()) return nullptr;
  const std::optional<std::string> archive = actions_.writeRowsForDrag(rows);
  if (!archive) return nullptr;
  // Only the rows carry data; file names are not offered for rows.
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kPlaylistItemsMimeType),
                QByteArray(archive->data(), static_cast<qsizetype>(archive->size())));
  return data;
}

bool PlaylistTableModel::carriesPlaylistData(const QMimeData* data) {
  return data != nullptr && (hasRows(*data) || !localFiles(*data).empty());
}

void PlaylistTableModel::setDragContext(DropSource source, bool copyOnly) {
  dragSource_ = source;
  dragCopyOnly_ = copyOnly;
}

bool PlaylistTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                         const QModelIndex& parent) const {
  return validateDrop(data, row, parent, dragSource_, dragCopyOnly_) != DropOperation::None;
}

bool PlaylistTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                      const QModelIndex& parent) {
  if (action == Qt::IgnoreAction) return true;
  return acceptDrop(data, row, parent, dragSource_, dragCopyOnly_);
}

PlaylistTableModel::DropTarget PlaylistTableModel::dropTarget(int row, const QModelIndex& parent) const {
  if (parent.isValid()) return {parent.row(), false};  // on a row
  const int count = rowCount();
  if (row < 0 || row >= count) return {-1, true};
  return {row, true};
}

DropOperation PlaylistTableModel::validateDrop(const QMimeData* data, int row, const QModelIndex& parent,
                                               DropSource source, bool copyOnly) const {
  if (!carriesPlaylistData(data)) return DropOperation::None;
  const DropTarget target = dropTarget(row, parent);
  return actions_.validateDrop(source, target.row, target.dropAbove, copyOnly);
}

bool PlaylistTableModel::acceptDrop(const QMimeData* data, int row, const QModelIndex& parent, DropSource source,
                                    bool copyOnly) {
  if (!data) return false;
  PlaylistDrop drop;
  drop.source = source;
  drop.copyOnly = copyOnly;
  if (hasRows(*data)) {
    const QByteArray bytes = data->data(QString::fromLatin1(kPlaylistItemsMimeType));
    drop.itemsArchive = std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  } else {
    drop.files = localFiles(*data);
    if (drop.files.empty()) return false;
  }
  return actions_.acceptDrop(drop, dropTarget(row, parent).row);
}

}  // namespace app::views
