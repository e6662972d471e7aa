// PlaylistWindowController: the table's edits (through PlaylistEditor), the
// window's keys, the mode buttons, thumbnails, catalogue changes and the
// contextual menu's actions.

#include <system_error>

#include "app/playlist/PlaylistWindowController.h"

namespace app {
namespace {

bool fileExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

// --- Edits ---

void PlaylistWindowController::removeSelectedObjects(const std::string& operationName) {
  Change change(*this);
  editor_.removeSelectedObjects(operationName);
}

bool PlaylistWindowController::pasteRows(std::string_view itemsArchive) {
  Change change(*this);
  return editor_.pasteRows(itemsArchive);
}

bool PlaylistWindowController::acceptDrop(const PlaylistDrop& drop, std::int64_t row) {
  Change change(*this);
  return editor_.acceptDrop(drop, row);
}

void PlaylistWindowController::clipDraggedToTrash() {
  Change change(*this);
  editor_.clipDraggedToTrash();
}

void PlaylistWindowController::undo() {
  Change change(*this);
  editor_.undo();
}

void PlaylistWindowController::redo() {
  Change change(*this);
  editor_.redo();
}

// Node A's clip index follows the rows around it.
void PlaylistWindowController::rowsEdited(const nodes::VideoPlaylistDocument::RowEdit& edit) {
  Change change(*this);
  const auto index = static_cast<std::int64_t>(edit.index);
  using Kind = nodes::VideoPlaylistDocument::RowEdit::Kind;
  if (edit.kind == Kind::Inserted && nodeAClipIndex_ >= index) ++nodeAClipIndex_;
  if (edit.kind == Kind::Removed && nodeAClipIndex_ > index) --nodeAClipIndex_;
  updateCurrentOnAirClipIndex();
}

// --- Keys ---

void PlaylistWindowController::keyDown(const PlaylistKey& key) {
  if (key.command) {
    if (key.kind != PlaylistKey::Kind::Character) return;
    if (key.character == U'l' || key.character == U'L') padLockButtonPushed();
    if (key.character == U'u' || key.character == U'U') padUnlockButtonPushed();
    return;
  }
  if (document_->clipCount() == 0) return;
  switch (key.kind) {
    case PlaylistKey::Kind::RightArrow:
      if (key.option) skipToNextButtonPushed();
      break;
    case PlaylistKey::Kind::LeftArrow:
      if (key.option) skipToPreviousButtonPushed();
      break;
    case PlaylistKey::Kind::Space:
      if (key.option) {
        cueButtonPushed();
      } else {
        playButtonPushed();
      }
      break;
    case PlaylistKey::Kind::Character:
      if (key.character == U'k' || key.character == U'K') stopButtonPushed();
      if (key.character == U'p' || key.character == U'P') pauseButtonPushed();
      break;
  }
}

// --- Modes and display ---

void PlaylistWindowController::chainButtonPushed(bool on) { document_->setChain(on); }
void PlaylistWindowController::loopButtonPushed(bool on) { document_->setLoop(on); }
void PlaylistWindowController::cueModeButtonPushed(bool on) { document_->setCueMode(on); }

void PlaylistWindowController::showThumbnailsPushed(bool on) {
  Change change(*this);
  showThumbnails_ = on;
  if (on) editor_.requestAllMissingThumbnails();
}

// --- Thumbnails, catalogue and inspector ---

void PlaylistWindowController::newThumbnailIsAvailable(const std::shared_ptr<const nodes::RGBAImage>& image,
                                                       const platform::Dictionary& userInfo) {
  Change change(*this);
  editor_.newThumbnailIsAvailable(image, userInfo);
}

void PlaylistWindowController::clipsDidChange(const std::vector<std::string>& clipUniqueIDs) {
  Change change(*this);
  editor_.clipsDidChange(clipUniqueIDs);
}

void PlaylistWindowController::inspectorDidChangeClips(const platform::Dictionary& userInfo) {
  Change change(*this);
  editor_.inspectorDidChangeClips(userInfo);
}

// --- Scrubbing ---

void PlaylistWindowController::mouseDownInProgressView(const void*, bool commandKeyHeld) {
  if (commandKeyHeld) clipPlaybackStatusBeforeScrub_ = readNodeA().status;
}

void PlaylistWindowController::setMoviePosition(float fraction, const void*) {
  const std::string a = nodeAUniqueID();
  const auto status = nodeControl_.nodeControlStatus(a);
  if (!status || !reportsThisPlaylist(*status)) return;
  // A node that reports no "remaining" time is scrubbed over the clip's own
  // duration instead of its elapsed time alone.
  const platform::Value reading(*status);
  const double position = reading[nodes::kNodeStatusPositionKey].realOr(0.0);
  double length = position + reading["remaining"].realOr(0.0);
  if (reading["remaining"].isNone()) {
    const std::string clip = reading[nodes::kNodeStatusClipPlaybackUniqueIDKey].stringOr("");
    const auto item = document_->clipAtIndex(clipIndexWithUniqueID(clip));
    length = item ? item->durationInSeconds() : position;
  }
  nodeControl_.nodeControlPlaybackScrubToTime(a, length * fraction);
}

void PlaylistWindowController::mouseUpInProgressView(const void*, bool commandKeyHeld) {
  if (!commandKeyHeld || clipPlaybackStatusBeforeScrub_ != nodes::kPlaybackStatusPlaying) return;
  const NodeReading a = readNodeA();
  if (a.reportsThisPlaylist) nodeControl_.nodeControlPlaybackPlayUniqueIDToStart(a.nodeUniqueID, std::nullopt, 0);
}

// --- Contextual menu ---

std::optional<std::filesystem::path> PlaylistWindowController::equivalentLocalPathForClip(
    const nodes::PlaylistItem& item) const {
  const auto fields = item.fields();
  const platform::Value equivalents = defaults_.objectForKey(kMediaFoldersLocalEquivalentPathsKey);
  if (const auto* entries = equivalents.array(); entries && !fields.mediaFolderUniqueID.empty()) {
    for (const auto& entry : *entries) {
      if (entry["mediaFolderUniqueID"].stringOr("") != fields.mediaFolderUniqueID) continue;
      const std::filesystem::path candidate =
          std::filesystem::path(entry["equivalentLocalPath"].stringOr("")) / fields.relativePathToMediaItem;
      if (fileExists(candidate)) return candidate;
    }
  }
  if (fields.absolutePathToMediaItem.empty()) return std::nullopt;
  const std::filesystem::path own(fields.absolutePathToMediaItem);
  if (fileExists(own)) return own;
  if (fileExists(own.parent_path())) return own.parent_path();
  return std::nullopt;
}

void PlaylistWindowController::revealInFileManager() {
  const auto item = document_->clipAtIndex(lastClickedRow_);
  if (!item || !view_) return;
  if (const auto path = equivalentLocalPathForClip(*item)) view_->revealInFileManager(*path);
}

void PlaylistWindowController::revealInMediaBrowser() {
  if (!view_ || lastClickedRow_ < 0) return;
  std::vector<std::string> clipUniqueIDs;
  const auto selected = document_->selectedClipIndexes();
  if (selected.contains(static_cast<std::size_t>(lastClickedRow_))) {
    for (const std::size_t row : selected) {
      const auto item = document_->clipAtIndex(static_cast<std::int64_t>(row));
      if (item && item->uniqueID()) clipUniqueIDs.push_back(*item->uniqueID());
    }
  } else if (const auto item = document_->clipAtIndex(lastClickedRow_); item && item->uniqueID()) {
    clipUniqueIDs.push_back(*item->uniqueID());
  }
  if (!clipUniqueIDs.empty()) view_->revealClipsInMediaBrowser(clipUniqueIDs);
}

void PlaylistWindowController::showAbsoluteStartTimePanel() {
  if (view_) view_->askAbsoluteStartTime(document_->absoluteStartTime());
}

void PlaylistWindowController::setAbsoluteStartTimeOfLastClickedRow(double startTimeInSeconds) {
  Change change(*this);
  document_->setAbsoluteStartTime(document_->playlistAbsoluteStartTimeWithStartTime(startTimeInSeconds));
  document_->updatePlaylistMovieAndStartTimes();
}

}  // namespace app
