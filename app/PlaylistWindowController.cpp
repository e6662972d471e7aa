// PlaylistWindowController: creation, node identity, controls, lock and
// redundant mode, and the view state. Tracking is in
// PlaylistWindowTracking.cpp, the transport in PlaylistWindowTransport.cpp.

#include "app/PlaylistWindowController.h"

#include <set>
#include <utility>

#include "app/ElapsedFormatter.h"
#include "foundation/CVNAlertUtilities.h"

namespace app {
namespace {

using nodes::VideoPlaylistDocument;

constexpr const char* kUntitledTitle = "Untitled";

bool isUnsetNode(const std::optional<std::string>& id) {
  return !id || id->empty() || *id == nodes::kNoNodeUniqueID;
}

}  // namespace

PlaylistWindowController::PlaylistWindowController(std::shared_ptr<VideoPlaylistDocument> document,
                                                   PlaylistNodeControl& nodeControl, platform::UserDefaults& defaults)
    : document_(std::move(document)), nodeControl_(nodeControl), defaults_(defaults) {
  timeCodeFormatter_.setFormat(nodes::kTimeFormatTimeCode);
  document_->setDelegate(this);
  for (const char* key : {"loop", "chain", "cueMode", "abRoll"}) {
    documentObservations_.push_back(document_->observeKey(key, [this](const auto&...) { updateTableView(); }));
  }
  state_ = buildState();
}

PlaylistWindowController::~PlaylistWindowController() {
  for (auto& wait : answerWaits_) wait->cancel();
  delayed_.cancelAll();
  documentObservations_.clear();
  if (document_->delegate() == this) document_->setDelegate(nullptr);
}

void PlaylistWindowController::setView(PlaylistView* view) {
  view_ = view;
  render();
}

// --- Loading ---

void PlaylistWindowController::windowDidLoad() {
  Change change(*this);
  if (document_->needDefaultValues()) setDefaultValues();
  chooseNodesFromNodeList();
  updateUIPlaybackControlStatus();
  updatePlaybackStatusAfterAwakeFromNib();
  document_->updateChangeCount(VideoPlaylistDocument::DocumentChange::Cleared);
}

void PlaylistWindowController::setDefaultValues() {
  Change change(*this);
  document_->setChain(defaults_.boolForKey(kChainModeDefaultsKey));
  document_->setCueMode(defaults_.boolForKey(kCueModeDefaultsKey));
  document_->setLoop(defaults_.boolForKey(kLoopModeDefaultsKey));
  document_->setNodeAUniqueID(defaults_.stringForKey(nodes::kDefaultNodeAUniqueIDKey));
  document_->setNodeBUniqueID(defaults_.stringForKey(nodes::kDefaultNodeBUniqueIDKey));
  document_->setAbRoll(defaults_.boolForKey(kABRollDefaultsKey));
}

// Node A is the first connected node while the document names none; the
// names shown follow the data source's list.
void PlaylistWindowController::chooseNodesFromNodeList() {
  const auto list = nodeControl_.nodeList();
  if (isUnsetNode(document_->nodeAUniqueID())) {
    for (const auto& node : list) {
      if (node.connected) {
        document_->setNodeAUniqueID(node.uniqueID);
        break;
      }
    }
  }
  const std::string a = nodeAUniqueID();
  const std::string b = nodeBUniqueID();
  bool knowsA = false;
  for (const auto& node : list) {
    if (!a.empty() && node.uniqueID == a) {
      document_->setNodeAName(node.name);
      knowsA = true;
    }
    if (!b.empty() && node.uniqueID == b) document_->setNodeBName(node.name);
  }
  if (!knowsA && a.empty()) document_->setNodeAName(std::string(kLookingForNodesName));
}

// --- Node identity and readings ---

std::string PlaylistWindowController::nodeAUniqueID() const {
  const auto id = document_->nodeAUniqueID();
  return isUnsetNode(id) ? std::string() : *id;
}

std::string PlaylistWindowController::nodeBUniqueID() const {
  return document_->hasNodeB() ? *document_->nodeBUniqueID() : std::string();
}

bool PlaylistWindowController::isABActive() const { return document_->abRoll() && document_->hasNodeB(); }

bool PlaylistWindowController::isForThisWindow(std::string_view nodeUniqueID) const {
  if (nodeUniqueID.empty()) return false;
  if (nodeUniqueID == nodeAUniqueID()) return true;
  return document_->abRoll() && nodeUniqueID == nodeBUniqueID();
}

bool PlaylistWindowController::reportsThisPlaylist(const platform::Dictionary& dictionary) const {
  const std::string id = platform::Value(dictionary)[nodes::kNodeStatusPlaylistUniqueIDKey].stringOr("");
  return !id.empty() && id == document_->uniqueID();
}

PlaylistWindowController::NodeReading PlaylistWindowController::readNode(const std::string& nodeUniqueID) const {
  NodeReading reading;
  reading.nodeUniqueID = nodeUniqueID;
  if (nodeUniqueID.empty()) return reading;
  const auto dictionary = nodeControl_.nodeControlStatus(nodeUniqueID);
  if (!dictionary) return reading;
  const platform::Value status(*dictionary);
  reading.known = true;
  reading.status = VideoPlaylistDocument::statusWithString(status[nodes::kNodeStatusStatusKey].stringOr(""));
  reading.reportsThisPlaylist = reportsThisPlaylist(*dictionary);
  reading.clipUniqueID = status[nodes::kNodeStatusClipPlaybackUniqueIDKey].stringOr("");
  reading.clipIndex = clipIndexWithUniqueID(reading.clipUniqueID);
  reading.position = status[nodes::kNodeStatusPositionKey].realOr(0.0);
  reading.isAuthenticated = status[nodes::kNodeStatusIsAuthenticatedKey].booleanOr(false);
  return reading;
}

std::int64_t PlaylistWindowController::clipIndexWithUniqueID(std::string_view playbackUniqueID) const {
  if (playbackUniqueID.empty()) return nodes::kNoClipIndex;
  return document_->clipIndexWithUniqueID(playbackUniqueID);
}

std::string PlaylistWindowController::ownerNodeOfRow(std::int64_t row) const {
  const auto item = document_->clipAtIndex(row);
  if (item && item->abRollClipPosition() == nodes::ABRollClipPosition::NodeB) return nodeBUniqueID();
  return nodeAUniqueID();
}

// --- Table ---

void PlaylistWindowController::tableSelectionDidChange(std::optional<std::int64_t> selectedRow) {
  if (selectedRow && (*selectedRow < 0 || *selectedRow >= static_cast<std::int64_t>(document_->clipCount())))
    selectedRow.reset();
  selectedRow_ = selectedRow;
  std::set<std::size_t> indexes;
  if (selectedRow_) indexes.insert(static_cast<std::size_t>(*selectedRow_));
  document_->setSelectedClipIndexes(std::move(indexes));
}

void PlaylistWindowController::rowClicked(std::int64_t row) { lastClickedRow_ = row; }

// --- Controls ---

void PlaylistWindowController::setIsRunning(bool running) {
  Change change(*this);
  isRunning_ = running;
}

bool PlaylistWindowController::isPaused() const {
  const auto item = document_->clipAtIndex(currentOnAirClipIndex_);
  return item && item->playbackStatus() == nodes::kPlaybackStatusPaused;
}

void PlaylistWindowController::enablePlaybackControls() {
  passwordRequest_ = PasswordRequest::None;
  padLockEnabled_ = false;
  padUnlockEnabled_ = true;
  transportEnabled_ = true;
}

void PlaylistWindowController::disablePlaybackControls() {
  padLockEnabled_ = true;
  padUnlockEnabled_ = false;
  transportEnabled_ = false;
}

void PlaylistWindowController::enableSettingsControls() { settingsEnabled_ = true; }
void PlaylistWindowController::disableSettingsControls() { settingsEnabled_ = false; }

void PlaylistWindowController::updateUIPlaybackControlStatus() {
  Change change(*this);
  const NodeReading a = readNodeA();
  const NodeReading b = readNodeB();
  const bool mine = a.reportsThisPlaylist;
  if (document_->nodeAName().value_or("") == kLookingForNodesName) {
    padLockEnabled_ = false;
    padUnlockEnabled_ = false;
    transportEnabled_ = false;
  }
  if (isABActive()) {
    if (a.isAuthenticated && b.isAuthenticated) {
      enablePlaybackControls();
    } else {
      disablePlaybackControls();
      document_->undoManager().removeAllActions();
    }
    return;
  }
  if (a.isAuthenticated) {
    enablePlaybackControls();
    if (mine && !document_->abRoll()) enableSettingsControls();
  } else {
    disablePlaybackControls();
    if (mine) {
      disableSettingsControls();
      document_->undoManager().removeAllActions();
    }
  }
}

void PlaylistWindowController::authenticationDidChange() { updateUIPlaybackControlStatus(); }

void PlaylistWindowController::nodeListDidChange() {
  Change change(*this);
  chooseNodesFromNodeList();
  updateUIPlaybackControlStatus();
}

// --- Lock, unlock and redundant mode ---

void PlaylistWindowController::padLockButtonPushed() {
  const std::string a = nodeAUniqueID();
  if (!a.empty()) nodeControl_.nodeLock(a);
  if (document_->abRoll() && document_->hasNodeB()) nodeControl_.nodeLock(nodeBUniqueID());
}

void PlaylistWindowController::padUnlockButtonPushed() {
  Change change(*this);
  if (nodeAUniqueID().empty()) return;
  passwordRequest_ = isABActive() ? PasswordRequest::NodesAAndB : PasswordRequest::OneNode;
}

void PlaylistWindowController::keepAnswerWait(std::shared_ptr<NodeAnswerWait> wait) {
  std::erase_if(answerWaits_, [](const auto& w) { return w->isFinished(); });
  if (!wait->isFinished()) answerWaits_.push_back(std::move(wait));
}

void PlaylistWindowController::unlockNodes(const std::string& passwordA, const std::optional<std::string>& passwordB) {
  Change change(*this);
  passwordRequest_ = PasswordRequest::None;
  const std::string a = nodeAUniqueID();
  if (a.empty()) return;
  const bool bothNodes = isABActive() && passwordB.has_value();
  auto wait = NodeAnswerWait::start(bothNodes ? 2 : 1, [this, bothNodes](const NodeAnswerWait::Replies& replies) {
    checkIfUnlocksSucceeded(bothNodes, replies);
  });
  nodeControl_.nodeUnlock(a, passwordA, wait->answerHandler(0));
  if (bothNodes) nodeControl_.nodeUnlock(nodeBUniqueID(), *passwordB, wait->answerHandler(1));
  keepAnswerWait(std::move(wait));
}

void PlaylistWindowController::passwordRequestDismissed() {
  Change change(*this);
  passwordRequest_ = PasswordRequest::None;
}

// A node is unlocked when it said so, or when its status already shows it
// (a reply lost with the link, or an answer that came after the limit).
void PlaylistWindowController::checkIfUnlocksSucceeded(bool bothNodes, const NodeAnswerWait::Replies& replies) {
  Change change(*this);
  const auto unlocked = [&](std::size_t index, const std::string& node) {
    return (index < replies.size() && replies[index] == std::string(kNodeReplyOK)) || nodeControl_.isNodeUnlocked(node);
  };
  const std::string a = nodeAUniqueID();
  const bool unlockedA = unlocked(0, a);
  using foundation::CVNAlertUtilities;
  if (bothNodes) {
    const bool unlockedB = unlocked(1, nodeBUniqueID());
    if (unlockedA && unlockedB) return;
    const char* title = unlockedA ? "Node B Unlock Error !" : unlockedB ? "Node A Unlock Error !" : "Nodes A & B Unlock Error !";
    const char* message = unlockedA   ? "Node B could not be unlocked with the specified password. Please try again."
                          : unlockedB ? "Node A could not be unlocked with the specified password. Please try again."
                                      : "Nodes A & B could not be unlocked with the specified passwords. Please try again.";
    if (CVNAlertUtilities::runCriticalAlertPanelWithTitle(title, message, {"OK", "Cancel"}) ==
        foundation::kAlertFirstButtonReturn) {
      passwordRequest_ = PasswordRequest::NodesAAndB;
    }
    return;
  }
  if (unlockedA) {
    if (!document_->abRoll()) enableSettingsControls();
    if (nodeControl_.isNodeInSlaveMode(a)) disableSlaveMode();
    return;
  }
  if (CVNAlertUtilities::runCriticalAlertPanelWithTitle(
          "Nodes A Unlock Error !", "Nodes A could not be unlocked with the specified passwords. Please try again.",
          {"OK", "Cancel"}) == foundation::kAlertFirstButtonReturn) {
    passwordRequest_ = PasswordRequest::OneNode;
  }
}

void PlaylistWindowController::enableSlaveMode() {
  const std::string a = nodeAUniqueID();
  if (a.empty()) return;
  auto wait = NodeAnswerWait::start(
      1, [this](const NodeAnswerWait::Replies& replies) { checkIfSlaveModeOnSucceeded(replies); });
  nodeControl_.nodeControlSetSlaveMode(true, a, wait->answerHandler(0));
  keepAnswerWait(std::move(wait));
}

void PlaylistWindowController::disableSlaveMode() {
  const std::string a = nodeAUniqueID();
  if (a.empty()) return;
  auto wait = NodeAnswerWait::start(1, [this](const NodeAnswerWait::Replies&) { checkIfSlaveModeOffSucceeded(); });
  nodeControl_.nodeControlSetSlaveMode(false, a, wait->answerHandler(0));
  keepAnswerWait(std::move(wait));
}

void PlaylistWindowController::checkIfSlaveModeOnSucceeded(const NodeAnswerWait::Replies& replies) {
  const bool accepted = !replies.empty() && replies.front() == std::string(kNodeReplyOK);
  if (accepted || nodeControl_.isNodeInSlaveMode(nodeAUniqueID())) {
    padLockButtonPushed();
    return;
  }
  const std::string message = "We could not enable the redundant mode on " + document_->nodeAName().value_or("") +
                              ". Check your settings and that the Main Node is running...";
  if (foundation::CVNAlertUtilities::runCriticalAlertPanelWithTitle("Error", message, {"Try Again", "Cancel"}) ==
      foundation::kAlertFirstButtonReturn) {
    enableSlaveMode();
  }
}

// Nothing follows from the answer; the lock images read the node's state.
void PlaylistWindowController::checkIfSlaveModeOffSucceeded() { (void)nodeControl_.isNodeInSlaveMode(nodeAUniqueID()); }

// --- Document delegate and view ---

void PlaylistWindowController::updateTableView() {
  Change change(*this);
}

std::optional<nodes::WindowFrame> PlaylistWindowController::windowFrame() const {
  return view_ ? view_->windowFrame() : std::nullopt;
}

double PlaylistWindowController::autoCueDelaySeconds() const {
  const platform::Value value = defaults_.objectForKey(kAutoCueDelayDefaultsKey);
  return value.isNone() ? kRegisteredAutoCueDelaySeconds : defaults_.doubleForKey(kAutoCueDelayDefaultsKey);
}

void PlaylistWindowController::render() {
  state_ = buildState();
  rowToCentre_.reset();
  if (view_) view_->showState(state_);
}

PlaylistViewState PlaylistWindowController::buildState() const {
  PlaylistViewState state;
  state.title = document_->fileURL() ? document_->fileURL()->stem().string() : std::string(kUntitledTitle);
  for (const auto& item : document_->playlist()) {
    const auto fields = item->fields();
    PlaylistRowState row;
    row.name = fields.displayName;
    row.startTime = fields.relativeStartTimeAsString.value_or("");
    row.duration = item->durationToDisplay();
    row.status = fields.playbackStatus;
    row.owner = fields.abRollClipPosition == nodes::ABRollClipPosition::NodeB ? RowOwner::NodeB : RowOwner::NodeA;
    row.abRollMarked = fields.abRollClipPosition != nodes::ABRollClipPosition::None;
    row.online = fields.online;
    row.locked = fields.locked;
    state.rows.push_back(std::move(row));
  }
  state.onAirRow = currentOnAirClipIndex_;
  state.rowToCentre = rowToCentre_;

  state.transportEnabled = transportEnabled_;
  state.padLockEnabled = padLockEnabled_;
  state.padUnlockEnabled = padUnlockEnabled_;
  state.settingsEnabled = settingsEnabled_;
  state.nodeSelectorsEnabled = !isRunning_;
  state.chainOn = document_->chain();
  state.loopOn = document_->loop();
  state.cueModeOn = document_->cueMode();
  state.abRollOn = document_->abRoll();
  state.nodeAName = document_->nodeAName().value_or("");
  if (document_->abRoll()) state.nodeBName = document_->nodeBName().value_or("");

  const auto text = [this](double seconds) { return timeCodeFormatter_.stringForObjectValue(seconds); };
  const auto big = [](double seconds) {
    CounterText counter{ElapsedFormatter::stringForObjectValue(seconds), 0};
    counter.dimmedCharacters = ElapsedFormatter::dimmedLeadingCharacterCount(counter.text);
    return counter;
  };
  state.itemElapsed = text(counters_.itemElapsed);
  state.itemRemaining = text(counters_.itemRemaining);
  state.itemTotal = text(counters_.itemTotal);
  state.playlistElapsed = text(counters_.playlistElapsed);
  state.playlistRemaining = text(counters_.playlistRemaining);
  state.playlistTotal = text(document_->playlistDurationInSeconds());
  state.bigElapsed = big(counters_.playlistElapsed);
  state.bigRemaining = big(counters_.playlistRemaining);
  state.itemProgress = counters_.itemProgress;
  state.playlistProgress = counters_.playlistProgress;
  state.passwordRequest = passwordRequest_;
  return state;
}

}  // namespace app
