#pragma once
// PlaylistTableActions: what the table of a playlist window asks of its
// window: the rows to draw, and every decision about them (selection, keys,
// edit menu, copy and paste, drag and drop, the contextual menu). The table
// view decides nothing about the playlist itself. The playlist window
// controller implements it; table tests give a fake.
//
// Not owned by the table; outlives it. Main thread only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/playlist/PlaylistEditor.h"
#include "nodes/playlist/PlaylistItem.h"

namespace app {

// Operation names of the edit menu.
inline constexpr const char* kCutOperationName = "Cut";
inline constexpr const char* kDeleteOperationName = "Delete";

class PlaylistTableActions {
 public:
  virtual ~PlaylistTableActions() = default;

  // --- Rows ---
  virtual std::size_t numberOfRows() const = 0;
  // nullptr past the end.
  virtual std::shared_ptr<nodes::PlaylistItem> itemAtRow(std::size_t row) const = 0;
  // The row layout: thumbnails (55-point rows) or compact (22.5).
  virtual bool showThumbnails() const = 0;
  // The node that plays the row offers an "Overlay Logo" clip attribute.
  virtual bool rowNodeOffersOverlayLogo(std::size_t row) const = 0;

  // --- Selection and clicks ---
  virtual void tableSelectionDidChange(const std::set<std::size_t>& selectedRows) = 0;
  // The row under a click or a contextual-menu request; -1 below the rows.
  virtual void setLastClickedRow(std::int64_t row) = 0;
  virtual void doubleClickRow(std::int64_t row) = 0;

  // --- Keys of the table ---
  virtual void stopButtonPushed() = 0;
  virtual void pauseButtonPushed() = 0;
  virtual bool canModifyTableView() const = 0;

  // --- Edit menu ---
  virtual void removeSelectedObjects(const std::string& operationName) = 0;
  virtual std::optional<std::string> copyRows(const std::set<std::size_t>& rows) = 0;
  virtual bool pasteRows(std::string_view itemsArchive) = 0;
  virtual void undo() = 0;
  virtual void redo() = 0;
  virtual bool canUndo() const = 0;
  virtual bool canRedo() const = 0;
  virtual std::string undoMenuItemTitle() const = 0;
  virtual std::string redoMenuItemTitle() const = 0;

  // --- Drag and drop ---
  virtual std::optional<std::string> writeRowsForDrag(const std::set<std::size_t>& rows) = 0;
  virtual DropOperation validateDrop(DropSource source, std::int64_t row, bool dropAbove, bool copyOnly) = 0;
  virtual bool acceptDrop(const PlaylistDrop& drop, std::int64_t row) = 0;
  virtual void clipDraggedToTrash() = 0;

  // --- Contextual menu (on the last clicked row) ---
  virtual void revealInFileManager() = 0;
  // Shows the clips in the media browser: the selected rows when the last
  // clicked row is among them, else that row.
  virtual void revealInMediaBrowser() = 0;
  virtual void showAbsoluteStartTimePanel() = 0;
};

}  // namespace app
