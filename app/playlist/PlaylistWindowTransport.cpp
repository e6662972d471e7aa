// PlaylistWindowController: the transport (play, pause, stop, cue, skips,
// double click), the A/B roll rules and auto-cue.

#include "app/playlist/PlaylistWindowController.h"

#include "app/playlist/AuthenticationAlert.h"
#include "foundation/CVNAlertUtilities.h"

namespace app {
namespace {

bool isPlayingOrPaused(std::int32_t s) { return s == nodes::kPlaybackStatusPlaying || s == nodes::kPlaybackStatusPaused; }
bool isActive(std::int32_t s) { return isPlayingOrPaused(s) || s == nodes::kPlaybackStatusCued; }

}  // namespace

// --- Helpers ---

std::int64_t PlaylistWindowController::startRow() const { return selectedRow().value_or(0); }

std::optional<std::string> PlaylistWindowController::playbackUniqueIDOfRow(std::int64_t row) const {
  const auto item = document_->clipAtIndex(row);
  if (!item) return std::nullopt;
  return item->playbackUniqueID();
}

bool PlaylistWindowController::passesAuthenticationGate(Gate gate) {
  const bool bothNodes = gate == Gate::Play ? document_->abRoll() && !document_->nodeBName().value_or("").empty()
                                            : isABActive();
  const bool unlocked = bothNodes ? nodeControl_.isNodeUnlocked(nodeAUniqueID()) &&
                                        nodeControl_.isNodeUnlocked(nodeBUniqueID())
                                  : nodeControl_.isNodeUnlocked(nodeAUniqueID());
  if (unlocked) return true;
  if (operatorChoosesToAuthenticate()) tryUnlockingNodes();
  return false;
}

void PlaylistWindowController::playlistPlaybackPlay(const std::string& nodeUniqueID,
                                                    const std::optional<std::string>& clipUniqueID) {
  nodeControl_.nodeControlPlaybackPlayUniqueIDToStart(nodeUniqueID, clipUniqueID, 0);
}

void PlaylistWindowController::sendDocumentFromRow(std::int64_t row, bool cue) {
  const auto clip = playbackUniqueIDOfRow(row);
  if (!clip) return;
  nodeControl_.nodeControlSendAndStartPlaylistDocument(document_, clip, 0.0, cue);
}

// After Play, Cue or a double click with A/B roll: the other node gets its
// next row, at once, or once the clip it plays has had time to start.
void PlaylistWindowController::followUp(const std::string& nodeUniqueID, std::int32_t status) {
  if (status == nodes::kPlaybackStatusCued) return;
  if (status == nodes::kPlaybackStatusPlaying) {
    scheduleAutoCue(nodeUniqueID);
    return;
  }
  autoCueNode(nodeUniqueID);
}

// --- Play ---

void PlaylistWindowController::playButtonPushed() {
  Change change(*this);
  const NodeReading a = readNodeA();
  const NodeReading b = readNodeB();
  if (document_->clipCount() == 0) return;
  if (!passesAuthenticationGate(Gate::Play)) return;

  const bool ab = isABActive();
  if (a.status == nodes::kPlaybackStatusPaused && a.reportsThisPlaylist) {
    playlistPlaybackPlay(a.nodeUniqueID, std::nullopt);
    return;
  }
  if (ab && b.status == nodes::kPlaybackStatusPaused && b.reportsThisPlaylist) {
    playlistPlaybackPlay(b.nodeUniqueID, std::nullopt);
    return;
  }

  if (!ab) {
    if (a.status == nodes::kPlaybackStatusCued && a.reportsThisPlaylist) {
      playlistPlaybackPlay(a.nodeUniqueID, std::nullopt);
      return;
    }
    if (document_->cueMode()) {
      std::int64_t k = -1;
      if (isPlayingOrPaused(a.status) && a.clipIndex >= 0) {
        k = a.clipIndex;
      } else if (const auto hold = document_->holdLastFrameClipIndexForNodeUniqueID(a.nodeUniqueID); hold >= 0) {
        k = document_->nextClipIndexAfterIndex(hold, a.nodeUniqueID);
      }
      if (k < 0) k = selectedRow().value_or(0);
      if (k == currentOnAirClipIndex_) return;
      cueClipAtIndex(k);
      setIsRunning(true);
      return;
    }
    const auto item = document_->clipAtIndex(startRow());
    if (!item || !item->online()) return;
    nodeControl_.nodeControlSendAndStartPlaylistDocument(document_, item->playbackUniqueID(), 0.0, false);
    setIsRunning(true);
    return;
  }

  // A/B roll: start whichever node waits cued, the one whose row comes first.
  const bool cuedA = a.status == nodes::kPlaybackStatusCued;
  const bool cuedB = b.status == nodes::kPlaybackStatusCued;
  std::optional<bool> aFirst;
  if (cuedA && cuedB) {
    aFirst = a.clipIndex <= b.clipIndex;
  } else if (cuedA) {
    aFirst = true;
  } else if (cuedB) {
    aFirst = false;
  }
  if (aFirst) {
    const NodeReading& first = *aFirst ? a : b;
    const NodeReading& other = *aFirst ? b : a;
    playlistPlaybackPlay(first.nodeUniqueID, std::nullopt);
    if (!defaults_.boolForKey(kAutoCueDefaultsKey) && isRunning_) return;
    followUp(other.nodeUniqueID, other.status);
    return;
  }

  const auto busy = [this](const NodeReading& node) {
    return (isPlayingOrPaused(node.status) && node.reportsThisPlaylist) ||
           (!node.clipUniqueID.empty() && node.status == nodes::kPlaybackStatusStopped && isRunning_);
  };
  const bool busyA = busy(a);
  const bool busyB = busy(b);
  if (busyA && busyB) {
    autoCueNode(a.clipIndex >= b.clipIndex ? b.nodeUniqueID : a.nodeUniqueID);
    return;
  }
  if (busyA || busyB) return;
  // While running there is no start row to take from the table; the
  // selection (or row 0) is the sensible place to start again.
  const std::int64_t r = startRow();
  if (!document_->clipAtIndex(r)) return;
  sendDocumentFromRow(r, false);
  setIsRunning(true);
  if (ownerNodeOfRow(r) == b.nodeUniqueID) {
    followUp(a.nodeUniqueID, a.status);
  } else {
    followUp(b.nodeUniqueID, b.status);
  }
}

// --- Pause and Stop ---

// With A/B roll the node that plays leads, whichever of the two it is.
void PlaylistWindowController::pauseButtonPushed() {
  Change change(*this);
  if (isABActive()) {
    if (!currentlyPlayingNodeUniqueID_) return;
    const NodeReading playing = readNode(*currentlyPlayingNodeUniqueID_);
    if (playing.reportsThisPlaylist) nodeControl_.nodeControlPlaybackPause(playing.nodeUniqueID);
    return;
  }
  const NodeReading a = readNodeA();
  if (a.reportsThisPlaylist) nodeControl_.nodeControlPlaybackPause(a.nodeUniqueID);
}

// Every node of the pair that has this playlist stops, node B included when
// node A has already moved on.
void PlaylistWindowController::stopButtonPushed() {
  Change change(*this);
  delayed_.cancelAll();
  const NodeReading a = readNodeA();
  bool stopped = false;
  if (isABActive()) {
    const NodeReading b = readNodeB();
    if (a.reportsThisPlaylist) nodeControl_.nodeControlPlaybackStop(a.nodeUniqueID);
    if (b.reportsThisPlaylist) nodeControl_.nodeControlPlaybackStop(b.nodeUniqueID);
    stopped = a.reportsThisPlaylist || b.reportsThisPlaylist;
    if (stopped) {
      nodeAClipIndex_ = -1;
      nodeBClipIndex_ = -1;
      currentlyPlayingNodeUniqueID_.reset();
    }
  } else if (a.reportsThisPlaylist) {
    nodeControl_.nodeControlPlaybackStop(a.nodeUniqueID);
    stopped = true;
  }
  if (stopped) {
    setIsRunning(false);
    resetCounters();
  }
  for (const auto& item : document_->playlist()) item->setPlaybackStatus(nodes::kPlaybackStatusStopped);
}

// --- Cue and double click ---

void PlaylistWindowController::cueButtonPushed() {
  Change change(*this);
  const NodeReading a = readNodeA();
  const NodeReading b = readNodeB();
  const std::int64_t r = startRow();
  if (!passesAuthenticationGate(Gate::Cue)) return;
  currentOnAirClipIndex_ = -1;
  cueClipAtIndex(r);
  if (!isABActive()) return;
  if (!defaults_.boolForKey(kAutoCueDefaultsKey) && isRunning_) return;
  if (ownerNodeOfRow(r) == b.nodeUniqueID) {
    followUp(a.nodeUniqueID, a.status);
  } else {
    followUp(b.nodeUniqueID, b.status);
  }
}

void PlaylistWindowController::doubleClick(std::int64_t row) {
  Change change(*this);
  if (!document_->clipAtIndex(row)) return;
  if (!passesAuthenticationGate(Gate::DoubleClick)) return;
  if (isABActive()) {
    const NodeReading a = readNodeA();
    const NodeReading b = readNodeB();
    cueClipAtIndex(row);
    if (!defaults_.boolForKey(kAutoCueDefaultsKey) && isRunning_) return;
    if (ownerNodeOfRow(row) == b.nodeUniqueID) {
      followUp(a.nodeUniqueID, a.status);
    } else {
      followUp(b.nodeUniqueID, b.status);
    }
    return;
  }
  if (document_->cueMode()) {
    cueClipAtIndex(row);
  } else {
    playClipAtIndex(row);
  }
}

// --- Skips ---

void PlaylistWindowController::skipToPreviousButtonPushed() {
  Change change(*this);
  const NodeReading a = readNodeA();
  if (document_->clipCount() == 0) return;
  delayed_.cancelAll();
  currentOnAirClipIndex_ = -1;
  if (isABActive()) {
    skipToPreviousWithABRoll();
  } else {
    skipToPreviousOnNodeA(a);
  }
}

void PlaylistWindowController::skipToPreviousWithABRoll() {
  const auto rows = document_->playlist();
  const auto count = static_cast<std::int64_t>(rows.size());
  std::int64_t c = -1;
  for (std::int64_t i = 0; i < count; ++i) {
    const auto s = rows[static_cast<std::size_t>(i)]->playbackStatus();
    if (isPlayingOrPaused(s) || s == nodes::kPlaybackStatusEndedOrWaiting) c = i;
  }
  if (c < 0) {
    // Nothing on air: go back from the first cued row to the nearest online row.
    for (std::int64_t i = 0; i < count && c < 0; ++i) {
      if (rows[static_cast<std::size_t>(i)]->playbackStatus() != nodes::kPlaybackStatusCued) continue;
      for (std::int64_t j = i - 1; j >= 0; --j) {
        if (rows[static_cast<std::size_t>(j)]->online()) {
          c = j;
          break;
        }
      }
    }
    if (c < 0) return;
  }
  while (c > 0 && rows[static_cast<std::size_t>(c - 1)]->clipEndBehaviour() == nodes::ClipEndBehaviour::Chain) --c;
  cueClipAtIndex(c);
}

// A node that reports this playlist without a clip of it has nothing to step
// back from: nothing happens.
void PlaylistWindowController::skipToPreviousOnNodeA(const NodeReading& a) {
  if (!a.reportsThisPlaylist || !isActive(a.status) || a.clipIndex < 0) return;
  nodeControl_.setPlaylistDocument(a.nodeUniqueID, document_);
  std::int64_t target = a.clipIndex;
  if (a.position <= kRestartClipThresholdSeconds &&
      !(document_->cueMode() && a.status != nodes::kPlaybackStatusCued)) {
    target = document_->previousClipIndexBeforeIndex(a.clipIndex, a.nodeUniqueID);
    if (target < 0) {
      if (!document_->loop()) return;
      target = static_cast<std::int64_t>(document_->clipCount()) - 1;
    }
  }
  const auto clip = playbackUniqueIDOfRow(target);
  if (!clip) return;
  if (a.status == nodes::kPlaybackStatusPlaying) {
    playlistPlaybackPlay(a.nodeUniqueID, clip);
  } else {
    nodeControl_.nodeControlPlaybackCue(a.nodeUniqueID, *clip, 0);
  }
}

void PlaylistWindowController::skipToNextButtonPushed() {
  Change change(*this);
  const NodeReading a = readNodeA();
  if (document_->clipCount() == 0) return;
  delayed_.cancelAll();
  if (isABActive()) {
    const auto rows = document_->playlist();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i]->playbackStatus() == nodes::kPlaybackStatusStopped) continue;
      rows[i]->setPlaybackStatus(nodes::kPlaybackStatusEndedOrWaiting);
      const std::string owner = ownerNodeOfRow(static_cast<std::int64_t>(i));
      nodeControl_.setPlaylistDocument(owner, document_);
      forceCueNode(owner);
      return;
    }
    return;
  }
  skipToNextOnNodeA(a);
}

void PlaylistWindowController::skipToNextOnNodeA(const NodeReading& a) {
  if (!a.reportsThisPlaylist || !isActive(a.status) || a.clipIndex < 0) return;
  const auto current = document_->clipAtIndex(a.clipIndex);
  const bool chained = current->clipEndBehaviour() == nodes::ClipEndBehaviour::Chain;
  std::int64_t next = document_->nextClipIndexAfterIndex(a.clipIndex, a.nodeUniqueID);
  if (next < 0 || next >= static_cast<std::int64_t>(document_->clipCount())) {
    if (!document_->loop()) return;
    next = 0;
  }
  const auto clip = playbackUniqueIDOfRow(next);
  if (!clip) return;
  nodeControl_.setPlaylistDocument(a.nodeUniqueID, document_);
  const bool cueIt = (a.status == nodes::kPlaybackStatusPaused || a.status == nodes::kPlaybackStatusCued) && !chained;
  if (cueIt) {
    nodeControl_.nodeControlPlaybackCue(a.nodeUniqueID, *clip, 0);
  } else {
    playlistPlaybackPlay(a.nodeUniqueID, clip);
  }
}

// --- Rows and auto-cue ---

void PlaylistWindowController::playClipAtIndex(std::int64_t index) {
  if (!document_->clipAtIndex(index) || !nodeControl_.hasNodeConnection(ownerNodeOfRow(index))) return;
  sendDocumentFromRow(index, false);
}

void PlaylistWindowController::cueClipAtIndex(std::int64_t index) {
  if (!document_->clipAtIndex(index) || !nodeControl_.hasNodeConnection(ownerNodeOfRow(index))) return;
  sendDocumentFromRow(index, true);
}

void PlaylistWindowController::autoCueNode(const std::string& nodeUniqueID) { cueNextClip(nodeUniqueID, false); }

void PlaylistWindowController::forceCueNode(const std::string& nodeUniqueID) { cueNextClip(nodeUniqueID, true); }

// Cues, on the node, the row after the one it plays, holds or (forced) has
// cued; from the selection when it has none.
void PlaylistWindowController::cueNextClip(const std::string& nodeUniqueID, bool force) {
  Change change(*this);
  if (nodeUniqueID.empty() || !nodeControl_.hasNodeConnection(nodeUniqueID)) return;
  const NodeReading node = readNode(nodeUniqueID);
  if (!force && node.status == nodes::kPlaybackStatusCued) return;
  const bool fromCurrentClip = force ? isActive(node.status) : isPlayingOrPaused(node.status);
  std::int64_t k = -1;
  if (fromCurrentClip) {
    k = node.clipIndex;
  } else {
    k = document_->holdLastFrameClipIndexForNodeUniqueID(nodeUniqueID);
    if (k < 0) k = selectedRow().value_or(-1);
  }
  const auto next = document_->nextClipAfterIndex(k, nodeUniqueID);
  if (!next) return;
  nodeControl_.nodeControlSendAndStartPlaylistDocument(document_, next->playbackUniqueID(), 0.0, true);
}

// --- Master node and external switchers ---

std::string PlaylistWindowController::masterNodeName() const {
  if (!isABActive()) return document_->nodeAName().value_or("");
  const std::string a = nodeAUniqueID();
  const std::string b = nodeBUniqueID();
  const auto statusA = nodeControl_.nodeControlStatus(a);
  const auto statusB = nodeControl_.nodeControlStatus(b);
  const NodeReading readingA = readNode(a);
  const NodeReading readingB = readNode(b);
  if (readingA.reportsThisPlaylist && readingB.reportsThisPlaylist) {
    if (isActive(readingA.status) && isActive(readingB.status)) {
      const auto stampA = platform::Value(statusA.value_or(platform::Dictionary{}))["lastCommandTimeStamp"].date();
      const auto stampB = platform::Value(statusB.value_or(platform::Dictionary{}))["lastCommandTimeStamp"].date();
      return stampA && stampB && *stampA < *stampB ? b : a;
    }
    return isActive(readingB.status) ? b : a;
  }
  if (readingA.reportsThisPlaylist) return a;
  return isActive(readingB.status) ? b : a;
}

void PlaylistWindowController::externalMixerTriggeredPlaybackStart() { playButtonPushed(); }

void PlaylistWindowController::externalMixerTriggeredPlaybackStop() {
  stopButtonPushed();
  if (defaults_.boolForKey(kExternalMixerAutoCueNextItemKey)) playButtonPushed();
}

}  // namespace app
