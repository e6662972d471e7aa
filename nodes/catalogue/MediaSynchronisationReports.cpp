#include "nodes/catalogue/MediaSynchronisationReports.h"

#include <utility>

#include "nodes/link/NodeConnection.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"

namespace nodes::detail {

void postToDelegate(NodeConnection& connection, std::function<void(NodeConnectionDelegate&)> call) {
  const bool queued = platform::DispatchQueue::main().async([delegate = connection.delegate(), call = std::move(call)] {
    if (const auto target = delegate.lock()) call(*target);
  });
  if (!queued) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               connection.description() + ": a media report was refused by the main queue");
  }
}

void reportMediaFoldersDidChange(NodeConnection& connection) {
  NodeMediaFoldersInfo info;
  // New objects with the saved fields only: the live folders go on changing
  // on the polling thread, and their pending items are no business of the
  // saved node list.
  for (const auto& folder : connection.mediaFolders()) {
    if (folder) info.mediaFoldersArray.push_back(MediaFolder::fromDictionary(folder->dictionary()));
  }
  info.nodeUniqueID = connection.nodeUniqueID();
  info.nodeName = connection.name();
  postToDelegate(connection, [info = std::move(info)](NodeConnectionDelegate& delegate) {
    delegate.mediaFoldersDidChange(info);
  });
}

void reportFetchedMediaItems(NodeConnection& connection, std::vector<std::shared_ptr<MediaItem>> items) {
  postToDelegate(connection, [items = std::move(items)](NodeConnectionDelegate& delegate) {
    delegate.addOrUpdateClipsWithMediaItems(items);
  });
}

void reportOfflineMediaItems(NodeConnection& connection, platform::Array entries) {
  postToDelegate(connection, [entries = std::move(entries)](NodeConnectionDelegate& delegate) {
    delegate.markClipsAsOfflineForMediaItemsUniqueIDs(entries);
  });
}

void reportPossibleClipAttributes(NodeConnection& connection) {
  platform::Array attributes;
  for (const auto& attribute : connection.possibleClipAttributes()) {
    if (attribute) attributes.emplace_back(attribute->dictionary());
  }
  // Kept and sent as a 32-bit number.
  const auto changeNumber = static_cast<std::uint32_t>(connection.clipAttributesLastChangeNumber());
  platform::Dictionary info{
      {"possibleClipAttributes", platform::Value(std::move(attributes))},
      {"nodeUniqueID", platform::Value(connection.nodeUniqueID())},
      {"nodeName", platform::Value(connection.name())},
      {"clipAttributesLastChangeNumber", platform::Value(static_cast<std::int64_t>(changeNumber))},
  };
  postToDelegate(connection, [info = std::move(info)](NodeConnectionDelegate& delegate) {
    delegate.possibleClipAttributeDidChange(info);
  });
}

void reportAttributeChange(NodeConnection& connection, platform::Dictionary change) {
  change["nodeName"] = platform::Value(connection.name());
  change["nodeUniqueID"] = platform::Value(connection.nodeUniqueID());
  postToDelegate(connection, [change = std::move(change)](NodeConnectionDelegate& delegate) {
    delegate.possibleClipAttributeDidChange(change);
  });
}

}  // namespace nodes::detail
