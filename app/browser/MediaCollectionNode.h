#pragma once
// MediaCollectionNode: one node of a media browser tree. A tree root stands
// for a playout node ("Root"); inner nodes are the node's media folders and
// their sub-folders; leaves are clips from the catalogue. The controller
// (MediaCollectionNodeController) builds and changes the trees; the browser
// reads them and the derived column values below.
//
// Ownership: children are owned (shared, so a window may keep a node it
// shows while the tree changes); the parent is held weakly. Main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"

namespace app::browser {

class MediaCollectionNode;
using MediaCollectionNodePtr = std::shared_ptr<MediaCollectionNode>;

inline constexpr const char* kRootNodeName = "Root";
inline constexpr const char* kNoStartTimeCode = "00:00:00:00";

class MediaCollectionNode : public std::enable_shared_from_this<MediaCollectionNode> {
 public:
  static MediaCollectionNodePtr make(bool caseSensitive = false);

  std::shared_ptr<MediaCollectionNode> parent() const { return parent_.lock(); }
  void setParent(const MediaCollectionNodePtr& parent) { parent_ = parent; }

  // None for a leaf; a folder made without children has an empty list.
  const std::vector<MediaCollectionNodePtr>* children() const { return isLeaf_ ? nullptr : &children_; }
  std::size_t childrenCount() const { return isLeaf_ ? 0 : children_.size(); }
  const MediaCollectionNodePtr& childAtIndex(std::size_t index) const { return children_.at(index); }
  // Appends; the caller sets the child's parent.
  void addChild(const MediaCollectionNodePtr& child);
  // Removes the child; a node left empty removes itself from its parent in
  // turn, so emptied folders vanish up to the first non-empty ancestor.
  void removeChild(const MediaCollectionNode* child);

  // Folder children only; names compare exactly when this node is case
  // sensitive, else in upper case.
  MediaCollectionNodePtr directoryChildWithName(std::string_view name, std::string_view mediaFolderUniqueID) const;
  MediaCollectionNodePtr childWithName(std::string_view name, std::string_view mediaFolderUniqueID) const;
  MediaCollectionNodePtr childWithClipUniqueID(std::string_view clipUniqueID) const;
  // Walks the names (exact match), marking the folders passed as expanded;
  // the node of the last name, or none when a name has no match.
  MediaCollectionNodePtr openChildrenWithPathComponents(const std::vector<std::string>& names);
  // Whether `name` and `other` are the same name under this node's case rule.
  bool namesMatch(std::string_view name, std::string_view other) const;

  const std::shared_ptr<nodes::PlaylistItem>& playlistItem() const { return playlistItem_; }
  // Takes the clip and renames the node after its display name.
  void setPlaylistItem(std::shared_ptr<nodes::PlaylistItem> item);

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  std::uint64_t totalClips() const { return totalClips_; }
  void setTotalClips(std::uint64_t count) { totalClips_ = count; }
  const std::string& mediaFolderPath() const { return mediaFolderPath_; }
  void setMediaFolderPath(std::string path) { mediaFolderPath_ = std::move(path); }
  const std::string& mediaFolderUniqueID() const { return mediaFolderUniqueID_; }
  void setMediaFolderUniqueID(std::string id) { mediaFolderUniqueID_ = std::move(id); }
  bool isLeaf() const { return isLeaf_; }
  void setIsLeaf(bool leaf) { isLeaf_ = leaf; }
  bool expanded() const { return expanded_; }
  void setExpanded(bool expanded) { expanded_ = expanded; }
  bool caseSensitive() const { return caseSensitive_; }
  // A live clip: a leaf whose clip has no media folder (it sits under the root).
  bool isLiveClip() const;
  const std::string& framesPerSecondAsString() const { return framesPerSecondAsString_; }
  const std::string& naturalVideoSize() const { return naturalVideoSize_; }
  // Sets the two texts above from the clip.
  void setVideoTextsFromClip();

  // ---- Derived values the browser's columns show (folder: empty) ----
  std::int32_t validationStatus() const;
  bool online() const;
  std::int32_t invalidReason() const;
  std::shared_ptr<const nodes::RGBAImage> thumbnail() const;
  std::string finderLabelName() const;
  std::int64_t finderLabelIndex() const;
  std::string absolutePathToMediaItem() const;
  std::optional<platform::Date> lastModificationDate() const;
  std::string durationAsString() const;
  std::string startTime() const;
  std::string endTime() const;
  std::string inPointAsString() const;
  std::string outPointAsString() const;
  bool hasAttributes() const;  // the attribute icon shows
  std::string videoCodecDescription() const;
  std::string clipInfoString() const;
  // The text of the column with this identifier; none for an unknown one.
  std::optional<std::string> textForColumn(std::string_view identifier) const;

 private:
  explicit MediaCollectionNode(bool caseSensitive) : caseSensitive_(caseSensitive) {}
  MediaCollectionNodePtr findChild(std::string_view name, std::string_view mediaFolderUniqueID, bool foldersOnly) const;

  std::weak_ptr<MediaCollectionNode> parent_;
  std::vector<MediaCollectionNodePtr> children_;
  std::string name_;
  std::uint64_t totalClips_ = 0;
  std::shared_ptr<nodes::PlaylistItem> playlistItem_;
  std::string mediaFolderPath_;
  std::string mediaFolderUniqueID_;
  bool isLeaf_ = false;
  bool expanded_ = false;
  bool caseSensitive_ = false;
  std::string framesPerSecondAsString_;
  std::string naturalVideoSize_;
};

}  // namespace app::browser
