#pragma once
// PlaylistEditor: how a playlist window edits its document's rows and keeps
// the node's copy in step: the edit guard (authentication, clips busy in A/B
// roll), insert, replace and remove with undo, copying and pasting rows,
// drag and drop inside a table, between windows and from the file system,
// the mode switches and their mutual exclusions, thumbnails, reaction to
// catalogue and inspector changes, and the texts of the clip counters.
//
// Every row change goes through the document's editing calls, so undo and
// redo replay it; the document tells each change (also replayed ones) back
// through its row-edit handler, and the editor then sends the matching
// playlist command to node A when A/B roll is off and node A reports this
// playlist. Edits of one operator action form one undo group named after the
// operation ("Paste", "Move Clip", "Duplicate Clip", "Cut", "Delete", ...).
//
// Ownership: made and owned by the playlist window controller (the host);
// shares the document. The node control and the host are not owned and
// outlive it. Main thread only. Alerts go through CVNAlertUtilities.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/playlist/PlaylistNodeControl.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/media/TiffImage.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Value.h"

namespace app {

// Row heights of the two row layouts.
inline constexpr double kCompactRowHeight = 22.5;
inline constexpr double kThumbnailRowHeight = 55.0;

// What the editor needs of its window.
class PlaylistEditorHost {
 public:
  virtual ~PlaylistEditorHost() = default;
  // "Authenticate" was chosen in the guard's alert.
  virtual void tryUnlockingNodes() = 0;
  // A row of the document was inserted, removed or replaced (also by undo
  // and redo): the host moves its node clip indexes with it.
  virtual void rowsEdited(const nodes::VideoPlaylistDocument::RowEdit& edit) = 0;
  // Redraw the table and the counters.
  virtual void reloadTable() = 0;
};

// Where a drag comes from.
enum class DropSource { ThisTable, OtherSource };
// How a drop is taken; None refuses it.
enum class DropOperation { None, Copy, Move };

// One drop on the table: rows (the "PlaylistItemsDragInfoType" archive) or
// file paths.
struct PlaylistDrop {
  DropSource source = DropSource::OtherSource;
  std::optional<std::string> itemsArchive;
  std::vector<std::filesystem::path> files;
  bool copyOnly = false;  // the drag source allows only copying
};

class PlaylistEditor {
 public:
  PlaylistEditor(std::shared_ptr<nodes::VideoPlaylistDocument> document, PlaylistNodeControl& nodeControl,
                 PlaylistEditorHost& host);
  ~PlaylistEditor();
  PlaylistEditor(const PlaylistEditor&) = delete;
  PlaylistEditor& operator=(const PlaylistEditor&) = delete;

  // --- The guard and the edits (index -1: an insertion) ---
  bool verifyPlaylistCanBeModifiedForItemAtIndex(std::int64_t index);
  // Appends when index is negative or past the end.
  bool insertClip(std::shared_ptr<nodes::PlaylistItem> item, std::int64_t index);
  bool replaceClipAtIndex(std::int64_t index, std::shared_ptr<nodes::PlaylistItem> item);
  bool removeClipAtIndex(std::int64_t index);
  // The document's selected rows, highest first, under `operationName`
  // ("Cut" or "Delete"); stops at the first row the guard refuses, and the
  // rows removed before it stay removed and are shown.
  void removeSelectedObjects(const std::string& operationName);
  void clipDraggedToTrash();

  // --- Pasteboard: "PlaylistItemsDragInfoType" archives ---
  // Copies of the rows (each with a new playback unique ID); one row is
  // remembered as the moved row, several forget it. None for no rows, a row
  // out of range or an unwritable item.
  std::optional<std::string> copyRows(const std::set<std::size_t>& rows);
  // A drag of rows: refuses rows that play or are locked ("Locked Item
  // Error !"), else copyRows.
  std::optional<std::string> writeRowsForDrag(const std::set<std::size_t>& rows);
  // Inserts the archive's items at the selected row (appends without one).
  bool pasteRows(std::string_view itemsArchive);

  // --- Drag and drop (row: the row dropped above; -1 past the last) ---
  DropOperation validateDrop(DropSource source, std::int64_t row, bool dropAbove, bool copyOnly);
  bool acceptDrop(const PlaylistDrop& drop, std::int64_t row);
  // True when every file maps to a catalogue clip; `index` moves past the
  // inserted files (not past a folder's clips).
  bool addFilesAndDirectoriesToPlaylist(const std::vector<std::filesystem::path>& paths, std::size_t index);
  bool didDepositRow(std::int64_t sourceRow, std::int64_t targetRow, bool isACopy);
  std::int64_t movedRow() const { return movedRow_; }
  bool isDragging() const { return isDragging_; }

  // --- Modes (the document's "loop", "chain", "cueMode", "abRoll") ---
  void loopValueChanged();
  void chainValueChanged();
  void cueValueChanged();
  void abRollValueChanged();

  // --- Thumbnails ---
  void requestAllMissingThumbnails();
  void requestThumbnailForClip(const nodes::PlaylistItem& item);
  // userInfo: "mediaItemUniqueID", "mediaFolderUniqueID", "position" (text
  // or number). True when a row took the image.
  bool newThumbnailIsAvailable(const std::shared_ptr<const nodes::RGBAImage>& image,
                               const platform::Dictionary& userInfo);

  // --- Catalogue and inspector ---
  void clipsDidChange(const std::vector<std::string>& clipUniqueIDs);
  void inspectorDidChangeClips(const platform::Dictionary& userInfo);

  // --- Counters ---
  // "%li item - Selection: %@" / "%li items - Selection: %@".
  std::string clipCountText() const;
  std::string selectedClipsDurationAsString() const;
  std::string playlistDurationString() const;

  // --- Undo ---
  void undo();
  void redo();

 private:
  bool nodeReportsThisPlaylist(const std::optional<std::string>& nodeUniqueID) const;
  bool nodeAReportsThisPlaylist() const;
  bool nodeBReportsThisPlaylist() const;
  bool abRollWithNodeB() const;
  void rowEdited(const nodes::VideoPlaylistDocument::RowEdit& edit);
  void markForNodes(nodes::PlaylistItem& item) const;
  // One row in, without guard, undo group or reload (negative or past the
  // end appends).
  bool insertOne(std::shared_ptr<nodes::PlaylistItem> item, std::int64_t index);
  // Empty for an archive that cannot be read.
  std::vector<std::shared_ptr<nodes::PlaylistItem>> unarchive(std::string_view itemsArchive) const;
  // Each item with a new playback unique ID at `row` and the rows after it
  // (appended for a negative row), as one undo group.
  void insertItems(const std::vector<std::shared_ptr<nodes::PlaylistItem>>& items, std::int64_t row,
                   const std::string& operationName);
  // The walk of addFilesAndDirectoriesToPlaylist, without guard or refresh.
  // `visitedFolders` keeps a folder linked into itself from being walked again.
  bool addPaths(const std::vector<std::filesystem::path>& paths, std::size_t index,
                std::set<std::filesystem::path>& visitedFolders);
  // Start times, bubbles (A/B roll with node B) and the table.
  void refreshAfterRowChanges(bool bubbles);

  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  PlaylistNodeControl& nodeControl_;  // not owned
  PlaylistEditorHost& host_;          // not owned; owns this editor
  std::int64_t movedRow_ = -1;
  bool isDragging_ = false;
  // Mode handlers running: a handler entered from another one sends its
  // node command but leaves the other modes to the outer handler.
  int modeHandlerDepth_ = 0;
};

}  // namespace app
