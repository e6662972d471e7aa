#pragma once
// The work of the catalogue's write operations, each run inside the store
// transaction the operation queue opened. They collect the notifications the
// operation announces; the queue posts them only after the commit.
//
// Internal to ClipCatalogue; main thread.

#include <string>
#include <vector>

#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/catalogue/ClipCatalogueStore.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes::detail {

struct CollectedNotification {
  std::string name;
  platform::Value object;
};
using CollectedNotifications = std::vector<CollectedNotification>;

// Runs the work of a record of a known operation number inside the store's
// current transaction. An error means the transaction must be rolled back.
platform::Status performCatalogueOperation(ClipCatalogueStore& store, const CatalogueOperationRecord& record,
                                           CollectedNotifications& notifications);

// Inserts the media item's node metadata as rows of the clip.
platform::Status addMetadataRows(ClipCatalogueStore& store, const MediaItem& mediaItem,
                                 const std::string& clipUniqueID);

// The comparable part of a media item unique ID; a shorter ID is compared
// whole (a short prefix would match unrelated items).
bool isFullMediaItemUniqueID(const std::string& mediaItemUniqueID);

}  // namespace nodes::detail
