#include "app/browser/MediaBrowserWindowController.h"

#include <algorithm>
#include <any>
#include <cstdio>

#include "app/browser/MediaBrowserRowAppearance.h"
#include "nodes/playlist/PlaylistItemPasteboard.h"

namespace app::browser {

namespace {

constexpr const char* kNodeListDidChangeNotification = "nodeListDidChange";
constexpr const char* kNewThumbnailIsAvailableNotification = "newThumbnailIsAvailable";
constexpr const char* kStartedCoreDataOperationNotification = "startedCoreDataOperation";
constexpr const char* kFinishedCataloggingMediaItemsNotification = "finishedCataloggingMediaItems";
constexpr const char* kDiscoveredNodesKey = "discoveredNodes";
constexpr const char* kDefaultNodeAUniqueIDKey = "defaultNodeAUniqueID";
constexpr std::size_t kFirstNodeItem = 2;

std::optional<std::string> stringObject(const platform::Notification& notification) {
  if (const auto* value = std::any_cast<platform::Value>(&notification.object)) {
    if (const auto* text = value->string()) return *text;
  }
  if (const auto* text = std::any_cast<std::string>(&notification.object)) return *text;
  return std::nullopt;
}

std::optional<std::size_t> indexOfFirstNodeWithID(const NodeChooserState& chooser) {
  for (std::size_t index = kFirstNodeItem; index < chooser.items.size(); ++index) {
    if (chooser.items[index].nodeUniqueID && !chooser.items[index].nodeUniqueID->empty()) return index;
  }
  return std::nullopt;
}

std::string userInfoString(const platform::Notification& notification, const char* key) {
  const auto found = notification.userInfo.find(key);
  return found == notification.userInfo.end() ? std::string() : found->second.stringOr("");
}

}  // namespace

MediaBrowserWindowController::MediaBrowserWindowController(MediaCollectionNodeController& collection,
                                                           platform::UserDefaults& defaults,
                                                           platform::NotificationCenter& center)
    : collection_(collection), defaults_(defaults), center_(center) {
  collection_.setTreeChangedHandler([this] { treeChanged(); });
  observe();
}

MediaBrowserWindowController::~MediaBrowserWindowController() {
  observers_.clear();
  collection_.setTreeChangedHandler({});
}

void MediaBrowserWindowController::observe() {
  const auto on = [this](const char* name, std::function<void(const platform::Notification&)> handler) {
    observers_.push_back(center_.addObserver(name, nullptr, std::move(handler)));
  };
  on(kNodeListDidChangeNotification, [this](const platform::Notification&) { nodeListChanged(); });
  on(kSelectNodeWithUniqueIDNotification, [this](const platform::Notification& notification) {
    if (const auto node = stringObject(notification)) selectNodeWithUniqueID(*node);
  });
  on(kSelectedNodeDidChangeNotification, [this](const platform::Notification& notification) {
    updateTreeForNodeWithUniqueID(stringObject(notification));
  });
  on(kStartedCoreDataOperationNotification, [this](const platform::Notification&) {
    if (view_) view_->showBusy(true);
  });
  on(kFinishedCataloggingMediaItemsNotification, [this](const platform::Notification&) {
    if (view_) view_->showBusy(false);
  });
  on(kNewThumbnailIsAvailableNotification, [this](const platform::Notification& notification) {
    if (!view_ || selection_.size() != 1 || selection_[0]->childrenCount() != 0) return;
    const auto& clip = selection_[0]->playlistItem();
    const auto* image = std::any_cast<std::shared_ptr<const nodes::RGBAImage>>(&notification.object);
    if (!clip || !image) return;
    if (clip->mediaItemUniqueID().value_or("") != userInfoString(notification, "mediaItemUniqueID")) return;
    if (clip->mediaFolderUniqueID() != userInfoString(notification, "mediaFolderUniqueID")) return;
    view_->showThumbnail(*image);
  });
}

void MediaBrowserWindowController::setView(MediaBrowserView* view, FileRevealer* revealer) {
  view_ = view;
  revealer_ = revealer;
  if (!view_) return;
  nodeListChanged();
  outlineSelectionDidChange({});
}

void MediaBrowserWindowController::showWindow() {
  if (view_) view_->showWindow();
}

// ---- Nodes ----

void MediaBrowserWindowController::nodeListChanged() {
  std::optional<std::string> remembered;
  if (chooser_.selectedIndex < chooser_.items.size()) remembered = chooser_.items[chooser_.selectedIndex].nodeUniqueID;
  // A node entered by address has no ID until it answers: not a choice to keep.
  if (remembered && remembered->empty()) remembered.reset();
  const auto defaultNode = defaults_.stringForKey(kDefaultNodeAUniqueIDKey);

  const auto nodes = collection_.dataSource()->nodes();
  NodeChooserState chooser;
  chooser.items.push_back({kNoNodeTitle, std::nullopt, false, false});
  if (!nodes.empty()) chooser.items.push_back({"", std::nullopt, true, false});
  for (const auto& node : nodes) {
    std::string title = node.name;
    if (title.empty()) title = node.address + ":" + node.portNumber;
    chooser.items.push_back({std::move(title), node.uniqueID, false, node.running});
  }
  const auto indexOf = [&chooser](const std::string& id) -> std::optional<std::size_t> {
    for (std::size_t index = kFirstNodeItem; index < chooser.items.size(); ++index) {
      if (chooser.items[index].nodeUniqueID == id) return index;
    }
    return std::nullopt;
  };
  if (remembered) {
    if (const auto index = indexOf(*remembered)) chooser.selectedIndex = *index;
  } else if (defaultNode && indexOf(*defaultNode)) {
    chooser.selectedIndex = *indexOf(*defaultNode);
  } else if (const auto first = indexOfFirstNodeWithID(chooser)) {
    chooser.selectedIndex = *first;
  }
  chooser_ = std::move(chooser);
  if (view_) view_->showNodeChooser(chooser_);
  showNodeChosenInChooser();
}

void MediaBrowserWindowController::nodeChooserChose(std::size_t index) {
  if (index >= chooser_.items.size() || !chooser_.items[index].enabled) return;
  chooser_.selectedIndex = index;
  showNodeChosenInChooser();
}

void MediaBrowserWindowController::showNodeChosenInChooser() {
  const auto& chosen = chooser_.items.at(chooser_.selectedIndex).nodeUniqueID;
  if (chosen == selectedNodeUniqueID_ && chosen && collection_.treeForNode(*chosen)) {
    reloadOutline(true);
    return;
  }
  updateTreeForNodeWithUniqueID(chosen);
}

void MediaBrowserWindowController::selectNodeWithUniqueID(const std::string& nodeUniqueID) {
  for (std::size_t index = 0; index < chooser_.items.size(); ++index) {
    if (chooser_.items[index].nodeUniqueID != nodeUniqueID) continue;
    chooser_.selectedIndex = index;
    if (view_) view_->showNodeChooser(chooser_);
    // The outline follows the chooser, so the browser shows the node named.
    updateTreeForNodeWithUniqueID(nodeUniqueID);
    return;
  }
}

std::string MediaBrowserWindowController::nodeNameFromSavedList(const std::string& nodeUniqueID) const {
  const auto saved = defaults_.arrayForKey(kDiscoveredNodesKey);
  if (!saved) return {};
  for (const auto& entry : *saved) {
    const auto* dictionary = entry.dictionary();
    if (!dictionary) continue;
    const auto id = dictionary->find("nodeUniqueID");
    if (id == dictionary->end() || id->second.stringOr("") != nodeUniqueID) continue;
    const auto name = dictionary->find("nodeName");
    return name == dictionary->end() ? std::string() : name->second.stringOr("");
  }
  return {};
}

void MediaBrowserWindowController::updateTreeForNodeWithUniqueID(const std::optional<std::string>& nodeUniqueID) {
  selectedNodeUniqueID_ = nodeUniqueID;
  if (nodeUniqueID && view_) {
    if (const std::string name = nodeNameFromSavedList(*nodeUniqueID); !name.empty()) view_->showSelectedNodeName(name);
  }
  if (nodeUniqueID && !nodeUniqueID->empty() && !collection_.treeForNode(*nodeUniqueID)) {
    collection_.fillMediaBrowserForNodeWithUniqueID(*nodeUniqueID);
  }
  roots_.clear();
  if (nodeUniqueID) {
    if (const auto root = collection_.treeForNode(*nodeUniqueID)) roots_ = *root->children();
  }
  if (roots_.size() == 1) roots_[0]->setExpanded(true);
  reloadOutline(false);
}

void MediaBrowserWindowController::reloadOutline(bool keepScrollPosition) {
  if (selectedNodeUniqueID_) {
    const bool wasEmpty = roots_.empty();
    const auto root = collection_.treeForNode(*selectedNodeUniqueID_);
    roots_ = root ? *root->children() : std::vector<MediaCollectionNodePtr>{};
    // A tree that appears while its node is shown opens as a shown one does.
    if (wasEmpty && roots_.size() == 1) roots_[0]->setExpanded(true);
  }
  // Rows that left the shown tree leave the selection; they stay alive until
  // the window has let go of them.
  const std::vector<MediaCollectionNodePtr> shownBefore = selection_;
  const auto root = selectedNodeUniqueID_ ? collection_.treeForNode(*selectedNodeUniqueID_) : nullptr;
  std::erase_if(selection_, [&root](const MediaCollectionNodePtr& node) {
    auto top = node;
    while (top->parent()) top = top->parent();
    return top != root;
  });
  if (view_) view_->reloadOutline(roots_, keepScrollPosition);
  showClipCount();
}

void MediaBrowserWindowController::treeChanged() { reloadOutline(true); }

void MediaBrowserWindowController::clearTree() { collection_.clearTrees(); }

// ---- Outline ----

void MediaBrowserWindowController::outlineSelectionDidChange(std::vector<MediaCollectionNodePtr> selection) {
  selection_ = std::move(selection);
  if (!view_) return;
  view_->showThumbnail(nullptr);
  if (selection_.size() == 1 && selection_[0]->childrenCount() == 0 && selection_[0]->playlistItem() &&
      selectedNodeUniqueID_) {
    const auto& clip = selection_[0]->playlistItem();
    // The middle of what the clip plays, as the playlist window asks.
    collection_.dataSource()->requestThumbnail(clip->mediaItemUniqueID().value_or(""), clip->mediaFolderUniqueID(),
                                               *selectedNodeUniqueID_, clip->fields().thumbnailPositionInSeconds());
  }
  showClipCount();
  postSelection();
}

void MediaBrowserWindowController::showClipCount() const {
  if (!view_) return;
  std::uint64_t count = 0;
  if (!selection_.empty()) {
    for (const auto& node : selection_) count += node->totalClips();
  } else if (selectedNodeUniqueID_) {
    if (const auto root = collection_.treeForNode(*selectedNodeUniqueID_)) count = root->totalClips();
  }
  char text[64];
  std::snprintf(text, sizeof text, kClipCountFormat, static_cast<int>(count));
  view_->showClipCount(text);
}

void MediaBrowserWindowController::postSelection() const {
  center_.post(platform::Notification{kMediaBrowserSelectionDidChangedNotification, this, selectedPlaylistItems(), {}});
}

std::shared_ptr<nodes::PlaylistItem> MediaBrowserWindowController::selectedPlaylistItem() const {
  if (selection_.empty()) return nullptr;
  return selection_.front()->isLeaf() ? selection_.front()->playlistItem() : nullptr;
}

std::vector<std::shared_ptr<nodes::PlaylistItem>> MediaBrowserWindowController::selectedPlaylistItems() const {
  std::vector<std::shared_ptr<nodes::PlaylistItem>> clips;
  for (const auto& node : selection_) {
    if (node->isLeaf() && node->playlistItem()) clips.push_back(node->playlistItem());
  }
  return clips;
}

void MediaBrowserWindowController::itemDidExpand(const MediaCollectionNodePtr& node, bool expanded) {
  if (node) node->setExpanded(expanded);
}

bool MediaBrowserWindowController::renameNode(const MediaCollectionNodePtr& node, const std::string& name) {
  if (restrictedMode_ || !node || !node->isLeaf() || !node->playlistItem() || name.empty()) return false;
  node->playlistItem()->setDisplayName(name);
  node->setName(name);
  collection_.dataSource()->addOrUpdateClips({node->playlistItem()});
  return true;
}

std::optional<std::string> MediaBrowserWindowController::dragDataForRows(
    const std::vector<MediaCollectionNodePtr>& rows) const {
  if (restrictedMode_) return std::nullopt;
  const auto clips = draggedClips(rows);
  if (!clips) return std::nullopt;
  auto archive = nodes::archivedPlaylistItems(*clips);
  if (!archive) return std::nullopt;
  return std::move(*archive);
}

bool MediaBrowserWindowController::performDropOfPaths(const std::vector<std::string>& paths) {
  return paths.size() == 1 && showItemWithAbsolutePath(paths[0]) != nullptr;
}

void MediaBrowserWindowController::windowDidBecomeKey() {
  postSelection();
  center_.post(platform::Notification{kMediaBrowserWindowDidBecomeKeyNotification, this, {}, {}});
}

void MediaBrowserWindowController::setRestrictedMode(bool restricted) {
  restrictedMode_ = restricted;
  if (view_) view_->setRestrictedMode(restricted);
}

MediaCollectionNodePtr MediaBrowserWindowController::showItemWithAbsolutePath(const std::string& path) {
  for (const auto& top : roots_) {
    const std::string& prefix = top->mediaFolderPath();
    if (prefix.empty() || !path.starts_with(prefix)) continue;
    top->setExpanded(true);
    std::vector<std::string> names;
    const std::string rest = path.substr(prefix.size());
    for (std::size_t start = 0; start <= rest.size();) {
      const std::size_t end = std::min(rest.find('/', start), rest.size());
      if (end > start) names.push_back(rest.substr(start, end - start));
      start = end + 1;
    }
    const MediaCollectionNodePtr found = names.empty() ? top : top->openChildrenWithPathComponents(names);
    if (!found) continue;
    reloadOutline(true);
    if (view_) view_->selectNodes({found});
    return found;
  }
  return nullptr;
}

void MediaBrowserWindowController::showClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) {
  std::vector<MediaCollectionNodePtr> leaves;
  std::optional<std::string> node;
  for (const auto& clipID : clipUniqueIDs) {
    const auto clip = collection_.clipWithUniqueID(clipID);
    if (!clip) continue;
    if (!node) {
      node = clip->nodeUniqueID();
      if (node != selectedNodeUniqueID_) selectNodeWithUniqueID(*node);
      if (node != selectedNodeUniqueID_) updateTreeForNodeWithUniqueID(node);
    }
    if (clip->nodeUniqueID() != *node) continue;
    const auto leaf = collection_.mediaCollectionNodeWithClip(*clip);
    if (!leaf) continue;
    for (auto above = leaf->parent(); above; above = above->parent()) above->setExpanded(true);
    leaves.push_back(leaf);
  }
  if (leaves.empty()) return;
  reloadOutline(true);
  if (view_) view_->selectNodes(leaves);
}

}  // namespace app::browser
