#pragma once
// The "clipInfo" dictionaries a node sends and receives.
//
// - mediaItemClipInfo: what "fmmediaiteminfo" answers for a file of a media
//   folder.
// - playlistEntryFromClipInfo: turns a clip dictionary a client sends with
//   "pladditems" and its relatives into a playlist entry: the clip's media
//   is looked up by folder and item ID (else by absolute path) to learn its
//   length; in and out points count only with their flags and are kept
//   inside the file. The entry keeps the client's dictionary and adds what
//   the node knows ("clipInfoDurationInSeconds", "clipInfoOnline", the node's
//   name and ID, and the file's details where the client left them out).
//   A clip without "clipInfoPlaybackUniqueID" gets a new one. A clip whose
//   media the node does not have stays in the playlist, offline, with the
//   length its points give (none without an out point).
//
// Stateless functions; reentrant.

#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeState.h"
#include "node-standin/PlaybackModel.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

platform::Dictionary mediaItemClipInfo(const MediaFolderIndex& folder, const MediaItemRecord& item,
                                       const NodeIdentity& node);

platform::Result<PlaylistEntry> playlistEntryFromClipInfo(const platform::Value& clipInfo,
                                                          const MediaLibrary& library, const NodeIdentity& node);

}  // namespace standin
