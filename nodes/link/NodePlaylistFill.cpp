#include "nodes/link/NodePlaylistFill.h"

#include <optional>
#include <string>

#include "foundation/NotificationCenterAdditions.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/link/DataSource.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/NotificationCenter.h"

namespace nodes {
namespace {

using platform::Value;

// The catalogue's clip for one node entry: by media item and folder on any
// node, else by path on this node; none when the catalogue has neither.
std::shared_ptr<PlaylistItem> catalogueClipForEntry(DataSource& dataSource, const Value& entry,
                                                    const std::string& nodeUniqueID) {
  const std::string mediaItem = entry[clipinfo::kMediaItemUniqueID].stringOr("");
  const std::string folder = entry[clipinfo::kMediaFolderUniqueID].stringOr("");
  if (!mediaItem.empty()) {
    const auto clips = dataSource.clipsWithMediaItemUniqueID(
        mediaItem, std::nullopt, folder.empty() ? std::nullopt : std::optional<std::string>(folder));
    if (clips && !clips->empty()) return clips->front();
  }
  const std::string path = entry[clipinfo::kAbsolutePathToMediaItem].stringOr("");
  if (path.empty()) return nullptr;
  const auto clips = dataSource.clipsWithMediaItemAbsolutePath(path, nodeUniqueID);
  return clips && !clips->empty() ? clips->front() : nullptr;
}

}  // namespace

void takeNodeEntryFields(PlaylistItem& clip, const Value& entry, const std::string& nodeUniqueID) {
  const auto text = [&](const char* key) -> std::optional<std::string> {
    if (const std::string* value = entry[key].string()) return *value;
    return std::nullopt;
  };
  if (auto v = text(clipinfo::kMediaItemUniqueID)) clip.setMediaItemUniqueID(*v);
  if (auto v = text(clipinfo::kMediaFolderUniqueID)) clip.setMediaFolderUniqueID(*v);
  clip.setNodeUniqueID(nodeUniqueID);
  if (auto v = text(clipinfo::kUniqueID)) clip.setUniqueID(*v);
  if (auto v = text(clipinfo::kPlaybackUniqueID)) clip.setPlaybackUniqueID(*v);
  if (const auto* attributes = entry[clipinfo::kAttributes].dictionary()) clip.setAttributes(*attributes);
  if (auto v = entry[clipinfo::kInPointInSeconds].real()) clip.setInPointInSeconds(*v);
  if (auto v = entry[clipinfo::kOutPointInSeconds].real()) clip.setOutPointInSeconds(*v);
  if (auto v = entry[clipinfo::kDisplayVideoOriginX].real()) clip.setDisplayOriginX(static_cast<float>(*v));
  if (auto v = entry[clipinfo::kDisplayVideoOriginY].real()) clip.setDisplayOriginY(static_cast<float>(*v));
  if (auto v = entry[clipinfo::kDisplayVideoSizeHeight].real()) clip.setDisplaySizeHeight(static_cast<float>(*v));
  if (auto v = entry[clipinfo::kDisplayVideoSizeWidth].real()) clip.setDisplaySizeWidth(static_cast<float>(*v));
  if (auto v = entry[clipinfo::kOnline].boolean()) clip.setOnline(*v);
  // After the points: "no point" clears the seconds just taken.
  if (auto v = entry[clipinfo::kHasInPoint].boolean()) clip.setHasInPoint(*v);
  if (auto v = entry[clipinfo::kHasOutPoint].boolean()) clip.setHasOutPoint(*v);
}

bool fillDocumentWithCurrentPlaylistFromNode(DataSource& dataSource, VideoPlaylistDocument& document,
                                             std::string_view nodeUniqueID) {
  if (nodeUniqueID.empty()) return false;
  const NodeConnectionPtr connection = dataSource.nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return false;
  const platform::Array entries = connection->currentPlaylist();
  if (entries.empty()) return false;
  const std::string node(nodeUniqueID);
  const platform::Dictionary status = connection->currentStatus();
  const Value statusValue(status);

  const std::string playlistUniqueID = statusValue[kNodeStatusPlaylistUniqueIDKey].stringOr("");
  if (!playlistUniqueID.empty()) document.setUniqueID(playlistUniqueID);
  if (auto loop = statusValue[kNodeStatusLoopModeKey].boolean(); loop && *loop != document.loop())
    document.setLoop(*loop);
  if (auto chain = statusValue[kNodeStatusChainModeKey].boolean(); chain && *chain != document.chain())
    document.setChain(*chain);
  if (auto cue = statusValue[kNodeStatusCueModeKey].boolean(); cue && *cue != document.cueMode())
    document.setCueMode(*cue);

  VideoPlaylistDocument::Rows rows;
  for (const Value& entry : entries) {
    if (!entry.isDictionary()) continue;
    std::shared_ptr<PlaylistItem> clip = catalogueClipForEntry(dataSource, entry, node);
    if (!clip) continue;
    takeNodeEntryFields(*clip, entry, node);
    rows.push_back(std::move(clip));
  }

  document.setAbRoll(false);
  document.setNodeAUniqueID(node);
  document.setNodeAName(connection->name());
  document.setNodeBName(std::nullopt);
  document.setPlaylist(rows);
  // One request per row: a repeat for the same position would be dropped as
  // pending anyway.
  for (const auto& row : rows) {
    dataSource.requestThumbnailForMediaItemWithUniqueID(row->mediaItemUniqueID().value_or(""),
                                                        row->mediaFolderUniqueID(), node,
                                                        row->fields().thumbnailPositionInSeconds());
  }
  document.updatePlaylistMovieAndStartTimes();
  document.updateChangeCount(VideoPlaylistDocument::DocumentChange::Done);

  dataSource.nodeLockedClipsChanged(status, connection);
  dataSource.nodePlaybackStatusChanged(status, connection);
  foundation::postNotificationOnMainThreadWithName(platform::NotificationCenter::defaultCenter(),
                                                   kPlaybackAuthenticationDidChangeNotification, nullptr);
  return true;
}

}  // namespace nodes
