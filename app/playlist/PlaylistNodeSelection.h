#pragma once
// PlaylistNodeSelection: the node choice of one playlist window without Qt:
// the node A and node B pop-up contents (titles, enabled items, lock images,
// selection), choosing node A or B and switching A/B roll (written to the
// document), and unlocking the chosen nodes with passwords kept in the
// keychain under each node's own service name.
//
// Ownership: made by the window; shares the document. The node control and
// the keychain are not owned and outlive it. Main thread only. An unlock is
// judged when the nodes answer (NodeAnswerWait), not at a fixed moment, and a
// password is remembered only once its node accepted it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/playlist/NodeAnswerWait.h"
#include "app/playlist/PlaylistNodeControl.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Error.h"
#include "platform/Keychain.h"
#include "platform/UserDefaults.h"

namespace app {

inline constexpr const char* kNoNodeTitle = "<none>";
inline constexpr const char* kKeychainErrorTitle = "Keychain Error !";
inline constexpr const char* kBlankImage = "blank";
inline constexpr const char* kSlaveImage = "SlaveTemplate";
inline constexpr const char* kLockedImage = "NSLockLockedTemplate";
// Items before the first node: "<none>" and, with nodes, a separator.
inline constexpr std::size_t kFirstNodeMenuIndex = 2;

// One node of the data source's list as the pop-ups need it.
struct NodeMenuSource {
  std::string uniqueID;
  std::string name;
  std::string address;
  std::int64_t portNumber = 0;
  bool connected = false;  // has a connection whose link is up
};

struct NodeMenuItem {
  std::string title;
  std::optional<std::string> nodeUniqueID;  // none for "<none>" and the separator
  bool separator = false;
  bool enabled = false;
  std::string image;
  friend bool operator==(const NodeMenuItem&, const NodeMenuItem&) = default;
};

struct NodeMenus {
  std::vector<NodeMenuItem> a;
  std::vector<NodeMenuItem> b;
  std::optional<std::size_t> selectedA;  // none: nothing selected in A
  std::size_t selectedB = 0;
  friend bool operator==(const NodeMenus&, const NodeMenus&) = default;
};

// The outcome of one unlock attempt, once every node answered (or the limit).
enum class NodeUnlockOutcome { Unlocked, NodeAFailed, NodeBFailed, BothFailed };

class PlaylistNodeSelection {
 public:
  PlaylistNodeSelection(std::shared_ptr<nodes::VideoPlaylistDocument> document, PlaylistNodeControl& nodeControl,
                        platform::Keychain& keychain = platform::Keychain::standard(),
                        platform::UserDefaults& defaults = platform::UserDefaults::standard());
  ~PlaylistNodeSelection();
  PlaylistNodeSelection(const PlaylistNodeSelection&) = delete;
  PlaylistNodeSelection& operator=(const PlaylistNodeSelection&) = delete;

  // The node's name, or "address:port" when it has none.
  static std::string nodeMenuTitle(const NodeMenuSource& node);

  // Rebuilds both pop-ups from the node list, keeping the previous choices,
  // else the document's nodes, else the default nodes. With nothing to keep
  // for A and a node known, A falls on the last node and, when the document
  // has no node A yet, chooses it.
  const NodeMenus& populate(const std::vector<NodeMenuSource>& nodeList);
  const NodeMenus& menus() const { return menus_; }
  // The node the last populate() chose for A because none was wanted (the
  // media browser is told to follow it); none otherwise.
  const std::optional<std::string>& nodeAChosenForLackOfAnother() const { return nodeAChosenForLackOfAnother_; }

  // Pop-up actions with the index chosen. Choosing in A the node that is B
  // (A/B roll on), or in B the node that is A, is refused.
  platform::Status chooseNodeA(std::size_t index);
  // Below kFirstNodeMenuIndex: no node B and A/B roll off.
  platform::Status chooseNodeB(std::size_t index);
  void setABRoll(bool on);

  // The stored password of a node, none when there is none.
  std::optional<std::string> storedPassword(const std::string& nodeUniqueID) const;

  using UnlockCompletion = std::function<void(NodeUnlockOutcome)>;
  // Sends the unlock of node A (and of node B with A/B roll and node B set)
  // with the given passwords; `remember` stores each accepted password under
  // its own node's service name. False when there is nothing to unlock.
  struct Passwords {
    std::string a;
    bool rememberA = false;
    std::optional<std::string> b;
    bool rememberB = false;
  };
  bool unlock(const Passwords& passwords, UnlockCompletion completion);
  // Unlocks with the keychain's passwords; false (nothing sent) when a needed
  // password is missing, so the window asks the operator instead.
  bool unlockWithStoredPasswords(UnlockCompletion completion);

  bool unlocksBothNodes() const;

  // Re-reads which nodes are connected, unlocked or redundant.
  void refreshEnabledAndImages();

 private:
  // Keeps an accepted password; a failure, or a damaged keychain kept aside,
  // is told to the operator.
  void rememberPassword(const std::string& password, const std::string& nodeUniqueID);
  std::optional<std::size_t> matchingIndex(const std::vector<NodeMenuItem>& menu,
                                           const std::optional<std::string>& nodeUniqueID) const;
  std::optional<std::string> selectedID(const std::vector<NodeMenuItem>& menu, std::optional<std::size_t> index) const;

  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  PlaylistNodeControl& nodeControl_;
  platform::Keychain& keychain_;
  platform::UserDefaults& defaults_;
  std::vector<NodeMenuSource> nodeList_;
  NodeMenus menus_;
  std::optional<std::string> nodeAChosenForLackOfAnother_;
  std::shared_ptr<NodeAnswerWait> wait_;
};

}  // namespace app
