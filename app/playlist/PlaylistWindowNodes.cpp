// PlaylistWindowController: the node pop-ups, A/B roll, unlocking with the
// password panel and the keychain, and the node's own playlist changes.

#include <charconv>

#include "app/playlist/PlaylistWindowController.h"
#include "foundation/CVNAlertUtilities.h"
#include "nodes/link/NodeConnection.h"
#include "platform/NotificationCenter.h"

namespace app {
namespace {

using foundation::CVNAlertUtilities;

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

std::int64_t portNumberOf(const std::string& text) {
  std::int64_t port = 0;
  (void)std::from_chars(text.data(), text.data() + text.size(), port);
  return port;
}

}  // namespace

// --- Pop-ups ---

void PlaylistWindowController::populateNodePopUpButton() {
  Change change(*this);
  std::vector<NodeMenuSource> sources;
  for (const auto& node : nodeControl_.nodeList())
    sources.push_back({node.uniqueID, node.name, node.address, portNumberOf(node.portNumber), node.connected});
  selection_.populate(sources);
  if (const auto& chosen = selection_.nodeAChosenForLackOfAnother()) {
    platform::NotificationCenter::defaultCenter().postOnMainThread(
        platform::Notification{kSelectNodeWithUniqueIDNotification, this, platform::Value(*chosen), {}});
  }
  if (nodeAUniqueID().empty()) document_->setNodeAName(std::string(kLookingForNodesName));
  updateUIPlaybackControlStatus();
  updatePlaybackStatusAfterAwakeFromNib();
}

bool PlaylistWindowController::isNodeReachable(const std::string& nodeUniqueID) const {
  if (nodeUniqueID.empty() || !nodeControl_.hasNodeConnection(nodeUniqueID)) return false;
  for (const auto& node : nodeControl_.nodeList()) {
    if (node.uniqueID == nodeUniqueID) return node.connected;
  }
  return false;
}

void PlaylistWindowController::nodeAPopUpButtonPushed(std::size_t index) {
  Change change(*this);
  if (!selection_.chooseNodeA(index)) return;
  afterNodeChoice();
}

void PlaylistWindowController::nodeBPopUpButtonPushed(std::size_t index) {
  Change change(*this);
  if (!selection_.chooseNodeB(index)) return;
  afterNodeChoice();
}

void PlaylistWindowController::ABRollButtonPushed(bool on) {
  Change change(*this);
  selection_.setABRoll(on);
  if (!on) updateUIPlaybackControlStatus();
  afterNodeChoice();
}

void PlaylistWindowController::afterNodeChoice() {
  updateUIPlaybackControlStatus();
  document_->updateBubbleDirections();
  updatePlaybackStatusAfterAwakeFromNib();
}

// --- Unlocking ---

void PlaylistWindowController::tryUnlockingNodes() {
  Change change(*this);
  if (nodeAUniqueID().empty()) return;
  if (!confirmStoppingSchedules() || !nodesAreReachable()) return;
  const std::string a = nodeAUniqueID();
  if (document_->abRoll() && document_->hasNodeB()) {
    if (document_->nodeAName().value_or("").empty() || document_->nodeBName().value_or("").empty()) {
      CVNAlertUtilities::runWarningAlertPanelWithTitle(
          "Node Selection Error !", "Please select an available Node as Node B before using the A/B Roll mode.",
          {"OK"});
      return;
    }
    const auto storedA = selection_.storedPassword(a);
    const auto storedB = selection_.storedPassword(nodeBUniqueID());
    if (storedA && storedB) {
      unlockWith({*storedA, false, *storedB, false});
    } else {
      showPasswordPanel(PasswordRequest::NodesAAndB, storedA.value_or(""), storedB.value_or(""));
    }
    return;
  }
  if (nodeControl_.isNodeInSlaveMode(a)) {
    const std::string message = document_->nodeAName().value_or("") +
                                " is currently in redundant mode. Unlocking it will disable the redundant mode. Are "
                                "you sure you want to do this?";
    if (CVNAlertUtilities::runCriticalAlertPanelWithTitle("Warning !", message, {"Disable Redundant Mode", "Cancel"}) ==
        foundation::kAlertSecondButtonReturn) {
      return;
    }
  }
  if (const auto stored = selection_.storedPassword(a)) {
    unlockWith({*stored, false, std::nullopt, false});
  } else {
    showPasswordPanel(PasswordRequest::OneNode, "", "");
  }
}

// A node running a schedule is stopped only when the operator agrees; the
// stop itself waits until the node is unlocked.
bool PlaylistWindowController::confirmStoppingSchedules() {
  const auto confirm = [this](const std::string& node, const std::string& name, bool& flag) {
    const auto status = nodeControl_.nodeControlStatus(node);
    if (!status) return true;
    if (platform::Value(*status)[nodes::kNodeStatusScheduleUniqueIDKey].stringOr("").empty()) return true;
    if (CVNAlertUtilities::runWarningAlertPanelWithTitle(name + " is currently running a Schedule.",
                                                         "Are you sure you want to stop this playback ?",
                                                         {"Cancel", "Stop Playback"}) ==
        foundation::kAlertFirstButtonReturn) {
      return false;
    }
    flag = true;
    return true;
  };
  if (!confirm(nodeAUniqueID(), document_->nodeAName().value_or(""), nodeANeedsClearSchedule_)) return false;
  if (document_->abRoll() && document_->hasNodeB())
    return confirm(nodeBUniqueID(), document_->nodeBName().value_or(""), nodeBNeedsClearSchedule_);
  return true;
}

bool PlaylistWindowController::nodesAreReachable() {
  const bool reachA = isNodeReachable(nodeAUniqueID());
  const std::string nameA = document_->nodeAName().value_or("");
  const auto refuse = [](const char* title, const std::string& message) {
    CVNAlertUtilities::runWarningAlertPanelWithTitle(title, message, {"OK"});
    return false;
  };
  if (document_->abRoll() && document_->hasNodeB()) {
    const bool reachB = isNodeReachable(nodeBUniqueID());
    const std::string nameB = document_->nodeBName().value_or("");
    if (!reachA && reachB)
      return refuse("Node Connection Error !",
                    "Node " + nameA + " could not be reached. Please select another Node or try again later.");
    if (reachA && !reachB)
      return refuse("Node Connection Error !",
                    nameB + " could not be reached. Please select another Node or try again later.");
    if (!reachA && !reachB)
      return refuse("Nodes Connection Error !", "Nodes " + nameA + " & " + nameB +
                                                    " could not be reached. Please select other Nodes or try again "
                                                    "later.");
    return true;
  }
  if (!reachA)
    return refuse("Nodes Connection Error !",
                  "Node " + nameA + " could not be reached. Please select another Node or try again later.");
  return true;
}

void PlaylistWindowController::showPasswordPanel(PasswordRequest request, std::string passwordA,
                                                 std::string passwordB) {
  passwordPanel_.request = request;
  passwordPanel_.nodeANameField = quoted(document_->nodeAName().value_or(""));
  passwordPanel_.nodeBNameField =
      request == PasswordRequest::NodesAAndB ? quoted(document_->nodeBName().value_or("")) : std::string();
  passwordPanel_.nodeAPassword = std::move(passwordA);
  passwordPanel_.nodeBPassword = std::move(passwordB);
}

void PlaylistWindowController::nodePasswordsOKButtonPushed(const PlaylistNodeSelection::Passwords& passwords) {
  Change change(*this);
  passwordPanel_ = {};
  if (passwords.b) padUnlockEnabled_ = false;
  unlockWith(passwords);
}

void PlaylistWindowController::passwordRequestDismissed() {
  Change change(*this);
  passwordPanel_ = {};
}

void PlaylistWindowController::unlockWith(const PlaylistNodeSelection::Passwords& passwords) {
  selection_.unlock(passwords,
                    [this, passwords](NodeUnlockOutcome outcome) { checkIfUnlocksSucceeded(outcome, passwords); });
}

// Judged when the nodes answer (or their time limit passes), not at a fixed
// moment after sending, so a slow node is not taken for a wrong password.
void PlaylistWindowController::checkIfUnlocksSucceeded(NodeUnlockOutcome outcome,
                                                       const PlaylistNodeSelection::Passwords& passwords) {
  Change change(*this);
  const auto retry = [&](const char* title, const char* message, PasswordRequest request, std::string a,
                         std::string b) {
    if (CVNAlertUtilities::runCriticalAlertPanelWithTitle(title, message, {"OK", "Cancel"}) ==
        foundation::kAlertFirstButtonReturn) {
      showPasswordPanel(request, std::move(a), std::move(b));
    }
  };
  if (passwords.b) {
    switch (outcome) {
      case NodeUnlockOutcome::Unlocked:
        stopAndClearPendingSchedule(false);
        stopAndClearPendingSchedule(true);
        break;
      case NodeUnlockOutcome::NodeBFailed:
        retry("Node B Unlock Error !", "Node B could not be unlocked with the specified password. Please try again.",
              PasswordRequest::NodesAAndB, passwords.a, "");
        stopAndClearPendingSchedule(false);
        break;
      case NodeUnlockOutcome::NodeAFailed:
        retry("Node A Unlock Error !", "Node A could not be unlocked with the specified password. Please try again.",
              PasswordRequest::NodesAAndB, "", *passwords.b);
        stopAndClearPendingSchedule(true);
        break;
      case NodeUnlockOutcome::BothFailed:
        retry("Nodes A & B Unlock Error !",
              "Nodes A & B could not be unlocked with the specified passwords. Please try again.",
              PasswordRequest::NodesAAndB, "", "");
        break;
    }
    updateUIPlaybackControlStatus();
    return;
  }
  if (outcome == NodeUnlockOutcome::Unlocked) {
    if (!document_->abRoll()) enableSettingsControls();
    stopAndClearPendingSchedule(false);
    if (nodeControl_.isNodeInSlaveMode(nodeAUniqueID())) disableSlaveMode();
  } else {
    retry("Nodes A Unlock Error !", "Nodes A could not be unlocked with the specified passwords. Please try again.",
          PasswordRequest::OneNode, "", "");
  }
  updateUIPlaybackControlStatus();
}

void PlaylistWindowController::stopAndClearPendingSchedule(bool nodeB) {
  bool& flag = nodeB ? nodeBNeedsClearSchedule_ : nodeANeedsClearSchedule_;
  if (!flag) return;
  flag = false;
  nodeControl_.nodeControlStopAndClearSchedule(nodeB ? nodeBUniqueID() : nodeAUniqueID());
}

// --- The node's own playlist ---

void PlaylistWindowController::playlistDidChange(std::string_view sender) {
  const bool fromA = !sender.empty() && sender == nodeAUniqueID();
  const bool fromB = !sender.empty() && document_->abRoll() && sender == nodeBUniqueID();
  if (!fromA && !fromB) return;
  const NodeReading node = readNode(std::string(sender));
  if (!node.reportsThisPlaylist) return;
  Change change(*this);
  (fromA ? nodeAClipIndex_ : nodeBClipIndex_) = -1;
  if (!document_->abRoll() && !nodePlaylistMatchesRows(sender)) {
    // Someone else changed the node's playlist: the rows are the node's now,
    // and the edit history no longer applies to them.
    nodeControl_.nodeControlFillDocument(*document_, sender);
    document_->undoManager().removeAllActions();
  }
  const std::int64_t idx = clipIndexWithUniqueID(node.clipUniqueID);
  if (const auto item = document_->clipAtIndex(idx)) {
    std::int32_t status = node.status;
    if (status == 0) {
      const bool holds = platform::Value(item->attributes().value_or(platform::Dictionary{}))["Clip End Behaviour"].stringOr("") == "Hold Last Frame";
      status = holds || document_->cueMode() ? nodes::kPlaybackStatusEndedOrWaiting : 0;
    }
    item->setPlaybackStatus(status);
    (fromA ? nodeAClipIndex_ : nodeBClipIndex_) = idx;
  }
  updateCurrentOnAirClipIndex();
  editor_.requestAllMissingThumbnails();
}

// The node's copy already has the rows in this order (our own edits): the
// rows are kept, with their undo history.
bool PlaylistWindowController::nodePlaylistMatchesRows(std::string_view nodeUniqueID) const {
  const auto ids = nodeControl_.nodePlaylistPlaybackUniqueIDs(nodeUniqueID);
  const auto& rows = document_->playlist();
  if (ids.size() != rows.size()) return false;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (rows[i]->playbackUniqueID().value_or("") != ids[i]) return false;
  }
  return true;
}

void PlaylistWindowController::nodeConnectionDidClose(std::string_view nodeUniqueID) {
  if (nodeUniqueID.empty()) return;
  if (nodeUniqueID != nodeAUniqueID() && nodeUniqueID != nodeBUniqueID()) return;
  Change change(*this);
  resetCounters();
  selection_.refreshEnabledAndImages();
}

}  // namespace app
