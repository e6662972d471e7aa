// PlaylistWindowController: following what the nodes report: row status
// marks by owning node, each node's clip index, the clip on air, the counters
// and the auto-cue after a clip has ended.

#include <chrono>

#include "app/playlist/PlaylistCounters.h"
#include "app/playlist/PlaylistWindowController.h"
#include "platform/NotificationCenter.h"

namespace app {
namespace {

using nodes::VideoPlaylistDocument;

std::int32_t statusOf(const platform::Dictionary& userInfo) {
  return VideoPlaylistDocument::statusWithString(platform::Value(userInfo)[nodes::kNodeStatusStatusKey].stringOr(""));
}

std::string clipIDOf(const platform::Dictionary& userInfo) {
  return platform::Value(userInfo)[nodes::kNodeStatusClipPlaybackUniqueIDKey].stringOr("");
}

bool isActive(std::int32_t status) {
  return status == nodes::kPlaybackStatusPaused || status == nodes::kPlaybackStatusCued ||
         status == nodes::kPlaybackStatusPlaying;
}

}  // namespace

// Node B owns the rows at A/B position 2, node A every other row; only the
// owner clears a row it no longer reports.
void PlaylistWindowController::resetStaleRows(std::int64_t keptRow, bool fromA, bool fromB) {
  const auto rows = document_->playlist();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (static_cast<std::int64_t>(i) == keptRow) continue;
    const bool ownedByB = rows[i]->abRollClipPosition() == nodes::ABRollClipPosition::NodeB;
    if ((ownedByB && fromB) || (!ownedByB && fromA)) rows[i]->setPlaybackStatus(nodes::kPlaybackStatusStopped);
  }
}

void PlaylistWindowController::playbackStatusDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender) || !reportsThisPlaylist(userInfo)) return;
  Change change(*this);
  const std::int64_t idx = clipIndexWithUniqueID(clipIDOf(userInfo));
  const bool fromA = sender == nodeAUniqueID();
  const bool fromB = document_->abRoll() && sender == nodeBUniqueID();
  const std::int32_t s = statusOf(userInfo);

  resetStaleRows(idx, fromA, fromB);

  if (s == nodes::kPlaybackStatusStopped && !isRunning_) {
    if (fromA) nodeAClipIndex_ = -1;
    if (fromB) nodeBClipIndex_ = -1;
    currentlyPlayingNodeUniqueID_.reset();
    stopButtonPushed();
    updateCurrentOnAirClipIndex();
    return;
  }

  std::int64_t hold = -1;
  if (const auto item = document_->clipAtIndex(idx)) {
    if (s == nodes::kPlaybackStatusStopped) {
      // The clip ended while the window runs: it holds its last frame, or it
      // waits for the next cue.
      if (item->clipEndBehaviour() == nodes::ClipEndBehaviour::HoldLastFrame || document_->cueMode()) {
        item->setPlaybackStatus(nodes::kPlaybackStatusEndedOrWaiting);
        hold = idx;
      } else {
        item->setPlaybackStatus(nodes::kPlaybackStatusStopped);
      }
    } else {
      item->setPlaybackStatus(s);
      if (!isRunning_) setIsRunning(true);
    }
  }

  if (fromA) {
    nodeAClipIndex_ = idx;
    if (isActive(s)) currentlyPlayingNodeUniqueID_ = std::string(sender);
  }
  if (fromB) {
    nodeBClipIndex_ = idx;
    // A cued node B waits for its turn; it drives the counters only once it plays.
    if (s == nodes::kPlaybackStatusPaused || s == nodes::kPlaybackStatusPlaying)
      currentlyPlayingNodeUniqueID_ = std::string(sender);
  }
  updateCurrentOnAirClipIndex();

  if (hold >= 0 && defaults_.boolForKey(kAutoCueDefaultsKey)) scheduleAutoCue(std::string(sender));
}

void PlaylistWindowController::clipUniqueIDDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender)) return;
  Change change(*this);
  const std::int64_t idx = clipIndexWithUniqueID(clipIDOf(userInfo));
  const bool fromA = sender == nodeAUniqueID();
  const bool fromB = document_->abRoll() && sender == nodeBUniqueID();

  if (reportsThisPlaylist(userInfo)) {
    resetStaleRows(idx, fromA, fromB);
    if (idx < 0) return;
    document_->clipAtIndex(idx)->setPlaybackStatus(statusOf(userInfo));
    if (fromA) nodeAClipIndex_ = idx;
    if (fromB) nodeBClipIndex_ = idx;
  } else {
    if (nodeAClipIndex_ < 0 && nodeBClipIndex_ < 0) return;
    resetCountersForNode(sender, fromA, fromB);
    if (fromA) nodeAClipIndex_ = -1;
    if (fromB) nodeBClipIndex_ = -1;
  }
  updateCurrentOnAirClipIndex();
}

void PlaylistWindowController::clipPositionDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender)) return;
  if (!reportsThisPlaylist(userInfo)) {
    if (nodeAClipIndex_ >= 0 || nodeBClipIndex_ >= 0) {
      Change change(*this);
      resetCountersForNode(sender, sender == nodeAUniqueID(), document_->abRoll() && sender == nodeBUniqueID());
    }
    return;
  }
  if (nodeAClipIndex_ < 0 && nodeBClipIndex_ < 0) return;
  if (currentlyPlayingNodeUniqueID_ != sender) return;
  const std::int64_t k = clipIndexWithUniqueID(clipIDOf(userInfo));
  const auto item = document_->clipAtIndex(k);
  if (!item) return;

  Change change(*this);
  const double position = platform::Value(userInfo)[nodes::kNodeStatusPositionKey].realOr(0.0);
  const ClipCounters figures = countersAtPosition(*document_, k, position);
  timeCodeFormatter_.setFramesPerSeconds(item->framesPerSecond());
  timeCodeFormatter_.setDropFrame(item->dropFrame());
  counters_.itemElapsed = figures.itemElapsed;
  counters_.itemRemaining = figures.itemRemaining;
  counters_.playlistElapsed = figures.blockElapsed;
  counters_.playlistRemaining = figures.blockRemaining;
  counters_.itemProgress = figures.itemProgress;
  counters_.playlistProgress = figures.blockProgress;
}

void PlaylistWindowController::playlistUniqueIDDidChange(std::string_view sender,
                                                         const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender)) return;
  Change change(*this);
  if (reportsThisPlaylist(userInfo) || (nodeAClipIndex_ < 0 && nodeBClipIndex_ < 0)) return;
  // The node moved on to another playlist: what it showed here is over (the
  // other node of an A/B pair keeps its rows).
  resetCountersForNode(sender, sender == nodeAUniqueID(), document_->abRoll() && sender == nodeBUniqueID());
  bool othersActive = false;
  for (const auto& item : document_->playlist()) {
    if (item->nodeUniqueID() == sender) item->setPlaybackStatus(nodes::kPlaybackStatusStopped);
    othersActive = othersActive || isActive(item->playbackStatus());
  }
  if (!othersActive) setIsRunning(false);
}

void PlaylistWindowController::loopModeDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender) || !reportsThisPlaylist(userInfo)) return;
  document_->setLoop(platform::Value(userInfo)[nodes::kNodeStatusLoopModeKey].booleanOr(false));
}

void PlaylistWindowController::chainModeDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender) || !reportsThisPlaylist(userInfo)) return;
  document_->setChain(platform::Value(userInfo)[nodes::kNodeStatusChainModeKey].booleanOr(false));
}

void PlaylistWindowController::cueModeDidChange(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender) || !reportsThisPlaylist(userInfo)) return;
  document_->setCueMode(platform::Value(userInfo)[nodes::kNodeStatusCueModeKey].booleanOr(false));
}

void PlaylistWindowController::setItemLocked(std::string_view playbackUniqueID, bool locked) {
  if (const auto item = document_->clipAtIndex(clipIndexWithUniqueID(playbackUniqueID))) item->setLocked(locked);
}

void PlaylistWindowController::unlockAllItems() {
  for (const auto& item : document_->playlist()) item->setLocked(false);
}

void PlaylistWindowController::lockedClipsChanged(std::string_view sender, const platform::Dictionary& userInfo) {
  if (!isForThisWindow(sender)) return;
  Change change(*this);
  if (!reportsThisPlaylist(userInfo)) {
    if (lastLockedClips_ && !lastLockedClips_->empty()) {
      unlockAllItems();
      lastLockedClips_.reset();
    }
    return;
  }
  if (lastLockedClips_) {
    for (const auto& id : *lastLockedClips_) setItemLocked(id, false);
  }
  // A copy: the status dictionary is a temporary, and the list is posted on below.
  const platform::Value list = platform::Value(userInfo)[nodes::kNodeStatusLockedClipsKey];
  if (const auto* array = list.array()) {
    std::vector<std::string> ids;
    for (const auto& entry : *array) {
      if (const auto* id = entry.string()) ids.push_back(*id);
    }
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{kClipsUniqueIDToLockInInspectorNotification, this, list, {}});
    for (const auto& id : ids) setItemLocked(id, true);
    lastLockedClips_ = std::move(ids);
  } else {
    lastLockedClips_.reset();
  }
}

// Without A/B roll the clip on air follows node A; with it, the rows.
void PlaylistWindowController::updateCurrentOnAirClipIndex() {
  Change change(*this);
  if (!isABActive()) {
    const NodeReading a = readNodeA();
    if (a.status == nodes::kPlaybackStatusStopped) {
      currentOnAirClipIndex_ = -1;
      updateItemTotalDuration();
      updateCounters();
      setIsRunning(false);
      return;
    }
    const std::int64_t idx = a.reportsThisPlaylist ? a.clipIndex : -1;
    if (idx == currentOnAirClipIndex_) return;
    currentOnAirClipIndex_ = idx;
    updateItemTotalDuration();
    updateCounters();
    if (idx >= 0) rowToCentre_ = idx;
    return;
  }
  const auto rows = document_->playlist();
  std::int64_t onAir = -1;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto s = rows[i]->playbackStatus();
    if (s == nodes::kPlaybackStatusPlaying || s == nodes::kPlaybackStatusPaused) onAir = static_cast<std::int64_t>(i);
  }
  if (onAir < 0) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i]->playbackStatus() == nodes::kPlaybackStatusCued) {
        onAir = static_cast<std::int64_t>(i);
        break;
      }
    }
  }
  if (onAir == currentOnAirClipIndex_) return;
  currentOnAirClipIndex_ = onAir;
  updateItemTotalDuration();
  updateCounters();
  if (onAir >= 0) rowToCentre_ = onAir;
}

void PlaylistWindowController::updateCounters() {
  Change change(*this);
  const double itemTotal = counters_.itemTotal;
  counters_ = Counters{};
  counters_.itemTotal = itemTotal;
  if (const auto item = document_->clipAtIndex(currentOnAirClipIndex_)) {
    counters_.itemRemaining = item->durationInSeconds();
    counters_.playlistRemaining = item->blockDurationInSeconds();
  }
}

void PlaylistWindowController::updateItemTotalDuration() {
  Change change(*this);
  const auto item = document_->clipAtIndex(currentOnAirClipIndex_);
  counters_.itemTotal = item ? item->durationInSeconds() : 0.0;
}

// Clears what the window showed of a run: both clip indexes become 0 (not
// -1, so that positions of another playlist keep resetting), every row mark
// and every counter.
void PlaylistWindowController::resetCounters() {
  Change change(*this);
  nodeAClipIndex_ = 0;
  nodeBClipIndex_ = 0;
  for (const auto& item : document_->playlist()) item->setPlaybackStatus(nodes::kPlaybackStatusStopped);
  counters_ = Counters{};
}

// A node that left this playlist (a cue resends the whole playlist, which it
// clears first) takes only its own marks along: with A/B roll the other node's
// cued row stays marked, as that node still reports it.
void PlaylistWindowController::resetCountersForNode(std::string_view sender, bool fromA, bool fromB) {
  if (!isABActive()) {
    resetCounters();
    return;
  }
  Change change(*this);
  resetStaleRows(-1, fromA, fromB);
  if (fromA) nodeAClipIndex_ = 0;
  if (fromB) nodeBClipIndex_ = 0;
  if (!currentlyPlayingNodeUniqueID_ || *currentlyPlayingNodeUniqueID_ == sender) counters_ = Counters{};
}

// Node B leads the counters at load only when it plays or pauses, as in the
// tracking above, and a node B without a clip of this playlist never takes
// the lead away from node A.
void PlaylistWindowController::updatePlaybackStatusAfterAwakeFromNib() {
  Change change(*this);
  const NodeReading a = readNodeA();
  const NodeReading b = isABActive() ? readNodeB() : NodeReading{};
  const auto take = [this](const NodeReading& node, std::int64_t& clipIndex, bool leads) {
    clipIndex = node.clipIndex;
    if (clipIndex < 0) {
      if (currentlyPlayingNodeUniqueID_ == node.nodeUniqueID) currentlyPlayingNodeUniqueID_.reset();
      return;
    }
    if (!isRunning_ && node.status != nodes::kPlaybackStatusStopped) setIsRunning(true);
    if (leads) currentlyPlayingNodeUniqueID_ = node.nodeUniqueID;
    document_->clipAtIndex(clipIndex)->setPlaybackStatus(node.status);
  };
  if (a.reportsThisPlaylist) take(a, nodeAClipIndex_, true);
  if (b.reportsThisPlaylist) {
    take(b, nodeBClipIndex_, b.status == nodes::kPlaybackStatusPlaying || b.status == nodes::kPlaybackStatusPaused);
  }
  updateCurrentOnAirClipIndex();

  for (const auto& node : {a, b}) {
    if (!node.known || !nodeControl_.hasNodeConnection(node.nodeUniqueID)) continue;
    if (const auto status = nodeControl_.nodeControlStatus(node.nodeUniqueID))
      clipPositionDidChange(node.nodeUniqueID, *status);
  }
}

void PlaylistWindowController::scheduleAutoCue(const std::string& nodeUniqueID) {
  const auto delay = std::chrono::duration_cast<platform::Clock::Duration>(
      std::chrono::duration<double>(autoCueDelaySeconds()));
  delayed_.perform(delay, [this, nodeUniqueID] { autoCueNode(nodeUniqueID); });
}

}  // namespace app
