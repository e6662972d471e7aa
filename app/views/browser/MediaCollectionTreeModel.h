#pragma once
// MediaCollectionTreeModel: the Qt item model over the tree the media
// browser shows (the children of one node's tree root), one column per node
// value. Names and paths are plain text. Drags carry the
// "PlaylistItemsDragInfoType" archive the controller makes; a rename goes to
// the controller. MediaCollectionSortFilter sorts rows by name as file names
// sort and keeps the clips whose display name holds the search text.
//
// Owned by the browser window (Qt parent). The nodes stay owned by the
// trees; the model is reset whenever the tree changes. GUI thread.

#include <string>
#include <vector>

#include <QAbstractItemModel>
#include <QSortFilterProxyModel>

#include "app/browser/MediaBrowserWindowController.h"

namespace app::views {

inline constexpr const char* kNameColumn = "name";
inline constexpr const char* kFinderLabelColumn = "finderLabel";

struct MediaBrowserColumn {
  const char* identifier;
  const char* title;
};
const std::vector<MediaBrowserColumn>& mediaBrowserColumns();

class MediaCollectionTreeModel final : public QAbstractItemModel {
  Q_OBJECT

 public:
  MediaCollectionTreeModel(browser::MediaBrowserWindowController& controller, QObject* parent);

  void setRoots(std::vector<browser::MediaCollectionNodePtr> roots);
  // The node of an index of this model; nullptr for the root.
  static browser::MediaCollectionNode* nodeAt(const QModelIndex& index);
  QModelIndex indexOfNode(const browser::MediaCollectionNode* node) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

 private:
  const std::vector<browser::MediaCollectionNodePtr>& siblingsOf(const browser::MediaCollectionNode* node) const;

  browser::MediaBrowserWindowController& controller_;
  std::vector<browser::MediaCollectionNodePtr> roots_;
};

class MediaCollectionSortFilter final : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit MediaCollectionSortFilter(QObject* parent);
  void setSearchText(const QString& text);

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QString searchText_;
};

}  // namespace app::views
