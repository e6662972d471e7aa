#pragma once
// The sample playlist: a playlist document holding every media item of one
// node, made from what the node itself reports, so that each row carries the
// node's media item and folder unique IDs and paths and the node can play it.
// The run command writes one for the stand-in node before it starts the
// application.
//
// fetchNodeMedia connects to the node the way the application does (a
// NodeConnection running the media synchronisation) and drives
// RunLoop::main() on the calling thread, which must be the program's main
// thread, for at most the time limit it is given. The connection is stopped
// before it returns. makeSamplePlaylistDocument is pure.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "nodes/media/MediaItem.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Error.h"

namespace tools {

inline constexpr const char* kSamplePlaylistErrorDomain = "SamplePlaylistErrorDomain";
enum class SamplePlaylistError {
  NodeNotReached = 1,  // no link to the node within the time limit
  MediaNotListed = 2,  // linked, but its media folders were not listed in time
};

// What a node holds: its identity and every media item of its folders, in
// absolute path order.
struct NodeMedia {
  std::string nodeUniqueID;
  std::string nodeName;
  std::vector<std::shared_ptr<nodes::MediaItem>> items;
};

platform::Result<NodeMedia> fetchNodeMedia(const std::string& host, int port, std::chrono::milliseconds realTimeLimit);

// A playlist on node A (the node of `media`) with one online row per item,
// in order, with its start times computed; not yet saved.
std::shared_ptr<nodes::VideoPlaylistDocument> makeSamplePlaylistDocument(const NodeMedia& media);

}  // namespace tools
