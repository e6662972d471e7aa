#pragma once
// PlaylistDocumentDataSource: what a playlist document asks of the data
// source and its clip catalogue: the catalogue's clips for rows (by media
// path, by media item unique ID), thumbnails, and the conversion of legacy
// playlist files. The signatures are the data source's own, so that it can
// implement this interface as it stands; a none answer means "nothing known".
//
// Not owned by the document; the data source outlives every document (the
// application owns both). Called on the main thread.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"
#include "platform/Value.h"

namespace nodes {

class PlaylistDocumentDataSource {
 public:
  using PlaylistItems = std::vector<std::shared_ptr<PlaylistItem>>;
  using PlaylistItemsByKey = std::map<std::string, std::shared_ptr<PlaylistItem>, std::less<>>;

  virtual ~PlaylistDocumentDataSource() = default;

  // The node's catalogue clips at these absolute media paths, by path.
  virtual std::optional<PlaylistItemsByKey> playlistItemsWithAbsolutePaths(const std::vector<std::string>& paths,
                                                                           const std::string& nodeUniqueID) = 0;
  // The node's catalogue clips with these media item unique IDs, by ID.
  virtual std::optional<PlaylistItemsByKey> playlistItemsWithMediaItemUniqueIDs(
      const std::vector<std::string>& mediaItemUniqueIDs, const std::string& nodeUniqueID) = 0;
  // Catalogue clips of one media item; none for a node or folder means any.
  virtual std::optional<PlaylistItems> clipsWithMediaItemUniqueID(
      const std::string& mediaItemUniqueID, const std::optional<std::string>& nodeUniqueID,
      const std::optional<std::string>& mediaFolderUniqueID) = 0;
  // The node's catalogue clips whose media file is at this absolute path.
  virtual std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(
      const std::string& absolutePath, const std::optional<std::string>& nodeUniqueID) = 0;
  // Asks the node for a thumbnail of the media item at `positionInSeconds`.
  virtual void requestThumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                        std::string_view mediaFolderUniqueID,
                                                        std::string_view nodeUniqueID, double positionInSeconds) = 0;
  // The rows of a legacy playlist file (its whole root) for the node.
  virtual std::optional<PlaylistItems> playlistItemsArrayFromDict(const platform::Dictionary& dictionary,
                                                                  const std::string& nodeUniqueID) = 0;
};

}  // namespace nodes
