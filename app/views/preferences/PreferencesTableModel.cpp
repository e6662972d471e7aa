#include "app/views/preferences/PreferencesTableModel.h"

#include <set>

#include <QMimeData>

#include "app/preferences/MetadataRowDrag.h"

namespace app::views {

using preferences::kMetadataEntryDescriptionKey;
using preferences::kMetadataEntryShowKey;

PreferencesTableModel::PreferencesTableModel(preferences::PreferencesWindowController& controller, std::string table,
                                             std::vector<PreferencesTableColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), table_(std::move(table)), columns_(std::move(columns)) {}

bool PreferencesTableModel::isMetadata() const { return table_ == preferences::kMetadataTableViewOutlet; }

void PreferencesTableModel::reload() {
  beginResetModel();
  endResetModel();
}

int PreferencesTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(controller_.numberOfRows(table_));
}

int PreferencesTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant PreferencesTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::string& column = columns_[static_cast<std::size_t>(index.column())].identifier;
  const platform::Value value = controller_.tableValue(table_, static_cast<std::size_t>(index.row()), column);
  if (column == kMetadataEntryShowKey && isMetadata()) {
    if (role == Qt::CheckStateRole) return value.booleanOr(false) ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  return QString::fromStdString(value.stringOr(""));
}

QVariant PreferencesTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(columns_.size())) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return columns_[static_cast<std::size_t>(section)].title;
}

Qt::ItemFlags PreferencesTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (!isMetadata()) return flags;
  flags |= Qt::ItemIsDropEnabled;
  if (!index.isValid()) return flags;
  flags |= Qt::ItemIsDragEnabled;
  const std::string& column = columns_[static_cast<std::size_t>(index.column())].identifier;
  if (column == kMetadataEntryShowKey) flags |= Qt::ItemIsUserCheckable;
  if (column == kMetadataEntryDescriptionKey) flags |= Qt::ItemIsEditable;
  return flags;
}

bool PreferencesTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || !isMetadata()) return false;
  const std::string& column = columns_[static_cast<std::size_t>(index.column())].identifier;
  const auto row = static_cast<std::size_t>(index.row());
  if (column == kMetadataEntryShowKey && role == Qt::CheckStateRole) {
    controller_.setTableValue(table_, row, column, value.toInt() == Qt::Checked);
  } else if (column == kMetadataEntryDescriptionKey && role == Qt::EditRole) {
    controller_.setTableValue(table_, row, column, value.toString().toStdString());
  } else {
    return false;
  }
  emit dataChanged(index, index);
  return true;
}

QStringList PreferencesTableModel::mimeTypes() const { return {preferences::kMetadataRowsDragType}; }

QMimeData* PreferencesTableModel::mimeData(const QModelIndexList& indexes) const {
  std::set<std::size_t> rows;
  for (const QModelIndex& index : indexes) rows.insert(static_cast<std::size_t>(index.row()));
  platform::Result<std::string> archived = preferences::archivedRowIndexes({rows.begin(), rows.end()});
  if (!archived.ok()) return nullptr;
  auto* data = new QMimeData;
  data->setData(preferences::kMetadataRowsDragType, QByteArray::fromStdString(*archived));
  return data;
}

bool PreferencesTableModel::dropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                         const QModelIndex& parent) {
  // A drop on a row (parent valid, row -1) is refused: rows go between rows.
  if (!isMetadata() || !data || parent.isValid()) return false;
  const std::size_t dropRow = row < 0 ? controller_.numberOfRows(table_) : static_cast<std::size_t>(row);
  const QByteArray bytes = data->data(preferences::kMetadataRowsDragType);
  return controller_.acceptMetadataDrop(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                        dropRow);
}

}  // namespace app::views
