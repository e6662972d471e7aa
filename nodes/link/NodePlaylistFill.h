#pragma once
// Filling a playlist document from the playlist a node holds now (taking a
// node's playlist over into a window). The node's entries are matched to the
// catalogue's clips (by media item and folder on any node, else by path on
// this node); entries with no catalogue clip are left out. The document then
// plays on this node alone.
//
// A free function of the data source's node actions; main thread.

#include <string>
#include <string_view>

#include "platform/Value.h"

namespace nodes {

class DataSource;
class PlaylistItem;
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

// The playlist fields of a node's entry (a clip dictionary of the node's
// playlist) on the catalogue's clip for it: node, media folder, unique and
// playback IDs, attributes, in and out points, display frame, online state;
// keys the entry lacks leave the clip's values.
void takeNodeEntryFields(PlaylistItem& clip, const platform::Value& entry, const std::string& nodeUniqueID);

}  // namespace nodes
