#include "tools/SamplePlaylist.h"

#include <algorithm>
#include <map>
#include <utility>

#include "nodes/catalogue/MediaSynchronisation.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/link/NodeConnectionDelegate.h"
#include "nodes/link/NodePollingHooks.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace tools {
namespace {

// The connection's delegate: keeps the media items the synchronisation hands
// over, and whether every folder has been listed. Main thread.
class MediaCollector final : public nodes::NodeConnectionDelegate {
 public:
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<nodes::MediaItem>>& items) override {
    for (const auto& item : items) {
      if (const auto uniqueID = item ? item->uniqueID() : std::nullopt) items_[*uniqueID] = item;
    }
  }
  void setListed() { listed_ = true; }
  bool listed() const { return listed_; }
  std::vector<std::shared_ptr<nodes::MediaItem>> items() const {
    std::vector<std::shared_ptr<nodes::MediaItem>> all;
    for (const auto& [uniqueID, item] : items_) all.push_back(item);
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a->compareByAbsolutePath(*b) < 0; });
    return all;
  }

 private:
  std::map<std::string, std::shared_ptr<nodes::MediaItem>> items_;
  bool listed_ = false;
};

// The application's media synchronisation, followed by a note to the
// collector once every folder is initialized. The note is posted on the main
// queue after the folders' fetched items, so when it arrives they have too.
// Polling thread.
class ListingHooks final : public nodes::NodePollingHooks {
 public:
  explicit ListingHooks(std::weak_ptr<MediaCollector> collector) : collector_(std::move(collector)) {}

  void checkForMediaFolderChanges(nodes::NodeConnection& connection) override {
    synchronisation_.checkForMediaFolderChanges(connection);
    const auto folders = connection.mediaFolders();
    const bool listed = !folders.empty() && std::all_of(folders.begin(), folders.end(), [](const auto& folder) {
      return folder && folder->initialized();
    });
    if (!listed) return;
    platform::DispatchQueue::main().async([collector = collector_] {
      if (const auto target = collector.lock()) target->setListed();
    });
  }
  // A playlist needs no clip attributes.
  void checkForAttributeChanges(nodes::NodeConnection&) override {}

 private:
  nodes::MediaSynchronisation synchronisation_;
  std::weak_ptr<MediaCollector> collector_;
};

platform::Error fetchError(SamplePlaylistError code, const std::string& what) {
  return platform::Error(kSamplePlaylistErrorDomain, code, what);
}

}  // namespace

platform::Result<NodeMedia> fetchNodeMedia(const std::string& host, int port, std::chrono::milliseconds realTimeLimit) {
  const auto collector = std::make_shared<MediaCollector>();
  const auto connection = nodes::NodeConnection::create(collector);
  connection->setAddress(host);
  connection->setPortNumber(std::to_string(port));
  connection->setPollingHooks(std::make_shared<ListingHooks>(collector));
  connection->startConnection();
  const bool listed = platform::RunLoop::main().runUntil([&] { return collector->listed(); }, realTimeLimit);
  const bool reached = connection->isConnected();
  connection->stopConnection();

  const std::string node = host + ":" + std::to_string(port);
  const std::string seconds = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(realTimeLimit).count());
  if (!listed && !reached) {
    return fetchError(SamplePlaylistError::NodeNotReached, "no link to the node at " + node + " within " + seconds + " s");
  }
  if (!listed) {
    return fetchError(SamplePlaylistError::MediaNotListed,
                      "the node at " + node + " did not list its media folders within " + seconds + " s");
  }
  return NodeMedia{connection->nodeUniqueID(), connection->name(), collector->items()};
}

std::shared_ptr<nodes::VideoPlaylistDocument> makeSamplePlaylistDocument(const NodeMedia& media) {
  auto document = std::make_shared<nodes::VideoPlaylistDocument>();
  document->setNodeAUniqueID(media.nodeUniqueID);
  document->setNodeAName(media.nodeName);
  document->setNeedDefaultValues(false);
  nodes::VideoPlaylistDocument::Rows rows;
  for (const auto& mediaItem : media.items) {
    auto row = nodes::PlaylistItem::initWithMediaItem(mediaItem);
    if (!row) continue;
    row->setOnline(true);  // the node has just listed it, as the clip catalogue takes it
    rows.push_back(std::move(row));
  }
  document->setPlaylist(std::move(rows));
  document->updatePlaylistMovieAndStartTimes();
  return document;
}

}  // namespace tools
