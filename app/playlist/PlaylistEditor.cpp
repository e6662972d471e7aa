// The playlist editor: the guard, single-row edits, the selection's removal,
// the node sync of every row change, modes, thumbnails, catalogue changes
// and counters. Pasteboard and drag and drop are in
// PlaylistEditorDragAndDrop.cpp.

#include "app/playlist/PlaylistEditor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/playlist/AuthenticationAlert.h"
#include "app/playlist/PlaylistEditorUndoGroup.h"
#include "foundation/CVNAlertUtilities.h"
#include "nodes/link/NodeConnection.h"

namespace app {

namespace {

constexpr const char* kClipsBusyErrorTitle = "Clip(s) Busy Error !";
constexpr const char* kClipsBusyErrorMessage =
    "You cannot add, replace or delete clips before the currently playing clips in A/B roll mode.";
constexpr const char* kZeroDuration = "00:00:00:00";
// A thumbnail reply is for a row when it is this close to the row's middle.
constexpr double kThumbnailPositionTolerance = 0.5;

// The reply's "position": a number, or its text.
std::optional<double> positionOf(const platform::Value& value) {
  if (value.isNumber()) return value.real();
  const std::string* text = value.string();
  if (!text) return std::nullopt;
  double position = 0.0;
  const char* end = text->data() + text->size();
  const auto [at, error] = std::from_chars(text->data(), end, position);
  if (error != std::errc() || !std::isfinite(position)) return std::nullopt;
  return position;
}

// RAII counter of the mode handlers on the stack.
class DepthScope {
 public:
  explicit DepthScope(int& depth) : depth_(depth) { ++depth_; }
  ~DepthScope() { --depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
  bool outermost() const { return depth_ == 1; }

 private:
  int& depth_;
};

}  // namespace

PlaylistEditor::PlaylistEditor(std::shared_ptr<nodes::VideoPlaylistDocument> document,
                               PlaylistNodeControl& nodeControl, PlaylistEditorHost& host)
    : document_(std::move(document)), nodeControl_(nodeControl), host_(host) {
  document_->setRowEditHandler([this](const nodes::VideoPlaylistDocument::RowEdit& edit) { rowEdited(edit); });
}

PlaylistEditor::~PlaylistEditor() { document_->setRowEditHandler({}); }

// ---- Node status ----

bool PlaylistEditor::nodeReportsThisPlaylist(const std::optional<std::string>& nodeUniqueID) const {
  if (!nodeUniqueID || nodeUniqueID->empty()) return false;
  const std::optional<platform::Dictionary> status = nodeControl_.nodeControlStatus(*nodeUniqueID);
  if (!status) return false;
  const auto found = status->find(nodes::kNodeStatusPlaylistUniqueIDKey);
  if (found == status->end()) return false;
  const std::string* playlist = found->second.string();
  return playlist && *playlist == document_->uniqueID();
}

bool PlaylistEditor::nodeAReportsThisPlaylist() const { return nodeReportsThisPlaylist(document_->nodeAUniqueID()); }

bool PlaylistEditor::nodeBReportsThisPlaylist() const { return nodeReportsThisPlaylist(document_->nodeBUniqueID()); }

bool PlaylistEditor::abRollWithNodeB() const { return document_->abRoll() && document_->hasNodeB(); }

// ---- The guard ----

bool PlaylistEditor::verifyPlaylistCanBeModifiedForItemAtIndex(std::int64_t index) {
  const std::optional<std::string> nodeA = document_->nodeAUniqueID();
  const std::optional<std::string> nodeB = document_->nodeBUniqueID();
  const bool mineA = nodeReportsThisPlaylist(nodeA);
  const bool mineB = nodeReportsThisPlaylist(nodeB);
  const bool unlockedA = nodeA && nodeControl_.isNodeUnlocked(*nodeA);
  const bool unlockedB = nodeB && nodeControl_.isNodeUnlocked(*nodeB);
  if ((mineA && !unlockedA) || (mineB && !unlockedB && abRollWithNodeB())) {
    if (operatorChoosesToAuthenticate()) host_.tryUnlockingNodes();
    return false;
  }

  const nodes::VideoPlaylistDocument::Rows rows = document_->playlist();
  if (index < 0 || static_cast<std::size_t>(index) >= rows.size() || !abRollWithNodeB()) return true;
  for (std::size_t i = static_cast<std::size_t>(index); i < rows.size(); ++i) {
    if (rows[i]->playbackStatus() != nodes::kPlaybackStatusStopped) {
      foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kClipsBusyErrorTitle, kClipsBusyErrorMessage,
                                                                   {"OK"});
      return false;
    }
  }
  return true;
}

// ---- Edits ----

void PlaylistEditor::markForNodes(nodes::PlaylistItem& item) const {
  const std::string node = item.nodeUniqueID();
  const std::optional<std::string> nodeA = document_->nodeAUniqueID();
  const std::optional<std::string> nodeB = document_->nodeBUniqueID();
  if (nodeA && !nodeA->empty() && node == *nodeA) {
    const std::optional<std::string> nodeBName = document_->nodeBName();
    const bool twoNodes = document_->abRoll() && nodeBName && !nodeBName->empty();
    item.update([&](nodes::PlaylistItemFields& fields) {
      fields.abRollClipPosition = twoNodes ? nodes::ABRollClipPosition::NodeA : nodes::ABRollClipPosition::None;
      fields.nodeName = document_->nodeAName().value_or("");
    });
  } else if (document_->hasNodeB() && node == *nodeB) {
    item.update([&](nodes::PlaylistItemFields& fields) {
      fields.playbackStatus = nodes::kPlaybackStatusStopped;
      fields.abRollClipPosition = nodes::ABRollClipPosition::NodeB;
      fields.nodeName = document_->nodeBName().value_or("");
    });
  } else {
    item.setAbRollClipPosition(nodes::ABRollClipPosition::None);
  }
}

bool PlaylistEditor::insertOne(std::shared_ptr<nodes::PlaylistItem> item, std::int64_t index) {
  if (!item) return false;
  if (!item->isResized()) {
    item->update([](nodes::PlaylistItemFields& fields) {
      fields.displaySizeWidth = 0;
      fields.displaySizeHeight = 0;
    });
  }
  markForNodes(*item);
  const std::size_t count = document_->clipCount();
  const std::size_t at = index < 0 || static_cast<std::size_t>(index) > count ? count : static_cast<std::size_t>(index);
  if (!document_->insertClip(item, at)) return false;
  requestThumbnailForClip(*item);
  return true;
}

bool PlaylistEditor::insertClip(std::shared_ptr<nodes::PlaylistItem> item, std::int64_t index) {
  if (!item || !verifyPlaylistCanBeModifiedForItemAtIndex(-1)) return false;
  bool inserted = false;
  {
    UndoGroup group(document_->undoManager(), nodes::kUndoActionAdd);
    inserted = insertOne(std::move(item), index);
  }
  host_.reloadTable();
  return inserted;
}

bool PlaylistEditor::replaceClipAtIndex(std::int64_t index, std::shared_ptr<nodes::PlaylistItem> item) {
  if (!item || index < 0 || static_cast<std::size_t>(index) >= document_->clipCount()) return false;
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(index)) return false;
  bool replaced = false;
  {
    UndoGroup group(document_->undoManager(), nodes::kUndoActionReplace);
    replaced = document_->replaceClipAtIndex(static_cast<std::size_t>(index), item);
  }
  if (replaced) requestThumbnailForClip(*item);
  host_.reloadTable();
  return replaced;
}

bool PlaylistEditor::removeClipAtIndex(std::int64_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= document_->clipCount()) return false;
  if (!verifyPlaylistCanBeModifiedForItemAtIndex(index)) return false;
  bool removed = false;
  {
    UndoGroup group(document_->undoManager(), nodes::kUndoActionDelete);
    removed = document_->removeClipAtIndex(static_cast<std::size_t>(index));
  }
  host_.reloadTable();
  return removed;
}

void PlaylistEditor::removeSelectedObjects(const std::string& operationName) {
  const std::set<std::size_t> selected = document_->selectedClipIndexes();
  {
    UndoGroup group(document_->undoManager(), operationName);
    for (auto row = selected.rbegin(); row != selected.rend(); ++row) {
      if (*row >= document_->clipCount()) continue;
      if (!verifyPlaylistCanBeModifiedForItemAtIndex(static_cast<std::int64_t>(*row))) break;
      document_->removeClipAtIndex(*row);
    }
  }
  // Also after a walk the guard stopped: the rows already removed must show.
  document_->setSelectedClipIndexes({});
  refreshAfterRowChanges(true);
}

void PlaylistEditor::clipDraggedToTrash() {
  if (movedRow_ < 0) return;
  const std::int64_t row = std::exchange(movedRow_, -1);
  if (removeClipAtIndex(row) && abRollWithNodeB()) document_->updateBubbleDirections();
}

void PlaylistEditor::refreshAfterRowChanges(bool bubbles) {
  if (bubbles && abRollWithNodeB()) document_->updateBubbleDirections();
  document_->updatePlaylistMovieAndStartTimes();
  host_.reloadTable();
}

// ---- Node sync: every row change, also replayed by undo and redo ----

void PlaylistEditor::rowEdited(const nodes::VideoPlaylistDocument::RowEdit& edit) {
  if (!document_->abRoll() && edit.item && nodeAReportsThisPlaylist()) {
    const std::string nodeA = document_->nodeAUniqueID().value_or("");
    const auto index = static_cast<std::uint64_t>(edit.index);
    switch (edit.kind) {
      case nodes::VideoPlaylistDocument::RowEdit::Kind::Inserted:
        nodeControl_.nodeControlPlaylistInsertItem(*edit.item, index, nodeA);
        break;
      case nodes::VideoPlaylistDocument::RowEdit::Kind::Removed:
        nodeControl_.nodeControlPlaylistRemoveItemAtIndex(index, nodeA);
        break;
      case nodes::VideoPlaylistDocument::RowEdit::Kind::Replaced:
        nodeControl_.nodeControlPlaylistReplaceItemAtIndex(index, *edit.item, nodeA);
        break;
    }
  }
  host_.rowsEdited(edit);
}

// ---- Modes ----

void PlaylistEditor::loopValueChanged() {
  DepthScope scope(modeHandlerDepth_);
  const bool loop = document_->loop();
  if (nodeAReportsThisPlaylist()) nodeControl_.nodeControlPlaylistSetLoopMode(*document_->nodeAUniqueID(), loop);
  if (loop && scope.outermost()) {
    document_->setCueMode(false);
    document_->setAbRoll(false);
  }
}

void PlaylistEditor::chainValueChanged() {
  DepthScope scope(modeHandlerDepth_);
  const bool chain = document_->chain();
  if (nodeAReportsThisPlaylist()) nodeControl_.nodeControlPlaylistSetChainMode(*document_->nodeAUniqueID(), chain);
  if (chain && scope.outermost()) {
    document_->setAbRoll(false);
    document_->setCueMode(false);
  }
  if (!chain) document_->setAbsoluteStartTime(0.0);
  document_->updatePlaylistMovieAndStartTimes();
  host_.reloadTable();
}

void PlaylistEditor::cueValueChanged() {
  DepthScope scope(modeHandlerDepth_);
  const bool cue = document_->cueMode();
  if (nodeAReportsThisPlaylist()) nodeControl_.nodeControlPlaylistSetCueMode(*document_->nodeAUniqueID(), cue);
  if (cue && scope.outermost()) {
    document_->setChain(false);
    document_->setLoop(false);
  }
}

void PlaylistEditor::abRollValueChanged() {
  DepthScope scope(modeHandlerDepth_);
  const bool mineA = nodeAReportsThisPlaylist();
  if (!document_->abRoll()) {
    if (mineA) document_->setDirtyOnNodeA(true);
    return;
  }
  if (mineA) document_->setDirtyOnNodeA(true);
  if (nodeBReportsThisPlaylist()) document_->setDirtyOnNodeB(true);
  if (scope.outermost()) {
    document_->setLoop(false);
    document_->setChain(false);
    document_->setCueMode(true);
  }
}

// ---- Thumbnails ----

void PlaylistEditor::requestAllMissingThumbnails() {
  for (const auto& item : document_->playlist()) {
    if (!item->thumbnail()) requestThumbnailForClip(*item);
  }
}

void PlaylistEditor::requestThumbnailForClip(const nodes::PlaylistItem& item) {
  const nodes::PlaylistItemFields fields = item.fields();
  // Nothing to ask for without a media item.
  if (!fields.mediaItemUniqueID || fields.mediaItemUniqueID->empty()) return;
  nodeControl_.requestThumbnail(*fields.mediaItemUniqueID, fields.mediaFolderUniqueID, fields.nodeUniqueID,
                                fields.thumbnailPositionInSeconds());
}

bool PlaylistEditor::newThumbnailIsAvailable(const std::shared_ptr<const nodes::RGBAImage>& image,
                                             const platform::Dictionary& userInfo) {
  if (!image) return false;
  auto text = [&userInfo](const char* key) -> std::optional<std::string> {
    const auto found = userInfo.find(key);
    if (found == userInfo.end() || !found->second.string()) return std::nullopt;
    return *found->second.string();
  };
  const std::optional<std::string> mediaItem = text("mediaItemUniqueID");
  const std::optional<std::string> mediaFolder = text("mediaFolderUniqueID");
  const auto positionValue = userInfo.find("position");
  if (!mediaItem || !mediaFolder || positionValue == userInfo.end()) return false;
  const std::optional<double> position = positionOf(positionValue->second);
  if (!position) return false;

  bool taken = false;
  for (const auto& item : document_->playlist()) {
    const nodes::PlaylistItemFields fields = item->fields();
    if (fields.mediaItemUniqueID != mediaItem || fields.mediaFolderUniqueID != *mediaFolder) continue;
    if (std::fabs(fields.thumbnailPositionInSeconds() - *position) < kThumbnailPositionTolerance) {
      item->setThumbnail(image);
      taken = true;
    }
  }
  if (taken) host_.reloadTable();
  return taken;
}

// ---- Catalogue and inspector ----

void PlaylistEditor::clipsDidChange(const std::vector<std::string>& clipUniqueIDs) {
  const nodes::VideoPlaylistDocument::Rows rows = document_->playlist();
  bool affected = false;
  for (const std::string& id : clipUniqueIDs) {
    const std::shared_ptr<nodes::PlaylistItem> clip = nodeControl_.catalogueClipWithUniqueID(id);
    if (!clip) continue;
    const std::optional<std::string> mediaItem = clip->mediaItemUniqueID();
    const std::string path = clip->absolutePathToMediaItem();
    for (const auto& row : rows) {
      const bool sameMediaItem = mediaItem && !mediaItem->empty() && row->mediaItemUniqueID() == mediaItem;
      const bool samePath = !path.empty() && row->absolutePathToMediaItem() == path;
      if (sameMediaItem || samePath) {
        affected = true;
        break;
      }
    }
    if (affected) break;
  }
  if (affected) refreshAfterRowChanges(true);
}

void PlaylistEditor::inspectorDidChangeClips(const platform::Dictionary& userInfo) {
  const auto found = userInfo.find("playlistUniqueID");
  if (found == userInfo.end() || !found->second.string() || *found->second.string() != document_->uniqueID()) return;
  if (abRollWithNodeB()) document_->updateBubbleDirections();
  host_.reloadTable();
}

// ---- Counters ----

std::string PlaylistEditor::clipCountText() const {
  const std::size_t count = document_->clipCount();
  const char* format = count == 1 ? "%li item - Selection: %s" : "%li items - Selection: %s";
  const std::string selection = selectedClipsDurationAsString();
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<long>(count), selection.c_str());
  return text;
}

std::string PlaylistEditor::selectedClipsDurationAsString() const {
  const nodes::VideoPlaylistDocument::Rows rows = document_->playlist();
  std::shared_ptr<nodes::PlaylistItem> first;
  double seconds = 0.0;
  for (const std::size_t row : document_->selectedClipIndexes()) {
    if (row >= rows.size()) continue;
    if (!first) first = rows[row];
    seconds += rows[row]->durationInSeconds();
  }
  if (!first) return kZeroDuration;
  return first->timeCodeFormatter().stringForObjectValue(seconds);
}

std::string PlaylistEditor::playlistDurationString() const {
  const std::shared_ptr<nodes::PlaylistItem> first = document_->firstItem();
  if (!first) return kZeroDuration;
  return first->timeCodeFormatter().stringForObjectValue(document_->playlistDurationInSeconds());
}

// ---- Undo ----

void PlaylistEditor::undo() {
  document_->undoManager().undo();
  host_.reloadTable();
}

void PlaylistEditor::redo() {
  document_->undoManager().redo();
  host_.reloadTable();
}

}  // namespace app
