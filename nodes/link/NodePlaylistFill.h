#pragma once
// Filling a playlist document from the playlist a node holds now (taking a
// node's playlist over into a window). The node's entries are matched to the
// catalogue's clips (by media item and folder on any node, else by path on
// this node); entries with no catalogue clip are left out. The document then
// plays on this node alone.
//
// A free function of the data source's node actions; main thread.

#include <string_view>

namespace nodes {

class DataSource;
class VideoPlaylistDocument;

// False (document untouched) when the node ID is empty, the node is unknown
// or it reports no playlist. Otherwise: the document's unique ID and modes
// from the node's status, its rows from the node's entries, A/B roll off,
// node A this node, start times updated, marked edited; every row's thumbnail
// is requested, and "lockedClipsDidChange", "playbackStatusDidChange" and
// "playbackAuthenticationDidChange" are posted so the window shows the node's
// state at once.
bool fillDocumentWithCurrentPlaylistFromNode(DataSource& dataSource, VideoPlaylistDocument& document,
                                             std::string_view nodeUniqueID);

}  // namespace nodes
