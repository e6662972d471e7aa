// The playlist editor's pasteboard and drag and drop: copying and pasting
// rows, moves and duplicates inside the table, drops from other windows and
// from the file system.

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>
#include <utility>

#include "app/playlist/PlaylistEditor.h"
#include "app/playlist/PlaylistEditorUndoGroup.h"
#include "foundation/CVNAlertUtilities.h"
#include "foundation/GenerateUniqueID.h"
#include "nodes/playlist/PlaylistItemPasteboard.h"

namespace app {

namespace {

constexpr const char* kLockedItemErrorTitle = "Locked Item Error !";
constexpr const char* kLockedItemErrorMessage = "You cannot drag a playing or locked item.";
constexpr const char* kClipNotFoundErrorTitle = "Clip Not Found Error !";
constexpr const char* kClipNotFoundErrorMessage =
    "One or more clips could not be found in any of the media folders, so they could not be added to the "
    "playlist.";
constexpr const char* kPasteOperation = "Paste";
constexpr const char* kDuplicateOperation = "Duplicate Clip";

bool lessIgnoringCase(const std::filesystem::path& left, const std::filesystem::path& right) {
  const std::string a = left.string();
  const std::string b = right.string();
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                 [&](char x, char y) { return lower(x) < lower(y); });
  const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                    [&](char x, char y) { return lower(x) < lower(y); });
  return less || (!greater && a < b);  // equal but for case: a fixed order all the same
}

}  // namespace

// ---- Pasteboard ----

std::optional<std::string> PlaylistEditor::copyRows(const std::set<std::size_t>& rows) {
  if (rows.empty()) return std::nullopt;
  const nodes::VideoPlaylistDocument::Rows playlist = document_->playlist();
  std::vector<std::shared_ptr<nodes::PlaylistItem>> items;
  for (const std::size_t row : rows) {
    if (row >= playlist.size()) return std::nullopt;
    items.push_back(playlist[row]);
  }
  // The archive holds copies, each with a new playback unique ID.
  platform::Result<std::string> archive = nodes::archivedPlaylistItems(items);
  if (!archive.ok()) return std::nullopt;
  // Only a single row can be moved; a wider drag must not move an old row.
  movedRow_ = rows.size() == 1 ? static_cast<std::int64_t>(*rows.begin()) : -1;
  return std::move(archive).value();
}

std::optional<std::string> PlaylistEditor::writeRowsForDrag(const std::set<std::size_t>& rows) {
  const nodes::VideoPlaylistDocument::Rows playlist = document_->playlist();
  for (const std::size_t row : rows) {
    if (row >= playlist.size()) continue;
    if (playlist[row]->playbackStatus() != nodes::kPlaybackStatusStopped || playlist[row]->locked()) {
      foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kLockedItemErrorTitle, kLockedItemErrorMessage,
                                                                   {"OK"});
      return std::nullopt;
    }
  }
  return copyRows(rows);
}

std::vector<std::shared_ptr<nodes::PlaylistItem>> PlaylistEditor::unarchive(std::string_view itemsArchive) const {
  platform::Result<std::vector<std::shared_ptr<nodes::PlaylistItem>>> items =
      nodes::unarchivePlaylistItems(itemsArchive);
  if (!items.ok()) return {};
  std::vector<std::shared_ptr<nodes::PlaylistItem>> result;
  for (auto& item : *items) {
    if (item) result.push_back(std::move(item));
  }
  return result;
}

void PlaylistEditor::insertItems(const std::vector<std::shared_ptr<nodes::PlaylistItem>>& items, std::int64_t row,
                                 const std::string& operationName) {
  {
    UndoGroup group(document_->undoManager(), operationName);
    std::int64_t index = row;
    for (const auto& item : items) {
      item->setPlaybackUniqueID(foundation::GenerateUniqueID::generateUniqueID());
      if (insertOne(item, index) && index >= 0) ++index;
    }
  }
  refreshAfterRowChanges(true);
}

bool PlaylistEditor::pasteRows(std::string_view itemsArchive) {
  const std::vector<std::shared_ptr<nodes::PlaylistItem>> items = unarchive(itemsArchive);
  if (items.empty()) return false;
  const std::set<std::size_t> selected = document_->selectedClipIndexes();
  const std::int64_t row = selected.empty() ? -1 : static_cast<std::int64_t>(*selected.begin());
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(row)) return false;
  insertItems(items, row, kPasteOperation);
  return true;
}

// ---- Drag and drop ----

DropOperation PlaylistEditor::validateDrop(DropSource source, std::int64_t row, bool dropAbove, bool copyOnly) {
  if (source == DropSource::OtherSource) {
    isDragging_ = true;
    return DropOperation::Copy;
  }
  if (dropAbove && row != movedRow_) return copyOnly ? DropOperation::Copy : DropOperation::Move;
  return DropOperation::None;
}

bool PlaylistEditor::acceptDrop(const PlaylistDrop& drop, std::int64_t row) {
  isDragging_ = false;  // a drop ends the drag, taken or not
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(row)) return false;
  const std::size_t count = document_->clipCount();

  if (drop.source == DropSource::ThisTable) {
    if (movedRow_ < 0) return false;
    const std::int64_t target = row < 0 ? static_cast<std::int64_t>(count) : row;
    const bool deposited = didDepositRow(std::exchange(movedRow_, -1), target, drop.copyOnly);
    if (abRollWithNodeB()) document_->updateBubbleDirections();
    return deposited;
  }

  if (drop.itemsArchive) {
    const std::vector<std::shared_ptr<nodes::PlaylistItem>> items = unarchive(*drop.itemsArchive);
    if (items.empty()) return false;
    insertItems(items, row, nodes::kUndoActionAdd);
    return true;
  }

  if (drop.files.empty()) return false;
  std::vector<std::filesystem::path> paths = drop.files;
  std::sort(paths.begin(), paths.end(), lessIgnoringCase);
  const std::size_t index = row < 0 ? count : std::min(static_cast<std::size_t>(row), count);
  bool found = true;
  {
    UndoGroup group(document_->undoManager(), nodes::kUndoActionAdd);
    std::set<std::filesystem::path> visitedFolders;
    found = addPaths(paths, index, visitedFolders);
  }
  if (!found) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kClipNotFoundErrorTitle, kClipNotFoundErrorMessage,
                                                                 {"OK"});
  }
  refreshAfterRowChanges(true);
  return true;
}

bool PlaylistEditor::addFilesAndDirectoriesToPlaylist(const std::vector<std::filesystem::path>& paths,
                                                      std::size_t index) {
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(-1)) return false;
  bool found = true;
  {
    UndoGroup group(document_->undoManager(), nodes::kUndoActionAdd);
    std::set<std::filesystem::path> visitedFolders;
    found = addPaths(paths, index, visitedFolders);
  }
  refreshAfterRowChanges(true);
  return found;
}

bool PlaylistEditor::addPaths(const std::vector<std::filesystem::path>& paths, std::size_t index,
                              std::set<std::filesystem::path>& visitedFolders) {
  bool found = true;
  for (const std::filesystem::path& path : paths) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) continue;  // gone since the drag: skipped

    if (std::filesystem::is_directory(status)) {
      std::filesystem::path folder = std::filesystem::canonical(path, error);
      if (error || !visitedFolders.insert(std::move(folder)).second) continue;
      std::vector<std::filesystem::path> entries;
      std::filesystem::directory_iterator entry(path, error);
      for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        entries.push_back(entry->path());
      }
      // The folder's clips go in from the same index; the caller's does not move.
      if (!addPaths(entries, index, visitedFolders)) found = false;
      continue;
    }

    const auto clips = document_->clipsWithMediaItemAtPath(path);
    const std::optional<std::string> nodeA = document_->nodeAUniqueID();
    std::shared_ptr<nodes::PlaylistItem> chosen;
    for (const auto& clip : clips) {
      if (!clip) continue;
      if (!chosen) chosen = clip;
      if (nodeA && clip->nodeUniqueID() == *nodeA) {
        chosen = clip;
        break;
      }
    }
    if (!chosen) {
      found = false;
      continue;
    }
    if (insertOne(chosen->mutableCopy(), static_cast<std::int64_t>(index))) ++index;
  }
  return found;
}

bool PlaylistEditor::didDepositRow(std::int64_t sourceRow, std::int64_t targetRow, bool isACopy) {
  const std::size_t count = document_->clipCount();
  if (sourceRow < 0 || targetRow < 0 || static_cast<std::size_t>(sourceRow) >= count) return false;
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(sourceRow)) return false;
  const auto source = static_cast<std::size_t>(sourceRow);
  const auto target = static_cast<std::size_t>(targetRow);
  {
    UndoGroup group(document_->undoManager(), isACopy ? kDuplicateOperation : nodes::kUndoActionMove);
    if (isACopy) {
      std::shared_ptr<nodes::PlaylistItem> duplicate = document_->clipAtIndex(sourceRow)->copy();
      duplicate->setPlaybackUniqueID(foundation::GenerateUniqueID::generateUniqueID());
      insertOne(std::move(duplicate), target < count ? targetRow : -1);
    } else {
      const std::size_t to = target >= count ? count - 1 : (source < target ? target - 1 : target);
      if (to != source) document_->moveClip(source, to);
    }
  }
  refreshAfterRowChanges(false);
  isDragging_ = false;
  return true;
}

}  // namespace app
