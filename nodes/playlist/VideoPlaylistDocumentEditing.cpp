// The playlist document's edits and their undo.

#include <algorithm>
#include <utility>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace nodes {

void VideoPlaylistDocument::rowsDidChange() {
  // Undo and redo count themselves through the undo manager's events, one
  // change per group; so an action that edits many rows inside one group
  // counts once too, and undoing it leaves the document as it was.
  if (!undoManager_.isUndoing() && !undoManager_.isRedoing()) {
    const bool inGroup = undoManager_.groupingLevel() > 0;
    if (!inGroup || countedGroup_ != undoManager_.openedGroupCount()) updateChangeCount(DocumentChange::Done);
    if (inGroup) countedGroup_ = undoManager_.openedGroupCount();
  }
  if (abRoll() && hasNodeB()) updateBubbleDirections();
  updatePlaylistMovieAndStartTimes();
}

void VideoPlaylistDocument::tellRowEdit(RowEdit::Kind kind, std::size_t index,
                                        const std::shared_ptr<PlaylistItem>& item) {
  if (rowEditHandler_) rowEditHandler_(RowEdit{kind, index, item});
}

bool VideoPlaylistDocument::insertClip(std::shared_ptr<PlaylistItem> item, std::size_t index) {
  if (!item) return false;
  {
    std::lock_guard guard(lock_);
    if (index > state_.playlist.size()) return false;
    state_.playlist.insert(state_.playlist.begin() + static_cast<std::ptrdiff_t>(index), item);
  }
  undoManager_.registerUndo([this, item] { removeClip(item); });
  undoManager_.setActionName(kUndoActionAdd);
  rowsDidChange();
  tellRowEdit(RowEdit::Kind::Inserted, index, item);
  return true;
}

bool VideoPlaylistDocument::removeClip(const std::shared_ptr<PlaylistItem>& item) {
  // Undo finds rows by identity: rows moved by edits made outside the
  // history (a node filling the playlist) are still found.
  const std::optional<std::size_t> index = indexOfClip(item);
  return index && removeClipAtIndex(*index);
}

bool VideoPlaylistDocument::removeClipAtIndex(std::size_t index) {
  std::shared_ptr<PlaylistItem> removed;
  {
    std::lock_guard guard(lock_);
    if (index >= state_.playlist.size()) return false;
    removed = state_.playlist[index];
    state_.playlist.erase(state_.playlist.begin() + static_cast<std::ptrdiff_t>(index));
  }
  undoManager_.registerUndo([this, removed, index] { insertClip(removed, std::min(index, clipCount())); });
  undoManager_.setActionName(kUndoActionDelete);
  rowsDidChange();
  tellRowEdit(RowEdit::Kind::Removed, index, removed);
  return true;
}

bool VideoPlaylistDocument::replaceClipAtIndex(std::size_t index, std::shared_ptr<PlaylistItem> item) {
  if (!item) return false;
  std::shared_ptr<PlaylistItem> old;
  {
    std::lock_guard guard(lock_);
    if (index >= state_.playlist.size()) return false;
    old = std::exchange(state_.playlist[index], item);
  }
  undoManager_.registerUndo([this, old, item] {
    if (std::optional<std::size_t> at = indexOfClip(item)) replaceClipAtIndex(*at, old);
  });
  undoManager_.setActionName(kUndoActionReplace);
  rowsDidChange();
  tellRowEdit(RowEdit::Kind::Replaced, index, item);
  return true;
}

bool VideoPlaylistDocument::moveClip(std::size_t from, std::size_t to) {
  std::shared_ptr<PlaylistItem> item;
  {
    std::lock_guard guard(lock_);
    const std::size_t count = state_.playlist.size();
    if (from >= count || to >= count || from == to) return false;
    item = state_.playlist[from];
    state_.playlist.erase(state_.playlist.begin() + static_cast<std::ptrdiff_t>(from));
    state_.playlist.insert(state_.playlist.begin() + static_cast<std::ptrdiff_t>(to), item);
  }
  undoManager_.registerUndo([this, item, from] {
    if (std::optional<std::size_t> at = indexOfClip(item)) moveClip(*at, std::min(from, clipCount() - 1));
  });
  undoManager_.setActionName(kUndoActionMove);
  rowsDidChange();
  tellRowEdit(RowEdit::Kind::Removed, from, item);
  tellRowEdit(RowEdit::Kind::Inserted, to, item);
  return true;
}

bool VideoPlaylistDocument::editClipAtIndex(std::size_t index, const std::function<void(PlaylistItemFields&)>& change,
                                            std::string actionName) {
  const std::shared_ptr<PlaylistItem> item = clipAtIndex(static_cast<std::int64_t>(index));
  if (!item || !change) return false;
  const PlaylistItemFields before = item->fields();
  item->update(change);
  if (item->fields() == before) return false;
  undoManager_.registerUndo([this, item, before] { restoreClipFields(item, before); });
  undoManager_.setActionName(std::move(actionName));
  rowsDidChange();
  return true;
}

void VideoPlaylistDocument::restoreClipFields(const std::shared_ptr<PlaylistItem>& item,
                                              const PlaylistItemFields& fields) {
  const PlaylistItemFields current = item->fields();
  item->update([&](PlaylistItemFields& f) {
    f = fields;
    // What playback and the catalogue set since is not part of the edit.
    f.thumbnail = current.thumbnail;
    f.locked = current.locked;
    f.playbackStatus = current.playbackStatus;
    f.playbackNodeName = current.playbackNodeName;
    f.abRollClipPosition = current.abRollClipPosition;
    f.blockDurationInSeconds = current.blockDurationInSeconds;
    f.relativeStartTimeInSeconds = current.relativeStartTimeInSeconds;
    f.relativeStartTimeAsString = current.relativeStartTimeAsString;
  });
  undoManager_.registerUndo([this, item, current] { restoreClipFields(item, current); });
  rowsDidChange();
}

}  // namespace nodes
