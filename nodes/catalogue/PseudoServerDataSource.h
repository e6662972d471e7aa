#pragma once
// PseudoServerDataSource: the application's one data source ("Local Server",
// type 1). It keeps DataSource's node list and node actions and adds the
// local clip catalogue: it owns the ClipCatalogue (store, write queue,
// queries), the catalogue's export and import, and its start-up version
// check, and answers the catalogue operations DataSource declares.
//
// Owned through std::shared_ptr (create()); the application delegate keeps
// it for the life of the application. Main thread, like DataSource; the
// media synchronisation's calls arrive there too.
//
// Guarantees: as ClipCatalogue's (whole operations or none, notifications
// only for what was stored, a disabled catalogue reported once); the saved
// node list and the live media folders are only changed on the main thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/catalogue/CatalogueTransfer.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/link/DataSource.h"
#include "nodes/playlist/PlaylistDocumentDataSource.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/Value.h"

namespace nodes {

// Posted for each saved node when the media collection is filled; object:
// the node unique ID as a platform::Value.
inline constexpr const char* kNodeAddedNotification = "nodeAdded";
inline constexpr const char* kLocalServerDescription = "Local Server";
inline constexpr std::int32_t kLocalServerType = 1;

class PseudoServerDataSource final : public DataSource, public PlaylistDocumentDataSource {
 public:
  struct Options {
    // Node discovery; none: no browsing.
    std::unique_ptr<ServiceBrowser> browser;
    // Where the catalogue's notifications go (nullptr: the default centre),
    // the bundle name its folder is named after (empty: the main bundle's)
    // and its store settings.
    platform::NotificationCenter* notificationCenter = nullptr;
    std::string bundleName;
    ClipCatalogueStore::Options store;
    // The export and import progress and completion (may be null; not owned,
    // outlives this).
    CatalogueTransferDelegate* transferDelegate = nullptr;
    // Asks the application to quit when the version check refuses the
    // catalogue.
    std::function<void()> terminateApplication;
  };

  // initWithPath:delegate: the catalogue under `path` (the user's Documents
  // folder), a reset when its store is new, then node browsing.
  static std::shared_ptr<PseudoServerDataSource> create(const std::filesystem::path& path, DataSourceDelegate* delegate,
                                                        Options options);
  PseudoServerDataSource(const std::filesystem::path& path, DataSourceDelegate* delegate, Options options);
  ~PseudoServerDataSource() override;

  ClipCatalogue& catalogue() { return *catalogue_; }

  // ---- Set-up and state ----
  std::optional<std::string> description() const override { return kLocalServerDescription; }
  std::optional<std::int32_t> type() const override { return kLocalServerType; }
  std::optional<std::filesystem::path> rootPath() const override { return catalogue_->rootPath(); }
  std::optional<platform::Dictionary> clipsModelVersionDictionary() override;
  bool validatingMediaInProgress() const { return false; }
  void populateMediaCollectionNodeForAllNodeInPref() override;
  void checkCompatibility() override;
  // Every saved and live media folder not initialised (enumerated again in
  // full) and every clip offline; nothing is deleted.
  void resetMediaDatabase() override;
  void forceEnumerationOnMediaFolderWithUniqueID(const std::optional<std::string>& mediaFolderUniqueID,
                                                 const std::string& nodeUniqueID,
                                                 const std::optional<std::string>& pathToUpdate) override;
  // The node's clips deleted at once and its saved entry removed.
  platform::Status eraseTracesForNodeWithUniqueID(const std::string& nodeUniqueID);
  static std::optional<std::filesystem::path> searchFileAtPath(const std::filesystem::path& folder,
                                                               const std::string& uniqueID, const std::string& key) {
    return ClipCatalogue::searchFileAtPath(folder, uniqueID, key);
  }

  // Editor registration by identity (bound controls).
  void objectDidBeginEditing(const void* editor);
  void objectDidEndEditing(const void* editor);
  std::size_t editorCount() const { return editors_.size(); }
  // Only logs "error: %@".
  void presentError(const platform::Error& error);
  double exportProgressCounter() const { return transfer_->exportProgressCounter(); }
  void setExportProgressCounter(double percent) { transfer_->setExportProgressCounter(percent); }

  // ---- Writes (queued) ----
  void removeClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) override;
  void removeClipsWithMediaItemsUniqueIDs(const std::vector<std::string>& mediaItemUniqueIDs) override;
  void removeClipsWithMediaFolderUniqueID(const std::string& mediaFolderUniqueID) override;
  void addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& items) override;
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& items) override;
  void markClipsAsOfflineForMediaItemsUniqueIDs(const platform::Array& items) override;
  void markAllClipsAsOffline() { catalogue_->markAllClipsAsOffline(); }
  void duplicateClip(const std::shared_ptr<PlaylistItem>& item) override;

  // ---- Queries ----
  std::optional<platform::Array> clips() override;
  std::optional<DataSource::PlaylistItems> clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) override;
  std::optional<platform::Array> clipsLanguages() override;
  std::optional<platform::Array> clipsAttributes() override;
  std::optional<DataSource::PlaylistItems> clipsForNodeUniqueID(const std::string& nodeUniqueID) override;
  std::optional<DataSource::PlaylistItems> clipsWithMediaItemUniqueID(
      const std::string& mediaItemUniqueID, const std::optional<std::string>& nodeUniqueID,
      const std::optional<std::string>& mediaFolderUniqueID) override;
  std::optional<DataSource::PlaylistItems> clipsWithMediaItemAbsolutePath(
      const std::string& absolutePath, const std::optional<std::string>& nodeUniqueID) override;
  std::shared_ptr<PlaylistItem> clipWithUniqueID(const std::optional<std::string>& clipUniqueID) override;
  std::optional<DataSource::PlaylistItemsByKey> playlistItemsWithAbsolutePaths(
      const std::vector<std::string>& paths, const std::string& nodeUniqueID) override;
  std::optional<DataSource::PlaylistItemsByKey> playlistItemsWithMediaItemUniqueIDs(
      const std::vector<std::string>& mediaItemUniqueIDs, const std::string& nodeUniqueID) override;
  std::optional<DataSource::PlaylistItems> playlistItemsFromPaths(const std::vector<std::filesystem::path>& paths,
                                                                  const std::string& nodeUniqueID,
                                                                  bool& found) override;
  std::optional<DataSource::PlaylistItems> clipsWithMediaItemAtPath(const std::filesystem::path& path,
                                                                    const std::string& nodeUniqueID) override;
  std::shared_ptr<PlaylistItem> playlistItemWithNodeUniqueID(const std::string& nodeUniqueID,
                                                             const std::string& absolutePath,
                                                             const std::optional<std::string>& mediaItemUniqueID,
                                                             const std::optional<std::string>& mediaFolderUniqueID);

  // ---- Documents, export and import ----
  std::optional<DataSource::PlaylistItems> playlistItemsArrayFromDict(const platform::Dictionary& dictionary,
                                                                      const std::string& nodeUniqueID) override;
  void requestThumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                std::string_view mediaFolderUniqueID, std::string_view nodeUniqueID,
                                                double positionInSeconds) override;
  platform::Status exportAllDataToFolder(const std::filesystem::path& folder) override;
  platform::Status importAllDataFromFolder(const std::filesystem::path& folder, bool eraseExisting) override;
  std::optional<platform::Dictionary> exportInfosFromFolder(const std::filesystem::path& folder) override;

 private:
  std::unique_ptr<ClipCatalogue> catalogue_;
  std::unique_ptr<CatalogueTransfer> transfer_;
  std::function<void()> terminateApplication_;
  std::vector<const void*> editors_;  // identities only, never dereferenced
};

}  // namespace nodes
