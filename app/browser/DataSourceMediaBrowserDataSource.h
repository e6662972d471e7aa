#pragma once
// The media browser's data source answered from the application's
// nodes::DataSource (the catalogue data source at run time).
//
// Holds the data source weakly: a browser outliving it sees no nodes and no
// clips. Main thread.

#include <memory>

#include "app/browser/MediaBrowserDataSource.h"
#include "nodes/link/DataSource.h"

namespace app::browser {

class DataSourceMediaBrowserDataSource final : public MediaBrowserDataSource {
 public:
  explicit DataSourceMediaBrowserDataSource(std::weak_ptr<nodes::DataSource> dataSource)
      : dataSource_(std::move(dataSource)) {}

  std::vector<BrowserNodeInfo> nodes() const override;
  std::optional<BrowserNodeInfo> node(const std::string& nodeUniqueID) const override;
  std::optional<bool> mediaFolderIsCaseSensitive(const std::string& nodeUniqueID,
                                                 const std::string& mediaFolderUniqueID) const override;
  Clips clipsForNodeUniqueID(const std::string& nodeUniqueID) override;
  Clips clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) override;
  std::shared_ptr<nodes::PlaylistItem> clipWithUniqueID(const std::string& clipUniqueID) override;
  void removeClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) override;
  void addOrUpdateClips(const Clips& clips) override;
  void duplicateClip(const std::shared_ptr<nodes::PlaylistItem>& clip) override;
  void requestThumbnail(const std::string& mediaItemUniqueID, const std::string& mediaFolderUniqueID,
                        const std::string& nodeUniqueID, double positionInSeconds) override;
  void forceEnumeration(const std::optional<std::string>& mediaFolderUniqueID, const std::string& nodeUniqueID,
                        const std::optional<std::string>& pathToUpdate) override;

 private:
  std::weak_ptr<nodes::DataSource> dataSource_;
};

}  // namespace app::browser
