#include "app/playlist/PlaylistNodeSelection.h"

#include <utility>

#include "foundation/CVNAlertUtilities.h"
#include "nodes/link/NodePasswordKeychain.h"

namespace app {
namespace {

constexpr const char* kErrorDomain = "PlaylistNodeSelection";

platform::Status refused(std::string description) {
  return platform::Error(kErrorDomain, 1, std::move(description));
}

bool accepted(const NodeAnswerWait::Replies& replies, std::size_t index) {
  return index < replies.size() && replies[index] == std::string(kNodeReplyOK);
}

}  // namespace

PlaylistNodeSelection::PlaylistNodeSelection(std::shared_ptr<nodes::VideoPlaylistDocument> document,
                                             PlaylistNodeControl& nodeControl, platform::Keychain& keychain,
                                             platform::UserDefaults& defaults)
    : document_(std::move(document)), nodeControl_(nodeControl), keychain_(keychain), defaults_(defaults) {
  menus_.a.push_back({kNoNodeTitle, std::nullopt, false, false, kBlankImage});
  menus_.b.push_back({kNoNodeTitle, std::nullopt, false, true, kBlankImage});
}

// Dropping the wait means a late answer finds no one to call back.
PlaylistNodeSelection::~PlaylistNodeSelection() {
  if (wait_) wait_->cancel();
}

std::string PlaylistNodeSelection::nodeMenuTitle(const NodeMenuSource& node) {
  if (!node.name.empty()) return node.name;
  return node.address + ":" + std::to_string(node.portNumber);
}

std::optional<std::string> PlaylistNodeSelection::selectedID(const std::vector<NodeMenuItem>& menu,
                                                             std::optional<std::size_t> index) const {
  if (!index || *index >= menu.size()) return std::nullopt;
  return menu[*index].nodeUniqueID;
}

// The last match wins, as when every matching item is selected in turn.
std::optional<std::size_t> PlaylistNodeSelection::matchingIndex(const std::vector<NodeMenuItem>& menu,
                                                                const std::optional<std::string>& nodeUniqueID) const {
  std::optional<std::size_t> match;
  for (std::size_t i = kFirstNodeMenuIndex; i < menu.size(); ++i) {
    if (menu[i].nodeUniqueID == nodeUniqueID) match = i;
  }
  return match;
}

const NodeMenus& PlaylistNodeSelection::populate(const std::vector<NodeMenuSource>& nodeList) {
  const auto previousA = selectedID(menus_.a, menus_.selectedA);
  const auto previousB = selectedID(menus_.b, menus_.selectedB);
  // A node that has not told its unique ID yet cannot be chosen: documents
  // keep nodes by that ID.
  nodeList_.clear();
  for (const auto& node : nodeList) {
    if (!node.uniqueID.empty()) nodeList_.push_back(node);
  }

  std::vector<NodeMenuItem> menu{{kNoNodeTitle, std::nullopt, false, false, kBlankImage}};
  if (!nodeList_.empty()) menu.push_back({"", std::nullopt, true, false, ""});
  for (const auto& node : nodeList_) menu.push_back({nodeMenuTitle(node), node.uniqueID, false, false, ""});
  menus_.a = menu;
  menus_.b = std::move(menu);
  menus_.b[0].enabled = true;  // "<none>" in B is always a choice

  const bool useDocument = !document_->needDefaultValues();
  const auto wanted = [&](const std::optional<std::string>& previous, const std::optional<std::string>& inDocument,
                          const char* defaultsKey) -> std::optional<std::string> {
    if (previous) return previous;
    if (useDocument && inDocument && !inDocument->empty()) return inDocument;
    return defaults_.stringForKey(defaultsKey);
  };

  const auto wantedA = wanted(previousA, document_->nodeAUniqueID(), nodes::kDefaultNodeAUniqueIDKey);
  menus_.selectedA = wantedA ? std::optional<std::size_t>(0) : std::nullopt;
  if (const auto match = matchingIndex(menus_.a, wantedA)) {
    menus_.selectedA = match;
    document_->setNodeAName(menus_.a[*match].title);
  }
  const auto wantedB = wanted(previousB, document_->nodeBUniqueID(), nodes::kDefaultNodeBUniqueIDKey);
  menus_.selectedB = 0;
  if (const auto match = matchingIndex(menus_.b, wantedB)) {
    menus_.selectedB = *match;
    document_->setNodeBName(menus_.b[*match].title);
  }
  refreshEnabledAndImages();

  nodeAChosenForLackOfAnother_.reset();
  if (!wantedA && !nodeList_.empty()) {
    menus_.selectedA = menus_.a.size() - 1;
    nodeAChosenForLackOfAnother_ = menus_.a.back().nodeUniqueID;
    if (!document_->nodeAUniqueID()) (void)chooseNodeA(*menus_.selectedA);
  }
  return menus_;
}

void PlaylistNodeSelection::refreshEnabledAndImages() {
  const bool abRoll = document_->abRoll();
  const auto connected = [&](const std::string& id) {
    for (const auto& node : nodeList_) {
      if (node.uniqueID == id) return node.connected && nodeControl_.hasNodeConnection(id);
    }
    return false;
  };
  const auto refresh = [&](std::vector<NodeMenuItem>& menu, const std::optional<std::string>& other, bool isA) {
    for (std::size_t i = isA ? 0 : 1; i < menu.size(); ++i) {
      auto& item = menu[i];
      item.enabled = item.nodeUniqueID && connected(*item.nodeUniqueID) && !(abRoll && item.nodeUniqueID == other);
      if (!item.nodeUniqueID) {
        item.image = item.separator ? "" : kBlankImage;
      } else if (nodeControl_.isNodeUnlocked(*item.nodeUniqueID)) {
        item.image = kBlankImage;
      } else {
        item.image = isA && nodeControl_.isNodeInSlaveMode(*item.nodeUniqueID) ? kSlaveImage : kLockedImage;
      }
    }
  };
  const auto a = selectedID(menus_.a, menus_.selectedA);
  const auto b = selectedID(menus_.b, menus_.selectedB);
  refresh(menus_.a, b, true);
  refresh(menus_.b, a, false);
}

platform::Status PlaylistNodeSelection::chooseNodeA(std::size_t index) {
  if (index < kFirstNodeMenuIndex || index >= menus_.a.size()) return refused("not a node");
  const auto& item = menus_.a[index];
  if (document_->abRoll() && item.nodeUniqueID == document_->nodeBUniqueID()) {
    return refused("node A and node B must differ");
  }
  document_->setNodeAName(item.title);
  document_->setNodeAUniqueID(item.nodeUniqueID);
  menus_.selectedA = index;
  refreshEnabledAndImages();
  return platform::Status::success();
}

platform::Status PlaylistNodeSelection::chooseNodeB(std::size_t index) {
  if (index >= menus_.b.size()) return refused("not a node");
  if (index < kFirstNodeMenuIndex) {
    document_->setAbRoll(false);
    document_->setNodeBName(std::nullopt);
    document_->setNodeBUniqueID(std::nullopt);
    menus_.selectedB = 0;
  } else {
    const auto& item = menus_.b[index];
    if (item.nodeUniqueID == document_->nodeAUniqueID()) return refused("node A and node B must differ");
    document_->setAbRoll(true);
    document_->setNodeBName(item.title);
    document_->setNodeBUniqueID(item.nodeUniqueID);
    menus_.selectedB = index;
  }
  refreshEnabledAndImages();
  return platform::Status::success();
}

void PlaylistNodeSelection::setABRoll(bool on) {
  document_->setAbRoll(on);
  refreshEnabledAndImages();
}

bool PlaylistNodeSelection::unlocksBothNodes() const {
  const auto b = document_->nodeBUniqueID();
  return document_->abRoll() && b && !b->empty();
}

std::optional<std::string> PlaylistNodeSelection::storedPassword(const std::string& nodeUniqueID) const {
  return nodes::KeychainPasswordForService(nodes::nodePasswordServiceName(nodeUniqueID), keychain_);
}

// A password that could not be kept would be asked for at every unlock with
// no reason given: the operator is told why (the keychain logged the detail).
void PlaylistNodeSelection::rememberPassword(const std::string& password, const std::string& nodeUniqueID) {
  const nodes::KeychainStatus status =
      nodes::StoreKeychainPasswordForService(password, nodes::nodePasswordServiceName(nodeUniqueID), keychain_);
  if (const auto aside = keychain_.takeDamagedStoreKeptAside()) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
        kKeychainErrorTitle, "The file of saved node passwords was damaged. It was kept as " + aside->string() +
                                 " and a new one was started: passwords saved before must be entered again.",
        {});
  }
  if (status != nodes::kKeychainStatusSuccess) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
        kKeychainErrorTitle,
        "The password of the node could not be saved (keychain status " + std::to_string(status) + ", " +
            (status == nodes::kKeychainStatusParamError ? std::string("the node's name cannot be stored")
                                                        : "the password file " + keychain_.storePath().string() +
                                                              " cannot be read or written") +
            "). It will be asked for again at the next unlock.",
        {});
  }
}

bool PlaylistNodeSelection::unlock(const Passwords& passwords, UnlockCompletion completion) {
  const std::string a = document_->nodeAUniqueID().value_or("");
  if (a.empty()) return false;
  const bool both = unlocksBothNodes() && passwords.b.has_value();
  const std::string b = both ? *document_->nodeBUniqueID() : std::string();
  if (wait_) wait_->cancel();
  // A password is kept only once its node took it, never a mistyped one.
  wait_ = NodeAnswerWait::start(
      both ? 2 : 1, [this, a, b, both, passwords, completion = std::move(completion)](const NodeAnswerWait::Replies& r) {
        const bool okA = accepted(r, 0) || nodeControl_.isNodeUnlocked(a);
        const bool okB = !both || accepted(r, 1) || nodeControl_.isNodeUnlocked(b);
        if (okA && passwords.rememberA) rememberPassword(passwords.a, a);
        if (both && okB && passwords.rememberB) rememberPassword(*passwords.b, b);
        refreshEnabledAndImages();
        if (completion) {
          completion(okA && okB ? NodeUnlockOutcome::Unlocked
                     : okA      ? NodeUnlockOutcome::NodeBFailed
                     : okB      ? NodeUnlockOutcome::NodeAFailed
                                : NodeUnlockOutcome::BothFailed);
        }
      });
  nodeControl_.nodeUnlock(a, passwords.a, wait_->answerHandler(0));
  if (both) nodeControl_.nodeUnlock(b, *passwords.b, wait_->answerHandler(1));
  return true;
}

bool PlaylistNodeSelection::unlockWithStoredPasswords(UnlockCompletion completion) {
  const std::string a = document_->nodeAUniqueID().value_or("");
  if (a.empty()) return false;
  const auto passwordA = storedPassword(a);
  if (!passwordA) return false;
  Passwords passwords{*passwordA, false, std::nullopt, false};
  if (unlocksBothNodes()) {
    passwords.b = storedPassword(*document_->nodeBUniqueID());
    if (!passwords.b) return false;
  }
  return unlock(passwords, std::move(completion));
}

}  // namespace app
