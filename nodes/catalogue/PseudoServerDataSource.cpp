#include "nodes/catalogue/PseudoServerDataSource.h"

#include <algorithm>

#include "nodes/catalogue/CatalogueCompatibilityCheck.h"
#include "nodes/catalogue/CatalogueExportFolder.h"
#include "nodes/catalogue/CatalogueVersionFiles.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/catalogue/MediaSynchronisation.h"
#include "nodes/catalogue/PlaylistConversion.h"
#include "platform/Bundle.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using platform::Value;

constexpr const char* kMediaFolderInitializedKey = "mediaFolderInitialized";
constexpr const char* kMediaFolderUpdateCommand = "fmmediafolderupdate ";

// A command argument must stay on its command's line.
bool fitsOnOneLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

platform::Array arrayOf(const std::vector<CatalogueRow>& rows) {
  platform::Array array;
  array.reserve(rows.size());
  for (const CatalogueRow& row : rows) array.emplace_back(row);
  return array;
}

}  // namespace

std::shared_ptr<PseudoServerDataSource> PseudoServerDataSource::create(const std::filesystem::path& path,
                                                                       DataSourceDelegate* delegate, Options options) {
  return std::make_shared<PseudoServerDataSource>(path, delegate, std::move(options));
}

PseudoServerDataSource::PseudoServerDataSource(const std::filesystem::path& path, DataSourceDelegate* delegate,
                                               Options options)
    : DataSource(std::move(options.browser)), terminateApplication_(std::move(options.terminateApplication)) {
  setDelegate(delegate);
  ClipCatalogue::Options catalogueOptions;
  catalogueOptions.notificationCenter = options.notificationCenter;
  catalogueOptions.sender = this;
  catalogueOptions.bundleName = std::move(options.bundleName);
  catalogueOptions.store = options.store;
  // The catalogue lives inside this object and calls these synchronously.
  catalogueOptions.mediaFoldersForNode = [this](const std::string& nodeUniqueID) {
    return mediaFoldersForNode(nodeUniqueID);  // the connection's copy of its list
  };
  catalogueOptions.nodeNameForNodeWithUniqueID = [this](const std::string& nodeUniqueID) {
    return nodeNameForNodeWithUniqueID(nodeUniqueID);
  };
  catalogueOptions.storeReplaced = [this] { resetMediaDatabase(); };
  catalogue_ = ClipCatalogue::create(path, std::move(catalogueOptions));
  transfer_ = std::make_unique<CatalogueTransfer>(*catalogue_, options.transferDelegate);
  if (catalogue_->storeWasCreated()) resetMediaDatabase();
  setNodePollingHooks(std::make_shared<MediaSynchronisation>());
  startBrowsingForNodes();
}

PseudoServerDataSource::~PseudoServerDataSource() = default;

std::optional<platform::Dictionary> PseudoServerDataSource::clipsModelVersionDictionary() {
  return nodes::clipsModelVersionDictionary();
}

void PseudoServerDataSource::populateMediaCollectionNodeForAllNodeInPref() {
  // Every saved node gets its tree built by the media collection's observer.
  for (const Value& entry : savedNodeList()) {
    const std::string* nodeUniqueID = entry[kSavedNodeUniqueIDKey].string();
    if (!nodeUniqueID) continue;
    platform::Notification notification{kNodeAddedNotification, this, Value(*nodeUniqueID), {}};
    platform::NotificationCenter::defaultCenter().post(notification);
  }
}

void PseudoServerDataSource::checkCompatibility() {
  if (!catalogue_->isEnabled()) return;  // already reported once
  CatalogueVersionFiles files(catalogue_->versionsFolderPath(), platform::Bundle::main()->version());
  checkCatalogueCompatibility(files, {[this] { resetMediaDatabase(); },
                                      [this] {
                                        if (terminateApplication_) terminateApplication_();
                                      }});
}

void PseudoServerDataSource::resetMediaDatabase() {
  changeSavedNodeList([](platform::Array& saved) {
    for (Value& entry : saved) {
      platform::Dictionary* node = entry.dictionary();
      if (!node) continue;
      auto folders = node->find(kSavedNodeMediaFoldersKey);
      if (folders == node->end() || !folders->second.array()) continue;
      for (Value& folder : *folders->second.array()) {
        if (platform::Dictionary* fields = folder.dictionary())
          fields->insert_or_assign(kMediaFolderInitializedKey, false);
      }
    }
  });
  catalogue_->markAllClipsAsOffline();
  for (const NodeConnectionPtr& connection : nodes()) {
    for (const std::shared_ptr<MediaFolder>& folder : connection->mediaFolders()) folder->setInitialized(false);
  }
}

void PseudoServerDataSource::forceEnumerationOnMediaFolderWithUniqueID(
    const std::optional<std::string>& mediaFolderUniqueID, const std::string& nodeUniqueID,
    const std::optional<std::string>& pathToUpdate) {
  const NodeConnectionPtr connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  auto update = [&](const std::string& folderID, const std::optional<std::string>& path) {
    if (!fitsOnOneLine(folderID) || (path && !fitsOnOneLine(*path))) {
      platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                                 "PseudoServerDataSource: a media folder update with a line break is not sent");
      return;
    }
    std::string command = kMediaFolderUpdateCommand + folderID;
    if (path) command += " " + *path;
    queueControlCommand(connection, std::move(command), "logReply:");
  };
  if (mediaFolderUniqueID) {
    update(*mediaFolderUniqueID, pathToUpdate);
    return;
  }
  for (const std::shared_ptr<MediaFolder>& folder :
       mediaFoldersForNode(nodeUniqueID).value_or(std::vector<std::shared_ptr<MediaFolder>>{})) {
    if (std::optional<std::string> folderID = folder->uniqueID()) update(*folderID, pathToUpdate);
  }
}

platform::Status PseudoServerDataSource::eraseTracesForNodeWithUniqueID(const std::string& nodeUniqueID) {
  platform::Status erased = catalogue_->eraseClipsForNodeWithUniqueID(nodeUniqueID);
  deleteNodeInPreferenceWithNodeUniqueID(nodeUniqueID);
  return erased;
}

void PseudoServerDataSource::objectDidBeginEditing(const void* editor) {
  if (std::find(editors_.begin(), editors_.end(), editor) == editors_.end()) editors_.push_back(editor);
}

void PseudoServerDataSource::objectDidEndEditing(const void* editor) {
  auto found = std::find(editors_.begin(), editors_.end(), editor);
  if (found != editors_.end()) editors_.erase(found);
}

void PseudoServerDataSource::presentError(const platform::Error& error) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Error, "error: " + error.describe());
}

// ---- Writes ----

void PseudoServerDataSource::removeClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) {
  catalogue_->removeClipsWithUniqueIDs(clipUniqueIDs);
}

void PseudoServerDataSource::removeClipsWithMediaItemsUniqueIDs(const std::vector<std::string>& mediaItemUniqueIDs) {
  catalogue_->removeClipsWithMediaItemsUniqueIDs(mediaItemUniqueIDs);
}

void PseudoServerDataSource::removeClipsWithMediaFolderUniqueID(const std::string& mediaFolderUniqueID) {
  catalogue_->removeClipsWithMediaFolderUniqueID(mediaFolderUniqueID);
}

void PseudoServerDataSource::addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& items) {
  catalogue_->addOrUpdateClips(items);
}

void PseudoServerDataSource::addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& items) {
  catalogue_->addOrUpdateClipsWithMediaItems(items);
}

void PseudoServerDataSource::markClipsAsOfflineForMediaItemsUniqueIDs(const platform::Array& items) {
  catalogue_->markClipsAsOfflineForMediaItemsUniqueIDs(items);
}

void PseudoServerDataSource::duplicateClip(const std::shared_ptr<PlaylistItem>& item) {
  if (item) catalogue_->duplicateClip(*item);
}

// ---- Queries ----

std::optional<platform::Array> PseudoServerDataSource::clips() {
  platform::Result<platform::Array> exported = transfer_->clips();
  if (!exported.ok()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, exported.error().describe());
    return platform::Array{};
  }
  return std::move(exported).value();
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::clipsWithUniqueIDs(
    const std::vector<std::string>& clipUniqueIDs) {
  return catalogue_->clipsWithUniqueIDs(clipUniqueIDs);
}

std::optional<platform::Array> PseudoServerDataSource::clipsLanguages() {
  return arrayOf(catalogue_->clipsLanguages());
}

std::optional<platform::Array> PseudoServerDataSource::clipsAttributes() {
  return arrayOf(catalogue_->clipsAttributes());
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::clipsForNodeUniqueID(const std::string& nodeUniqueID) {
  return catalogue_->clipsForNodeUniqueID(nodeUniqueID);
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::clipsWithMediaItemUniqueID(
    const std::string& mediaItemUniqueID, const std::optional<std::string>& nodeUniqueID,
    const std::optional<std::string>& mediaFolderUniqueID) {
  return catalogue_->clipsWithMediaItemUniqueID(mediaItemUniqueID, nodeUniqueID, mediaFolderUniqueID);
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::clipsWithMediaItemAbsolutePath(
    const std::string& absolutePath, const std::optional<std::string>& nodeUniqueID) {
  return catalogue_->clipsWithMediaItemAbsolutePath(absolutePath, nodeUniqueID);
}

std::shared_ptr<PlaylistItem> PseudoServerDataSource::clipWithUniqueID(const std::optional<std::string>& clipUniqueID) {
  return catalogue_->clipWithUniqueID(clipUniqueID);
}

std::optional<DataSource::PlaylistItemsByKey> PseudoServerDataSource::playlistItemsWithAbsolutePaths(
    const std::vector<std::string>& paths, const std::string& nodeUniqueID) {
  return catalogue_->playlistItemsWithAbsolutePaths(paths, nodeUniqueID);
}

std::optional<DataSource::PlaylistItemsByKey> PseudoServerDataSource::playlistItemsWithMediaItemUniqueIDs(
    const std::vector<std::string>& mediaItemUniqueIDs, const std::string& nodeUniqueID) {
  return catalogue_->playlistItemsWithMediaItemUniqueIDs(mediaItemUniqueIDs, nodeUniqueID);
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::playlistItemsFromPaths(
    const std::vector<std::filesystem::path>& paths, const std::string& nodeUniqueID, bool& found) {
  std::vector<std::string> texts;
  texts.reserve(paths.size());
  for (const std::filesystem::path& path : paths) texts.push_back(path.string());
  return catalogue_->playlistItemsFromPaths(texts, nodeUniqueID, &found);
}

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::clipsWithMediaItemAtPath(
    const std::filesystem::path& path, const std::string& nodeUniqueID) {
  return catalogue_->clipsWithMediaItemAtPath(path.string(), nodeUniqueID);
}

std::shared_ptr<PlaylistItem> PseudoServerDataSource::playlistItemWithNodeUniqueID(
    const std::string& nodeUniqueID, const std::string& absolutePath,
    const std::optional<std::string>& mediaItemUniqueID, const std::optional<std::string>& mediaFolderUniqueID) {
  return catalogue_->playlistItemWithNodeUniqueID(nodeUniqueID, absolutePath, mediaItemUniqueID, mediaFolderUniqueID);
}

// ---- Documents, export and import ----

std::optional<DataSource::PlaylistItems> PseudoServerDataSource::playlistItemsArrayFromDict(
    const platform::Dictionary& dictionary, const std::string& nodeUniqueID) {
  return nodes::playlistItemsArrayFromDict(dictionary, nodeUniqueID, *catalogue_);
}

void PseudoServerDataSource::requestThumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                                      std::string_view mediaFolderUniqueID,
                                                                      std::string_view nodeUniqueID,
                                                                      double positionInSeconds) {
  DataSource::requestThumbnailForMediaItemWithUniqueID(mediaItemUniqueID, mediaFolderUniqueID, nodeUniqueID,
                                                       positionInSeconds);
}

platform::Status PseudoServerDataSource::exportAllDataToFolder(const std::filesystem::path& folder) {
  return transfer_->exportAllDataToFolder(folder);
}

platform::Status PseudoServerDataSource::importAllDataFromFolder(const std::filesystem::path& folder,
                                                                 bool eraseExisting) {
  return transfer_->importAllDataFromFolder(folder, eraseExisting);
}

std::optional<platform::Dictionary> PseudoServerDataSource::exportInfosFromFolder(const std::filesystem::path& folder) {
  return transfer_->exportInfosFromFolder(folder);
}

}  // namespace nodes
