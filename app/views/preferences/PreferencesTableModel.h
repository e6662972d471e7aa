#pragma once
// PreferencesTableModel: one of the preferences window's three tables
// (media folder equivalents, static nodes, metadata list) over the Qt-free
// controller. Columns are named by identifier, as the controller's rows
// answer them. The metadata table's "description" cells are editable, its
// "show" cells are check boxes, and its rows are dragged as the archived
// index set of type "MyPrivateTableViewDataType".
//
// Owned by its table view (parented); the controller outlives it. Main thread.

#include <string>
#include <vector>

#include <QAbstractTableModel>

#include "app/preferences/PreferencesWindowController.h"

namespace app::views {

struct PreferencesTableColumn {
  std::string identifier;
  QString title;
};

class PreferencesTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  PreferencesTableModel(preferences::PreferencesWindowController& controller, std::string table,
                        std::vector<PreferencesTableColumn> columns, QObject* parent);

  // The controller's rows changed.
  void reload();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

 private:
  bool isMetadata() const;

  preferences::PreferencesWindowController& controller_;  // not owned; outlives the window
  const std::string table_;
  const std::vector<PreferencesTableColumn> columns_;
};

}  // namespace app::views
