// PlaylistWindowController: creation, node identity, controls, lock and
// redundant mode, and the view state. Tracking is in
// PlaylistWindowTracking.cpp, the transport in PlaylistWindowTransport.cpp.

#include "app/playlist/PlaylistWindowController.h"

#include <set>
#include <utility>

#include "app/playlist/ElapsedFormatter.h"
#include "foundation/CVNAlertUtilities.h"
#include "platform/NotificationCenter.h"

namespace app {
namespace {

using nodes::VideoPlaylistDocument;

constexpr const char* kUntitledTitle = "Untitled";

bool isUnsetNode(const std::optional<std::string>& id) {
  return !id || id->empty() || *id == nodes::kNoNodeUniqueID;
}

}  // namespace

PlaylistWindowController::PlaylistWindowController(std::shared_ptr<VideoPlaylistDocument> document,
                                                   PlaylistNodeControl& nodeControl, platform::UserDefaults& defaults,
                                                   platform::Keychain& keychain)
    : document_(std::move(document)),
      nodeControl_(nodeControl),
      defaults_(defaults),
      selection_(document_, nodeControl, keychain, defaults),
      editor_(document_, nodeControl, *this) {
  timeCodeFormatter_.setFormat(nodes::kTimeFormatTimeCode);
  document_->setDelegate(this);
  observeDocumentModes();
  state_ = buildState();
}

// Each mode switch reaches the node and switches the modes it excludes.
void PlaylistWindowController::observeDocumentModes() {
  const auto observe = [this](const char* key, void (PlaylistEditor::*changed)()) {
    documentObservations_.push_back(document_->observeKey(key, [this, changed](const auto&...) {
      Change change(*this);
      (editor_.*changed)();
    }));
  };
  observe("loop", &PlaylistEditor::loopValueChanged);
  observe("chain", &PlaylistEditor::chainValueChanged);
  observe("cueMode", &PlaylistEditor::cueValueChanged);
  observe("abRoll", &PlaylistEditor::abRollValueChanged);
  // The window's title carries the edited mark.
  documentObservations_.push_back(document_->observeKey("documentEdited", [this](const auto&...) { Change change(*this); }));
  // A/B roll leaves the chain, loop and cue buttons to the pair of nodes.
  documentObservations_.push_back(document_->observeKey("abRoll", [this](const auto&...) {
    Change change(*this);
    if (document_->abRoll()) {
      disableSettingsControls();
    } else {
      enableSettingsControls();
    }
  }));
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
  populateNodePopUpButton();
  updatePlaybackStatusAfterAwakeFromNib();
  document_->updateChangeCount(VideoPlaylistDocument::DocumentChange::Cleared);
  showThumbnailsPushed(defaults_.boolForKey(kShowThumbnailsDefaultsKey));
}

void PlaylistWindowController::documentWasReverted() {
  Change change(*this);
  document_->updateBubbleDirections();
  document_->updatePlaylistMovieAndStartTimes();
  populateNodePopUpButton();
  updatePlaybackStatusAfterAwakeFromNib();
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

std::shared_ptr<nodes::PlaylistItem> PlaylistWindowController::itemAtRow(std::size_t row) const {
  return document_->clipAtIndex(static_cast<std::int64_t>(row));
}

bool PlaylistWindowController::rowNodeOffersOverlayLogo(std::size_t row) const {
  const std::string node = ownerNodeOfRow(static_cast<std::int64_t>(row));
  return !node.empty() && nodeControl_.nodeOffersClipAttribute(node, "Overlay Logo");
}

void PlaylistWindowController::tableSelectionDidChange(const std::set<std::size_t>& selectedRows) {
  Change change(*this);
  std::set<std::size_t> indexes;
  for (const std::size_t row : selectedRows) {
    if (row < document_->clipCount()) indexes.insert(row);
  }
  if (indexes == document_->selectedClipIndexes()) return;
  postToClipInspector(kInvoqueInspectorSaveActionsForClipNotification);
  document_->setSelectedClipIndexes(std::move(indexes));
  updateClipInspectorContents();
}

void PlaylistWindowController::windowDidBecomeKey() {
  platform::NotificationCenter::defaultCenter().post(
      platform::Notification{kPlaylistWindowDidBecomeKeyNotification, this, document_, {}});
}

void PlaylistWindowController::updateClipInspectorContents() {
  postToClipInspector(kPlaylistSelectionChangedNotification);
}

void PlaylistWindowController::postToClipInspector(const char* name) {
  if (isCurrentDocument_ && !isCurrentDocument_()) return;
  platform::NotificationCenter::defaultCenter().post(platform::Notification{name, this, document_, {}});
}

std::optional<std::int64_t> PlaylistWindowController::selectedRow() const {
  const auto selected = document_->selectedClipIndexes();
  if (selected.empty() || *selected.begin() >= document_->clipCount()) return std::nullopt;
  return static_cast<std::int64_t>(*selected.begin());
}

// --- Controls ---

void PlaylistWindowController::setIsRunning(bool running) {
  Change change(*this);
  isRunning_ = running;
}

bool PlaylistWindowController::isPaused() const {
  const auto item = document_->clipAtIndex(currentOnAirClipIndex_);
  return item && item->playbackStatus() == nodes::kPlaybackStatusPaused;
}

// An unlocked node can be locked, a locked one unlocked (never the other way
// round, which would leave no way to lock a node from the window).
void PlaylistWindowController::enablePlaybackControls() {
  padLockEnabled_ = true;
  padUnlockEnabled_ = false;
  transportEnabled_ = true;
}

void PlaylistWindowController::disablePlaybackControls() {
  padLockEnabled_ = false;
  padUnlockEnabled_ = true;
  transportEnabled_ = false;
}

void PlaylistWindowController::enableSettingsControls() { settingsEnabled_ = true; }
void PlaylistWindowController::disableSettingsControls() { settingsEnabled_ = false; }

void PlaylistWindowController::updateUIPlaybackControlStatus() {
  Change change(*this);
  const NodeReading a = readNodeA();
  const NodeReading b = readNodeB();
  const bool mine = a.reportsThisPlaylist;
  selection_.refreshEnabledAndImages();
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

void PlaylistWindowController::nodeListDidChange() { populateNodePopUpButton(); }

// --- Lock, unlock and redundant mode ---

void PlaylistWindowController::padLockButtonPushed() {
  const std::string a = nodeAUniqueID();
  if (!a.empty()) nodeControl_.nodeLock(a);
  if (document_->abRoll() && document_->hasNodeB()) nodeControl_.nodeLock(nodeBUniqueID());
}

void PlaylistWindowController::keepAnswerWait(std::shared_ptr<NodeAnswerWait> wait) {
  std::erase_if(answerWaits_, [](const auto& w) { return w->isFinished(); });
  if (!wait->isFinished()) answerWaits_.push_back(std::move(wait));
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

bool PlaylistWindowController::contextualMenuForButton() const {
  const std::string a = nodeAUniqueID();
  return !a.empty() && nodeControl_.isNodeUnlocked(a) && !nodeControl_.isNodeInSlaveMode(a);
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
  state.edited = document_->isDocumentEdited();
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
    row.thumbnail = fields.thumbnail;
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
  state.passwordPanel = passwordPanel_;
  state.showThumbnails = showThumbnails_;
  state.nodeMenus = selection_.menus();
  const bool abRoll = document_->abRoll();
  state.nodeAPopUpFieldTitle = abRoll && isNodeReachable(nodeAUniqueID()) ? "Node A" : "Selected Node";
  state.nodeBPopUpFieldTitle = abRoll ? "Node B" : "";
  state.clipCountText = editor_.clipCountText();
  return state;
}

}  // namespace app
