#pragma once
// What the media synchronisation tells a connection's delegate, and how: each
// report is posted to the main thread without waiting, carrying only values
// and objects the polling thread no longer changes.
//
// Called on the polling thread; the delegate calls run on the main thread
// (dropped when the delegate has gone meanwhile).

#include <functional>
#include <memory>
#include <vector>

#include "nodes/media/MediaItem.h"
#include "nodes/link/NodeConnectionDelegate.h"
#include "platform/Value.h"

namespace nodes {

class NodeConnection;

namespace detail {

// Runs `call` with the connection's delegate on the main thread, later.
void postToDelegate(NodeConnection& connection, std::function<void(NodeConnectionDelegate&)> call);

// mediaFoldersDidChange with {a snapshot of the folder list, node unique ID,
// node name}.
void reportMediaFoldersDidChange(NodeConnection& connection);
void reportFetchedMediaItems(NodeConnection& connection, std::vector<std::shared_ptr<MediaItem>> items);
// Entries {"mediaItemUniqueId", "mediaFolderUniqueID"}.
void reportOfflineMediaItems(NodeConnection& connection, platform::Array entries);
// possibleClipAttributeDidChange with {"possibleClipAttributes",
// "nodeUniqueID", "nodeName", "clipAttributesLastChangeNumber"}.
void reportPossibleClipAttributes(NodeConnection& connection);
// possibleClipAttributeDidChange with the change plus "nodeName" and
// "nodeUniqueID".
void reportAttributeChange(NodeConnection& connection, platform::Dictionary change);

}  // namespace detail
}  // namespace nodes
