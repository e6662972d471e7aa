#pragma once
// ClipCatalogue: the local record of every clip known on every node, its
// folders under the user's Documents folder, its queue of write operations
// and its queries. The data source (PseudoServerDataSource) owns it and
// forwards its catalogue operations here.
//
// Lives on the main thread: queries and the operations themselves run there.
// The queueing write calls may come from any thread; each only queues an operation
// record (with copies of its media items and playlist items, taken at the
// call) and returns. The records run one at a time, in order, each in a
// main-queue task of its own.
//
// Guarantees:
// - each operation is one store transaction: it is stored whole or not at
//   all; its notifications ("clipsAdded", "clipsDidChange",
//   "mediaFolderDeleted", object: the clip IDs / the folder ID as a
//   platform::Value) are posted on the main thread after its commit, and
//   never for an operation that was not stored;
// - a store that cannot be opened is reported once (log and one presented
//   error) and leaves a disabled catalogue: writes are dropped and queries
//   answer nothing, without further alerts;
// - a damaged store (at open, or found by a failed write) is kept aside as
//   "<file>.corrupt-<timestamp>" (with its "-wal"), a new empty store takes
//   its place and the operator is told once; the operation that found the
//   damage runs again on the new store;
// - deleting a clip deletes its attribute, language and metadata rows.
//
// Folder layout under the base path given to create():
//   "<bundle name> Local DataSource"/            rootPath()
//       "Private"/"MediaPrivateDataStore.sql"   the store (mediaStoreURL())
//       "Versions"/                             versionsFolderPath()
//       "Categories"                            {"dataBaseRoot": rootPath}

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "nodes/catalogue/ClipCatalogueSchema.h"
#include "nodes/catalogue/ClipCatalogueStore.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/media/MediaItem.h"
#include "nodes/media/Metadata.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/Value.h"

namespace nodes {

namespace catalogue {

// Notifications the catalogue posts (default centre unless the options name
// another). Object of the first three: a platform::Value (an array of clip
// unique IDs; the media folder unique ID for "mediaFolderDeleted").
inline constexpr const char* kClipsAddedNotification = "clipsAdded";
inline constexpr const char* kClipsDidChangeNotification = "clipsDidChange";
inline constexpr const char* kMediaFolderDeletedNotification = "mediaFolderDeleted";
// Posted around every operation unless the options route them elsewhere.
inline constexpr const char* kStartedCoreDataOperationNotification = "startedCoreDataOperation";
inline constexpr const char* kFinishedCataloggingMediaItemsNotification = "finishedCataloggingMediaItems";

// Folder and file names.
inline constexpr const char* kLocalDataSourceFolderFormat = "%s Local DataSource";
inline constexpr const char* kPrivateFolderName = "Private";
inline constexpr const char* kStoreFileName = "MediaPrivateDataStore.sql";
inline constexpr const char* kVersionsFolderName = "Versions";
inline constexpr const char* kCategoriesFileName = "Categories";
inline constexpr const char* kOlderCategoriesFileName = "Preferences";
inline constexpr const char* kDataBaseRootKey = "dataBaseRoot";
// The media database version file, written for a new store.
inline constexpr const char* kMediaDatabaseVersionFileName = "MediaDatabaseVersion.plist";
inline constexpr const char* kVersionKey = "version";
inline constexpr std::int64_t kMediaDatabaseVersion = 101;

// Keys of the entries given to markClipsAsOfflineForMediaItemsUniqueIDs
// (note the lower-case "d" of the first).
inline constexpr const char* kOfflineMediaItemUniqueIDKey = "mediaItemUniqueId";
inline constexpr const char* kOfflineMediaFolderUniqueIDKey = "mediaFolderUniqueID";

// Title of the alert that tells the operator a damaged store was replaced.
inline constexpr const char* kDatabaseDamagedTitle = "Clip Database Error !";

// Media item identity: the comparable part of a media item unique ID.
inline constexpr std::size_t kMediaItemIdentityLength = 24;

}  // namespace catalogue

// The operation numbers of the write queue.
enum class CatalogueOperation : std::int32_t {
  AddOrUpdateClipsWithMediaItems = 0,
  RemoveClipsWithMediaItemsUniqueIDs = 3,
  RemoveClipsWithUniqueIDs = 4,
  MarkClipsAsOfflineForMediaItems = 5,
  AddOrUpdateClips = 6,
  RemoveClipsWithMediaFolderUniqueID = 7,
  MarkAllClipsAsOffline = 8,
};

// One queued write: {"OperationToProcess", "parameter"}.
struct CatalogueOperationRecord {
  using MediaItems = std::vector<std::shared_ptr<const MediaItem>>;
  using Clips = std::vector<PlaylistItemFields>;
  using Parameter = std::variant<std::monostate,
                                 MediaItems,                // 0
                                 std::vector<std::string>,  // 3, 4
                                 platform::Array,           // 5: {"mediaItemUniqueId", "mediaFolderUniqueID"}
                                 Clips,                     // 6
                                 std::string>;              // 7
  std::int32_t operationToProcess = -1;
  Parameter parameter;
};

class ClipCatalogue {
 public:
  using PlaylistItems = std::vector<std::shared_ptr<PlaylistItem>>;
  using PlaylistItemsByKey = std::map<std::string, std::shared_ptr<PlaylistItem>, std::less<>>;

  struct Options {
    // Where notifications go; nullptr: the default centre (not owned).
    platform::NotificationCenter* notificationCenter = nullptr;
    // Sender identity of the posted notifications (the data source).
    const void* sender = nullptr;
    // Names the root folder; empty: the main bundle's "CFBundleName".
    std::string bundleName;
    ClipCatalogueStore::Options store;
    // The data source's node look-ups (may be empty: no node is known).
    // mediaFoldersForNode must answer a copy of the node's folder list (the
    // live one belongs to the node connection's thread); nullopt when unknown.
    std::function<std::optional<std::vector<std::shared_ptr<MediaFolder>>>(const std::string& nodeUniqueID)>
        mediaFoldersForNode;
    std::function<std::string(const std::string& nodeUniqueID)> nodeNameForNodeWithUniqueID;
    // Called at the start of every operation and when the queue has run
    // empty; empty: the catalogue posts "startedCoreDataOperation" and
    // "finishedCataloggingMediaItems" itself (no object).
    std::function<void()> startedOperation;
    std::function<void()> finishedOperations;
    // Called on the main thread after a store found damaged while running was
    // kept aside and replaced by an empty one (the owner then has every
    // media folder enumerated again).
    std::function<void()> storeReplaced;
  };

  // initWithPath: folder set-up, then the store. Always answers a catalogue;
  // when the folders or the store cannot be made or opened, the failure is
  // logged and presented once and the catalogue is disabled.
  static std::unique_ptr<ClipCatalogue> create(const std::filesystem::path& basePath, Options options);
  ~ClipCatalogue();
  ClipCatalogue(const ClipCatalogue&) = delete;
  ClipCatalogue& operator=(const ClipCatalogue&) = delete;

  bool isEnabled() const;
  // Why the catalogue is disabled; nullopt when enabled.
  std::optional<platform::Error> openError() const;
  // True when the store file did not exist before create() (or was damaged
  // and replaced): the owner then resets the media database (every folder
  // enumerated again).
  bool storeWasCreated() const;

  const std::filesystem::path& rootPath() const;
  const std::filesystem::path& versionsFolderPath() const;
  const std::filesystem::path& categoriesFilePath() const;
  // The store file, symbolic links resolved.
  const std::filesystem::path& mediaStoreURL() const;
  // The open store; nullptr when disabled. For the version, export and
  // import code of the data source; writes go through performTransaction.
  ClipCatalogueStore* store();

  // ---- Writes: queue one record and return ----
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& mediaItems);  // 0
  void removeClipsWithMediaItemsUniqueIDs(std::vector<std::string> mediaItemUniqueIDs);            // 3
  void removeClipsWithUniqueIDs(std::vector<std::string> clipUniqueIDs);                           // 4
  void markClipsAsOfflineForMediaItemsUniqueIDs(platform::Array mediaItems);                       // 5
  void addOrUpdateClips(const PlaylistItems& clips);                                               // 6
  void removeClipsWithMediaFolderUniqueID(std::string mediaFolderUniqueID);                        // 7
  void markAllClipsAsOffline();                                                                    // 8
  // Queues a copy with a new unique ID and the next free "<name> copy N"
  // (main thread: it reads the stored names).
  void duplicateClip(const PlaylistItem& clip);
  void pushNewOperationToPerform(CatalogueOperationRecord record);

  // An operation is running.
  bool isBusy() const;
  std::size_t pendingOperationCount() const;
  // Drops the records not yet started (an import empties the queue).
  void discardPendingOperations();

  // Deletes every clip of the node at once, in one transaction (no queue, no
  // notification). The node's saved entry is the data source's.
  platform::Status eraseClipsForNodeWithUniqueID(const std::string& nodeUniqueID);

  // ---- Queries (main thread; fetch failures are logged and answer nothing) ----
  PlaylistItems clipsForNodeUniqueID(const std::string& nodeUniqueID) const;  // with metadata and attributes
  PlaylistItems clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) const;  // with attributes
  // With its metadata; nullptr for no row or several rows.
  std::shared_ptr<PlaylistItem> clipWithUniqueID(const std::optional<std::string>& clipUniqueID) const;
  PlaylistItems clipsWithMediaItemAbsolutePath(const std::string& absolutePath,
                                               const std::optional<std::string>& nodeUniqueID) const;
  // nullopt when the ID is shorter than 25 characters; else the clips whose
  // media item ID begins with its first 24 (a folder counts only with a node).
  std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string& mediaItemUniqueID,
                                                          const std::optional<std::string>& nodeUniqueID,
                                                          const std::optional<std::string>& mediaFolderUniqueID) const;
  // By path; when none, by the local file's identity hash.
  PlaylistItems clipsWithMediaItemAtPath(const std::string& path, const std::optional<std::string>& nodeUniqueID) const;
  // Files dropped from the local disk (folders read recursively, each folder
  // once); `found` becomes false when a file has no clip.
  PlaylistItems playlistItemsFromPaths(const std::vector<std::string>& paths,
                                       const std::optional<std::string>& nodeUniqueID, bool* found) const;
  PlaylistItemsByKey playlistItemsWithMediaItemUniqueIDs(const std::vector<std::string>& mediaItemUniqueIDs,
                                                         const std::string& nodeUniqueID) const;
  PlaylistItemsByKey playlistItemsWithAbsolutePaths(const std::vector<std::string>& absolutePaths,
                                                    const std::string& nodeUniqueID) const;
  // The clip behind a document entry, or a new offline record (not stored)
  // for a file under one of the node's media folders; nullptr otherwise.
  std::shared_ptr<PlaylistItem> playlistItemWithNodeUniqueID(
      const std::string& nodeUniqueID, const std::string& absolutePath,
      const std::optional<std::string>& mediaItemUniqueID, const std::optional<std::string>& mediaFolderUniqueID) const;
  PlaylistItems ziraClips() const;
  std::vector<CatalogueRow> clipsLanguages() const;
  std::vector<CatalogueRow> clipsAttributes() const;
  platform::Dictionary attributesForClipWithUniqueID(const std::string& clipUniqueID) const;
  std::vector<Metadata> metadataArrayWithClipWithUniqueID(const std::string& clipUniqueID) const;
  // Gives each item its attribute dictionary (none when it has no rows).
  void attachAttributesForPlaylistItems(const PlaylistItems& items) const;

  // ---- Side tables, inside a running operation's or the caller's transaction ----
  platform::Status addMetadataInDataBaseWithMediaItem(const MediaItem& mediaItem, const std::string& clipUniqueID);
  platform::Status updateMetadataInDataBaseWithMediaItem(const MediaItem& mediaItem, const std::string& clipUniqueID);

  // searchFileAtPath:withID:key: the first file in the folder whose contents
  // read as a property-list dictionary holding `uniqueID` under `key`.
  static std::optional<std::filesystem::path> searchFileAtPath(const std::filesystem::path& folder,
                                                               const std::string& uniqueID, const std::string& key);
  // The base name of a duplicate's display name ("News copy 2" -> "News").
  static std::string originalDisplayNameWithString(const std::string& displayName);

  struct Impl;  // opaque; nodes/catalogue/ClipCatalogueImpl.h

 private:
  explicit ClipCatalogue(std::shared_ptr<Impl> impl);
  // Shared with the queued main-queue tasks, which hold it weakly.
  std::shared_ptr<Impl> impl_;
};

}  // namespace nodes
