#include "app/browser/MediaCollectionNodeController.h"

#include <any>

#include "foundation/CVNLogController.h"

namespace app::browser {

namespace {

foundation::CVNLogController& technicalLog() { return foundation::CVNLogController::sharedLogController(); }

std::vector<std::string> splitPath(std::string_view path, std::vector<std::string> components = {}) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    // Names only: no empty, "." or ".." component takes a place in a tree.
    if (!part.empty() && part != "." && part != "..") components.emplace_back(part);
    start = end + 1;
  }
  return components;
}

std::string lastPathComponent(std::string_view path) {
  const auto components = splitPath(path);
  return components.empty() ? std::string() : components.back();
}

std::vector<std::string> stringsOf(const platform::Notification& notification) {
  std::vector<std::string> strings;
  const auto* value = std::any_cast<platform::Value>(&notification.object);
  if (!value || !value->array()) return strings;
  for (const auto& entry : *value->array()) {
    if (const auto* text = entry.string()) strings.push_back(*text);
  }
  return strings;
}

}  // namespace

MediaCollectionNodeController::MediaCollectionNodeController(std::shared_ptr<MediaBrowserDataSource> dataSource,
                                                             platform::NotificationCenter& center)
    : dataSource_(std::move(dataSource)), center_(center) {
  startObserving();
}

MediaCollectionNodeController::~MediaCollectionNodeController() { stopObserving(); }

void MediaCollectionNodeController::startObserving() {
  stopObserving();
  using Handler = void (MediaCollectionNodeController::*)(const platform::Notification&);
  const std::pair<const char*, Handler> handlers[] = {
      {kClipsDidChangeNotificationName, &MediaCollectionNodeController::clipsChanged},
      {kClipsAddedNotificationName, &MediaCollectionNodeController::clipsAdded},
      {kMediaFolderDeletedNotificationName, &MediaCollectionNodeController::mediaFolderDeleted},
  };
  for (const auto& [name, handler] : handlers) {
    observers_.push_back(center_.addObserver(
        name, nullptr,
        [this, handler = handler](const platform::Notification& notification) { (this->*handler)(notification); }));
  }
  // Trees are built when the browser first shows a node.
  observers_.push_back(center_.addObserver(kNodeAddedNotificationName, nullptr, [](const platform::Notification&) {}));
}

void MediaCollectionNodeController::stopObserving() { observers_.clear(); }

void MediaCollectionNodeController::notifyTreeChanged() const {
  if (treeChanged_) treeChanged_();
}

MediaCollectionNodePtr MediaCollectionNodeController::treeForNode(std::string_view nodeUniqueID) const {
  const auto found = trees_.find(nodeUniqueID);
  return found == trees_.end() ? nullptr : found->second;
}

void MediaCollectionNodeController::clearTrees() {
  trees_.clear();
  leavesByClipUniqueID_.clear();
  totalClips_ = 0;
}

std::vector<std::string> MediaCollectionNodeController::pathComponentsOfClip(const nodes::PlaylistItem& clip) {
  std::vector<std::string> components;
  if (std::string folder = lastPathComponent(clip.mediaFolderPath()); !folder.empty()) {
    components.push_back(std::move(folder));
  }
  return splitPath(clip.relativePathToMediaItem(), std::move(components));
}

std::shared_ptr<nodes::PlaylistItem> MediaCollectionNodeController::clipWithUniqueID(
    const std::string& clipUniqueID) const {
  return dataSource_->clipWithUniqueID(clipUniqueID);
}

MediaCollectionNodePtr MediaCollectionNodeController::addCollectionNodeWithClip(
    const std::shared_ptr<nodes::PlaylistItem>& clip, const std::optional<std::string>& nodeUniqueID) {
  if (!clip) return nullptr;
  const bool caseSensitive =
      dataSource_->mediaFolderIsCaseSensitive(clip->nodeUniqueID(), clip->mediaFolderUniqueID()).value_or(false);
  if (!nodeUniqueID) {
    technicalLog().logMessageWithLevel(2, false, "inNodeUniqueID is nil");
    return nullptr;
  }
  if (nodeUniqueID->empty()) technicalLog().logMessageWithLevel(2, false, "inNodeUniqueID = ");

  MediaCollectionNodePtr& root = trees_[*nodeUniqueID];
  if (!root) {
    root = MediaCollectionNode::make(caseSensitive);
    root->setName(kRootNodeName);
  }
  const std::vector<std::string> components = pathComponentsOfClip(*clip);
  if (components.empty()) return nullptr;

  const std::string folderID = clip->mediaFolderUniqueID();
  const std::string folderPath = clip->mediaFolderPath();
  const std::string clipID = clip->uniqueID().value_or("");
  MediaCollectionNodePtr current = root;
  bool created = false;
  for (std::size_t index = 0; index < components.size(); ++index) {
    const bool last = index + 1 == components.size();
    MediaCollectionNodePtr next = last ? current->childWithClipUniqueID(clipID)
                                       : current->directoryChildWithName(components[index], folderID);
    created = !next;
    if (created) {
      next = MediaCollectionNode::make(caseSensitive);
      next->setParent(current);
      next->setName(components[index]);
      current->addChild(next);
    }
    next->setMediaFolderPath(folderPath);
    next->setMediaFolderUniqueID(folderID);
    current = next;
  }
  if (!created && !current->isLeaf()) {
    current->setIsLeaf(false);
    return nullptr;
  }
  current->setIsLeaf(true);
  if (created) {
    current->setTotalClips(1);
    for (auto above = current->parent(); above; above = above->parent()) above->setTotalClips(above->totalClips() + 1);
    ++totalClips_;
  }
  current->setPlaylistItem(clip);
  leavesByClipUniqueID_[clipID] = current;
  current->setVideoTextsFromClip();
  return current;
}

void MediaCollectionNodeController::addClips(const MediaBrowserDataSource::Clips& clips) {
  for (const auto& clip : clips) {
    if (clip) addCollectionNodeWithClip(clip, clip->nodeUniqueID());
  }
}

void MediaCollectionNodeController::fillMediaBrowserForNodeWithUniqueID(
    const std::optional<std::string>& nodeUniqueID) {
  technicalLog().logMessageWithLevel(2, false, "filling MediaBrowser for node with unique id:%s",
                                     nodeUniqueID ? nodeUniqueID->c_str() : "(null)");
  std::vector<std::string> nodeIDs;
  if (nodeUniqueID) {
    nodeIDs.push_back(*nodeUniqueID);
  } else {
    for (const auto& node : dataSource_->nodes()) {
      if (!node.uniqueID.empty()) nodeIDs.push_back(node.uniqueID);
    }
  }
  for (const auto& nodeID : nodeIDs) {
    const auto clips = dataSource_->clipsForNodeUniqueID(nodeID);
    if (clips.empty()) continue;
    addClips(clips);
    notifyTreeChanged();
  }
}

void MediaCollectionNodeController::clipsAdded(const platform::Notification& notification) {
  const auto clipIDs = stringsOf(notification);
  if (clipIDs.empty()) return;
  addClips(dataSource_->clipsWithUniqueIDs(clipIDs));
  notifyTreeChanged();
}

void MediaCollectionNodeController::clipsChanged(const platform::Notification& notification) {
  for (const auto& clipID : stringsOf(notification)) {
    const auto clip = dataSource_->clipWithUniqueID(clipID);
    if (!clip) continue;
    if (const auto leaf = mediaCollectionNodeWithClip(*clip)) {
      leaf->setPlaylistItem(clip);
      leaf->setVideoTextsFromClip();
    }
  }
  notifyTreeChanged();
}

void MediaCollectionNodeController::forgetLeavesUnder(const MediaCollectionNode& node) {
  if (node.isLeaf()) {
    if (node.playlistItem()) leavesByClipUniqueID_.erase(node.playlistItem()->uniqueID().value_or(""));
    return;
  }
  for (const auto& child : *node.children()) forgetLeavesUnder(*child);
}

void MediaCollectionNodeController::mediaFolderDeleted(const platform::Notification& notification) {
  const auto* value = std::any_cast<platform::Value>(&notification.object);
  const std::string* folderID = value ? value->string() : nullptr;
  if (!folderID) return;
  for (const auto& [nodeID, root] : trees_) {
    const auto* children = root->children();
    if (!children) continue;
    for (const auto& child : *children) {
      if (child->mediaFolderUniqueID() != *folderID) continue;
      const MediaCollectionNodePtr removed = child;  // keeps it while it leaves the list
      forgetLeavesUnder(*removed);
      root->setTotalClips(root->totalClips() - std::min(root->totalClips(), removed->totalClips()));
      totalClips_ -= std::min(totalClips_, removed->totalClips());
      root->removeChild(removed.get());
      break;
    }
  }
  notifyTreeChanged();
}

bool MediaCollectionNodeController::detachLeaf(const MediaCollectionNodePtr& leaf) {
  const auto parent = leaf->parent();
  if (!parent) return false;
  for (auto above = parent; above; above = above->parent()) {
    above->setTotalClips(above->totalClips() - std::min<std::uint64_t>(above->totalClips(), 1));
  }
  totalClips_ -= std::min<std::uint64_t>(totalClips_, 1);
  forgetLeavesUnder(*leaf);
  parent->removeChild(leaf.get());
  return true;
}

void MediaCollectionNodeController::deleteCollectionNodes(const std::vector<MediaCollectionNodePtr>& leaves) {
  std::vector<std::string> clipIDs;
  for (const auto& leaf : leaves) {
    if (!leaf || !leaf->isLeaf() || !leaf->playlistItem()) continue;
    if (leaf->playlistItem()->mediaFolderUniqueID() != leaf->mediaFolderUniqueID()) continue;
    const std::string clipID = leaf->playlistItem()->uniqueID().value_or("");
    if (detachLeaf(leaf)) clipIDs.push_back(clipID);
  }
  dataSource_->removeClipsWithUniqueIDs(clipIDs);
  notifyTreeChanged();
}

void MediaCollectionNodeController::deleteCollectionNode(const MediaCollectionNodePtr& leaf) {
  if (leaf && leaf->isLeaf() && leaf->playlistItem() &&
      leaf->playlistItem()->mediaFolderUniqueID() == leaf->mediaFolderUniqueID()) {
    const std::string clipID = leaf->playlistItem()->uniqueID().value_or("");
    if (detachLeaf(leaf)) dataSource_->removeClipsWithUniqueIDs({clipID});
  }
  notifyTreeChanged();
}

void MediaCollectionNodeController::deleteChildrenOfNode(const MediaCollectionNodePtr& node,
                                                         const std::string& mediaFolderUniqueID) {
  if (!node) return;
  if (node->isLeaf()) {
    if (node->playlistItem() && node->playlistItem()->mediaFolderUniqueID() == mediaFolderUniqueID) detachLeaf(node);
    return;
  }
  const std::vector<MediaCollectionNodePtr> children = *node->children();
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    deleteChildrenOfNode(*child, mediaFolderUniqueID);
  }
}

MediaCollectionNodePtr MediaCollectionNodeController::mediaCollectionNodeWithClip(
    const nodes::PlaylistItem& clip) const {
  if (const auto id = clip.uniqueID()) {
    const auto found = leavesByClipUniqueID_.find(*id);
    if (found != leavesByClipUniqueID_.end()) {
      if (auto leaf = found->second.lock()) return leaf;
    }
  }
  MediaCollectionNodePtr current = treeForNode(clip.nodeUniqueID());
  if (!current) return nullptr;
  const std::string folderID = clip.mediaFolderUniqueID();
  bool matched = false;
  for (const auto& component : pathComponentsOfClip(clip)) {
    const auto* children = current->children();
    if (!children) break;
    for (const auto& child : *children) {
      if (child->mediaFolderUniqueID() == folderID && child->namesMatch(child->name(), component)) {
        current = child;
        matched = true;
        break;
      }
    }
  }
  return matched && current->isLeaf() ? current : nullptr;
}

}  // namespace app::browser
