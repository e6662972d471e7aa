#include "app/browser/DataSourceMediaBrowserDataSource.h"

namespace app::browser {

namespace {

BrowserNodeInfo infoOf(const nodes::NodeConnection& connection) {
  return BrowserNodeInfo{connection.nodeUniqueID(), connection.name(),       connection.address(),
                         connection.portNumber(),   connection.isRunning(), connection.isConnected()};
}

}  // namespace

std::vector<BrowserNodeInfo> DataSourceMediaBrowserDataSource::nodes() const {
  std::vector<BrowserNodeInfo> result;
  const auto source = dataSource_.lock();
  if (!source) return result;
  for (const auto& connection : source->nodes()) {
    if (connection) result.push_back(infoOf(*connection));
  }
  return result;
}

std::optional<BrowserNodeInfo> DataSourceMediaBrowserDataSource::node(const std::string& nodeUniqueID) const {
  const auto source = dataSource_.lock();
  if (!source) return std::nullopt;
  const auto connection = source->nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return std::nullopt;
  return infoOf(*connection);
}

std::optional<bool> DataSourceMediaBrowserDataSource::mediaFolderIsCaseSensitive(
    const std::string& nodeUniqueID, const std::string& mediaFolderUniqueID) const {
  const auto source = dataSource_.lock();
  if (!source) return std::nullopt;
  const auto connection = source->nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return std::nullopt;
  const auto folder = connection->mediaFolderWithUniqueID(mediaFolderUniqueID);
  if (!folder) return std::nullopt;
  return folder->caseSensitive();
}

MediaBrowserDataSource::Clips DataSourceMediaBrowserDataSource::clipsForNodeUniqueID(const std::string& nodeUniqueID) {
  const auto source = dataSource_.lock();
  if (!source) return {};
  return source->clipsForNodeUniqueID(nodeUniqueID).value_or(Clips{});
}

MediaBrowserDataSource::Clips DataSourceMediaBrowserDataSource::clipsWithUniqueIDs(
    const std::vector<std::string>& clipUniqueIDs) {
  const auto source = dataSource_.lock();
  if (!source) return {};
  return source->clipsWithUniqueIDs(clipUniqueIDs).value_or(Clips{});
}

std::shared_ptr<nodes::PlaylistItem> DataSourceMediaBrowserDataSource::clipWithUniqueID(
    const std::string& clipUniqueID) {
  const auto source = dataSource_.lock();
  return source ? source->clipWithUniqueID(clipUniqueID) : nullptr;
}

void DataSourceMediaBrowserDataSource::removeClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) {
  if (const auto source = dataSource_.lock()) source->removeClipsWithUniqueIDs(clipUniqueIDs);
}

void DataSourceMediaBrowserDataSource::addOrUpdateClips(const Clips& clips) {
  if (const auto source = dataSource_.lock()) source->addOrUpdateClips(clips);
}

void DataSourceMediaBrowserDataSource::duplicateClip(const std::shared_ptr<nodes::PlaylistItem>& clip) {
  if (const auto source = dataSource_.lock()) source->duplicateClip(clip);
}

void DataSourceMediaBrowserDataSource::requestThumbnail(const std::string& mediaItemUniqueID,
                                                        const std::string& mediaFolderUniqueID,
                                                        const std::string& nodeUniqueID, double positionInSeconds) {
  if (const auto source = dataSource_.lock()) {
    source->requestThumbnailForMediaItemWithUniqueID(mediaItemUniqueID, mediaFolderUniqueID, nodeUniqueID,
                                                     positionInSeconds);
  }
}

void DataSourceMediaBrowserDataSource::forceEnumeration(const std::optional<std::string>& mediaFolderUniqueID,
                                                        const std::string& nodeUniqueID,
                                                        const std::optional<std::string>& pathToUpdate) {
  if (const auto source = dataSource_.lock()) {
    source->forceEnumerationOnMediaFolderWithUniqueID(mediaFolderUniqueID, nodeUniqueID, pathToUpdate);
  }
}

}  // namespace app::browser
