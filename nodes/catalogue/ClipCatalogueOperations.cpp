// The catalogue's write operations (queue numbers 0 and 3 to 8).

#include "nodes/catalogue/ClipCatalogueOperations.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "foundation/ManagedObjectNNV.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/MetadataFilter.h"
#include "platform/Diagnostics.h"

namespace nodes::detail {
namespace {

using namespace clipinfo;
using platform::Result;
using platform::Status;
using platform::Value;

// Clip IDs in the order first met, each once.
class IDList {
 public:
  bool add(const std::string& id) {
    if (!seen_.insert(id).second) return false;
    ids_.push_back(id);
    return true;
  }
  bool contains(const std::string& id) const { return seen_.count(id) != 0; }
  bool empty() const { return ids_.empty(); }
  Value value() const { return Value(platform::Array(ids_.begin(), ids_.end())); }

 private:
  std::set<std::string, std::less<>> seen_;
  std::vector<std::string> ids_;
};

void collect(CollectedNotifications& notifications, const char* name, const IDList& ids) {
  if (!ids.empty()) notifications.push_back({name, ids.value()});
}

// The added clips, and the changed ones that were not added by this operation.
void collectAddedAndChanged(CollectedNotifications& notifications, const IDList& added,
                            const std::vector<std::string>& changed) {
  IDList changedOnly;
  for (const std::string& id : changed) {
    if (!added.contains(id)) changedOnly.add(id);
  }
  collect(notifications, catalogue::kClipsAddedNotification, added);
  collect(notifications, catalogue::kClipsDidChangeNotification, changedOnly);
}

void setValue(CatalogueRow& row, const char* key, Value value) {
  foundation::setNoNillCatalogueValue(row, key, std::move(value));
}

Value optionalText(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }

// setValuesForObject:withMediaItem: the changes a media item makes to a
// stored row (display name, display rectangle, live flag and side tables stay).
CatalogueRow changesFromMediaItem(const CatalogueRow& row, const MediaItemInfo& item) {
  CatalogueRow changes;
  setValue(changes, kNodeName, optionalText(item.nodeName));
  setValue(changes, kNodeUniqueID, item.nodeUniqueID);
  setValue(changes, kMediaFolderUniqueID, optionalText(item.mediaFolderUniqueID));
  setValue(changes, kMediaFolderPath, optionalText(item.mediaFolderPath));
  setValue(changes, kStartTimeCode, item.startTimeCode);
  setValue(changes, kValidationStatus, item.validationStatus);
  setValue(changes, kOnline, true);
  setValue(changes, kFinderLabelIndex, item.finderLabelIndex);
  setValue(changes, kFinderLabelName, item.finderLabelName);
  if (optionalText(item.uniqueID) != catalogue::rowValue(row, kMediaItemUniqueID))
    setValue(changes, kMediaItemUniqueID, optionalText(item.uniqueID));
  setValue(changes, kFramesPerSecond, item.framesPerSecond);
  setValue(changes, kDropFrame, item.dropFrame);
  setValue(changes, kLastModificationDate, item.lastModificationDate ? Value(*item.lastModificationDate) : Value());
  setValue(changes, kLastModificationDateString,
           item.lastModificationDate ? Value(PlaylistItem::dateToString(*item.lastModificationDate)) : Value());
  setValue(changes, kInvalidReason, item.invalidReason);
  setValue(changes, kVideoCodecDescription, item.videoCodecDescription);
  setValue(changes, kNaturalVideoSizeWidth, static_cast<double>(item.naturalVideoSizeWidth));
  setValue(changes, kNaturalVideoSizeHeight, static_cast<double>(item.naturalVideoSizeHeight));
  setValue(changes, kAbsolutePathToMediaItem, optionalText(item.absolutePath));
  setValue(changes, kRelativePathToMediaItem, optionalText(item.relativePath));
  setValue(changes, kLanguagesDescription, languagesDescriptionFromLanguages(item.languagesArray));
  // The file's own duration, not the clip's: a clip with an in or out point
  // is shorter than its file and would otherwise lose its points at every sync.
  const Value storedDuration = catalogue::rowValue(row, kMediaFileDurationInSeconds);
  if (storedDuration.real() != std::optional<double>(item.durationInSeconds)) {
    setValue(changes, kMediaFileDurationInSeconds, item.durationInSeconds);
    setValue(changes, kDurationInSeconds, item.durationInSeconds);
    setValue(changes, kHasOutPoint, false);
    setValue(changes, kHasInPoint, false);
    setValue(changes, kInPointInSeconds, 0.0);
    setValue(changes, kOutPointInSeconds, 0.0);
  }
  return changes;
}

// Where a clip's file is: its node and its path on that node.
std::string fileKey(const std::string& nodeUniqueID, const std::string& path) { return nodeUniqueID + '\0' + path; }

// Operation 0. The rows of the batch's paths are fetched once per node and
// looked up by node and path, so neither the order of the rows nor two items
// of one path can make a second clip for a file: a later item of a path
// updates the rows the earlier one found or inserted.
Status addOrUpdateClipsWithMediaItems(ClipCatalogueStore& store, const CatalogueOperationRecord::MediaItems& mediaItems,
                                      CollectedNotifications& notifications) {
  std::vector<std::pair<MediaItemInfo, const std::shared_ptr<const MediaItem>*>> items;
  items.reserve(mediaItems.size());
  for (const auto& mediaItem : mediaItems) {
    if (mediaItem) items.emplace_back(mediaItem->info(), &mediaItem);
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const auto& a, const auto& b) { return a.first.absolutePath < b.first.absolutePath; });

  // A batch is one node's; should it hold several, each is looked up on its own.
  std::map<std::string, ClipPredicate> batches;
  for (const auto& [info, source] : items) {
    ClipPredicate& batch = batches[info.nodeUniqueID];
    if (batch.keys.empty()) {
      batch.nodeUniqueID = info.nodeUniqueID;
      batch.keyAttribute = ClipPredicate::KeyAttribute::AbsolutePath;
    }
    std::string path = info.absolutePath.value_or("");
    if (batch.keys.empty() || batch.keys.back() != path) batch.keys.push_back(std::move(path));
  }
  std::unordered_map<std::string, std::vector<CatalogueRow>> rowsByFile;
  for (const auto& [node, batch] : batches) {
    Result<std::vector<CatalogueRow>> rows = store.fetchClips(batch);
    if (!rows.ok()) return rows.error();
    for (CatalogueRow& row : *rows) {
      rowsByFile[fileKey(node, catalogue::rowValue(row, kAbsolutePathToMediaItem).stringOr(""))].push_back(
          std::move(row));
    }
  }

  IDList added;
  std::vector<std::string> changed;
  for (const auto& [info, source] : items) {
    std::vector<CatalogueRow>& fileRows = rowsByFile[fileKey(info.nodeUniqueID, info.absolutePath.value_or(""))];
    if (!fileRows.empty()) {
      for (CatalogueRow& row : fileRows) {
        const std::string uniqueID = catalogue::rowValue(row, kUniqueID).stringOr("");
        CatalogueRow changes = changesFromMediaItem(row, info);
        Result<bool> updated = store.updateClip(uniqueID, changes);
        if (!updated.ok()) return updated.error();
        for (auto& [key, value] : changes) row.insert_or_assign(key, std::move(value));
        changed.push_back(uniqueID);
      }
      continue;
    }
    std::shared_ptr<PlaylistItem> clip = PlaylistItem::initWithMediaItem(*source);
    if (!clip) continue;
    clip->setOnline(true);
    CatalogueRow row;
    clip->fillCoreDataClipEntity(row);
    if (Status inserted = store.insertClip(row); !inserted.ok()) return inserted;
    added.add(catalogue::rowValue(row, kUniqueID).stringOr(""));
    fileRows.push_back(std::move(row));
  }
  collectAddedAndChanged(notifications, added, changed);
  return {};
}

// Operation 3.
Status removeClipsWithMediaItemsUniqueIDs(ClipCatalogueStore& store, const std::vector<std::string>& mediaItemUniqueIDs,
                                          CollectedNotifications& notifications) {
  IDList deleted;
  for (const std::string& id : mediaItemUniqueIDs) {
    if (id.empty()) continue;  // would match every clip
    ClipPredicate predicate;
    if (isFullMediaItemUniqueID(id)) {
      predicate.mediaItemUniqueIDPrefix = id.substr(0, catalogue::kMediaItemIdentityLength);
    } else {
      predicate.mediaItemUniqueID = id;
    }
    Result<std::vector<std::string>> ids = store.deleteClips(predicate);
    if (!ids.ok()) return ids.error();
    for (const std::string& clipID : *ids) deleted.add(clipID);
  }
  collect(notifications, catalogue::kClipsDidChangeNotification, deleted);
  return {};
}

// Operation 4.
Status removeClipsWithUniqueIDs(ClipCatalogueStore& store, const std::vector<std::string>& clipUniqueIDs,
                                CollectedNotifications& notifications) {
  if (clipUniqueIDs.empty()) return {};
  Result<std::vector<std::string>> ids =
      store.deleteClips({.keyAttribute = ClipPredicate::KeyAttribute::UniqueID, .keys = clipUniqueIDs});
  if (!ids.ok()) return ids.error();
  IDList deleted;
  for (const std::string& id : *ids) deleted.add(id);
  collect(notifications, catalogue::kClipsDidChangeNotification, deleted);
  return {};
}

// Operation 5.
Status markClipsAsOfflineForMediaItems(ClipCatalogueStore& store, const platform::Array& entries,
                                       CollectedNotifications& notifications) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                             "Marking " + std::to_string(entries.size()) + " as offline");
  IDList offline;
  for (const Value& entry : entries) {
    const std::string* mediaItemID = entry[catalogue::kOfflineMediaItemUniqueIDKey].string();
    const std::string* folderID = entry[catalogue::kOfflineMediaFolderUniqueIDKey].string();
    if (!mediaItemID || !folderID) continue;
    Result<std::vector<std::string>> ids = store.updateClips(
        {.mediaItemUniqueID = *mediaItemID, .mediaFolderUniqueID = *folderID}, {{kOnline, Value(false)}});
    if (!ids.ok()) return ids.error();
    for (const std::string& id : *ids) offline.add(id);
  }
  collect(notifications, catalogue::kClipsDidChangeNotification, offline);
  return {};
}

// The catalogue attributes operation 6 takes from an item for a stored clip:
// all it writes for a new one but the file paths, start timecode and ID.
CatalogueRow changesFromClip(const PlaylistItem& clip) {
  CatalogueRow row;
  clip.fillCoreDataClipEntity(row);
  for (const char* kept : {kAbsolutePathToMediaItem, kRelativePathToMediaItem, kStartTimeCode, kUniqueID})
    row.erase(kept);
  if (!row.count(kLastModificationDate)) setValue(row, kLastModificationDate, Value());
  return row;
}

// Operation 6.
Status addOrUpdateClips(ClipCatalogueStore& store, const CatalogueOperationRecord::Clips& clips,
                        CollectedNotifications& notifications) {
  IDList added;
  std::vector<std::string> changed;
  for (const PlaylistItemFields& fields : clips) {
    const PlaylistItem clip(fields);
    const std::string uniqueID = fields.uniqueID.value_or("");
    Result<bool> updated = store.updateClip(uniqueID, changesFromClip(clip));
    if (!updated.ok()) return updated.error();
    if (*updated) {
      changed.push_back(uniqueID);
      continue;
    }
    // A clip without an ID is refused by the store, and with it the batch.
    CatalogueRow row;
    clip.fillCoreDataClipEntity(row);
    if (Status inserted = store.insertClip(row); !inserted.ok()) return inserted;
    added.add(uniqueID);
  }
  collectAddedAndChanged(notifications, added, changed);
  return {};
}

// Operation 7.
Status removeClipsWithMediaFolderUniqueID(ClipCatalogueStore& store, const std::string& folderUniqueID,
                                          CollectedNotifications& notifications) {
  Result<std::vector<std::string>> ids = store.deleteClips({.mediaFolderUniqueID = folderUniqueID});
  if (!ids.ok()) return ids.error();
  if (!ids->empty()) notifications.push_back({catalogue::kMediaFolderDeletedNotification, Value(folderUniqueID)});
  return {};
}

// Operation 8.
Status markAllClipsAsOffline(ClipCatalogueStore& store, CollectedNotifications& notifications) {
  Result<std::vector<std::string>> ids = store.updateClips({}, {{kOnline, Value(false)}});
  if (!ids.ok()) return ids.error();
  IDList offline;
  for (const std::string& id : *ids) offline.add(id);
  collect(notifications, catalogue::kClipsDidChangeNotification, offline);
  return {};
}

template <typename T>
const T* parameterAs(const CatalogueOperationRecord& record) {
  return std::get_if<T>(&record.parameter);
}

}  // namespace

bool isFullMediaItemUniqueID(const std::string& mediaItemUniqueID) {
  return mediaItemUniqueID.size() > catalogue::kMediaItemIdentityLength;
}

Status addMetadataRows(ClipCatalogueStore& store, const MediaItem& mediaItem, const std::string& clipUniqueID) {
  const platform::Dictionary metadata = mediaItem.nodeMetadataDict();
  for (const platform::Dictionary& row :
       MetadataFilter::metadataDictArrayWithNodeMetadataDictionary(metadata, clipUniqueID)) {
    if (Status inserted = store.insertMetadata(row); !inserted.ok()) return inserted;
  }
  return {};
}

Status performCatalogueOperation(ClipCatalogueStore& store, const CatalogueOperationRecord& record,
                                 CollectedNotifications& notifications) {
  static const std::vector<std::string> kNoIDs;
  static const platform::Array kNoEntries;
  static const CatalogueOperationRecord::MediaItems kNoMediaItems;
  static const CatalogueOperationRecord::Clips kNoClips;
  static const std::string kNoFolder;
  auto ids = [&]() -> const std::vector<std::string>& {
    const auto* p = parameterAs<std::vector<std::string>>(record);
    return p ? *p : kNoIDs;
  };
  switch (static_cast<CatalogueOperation>(record.operationToProcess)) {
    case CatalogueOperation::AddOrUpdateClipsWithMediaItems: {
      auto* items = parameterAs<CatalogueOperationRecord::MediaItems>(record);
      return addOrUpdateClipsWithMediaItems(store, items ? *items : kNoMediaItems, notifications);
    }
    case CatalogueOperation::RemoveClipsWithMediaItemsUniqueIDs:
      return removeClipsWithMediaItemsUniqueIDs(store, ids(), notifications);
    case CatalogueOperation::RemoveClipsWithUniqueIDs:
      return removeClipsWithUniqueIDs(store, ids(), notifications);
    case CatalogueOperation::MarkClipsAsOfflineForMediaItems: {
      auto* entries = parameterAs<platform::Array>(record);
      return markClipsAsOfflineForMediaItems(store, entries ? *entries : kNoEntries, notifications);
    }
    case CatalogueOperation::AddOrUpdateClips: {
      auto* clips = parameterAs<CatalogueOperationRecord::Clips>(record);
      return addOrUpdateClips(store, clips ? *clips : kNoClips, notifications);
    }
    case CatalogueOperation::RemoveClipsWithMediaFolderUniqueID: {
      auto* folder = parameterAs<std::string>(record);
      return removeClipsWithMediaFolderUniqueID(store, folder ? *folder : kNoFolder, notifications);
    }
    case CatalogueOperation::MarkAllClipsAsOffline:
      return markAllClipsAsOffline(store, notifications);
  }
  return {};
}

}  // namespace nodes::detail
