#pragma once
// MediaBrowserDataSource: what the media browser and its trees ask of the
// data source: the node list, media folders, the catalogue's clips and the
// node requests (thumbnails, re-scans). DataSourceMediaBrowserDataSource
// answers it from the application's data source; tests use a fake.
//
// Owned by the collection controller and the browser (shared). Main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"

namespace app::browser {

// One node connection as the browser's node chooser shows it.
struct BrowserNodeInfo {
  std::string uniqueID;
  std::string name;
  std::string address;
  std::string portNumber;
  bool running = false;
  bool connected = false;
  friend bool operator==(const BrowserNodeInfo&, const BrowserNodeInfo&) = default;
};

class MediaBrowserDataSource {
 public:
  using Clips = std::vector<std::shared_ptr<nodes::PlaylistItem>>;
  virtual ~MediaBrowserDataSource() = default;

  // The node connections in the data source's order.
  virtual std::vector<BrowserNodeInfo> nodes() const = 0;
  virtual std::optional<BrowserNodeInfo> node(const std::string& nodeUniqueID) const = 0;
  // The case rule of a node's media folder; none when the folder is unknown.
  virtual std::optional<bool> mediaFolderIsCaseSensitive(const std::string& nodeUniqueID,
                                                         const std::string& mediaFolderUniqueID) const = 0;

  virtual Clips clipsForNodeUniqueID(const std::string& nodeUniqueID) = 0;
  virtual Clips clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) = 0;
  virtual std::shared_ptr<nodes::PlaylistItem> clipWithUniqueID(const std::string& clipUniqueID) = 0;
  virtual void removeClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) = 0;
  virtual void addOrUpdateClips(const Clips& clips) = 0;
  virtual void duplicateClip(const std::shared_ptr<nodes::PlaylistItem>& clip) = 0;

  // The image arrives as "newThumbnailIsAvailable".
  virtual void requestThumbnail(const std::string& mediaItemUniqueID, const std::string& mediaFolderUniqueID,
                                const std::string& nodeUniqueID, double positionInSeconds) = 0;
  // A re-scan of one folder (or, with none, of every folder) of the node.
  virtual void forceEnumeration(const std::optional<std::string>& mediaFolderUniqueID, const std::string& nodeUniqueID,
                                const std::optional<std::string>& pathToUpdate) = 0;
};

}  // namespace app::browser
