#include "nodes/playlist/VideoPlaylistDocument.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "foundation/FileUniqueIDHash.h"
#include "foundation/GenerateUniqueID.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using Fields = PlaylistItemFields;

bool isOnNode(const PlaylistItem& row, std::string_view nodeUniqueID) {
  return row.online() && row.nodeUniqueID() == nodeUniqueID;
}

ABRollClipPosition otherPosition(ABRollClipPosition position) {
  return position == ABRollClipPosition::NodeA ? ABRollClipPosition::NodeB : ABRollClipPosition::NodeA;
}

}  // namespace

VideoPlaylistDocument::VideoPlaylistDocument() {
  state_.uniqueID = foundation::GenerateUniqueID::generateUniqueID();
  undoManager_.setEventHandler([this](platform::UndoManager::Event event) {
    updateChangeCount(event == platform::UndoManager::Event::Undone ? DocumentChange::Undone : DocumentChange::Redone);
  });
}

void VideoPlaylistDocument::adoptDefaultNodes(const platform::UserDefaults& defaults) {
  if (!nodeAUniqueID()) {
    const platform::Value nodeA = defaults.objectForKey(kDefaultNodeAUniqueIDKey);
    if (const std::string* id = nodeA.string()) setNodeAUniqueID(*id);
  }
  if (!nodeBUniqueID()) {
    const platform::Value nodeB = defaults.objectForKey(kDefaultNodeBUniqueIDKey);
    if (const std::string* id = nodeB.string(); id && *id != kNoNodeUniqueID) setNodeBUniqueID(*id);
  }
}

platform::ObservationToken VideoPlaylistDocument::observeKey(std::string key,
                                                             platform::ObservableObject::KeyCallback callback) {
  return observers_.observeKey(std::move(key), std::move(callback));
}

std::size_t VideoPlaylistDocument::clipCount() const {
  std::lock_guard guard(lock_);
  return state_.playlist.size();
}

std::shared_ptr<PlaylistItem> VideoPlaylistDocument::clipAtIndex(std::int64_t index) const {
  std::lock_guard guard(lock_);
  if (index < 0 || static_cast<std::size_t>(index) >= state_.playlist.size()) return nullptr;
  return state_.playlist[static_cast<std::size_t>(index)];
}

std::optional<std::size_t> VideoPlaylistDocument::indexOfClip(const std::shared_ptr<PlaylistItem>& item) const {
  std::lock_guard guard(lock_);
  auto found = std::find(state_.playlist.begin(), state_.playlist.end(), item);
  if (found == state_.playlist.end()) return std::nullopt;
  return static_cast<std::size_t>(found - state_.playlist.begin());
}

bool VideoPlaylistDocument::hasNodeB() const {
  const std::optional<std::string> nodeB = nodeBUniqueID();
  return nodeB && !nodeB->empty() && *nodeB != kNoNodeUniqueID;
}

void VideoPlaylistDocument::setMode(bool State::*field, const char* key, bool value) {
  bool old = false;
  bool hasRows = false;
  {
    std::lock_guard guard(lock_);
    old = std::exchange(state_.*field, value);
    hasRows = !state_.playlist.empty();
  }
  if (old == value) return;
  if (hasRows) updateChangeCount(DocumentChange::Done);
  observers_.didChangeValueForKey(key, platform::Value(old), platform::Value(value));
}

// ---- Sending to nodes ----

void VideoPlaylistDocument::setDirtyOnNode(PlaylistNode node, bool dirty) {
  set(node == PlaylistNode::A ? &State::dirtyOnNodeA : &State::dirtyOnNodeB, dirty);
}

bool VideoPlaylistDocument::takeDirtyFlag(PlaylistNode node) {
  std::lock_guard guard(lock_);
  return std::exchange(node == PlaylistNode::A ? state_.dirtyOnNodeA : state_.dirtyOnNodeB, false);
}

std::optional<PlaylistNode> VideoPlaylistDocument::nodeForStartClip(
    const std::optional<std::string>& playbackUniqueID) const {
  std::int64_t index = 0;
  if (playbackUniqueID) {
    index = clipIndexWithUniqueID(*playbackUniqueID);
    if (index == kNoClipIndex) return std::nullopt;
  }
  if (!abRoll() || !hasNodeB()) return PlaylistNode::A;
  const std::shared_ptr<PlaylistItem> row = clipAtIndex(index);
  return row && row->abRollClipPosition() == ABRollClipPosition::NodeB ? PlaylistNode::B : PlaylistNode::A;
}

// ---- Queries ----

PlaylistItemAccessor VideoPlaylistDocument::playlistItemAccessorForClipAtIndex(std::int64_t index) {
  std::lock_guard guard(lock_);
  const bool inRange = index >= 0 && static_cast<std::size_t>(index) < state_.playlist.size();
  state_.playlistItemAccessor.setPlaylistItem(inRange ? state_.playlist[static_cast<std::size_t>(index)] : nullptr);
  return state_.playlistItemAccessor;
}

std::int64_t VideoPlaylistDocument::clipIndexWithUniqueID(std::string_view playbackUniqueID) const {
  const Rows rows = playlist();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i]->playbackUniqueID() == playbackUniqueID) return static_cast<std::int64_t>(i);
  }
  return kNoClipIndex;
}

std::int64_t VideoPlaylistDocument::clipIndexWithMediaItemUniqueID(std::string_view mediaItemUniqueID) const {
  const Rows rows = playlist();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i]->mediaItemUniqueID() == mediaItemUniqueID) return static_cast<std::int64_t>(i);
  }
  return kNoClipIndex;
}

std::int64_t VideoPlaylistDocument::holdLastFrameClipIndexForNodeUniqueID(std::string_view nodeUniqueID) const {
  const bool nodeA = nodeAUniqueID() == nodeUniqueID;
  if (!nodeA && nodeBUniqueID() != nodeUniqueID) return kNoClipIndex;
  const Rows rows = playlist();
  for (std::size_t i = rows.size(); i-- > 0;) {
    if (rows[i]->playbackStatus() != kPlaybackStatusEndedOrWaiting) continue;
    if (nodeA || rows[i]->abRollClipPosition() == ABRollClipPosition::NodeB) return static_cast<std::int64_t>(i);
  }
  return kNoClipIndex;
}

std::int64_t VideoPlaylistDocument::nextClipIndexAfterIndex(std::int64_t index, std::string_view nodeUniqueID) const {
  const Rows rows = playlist();
  for (std::int64_t i = std::max<std::int64_t>(index + 1, 0); i < static_cast<std::int64_t>(rows.size()); ++i) {
    if (isOnNode(*rows[static_cast<std::size_t>(i)], nodeUniqueID)) return i;
  }
  return kNoClipIndex;
}

std::shared_ptr<PlaylistItem> VideoPlaylistDocument::nextClipAfterIndex(std::int64_t index,
                                                                        std::string_view nodeUniqueID) const {
  return clipAtIndex(nextClipIndexAfterIndex(index, nodeUniqueID));
}

std::int64_t VideoPlaylistDocument::previousClipIndexBeforeIndex(std::int64_t index,
                                                                 std::string_view nodeUniqueID) const {
  if (index < 1) return kNoClipIndex;
  const Rows rows = playlist();
  for (std::int64_t c = std::min<std::int64_t>(index, static_cast<std::int64_t>(rows.size())) - 1; c >= 0; --c) {
    const bool startsBlock =
        c == 0 || rows[static_cast<std::size_t>(c - 1)]->clipEndBehaviour() != ClipEndBehaviour::Chain;
    if (startsBlock && isOnNode(*rows[static_cast<std::size_t>(c)], nodeUniqueID)) return c;
  }
  return kNoClipIndex;
}

std::shared_ptr<PlaylistItem> VideoPlaylistDocument::previousClipBeforeIndex(std::int64_t index,
                                                                             std::string_view nodeUniqueID) const {
  return clipAtIndex(previousClipIndexBeforeIndex(index, nodeUniqueID));
}

std::int32_t VideoPlaylistDocument::statusWithString(std::string_view status) {
  if (status == "PLAYING") return kPlaybackStatusPlaying;
  if (status == "PAUSED") return kPlaybackStatusPaused;
  if (status == "CUED") return kPlaybackStatusCued;
  return kPlaybackStatusStopped;
}

PlaylistDocumentDataSource::PlaylistItems VideoPlaylistDocument::clipsWithMediaItemAtPath(
    const std::filesystem::path& path) const {
  if (!dataSource_) return {};
  std::optional<PlaylistDocumentDataSource::PlaylistItems> clips =
      dataSource_->clipsWithMediaItemAbsolutePath(path.string(), nodeAUniqueID().value_or(""));
  if (clips && !clips->empty()) return std::move(*clips);
  const std::optional<std::string> hash = foundation::FileUniqueIDHash::hashStringForFileAtPath(path);
  if (!hash) return {};
  return dataSource_->clipsWithMediaItemUniqueID(*hash, std::nullopt, std::nullopt)
      .value_or(PlaylistDocumentDataSource::PlaylistItems{});
}

std::string VideoPlaylistDocument::preferenceNameForLabel(std::int64_t labelIndex,
                                                          const platform::UserDefaults* labelPreferences) {
  if (labelPreferences) {
    char key[48];
    std::snprintf(key, sizeof key, "Label_Name_%lld", static_cast<long long>(labelIndex));
    const platform::Value name = labelPreferences->objectForKey(key);
    if (const std::string* text = name.string()) return *text;
  }
  static constexpr std::array<const char*, 7> kNames = {"Red", "Orange", "Yellow", "Green", "Blue", "Purple", "Gray"};
  if (labelIndex < 1 || labelIndex > static_cast<std::int64_t>(kNames.size())) return "";
  return kNames[static_cast<std::size_t>(labelIndex - 1)];
}

// ---- Computations ----

void VideoPlaylistDocument::updatePlaylistMovieAndStartTimes() {
  Rows rows;
  bool chainMode = true;
  double start = 0.0;
  {
    std::lock_guard guard(lock_);
    rows = state_.playlist;
    chainMode = state_.chain;
    start = state_.absoluteStartTime;
  }
  double t = start;
  double total = 0.0;
  double block = 0.0;
  std::size_t blockBegin = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    PlaylistItem& row = *rows[i];
    if (i == blockBegin) {
      if (start == 0.0) t = 0.0;  // without a start time every block counts from zero
      block = 0.0;
    }
    if (t > kSecondsPerDay) t -= kSecondsPerDay;
    row.setRelativeStartTime(t);
    const double duration = row.durationInSeconds();
    t += duration;
    block += duration;
    total += duration;
    if (i + 1 == rows.size() || !row.chainsIntoNextItem(chainMode)) {
      for (std::size_t j = blockBegin; j <= i; ++j) rows[j]->setBlockDurationInSeconds(block);
      blockBegin = i + 1;
    }
  }
  {
    std::lock_guard guard(lock_);
    state_.playlistDurationInSeconds = total;
    if (!rows.empty()) state_.playlistDurationAsString = rows.front()->timeCodeFormatter().stringForObjectValue(t);
  }
  if (delegate_) delegate_->updateTableView();
}

void VideoPlaylistDocument::updateBubbleDirections() {
  const Rows rows = playlist();
  const bool twoNodes = abRoll() && hasNodeB();
  Rows listA;
  Rows listB;
  ABRollClipPosition position = ABRollClipPosition::NodeA;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!twoNodes) {
      rows[i]->setAbRollClipPosition(ABRollClipPosition::None);
      listA.push_back(rows[i]);
      continue;
    }
    if (i > 0 && rows[i - 1]->clipEndBehaviour() != ClipEndBehaviour::Chain) position = otherPosition(position);
    rows[i]->setAbRollClipPosition(position);
    (position == ABRollClipPosition::NodeB ? listB : listA).push_back(rows[i]);
  }
  if (!dataSource_) return;
  refreshRowsFromCatalogue(listA, nodeAUniqueID().value_or(""));
  refreshRowsFromCatalogue(listB, nodeBUniqueID().value_or(""));
}

void VideoPlaylistDocument::refreshRowsFromCatalogue(const Rows& rows, const std::string& nodeUniqueID) {
  if (rows.empty()) return;
  std::vector<std::string> paths;
  for (const auto& row : rows) paths.push_back(row->absolutePathToMediaItem());
  const PlaylistDocumentDataSource::PlaylistItemsByKey byPath =
      dataSource_->playlistItemsWithAbsolutePaths(paths, nodeUniqueID)
          .value_or(PlaylistDocumentDataSource::PlaylistItemsByKey{});
  auto onlineByPath = [&byPath](const PlaylistItem& row) -> std::shared_ptr<PlaylistItem> {
    auto found = byPath.find(row.absolutePathToMediaItem());
    return found != byPath.end() && found->second && found->second->online() ? found->second : nullptr;
  };

  std::vector<std::string> mediaItemUniqueIDs;
  for (const auto& row : rows) {
    if (onlineByPath(*row)) continue;
    if (std::optional<std::string> id = row->mediaItemUniqueID()) mediaItemUniqueIDs.push_back(std::move(*id));
  }
  PlaylistDocumentDataSource::PlaylistItemsByKey byMediaItem;
  if (!mediaItemUniqueIDs.empty()) {
    byMediaItem = dataSource_->playlistItemsWithMediaItemUniqueIDs(mediaItemUniqueIDs, nodeUniqueID)
                      .value_or(PlaylistDocumentDataSource::PlaylistItemsByKey{});
  }

  for (const auto& row : rows) {
    std::shared_ptr<PlaylistItem> clip = onlineByPath(*row);
    if (!clip) {
      const std::optional<std::string> id = row->mediaItemUniqueID();
      auto found = id ? byMediaItem.find(*id) : byMediaItem.end();
      if (found != byMediaItem.end()) clip = found->second;
    }
    if (!clip) {
      row->setOnline(false);
      continue;
    }
    takeCatalogueClip(*row, *clip);
  }
}

void VideoPlaylistDocument::takeCatalogueClip(PlaylistItem& row, const PlaylistItem& clip) {
  const Fields c = clip.fields();
  row.update([&c](Fields& f) {
    f.nodeUniqueID = c.nodeUniqueID;
    f.nodeName = c.nodeName;
    f.mediaItemUniqueID = c.mediaItemUniqueID;
    f.online = c.online;
    f.absolutePathToMediaItem = c.absolutePathToMediaItem;
    f.relativePathToMediaItem = c.relativePathToMediaItem;
    f.finderLabelIndex = c.finderLabelIndex;
    f.finderLabelName = c.finderLabelName;
    f.uniqueID = c.uniqueID;
    f.invalidReason = c.invalidReason;
    f.languages = c.languages;
    f.mediaFolderPath = c.mediaFolderPath;
    f.mediaFolderUniqueID = c.mediaFolderUniqueID;
    f.languagesDescription = c.languagesDescription;
    f.naturalSizeHeight = c.naturalSizeHeight;
    f.naturalSizeWidth = c.naturalSizeWidth;
    f.validationStatus = c.validationStatus;
  });
  if (row.thumbnail() || !dataSource_) return;
  const Fields f = row.fields();
  dataSource_->requestThumbnailForMediaItemWithUniqueID(f.mediaItemUniqueID.value_or(""), f.mediaFolderUniqueID,
                                                        f.nodeUniqueID, f.thumbnailPositionInSeconds());
}

void VideoPlaylistDocument::setAbRollClipPosition(ABRollClipPosition position,
                                                  const std::shared_ptr<PlaylistItem>& clip) {
  if (!clip) return;
  clip->setAbRollClipPosition(position);
  if (!dataSource_) return;
  const std::string node = (position == ABRollClipPosition::NodeB ? nodeBUniqueID() : nodeAUniqueID()).value_or("");
  const PlaylistDocumentDataSource::PlaylistItems candidates =
      dataSource_->clipsWithMediaItemUniqueID(clip->mediaItemUniqueID().value_or(""), node, std::nullopt)
          .value_or(PlaylistDocumentDataSource::PlaylistItems{});
  for (const auto& candidate : candidates) {
    if (candidate && candidate->online()) {
      takeCatalogueClip(*clip, *candidate);
      return;
    }
  }
  clip->setOnline(false);
}

double VideoPlaylistDocument::playlistAbsoluteStartTimeWithStartTime(double startTime) const {
  return playlistAbsoluteStartTimeWithStartTime(startTime, delegate_ ? delegate_->lastClickedRow() : kNoClipIndex);
}

double VideoPlaylistDocument::playlistAbsoluteStartTimeWithStartTime(double startTime, std::int64_t clickedRow) const {
  if (startTime == 0.0) return 0.0;
  if (clickedRow <= 0) return startTime;
  const Rows rows = playlist();
  double s = startTime;
  for (std::size_t i = std::min(static_cast<std::size_t>(clickedRow), rows.size()); i-- > 0;) {
    s -= rows[i]->durationInSeconds();
    // Adding a day until the time is not negative, in one step: a damaged
    // row may last far longer than a day.
    if (s < 0.0) {
      s = std::fmod(s, kSecondsPerDay) + kSecondsPerDay;
      if (s >= kSecondsPerDay) s -= kSecondsPerDay;  // a whole number of days back is 0
    }
  }
  return s;
}

// ---- Change count ----

void VideoPlaylistDocument::updateChangeCount(DocumentChange change) {
  const bool wasEdited = isDocumentEdited();
  switch (change) {
    case DocumentChange::Done:
    case DocumentChange::Redone:
      ++changeCount_;
      break;
    case DocumentChange::Undone:
      --changeCount_;
      break;
    case DocumentChange::Cleared:
      changeCount_ = 0;
      break;
  }
  if (wasEdited != isDocumentEdited()) {
    observers_.didChangeValueForKey("documentEdited", platform::Value(wasEdited), platform::Value(!wasEdited));
  }
}

// ---- Script commands ----

void VideoPlaylistDocument::handlePushPlaybackButton() {
  if (delegate_) delegate_->playButtonPushed();
}

void VideoPlaylistDocument::handleStopPlayback() {
  platform::reportDiagnostic(platform::DiagnosticLevel::Info, kScriptStopMessage);
  if (delegate_) delegate_->stopButtonPushed();
}

void VideoPlaylistDocument::handlePausePlayback() {
  if (delegate_) delegate_->pauseButtonPushed();
}

bool VideoPlaylistDocument::asIsPlaying() const { return delegate_ && delegate_->isPlaying(); }

std::int64_t VideoPlaylistDocument::asPlayingClipIndex() const {
  return asIsPlaying() ? delegate_->currentlyPlayingClipIndex() + 1 : 0;
}

double VideoPlaylistDocument::asElapsedTime() const { return delegate_ ? delegate_->elapsedTimeInSeconds() : 0.0; }

double VideoPlaylistDocument::asRemainingTime() const { return delegate_ ? delegate_->remainingTimeInSeconds() : 0.0; }

}  // namespace nodes
