#pragma once
// PlaylistTableModel: the one-column Qt model of a playlist window's table.
// Its rows are the window's rows (PlaylistTableActions::numberOfRows); the
// row delegate draws them, so the model only gives each row's name for
// type-select. Drags write the rows through the window under
// "PlaylistItemsDragInfoType"; drops are validated and accepted by the window.
//
// Drops go between rows: items are not drop targets, so Qt turns a drop in
// the middle of a row into a drop above or below it. A drop row of -1 (or
// past the last row) means below the last row. Where a drag comes from (this
// table or elsewhere) and whether it allows only copying is set by the view
// from each drag event (setDragContext), since Qt's model calls carry no
// event.
//
// Owned by the DraggableTableView (Qt parent); the actions are not owned and
// outlive it. Main thread only.

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <set>

#include "app/playlist/PlaylistEditor.h"
#include "app/playlist/PlaylistTableActions.h"

class QMimeData;

namespace app::views {

// The pasteboard format of dragged or copied rows.
inline constexpr const char* kPlaylistItemsMimeType = "PlaylistItemsDragInfoType";
// Files dropped from the file manager.
inline constexpr const char* kUriListMimeType = "text/uri-list";

class PlaylistTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit PlaylistTableModel(PlaylistTableActions& actions, QObject* parent = nullptr);

  // Rows may have changed: every view rereads them. The row count is the one
  // taken at the last reload (Qt must hear of every change of it); the same
  // count redraws the rows in place, another one resets the model (the
  // selection and scroll position are the view's to keep).
  void reload();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;
  QStringList mimeTypes() const override;
  // The window's drag archive of the rows; nullptr when it refuses them.
  QMimeData* mimeData(const QModelIndexList& indexes) const override;

  // The data brings rows or local files (anything else is never dropped).
  static bool carriesPlaylistData(const QMimeData* data);

  // The drag the next canDropMimeData / dropMimeData calls are about.
  void setDragContext(DropSource source, bool copyOnly);
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  // The same with the drag's origin given; `row` and `parent` as Qt gives
  // them. Data with neither rows nor local files is refused without asking
  // the window.
  DropOperation validateDrop(const QMimeData* data, int row, const QModelIndex& parent, DropSource source,
                             bool copyOnly) const;
  bool acceptDrop(const QMimeData* data, int row, const QModelIndex& parent, DropSource source, bool copyOnly);

 private:
  struct DropTarget {
    std::int64_t row = -1;  // -1: below the last row
    bool dropAbove = true;
  };
  DropTarget dropTarget(int row, const QModelIndex& parent) const;

  PlaylistTableActions& actions_;  // not owned; outlives the model
  int rows_ = 0;
  DropSource dragSource_ = DropSource::OtherSource;
  bool dragCopyOnly_ = false;
};

}  // namespace app::views
