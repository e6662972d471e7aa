#pragma once
// MediaCollectionNodeController: owns the media browser's trees, one per
// node unique ID, and keeps them in step with the clip catalogue by
// following its notifications ("clipsAdded", "clipsDidChange",
// "mediaFolderDeleted", "nodeAdded"). After each change it calls the tree
// changed handler (the media browser's redisplay).
//
// A clip's place: the last component of its media folder path, then the
// components of its path relative to that folder; all but the last are
// folders, the last is the clip. A live clip (no media folder) sits directly
// under the root.
//
// Guarantees: every node's totalClips is the number of leaves beneath it; a
// removed leaf leaves the clip index too, so a deleted clip is no longer
// found; removing a tree's last clip of a folder removes the emptied folders.
//
// Owned by the application delegate, made right after the data source.
// Main thread: the catalogue posts on it and the browser calls on it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/browser/MediaBrowserDataSource.h"
#include "app/browser/MediaCollectionNode.h"
#include "platform/NotificationCenter.h"

namespace app::browser {

inline constexpr const char* kClipsAddedNotificationName = "clipsAdded";
inline constexpr const char* kClipsDidChangeNotificationName = "clipsDidChange";
inline constexpr const char* kMediaFolderDeletedNotificationName = "mediaFolderDeleted";
inline constexpr const char* kNodeAddedNotificationName = "nodeAdded";

class MediaCollectionNodeController {
 public:
  using Trees = std::map<std::string, MediaCollectionNodePtr, std::less<>>;

  // Starts observing `center` (not owned; outlives this).
  MediaCollectionNodeController(std::shared_ptr<MediaBrowserDataSource> dataSource,
                                platform::NotificationCenter& center);
  ~MediaCollectionNodeController();
  MediaCollectionNodeController(const MediaCollectionNodeController&) = delete;
  MediaCollectionNodeController& operator=(const MediaCollectionNodeController&) = delete;

  void startObserving();
  void stopObserving();
  // Called after every change (the browser's treeChanged); none: nothing.
  void setTreeChangedHandler(std::function<void()> handler) { treeChanged_ = std::move(handler); }

  const Trees& nodesTreesDict() const { return trees_; }
  MediaCollectionNodePtr treeForNode(std::string_view nodeUniqueID) const;
  std::uint64_t totalClips() const { return totalClips_; }
  // Removes every tree (the browser's clearTree).
  void clearTrees();

  // Builds the node's tree from the catalogue (none: every node's).
  void fillMediaBrowserForNodeWithUniqueID(const std::optional<std::string>& nodeUniqueID);
  // Places the clip in the node's tree; a clip already there refreshes its
  // leaf without changing a count. Answers the leaf (none without a place).
  MediaCollectionNodePtr addCollectionNodeWithClip(const std::shared_ptr<nodes::PlaylistItem>& clip,
                                                   const std::optional<std::string>& nodeUniqueID);
  void clipsAdded(const platform::Notification& notification);
  void clipsChanged(const platform::Notification& notification);
  void mediaFolderDeleted(const platform::Notification& notification);

  // Removes a leaf (and its clip from the catalogue) when it belongs to its
  // clip's media folder.
  void deleteCollectionNode(const MediaCollectionNodePtr& leaf);
  void deleteCollectionNodes(const std::vector<MediaCollectionNodePtr>& leaves);
  // Removes, without telling the catalogue, the leaves under `node` whose
  // clips lie in the media folder.
  void deleteChildrenOfNode(const MediaCollectionNodePtr& node, const std::string& mediaFolderUniqueID);
  // The clip's leaf: by its unique ID, else by its path in its node's tree.
  MediaCollectionNodePtr mediaCollectionNodeWithClip(const nodes::PlaylistItem& clip) const;

  std::shared_ptr<nodes::PlaylistItem> clipWithUniqueID(const std::string& clipUniqueID) const;
  const std::shared_ptr<MediaBrowserDataSource>& dataSource() const { return dataSource_; }

  // The path components of a clip in its node's tree.
  static std::vector<std::string> pathComponentsOfClip(const nodes::PlaylistItem& clip);

 private:
  void notifyTreeChanged() const;
  void addClips(const MediaBrowserDataSource::Clips& clips);
  // Lowers the counts above the leaf, removes it and forgets it.
  bool detachLeaf(const MediaCollectionNodePtr& leaf);
  void forgetLeavesUnder(const MediaCollectionNode& node);

  std::shared_ptr<MediaBrowserDataSource> dataSource_;
  platform::NotificationCenter& center_;
  std::function<void()> treeChanged_;
  Trees trees_;
  std::map<std::string, std::weak_ptr<MediaCollectionNode>, std::less<>> leavesByClipUniqueID_;
  std::uint64_t totalClips_ = 0;
  std::vector<platform::ObserverToken> observers_;
};

}  // namespace app::browser
