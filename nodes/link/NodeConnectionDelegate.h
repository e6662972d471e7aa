#pragma once
// NodeConnectionDelegate: what a NodeConnection tells its owner, the data
// source, about its node. Every operation has an empty default so an owner
// overrides only what it uses.
//
// Threads, as the connection calls them:
// - on the polling thread, directly: getMediaFoldersForNode,
//   attributesLastChangeNumberInPrefForNode, attributesInPrefForNodeWithUniqueID,
//   nodeListDidChange, saveNodeToPreference, nodePlaylistDidChangeForNode, the
//   status operations, nodeScheduleUniqueIDDidChange. They must not wait for
//   the main thread for long (post instead) and must not call stopConnection.
// - on the main thread: the same status operations and nodeListDidChange when
//   the link closes; and, from the media synchronisation, without the polling
//   thread waiting: mediaFoldersDidChange, markClipsAsOfflineForMediaItemsUniqueIDs,
//   addOrUpdateClipsWithMediaItems, possibleClipAttributeDidChange.
// The delegate is held weakly; calls stop once it is gone.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nodes/media/Attribute.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/media/MediaItem.h"
#include "platform/Value.h"

namespace nodes {

class NodeConnection;
using NodeConnectionPtr = std::shared_ptr<NodeConnection>;

// The argument of mediaFoldersDidChange ({"mediaFoldersArray", "nodeUniqueID",
// "nodeName"}).
struct NodeMediaFoldersInfo {
  std::vector<std::shared_ptr<MediaFolder>> mediaFoldersArray;
  std::string nodeUniqueID;
  std::string nodeName;
};

class NodeConnectionDelegate {
 public:
  virtual ~NodeConnectionDelegate() = default;

  // --- Saved node list (polling thread) ---
  // Restores the connection's media folders from the saved node list
  // (connection.setMediaFolders).
  virtual void getMediaFoldersForNode(const NodeConnectionPtr& /*connection*/) {}
  virtual std::uint32_t attributesLastChangeNumberInPrefForNode(const NodeConnectionPtr& /*connection*/) { return 0; }
  virtual std::vector<std::shared_ptr<Attribute>> attributesInPrefForNodeWithUniqueID(
      const std::string& /*nodeUniqueID*/) {
    return {};
  }
  virtual void saveNodeToPreference(const NodeConnectionPtr& /*connection*/) {}
  virtual void nodeListDidChange() {}
  virtual void nodePlaylistDidChangeForNode(const NodeConnectionPtr& /*node*/) {}

  // --- Status changes: `status` is the node's new status dictionary ---
  virtual void nodePlaybackStatusChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackClipUniqueIDChanged(const platform::Dictionary& /*status*/,
                                               const NodeConnectionPtr& /*node*/) {}
  virtual void nodeLockedClipsChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackPlaylistUniqueIDChanged(const platform::Dictionary& /*status*/,
                                                   const NodeConnectionPtr& /*node*/) {}
  virtual void nodeCurrentDateTimeChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodeFirstEventStartDateTimeChanged(const platform::Dictionary& /*status*/,
                                                  const NodeConnectionPtr& /*node*/) {}
  virtual void nodeLastEventEndDateTimeChanged(const platform::Dictionary& /*status*/,
                                               const NodeConnectionPtr& /*node*/) {}
  virtual void nodeCurrentDelayChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackLoopModeChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackChainModeChanged(const platform::Dictionary& /*status*/,
                                            const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackCueModeChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodeAuthenticationChanged(const platform::Dictionary& /*status*/, const NodeConnectionPtr& /*node*/) {}
  virtual void nodePlaybackClipPositionChanged(const platform::Dictionary& /*status*/,
                                               const NodeConnectionPtr& /*node*/) {}
  virtual void nodeSchedulerCurrentItemPathChanged(const platform::Dictionary& /*status*/,
                                                   const NodeConnectionPtr& /*node*/) {}
  virtual void nodeScheduleUniqueIDDidChange(const std::string& /*scheduleUniqueID*/,
                                             const NodeConnectionPtr& /*node*/) {}

  // --- Media synchronisation (main thread) ---
  virtual void mediaFoldersDidChange(const NodeMediaFoldersInfo& /*info*/) {}
  // Dictionaries {"mediaItemUniqueId", "mediaFolderUniqueID"}.
  virtual void markClipsAsOfflineForMediaItemsUniqueIDs(const platform::Array& /*items*/) {}
  virtual void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& /*items*/) {}
  // {"possibleClipAttributes" (array of Attribute::dictionary()), "nodeUniqueID",
  // "nodeName", "clipAttributesLastChangeNumber"}, or a change dictionary plus
  // "nodeName" and "nodeUniqueID".
  virtual void possibleClipAttributeDidChange(const platform::Dictionary& /*info*/) {}
};

}  // namespace nodes
