// The catalogue's queries: clips of a node, by unique ID, by file path, by
// media item identity, for dropped local files and for document entries.
// Each answers PlaylistItem records made from Clip rows.

#include <algorithm>
#include <set>
#include <system_error>

#include "foundation/GenerateUniqueID.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/catalogue/ClipCatalogueImpl.h"
#include "nodes/catalogue/ClipCatalogueOperations.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using platform::Result;
using PlaylistItems = ClipCatalogue::PlaylistItems;

constexpr const char* kUnknownFormat = "<Unknown Format>";
constexpr std::int32_t kOfflineValidationStatus = 2;

// A failed fetch answers nothing; the failure is logged where it happened.
template <typename T>
T valueOrLogged(Result<T> result) {
  if (result.ok()) return std::move(result).value();
  platform::reportDiagnostic(platform::DiagnosticLevel::Error, result.error().describe());
  return T{};
}

PlaylistItems itemsFromRows(const std::vector<CatalogueRow>& rows) {
  PlaylistItems items;
  items.reserve(rows.size());
  for (const CatalogueRow& row : rows) items.push_back(PlaylistItem::initWithCoreDataEntity(row));
  return items;
}

void sortAndDropRepeats(std::vector<std::string>& keys) {
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

// The folder path without trailing slashes ("/" becomes "").
std::string folderPrefix(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// Whether `path` lies inside the folder: a match of whole components, so
// "/media/A" holds "/media/A/x" but not "/media/AB/x".
bool folderHolds(const std::string& folder, const std::string& path) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string lastPathComponent(const std::string& path) {
  const std::string trimmed = folderPrefix(path);
  const std::size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

PlaylistItems ClipCatalogue::clipsForNodeUniqueID(const std::string& nodeUniqueID) const {
  if (!impl_->store) return {};
  const ClipCatalogueStore& store = *impl_->store;
  PlaylistItems items = itemsFromRows(valueOrLogged(store.fetchClips({.nodeUniqueID = nodeUniqueID})));
  std::vector<std::string> ids;
  ids.reserve(items.size());
  for (const auto& item : items) ids.push_back(item->uniqueID().value_or(""));
  // One fetch of the node's metadata instead of one per clip.
  std::map<std::string, std::vector<Metadata>, std::less<>> metadata;
  for (const CatalogueRow& row : valueOrLogged(store.fetchMetadata(ids))) {
    Metadata entry = Metadata::fromRow(row);
    metadata[entry.clipUniqueID()].push_back(std::move(entry));
  }
  for (const auto& item : items) {
    auto found = metadata.find(item->uniqueID().value_or(""));
    if (found != metadata.end()) item->setMetadataArray(std::move(found->second));
  }
  attachAttributesForPlaylistItems(items);
  return items;
}

PlaylistItems ClipCatalogue::clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) const {
  if (!impl_->store) return {};
  PlaylistItems items = itemsFromRows(valueOrLogged(
      impl_->store->fetchClips({.keyAttribute = ClipPredicate::KeyAttribute::UniqueID, .keys = clipUniqueIDs})));
  attachAttributesForPlaylistItems(items);
  return items;
}

std::shared_ptr<PlaylistItem> ClipCatalogue::clipWithUniqueID(const std::optional<std::string>& clipUniqueID) const {
  if (!impl_->store || !clipUniqueID) return nullptr;
  std::vector<CatalogueRow> rows = valueOrLogged(impl_->store->fetchClips({.uniqueID = *clipUniqueID}));
  if (rows.size() != 1) return nullptr;
  std::shared_ptr<PlaylistItem> item = PlaylistItem::initWithCoreDataEntity(rows.front());
  item->setMetadataArray(metadataArrayWithClipWithUniqueID(*clipUniqueID));
  return item;
}

PlaylistItems ClipCatalogue::clipsWithMediaItemAbsolutePath(const std::string& absolutePath,
                                                            const std::optional<std::string>& nodeUniqueID) const {
  if (!impl_->store) return {};
  return itemsFromRows(
      valueOrLogged(impl_->store->fetchClips({.nodeUniqueID = nodeUniqueID, .absolutePath = absolutePath})));
}

std::optional<PlaylistItems> ClipCatalogue::clipsWithMediaItemUniqueID(
    const std::string& mediaItemUniqueID, const std::optional<std::string>& nodeUniqueID,
    const std::optional<std::string>& mediaFolderUniqueID) const {
  if (!detail::isFullMediaItemUniqueID(mediaItemUniqueID)) return std::nullopt;
  if (!impl_->store) return PlaylistItems{};
  ClipPredicate predicate{.nodeUniqueID = nodeUniqueID,
                          .mediaItemUniqueIDPrefix = mediaItemUniqueID.substr(0, catalogue::kMediaItemIdentityLength)};
  if (nodeUniqueID) predicate.mediaFolderUniqueID = mediaFolderUniqueID;
  return itemsFromRows(valueOrLogged(impl_->store->fetchClips(predicate)));
}

PlaylistItems ClipCatalogue::clipsWithMediaItemAtPath(const std::string& path,
                                                      const std::optional<std::string>& nodeUniqueID) const {
  PlaylistItems byPath = clipsWithMediaItemAbsolutePath(path, nodeUniqueID);
  if (!byPath.empty() || !impl_->store) return byPath;
  // The identity hash of a local file is exactly the comparable part of a
  // node's media item ID (24 characters), so it is matched as that prefix.
  std::optional<std::string> hash = foundation::GenerateUniqueID::hashStringForFileAtURL(path);
  if (!hash || hash->empty()) return {};
  return itemsFromRows(valueOrLogged(
      impl_->store->fetchClips({.nodeUniqueID = nodeUniqueID,
                                .mediaItemUniqueIDPrefix = hash->substr(0, catalogue::kMediaItemIdentityLength)})));
}

namespace {

void collectDroppedFiles(const ClipCatalogue& catalogue, const std::vector<std::string>& paths,
                         const std::optional<std::string>& nodeUniqueID, std::set<fs::path>& foldersRead,
                         PlaylistItems& items, bool& found) {
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) continue;
    if (fs::is_directory(status)) {
      // A folder reached again (through a link) is not read twice.
      const fs::path canonical = fs::canonical(path, error);
      if (error || !foldersRead.insert(canonical).second) continue;
      std::vector<std::string> entries;
      for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path().string());
      }
      std::sort(entries.begin(), entries.end());
      collectDroppedFiles(catalogue, entries, nodeUniqueID, foldersRead, items, found);
      continue;
    }
    PlaylistItems clips = catalogue.clipsWithMediaItemAtPath(path, nodeUniqueID);
    if (clips.empty()) {
      found = false;
    } else {
      items.push_back(clips.front());
    }
  }
}

}  // namespace

PlaylistItems ClipCatalogue::playlistItemsFromPaths(const std::vector<std::string>& paths,
                                                    const std::optional<std::string>& nodeUniqueID, bool* found) const {
  bool allFound = true;
  PlaylistItems items;
  std::set<fs::path> foldersRead;
  collectDroppedFiles(*this, paths, nodeUniqueID, foldersRead, items, allFound);
  if (found) *found = allFound;
  return items;
}

ClipCatalogue::PlaylistItemsByKey ClipCatalogue::playlistItemsWithMediaItemUniqueIDs(
    const std::vector<std::string>& mediaItemUniqueIDs, const std::string& nodeUniqueID) const {
  PlaylistItemsByKey result;
  if (!impl_->store || mediaItemUniqueIDs.empty() || nodeUniqueID.empty()) return result;
  std::vector<std::string> ids = mediaItemUniqueIDs;
  sortAndDropRepeats(ids);
  const std::vector<CatalogueRow> rows =
      valueOrLogged(impl_->store->fetchClips({.nodeUniqueID = nodeUniqueID,
                                              .keyAttribute = ClipPredicate::KeyAttribute::MediaItemUniqueID,
                                              .keys = ids,
                                              .orderBy = ClipPredicate::Order::MediaItemUniqueID}));
  // Merge walk over the sorted IDs and the rows in the same order.
  std::vector<std::string> unmatched;
  std::size_t r = 0;
  for (const std::string& id : ids) {
    while (r < rows.size() && catalogue::rowValue(rows[r], clipinfo::kMediaItemUniqueID).stringOr("") < id) ++r;
    const CatalogueRow* online = nullptr;
    for (; r < rows.size() && catalogue::rowValue(rows[r], clipinfo::kMediaItemUniqueID).stringOr("") == id; ++r) {
      if (!online && catalogue::rowValue(rows[r], clipinfo::kOnline).booleanOr(false)) online = &rows[r];
    }
    if (online) {
      result[id] = PlaylistItem::initWithCoreDataEntity(*online);
    } else {
      unmatched.push_back(id);
    }
  }
  for (const std::string& id : unmatched) {
    std::optional<PlaylistItems> clips = clipsWithMediaItemUniqueID(id, nodeUniqueID, std::nullopt);
    if (!clips || clips->empty()) continue;
    auto online = std::find_if(clips->begin(), clips->end(), [](const auto& clip) { return clip->online(); });
    result[id] = online != clips->end() ? *online : clips->front();
  }
  return result;
}

ClipCatalogue::PlaylistItemsByKey ClipCatalogue::playlistItemsWithAbsolutePaths(
    const std::vector<std::string>& absolutePaths, const std::string& nodeUniqueID) const {
  PlaylistItemsByKey result;
  if (!impl_->store || absolutePaths.empty() || nodeUniqueID.empty()) return result;
  std::vector<std::string> paths = absolutePaths;
  sortAndDropRepeats(paths);
  const std::vector<CatalogueRow> rows =
      valueOrLogged(impl_->store->fetchClips({.nodeUniqueID = nodeUniqueID,
                                              .keyAttribute = ClipPredicate::KeyAttribute::AbsolutePath,
                                              .keys = paths,
                                              .orderBy = ClipPredicate::Order::AbsolutePath}));
  // Every row is of a wanted path; the last row of a path wins.
  for (const CatalogueRow& row : rows) {
    std::shared_ptr<PlaylistItem> item = PlaylistItem::initWithCoreDataEntity(row);
    result[item->absolutePathToMediaItem()] = std::move(item);
  }
  return result;
}

std::shared_ptr<PlaylistItem> ClipCatalogue::playlistItemWithNodeUniqueID(
    const std::string& nodeUniqueID, const std::string& absolutePath,
    const std::optional<std::string>& mediaItemUniqueID, const std::optional<std::string>& mediaFolderUniqueID) const {
  PlaylistItems clips = clipsWithMediaItemAbsolutePath(absolutePath, nodeUniqueID);
  if (clips.empty() && mediaItemUniqueID && !mediaItemUniqueID->empty() && !nodeUniqueID.empty()) {
    clips = clipsWithMediaItemUniqueID(*mediaItemUniqueID, nodeUniqueID, std::nullopt).value_or(PlaylistItems{});
  }
  if (!clips.empty()) {
    if (mediaFolderUniqueID) {
      for (const auto& clip : clips) {
        if (clip->mediaFolderUniqueID() == *mediaFolderUniqueID) return clip;
      }
    }
    return clips.front();
  }

  // Not in the catalogue: an offline record for a file under one of the
  // node's media folders (a copy of the folder list; the live one is the
  // node connection's).
  if (!impl_->options.mediaFoldersForNode) return nullptr;
  const auto folders = impl_->options.mediaFoldersForNode(nodeUniqueID);
  if (!folders) return nullptr;
  for (const std::shared_ptr<MediaFolder>& folder : *folders) {
    const std::optional<std::string> folderPath = folder ? folder->path() : std::nullopt;
    if (!folderPath) continue;
    const std::string prefix = folderPrefix(*folderPath);
    if (!folderHolds(prefix, absolutePath)) continue;
    auto item = std::make_shared<PlaylistItem>();
    const platform::Date now = std::chrono::floor<std::chrono::microseconds>(platform::Clock::current().wallNow());
    item->update([&](PlaylistItemFields& f) {
      f.uniqueID = foundation::GenerateUniqueID::generateUniqueID();
      f.playbackUniqueID = foundation::GenerateUniqueID::generateUniqueID();
      f.nodeUniqueID = nodeUniqueID;
      f.absolutePathToMediaItem = absolutePath;
      f.nodeName = impl_->options.nodeNameForNodeWithUniqueID ? impl_->options.nodeNameForNodeWithUniqueID(nodeUniqueID)
                                                              : std::string();
      f.displayName = lastPathComponent(absolutePath);
      f.mediaItemUniqueID = std::string();
      f.validationStatus = kOfflineValidationStatus;
      f.videoCodecDescription = kUnknownFormat;
      f.creationDate = now;
      f.relativePathToMediaItem = absolutePath.substr(prefix.size());
      f.mediaFolderPath = *folderPath;
      f.mediaFolderUniqueID = folder->uniqueID().value_or("");
    });
    item->setLastModificationDate(now);
    return item;
  }
  return nullptr;
}

PlaylistItems ClipCatalogue::ziraClips() const {
  if (!impl_->store) return {};
  return itemsFromRows(valueOrLogged(impl_->store->fetchClips({.zira = true})));
}

std::vector<CatalogueRow> ClipCatalogue::clipsLanguages() const {
  if (!impl_->store) return {};
  return valueOrLogged(impl_->store->fetchLanguages(std::nullopt));
}

std::vector<CatalogueRow> ClipCatalogue::clipsAttributes() const {
  if (!impl_->store) return {};
  return valueOrLogged(impl_->store->fetchAttributes(std::nullopt));
}

platform::Dictionary ClipCatalogue::attributesForClipWithUniqueID(const std::string& clipUniqueID) const {
  platform::Dictionary attributes;
  if (!impl_->store) return attributes;
  for (const CatalogueRow& row : valueOrLogged(impl_->store->fetchAttributes(std::vector<std::string>{clipUniqueID}))) {
    attributes.insert_or_assign(catalogue::rowValue(row, clipinfo::kAttributeNameKey).stringOr(""),
                                catalogue::rowValue(row, clipinfo::kAttributeValueKey));
  }
  return attributes;
}

std::vector<Metadata> ClipCatalogue::metadataArrayWithClipWithUniqueID(const std::string& clipUniqueID) const {
  std::vector<Metadata> metadata;
  if (!impl_->store) return metadata;
  for (const CatalogueRow& row : valueOrLogged(impl_->store->fetchMetadata({clipUniqueID}))) {
    metadata.push_back(Metadata::fromRow(row));
  }
  return metadata;
}

void ClipCatalogue::attachAttributesForPlaylistItems(const PlaylistItems& items) const {
  if (!impl_->store || items.empty()) return;
  std::vector<std::string> ids;
  for (const auto& item : items) {
    if (std::optional<std::string> id = item->uniqueID()) ids.push_back(std::move(*id));
  }
  std::map<std::string, platform::Dictionary, std::less<>> groups;
  for (const CatalogueRow& row : valueOrLogged(impl_->store->fetchAttributes(ids))) {
    groups[catalogue::rowValue(row, catalogue::kToClipInfoUniqueID).stringOr("")].insert_or_assign(
        catalogue::rowValue(row, clipinfo::kAttributeNameKey).stringOr(""),
        catalogue::rowValue(row, clipinfo::kAttributeValueKey));
  }
  for (const auto& item : items) {
    const std::optional<std::string> id = item->uniqueID();
    auto group = id ? groups.find(*id) : groups.end();
    item->setAttributes(group != groups.end() ? std::optional<platform::Dictionary>(group->second) : std::nullopt);
  }
}

}  // namespace nodes
