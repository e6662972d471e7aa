// ClipCatalogue: folder and store set-up, the operation queue and its
// notifications, the writes that queue records.

#include "nodes/catalogue/ClipCatalogue.h"

#include <cctype>
#include <set>
#include <system_error>
#include <utility>

#include "foundation/CVNAlertUtilities.h"
#include "foundation/GenerateUniqueID.h"
#include "nodes/catalogue/CatalogueVersionFiles.h"
#include "nodes/catalogue/ClipCatalogueImpl.h"
#include "nodes/catalogue/ClipCatalogueOperations.h"
#include "platform/Bundle.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using platform::DiagnosticLevel;
using platform::Error;
using platform::Status;
using platform::Value;

// Property-list files looked at by searchFileAtPath are small; a larger file
// is not one of them.
constexpr std::uintmax_t kSearchedFileSizeLimit = 16 * 1024 * 1024;

Error setUpError(std::string description) {
  return Error(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::CannotOpen,
               "Clip catalogue: " + std::move(description));
}

Status createFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return setUpError("cannot create the folder " + folder.string() + ": " + error.message());
  return {};
}

// Folder set-up: root, "Private", "Versions", and the Categories file.
Status setUpFolders(ClipCatalogue::Impl& impl) {
  for (const fs::path& folder :
       {impl.rootPath, impl.rootPath / catalogue::kPrivateFolderName, impl.versionsFolderPath}) {
    if (Status made = createFolder(folder); !made.ok()) return made;
  }
  std::error_code error;
  const fs::path older = impl.rootPath / catalogue::kOlderCategoriesFileName;
  if (fs::exists(older, error)) {
    fs::rename(older, impl.categoriesFilePath, error);
    if (error) {
      platform::reportDiagnostic(DiagnosticLevel::Warning, "Clip catalogue: cannot move " + older.string() + " to " +
                                                               impl.categoriesFilePath.string() + ": " +
                                                               error.message());
    }
  }
  if (!fs::exists(impl.categoriesFilePath, error)) {
    const platform::Dictionary categories{{catalogue::kDataBaseRootKey, Value(impl.rootPath.string())}};
    Status written = platform::writePropertyListFile(impl.categoriesFilePath, Value(categories));
    if (!written.ok()) platform::reportDiagnostic(DiagnosticLevel::Warning, written.error().describe());
  }
  return {};
}

// A damaged store would fail every write in this and later runs: it is kept
// aside for the operator, who is told once, and an empty store (with the
// version file of a new one) takes its place.
Status replaceDamagedStore(ClipCatalogue::Impl& impl, const Error& damage) {
  {
    std::lock_guard guard(impl.queueLock);  // pushes from other threads look at it
    impl.store.reset();                      // closes the file before it moves
  }
  platform::Result<fs::path> aside = platform::keepDamagedFileAside(impl.mediaStoreURL, {"-wal", "-shm"});
  if (!aside.ok()) return setUpError(damage.localizedDescription + "; " + aside.error().localizedDescription);
  Status written = CatalogueVersionFiles(impl.versionsFolderPath, platform::Bundle::main()->version())
                       .saveMediaDatabaseVersion(catalogue::kMediaDatabaseVersion);
  if (!written.ok()) platform::reportDiagnostic(DiagnosticLevel::Warning, written.error().describe());
  platform::Result<std::unique_ptr<ClipCatalogueStore>> fresh =
      ClipCatalogueStore::open(impl.mediaStoreURL, impl.options.store);
  if (!fresh.ok()) return fresh.error();
  {
    std::lock_guard guard(impl.queueLock);
    impl.store = std::move(*fresh);
  }
  impl.storeWasCreated = true;
  const std::string told = "The clip database was damaged (" + damage.localizedDescription + "). It was kept as " +
                           aside->string() + " and a new one was started; the clips are read again from the nodes.";
  platform::reportDiagnostic(DiagnosticLevel::Error, told);
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(catalogue::kDatabaseDamagedTitle, told, {});
  return {};
}

// Store set-up: the version file of a new store, then the store.
Status setUpStore(ClipCatalogue::Impl& impl) {
  const fs::path storeFile = impl.rootPath / catalogue::kPrivateFolderName / catalogue::kStoreFileName;
  std::error_code error;
  impl.mediaStoreURL = fs::weakly_canonical(storeFile, error);
  if (error) impl.mediaStoreURL = storeFile;
  const bool existed = fs::exists(impl.mediaStoreURL, error);
  if (!existed) {
    Status written = CatalogueVersionFiles(impl.versionsFolderPath, platform::Bundle::main()->version())
                         .saveMediaDatabaseVersion(catalogue::kMediaDatabaseVersion);
    if (!written.ok()) platform::reportDiagnostic(DiagnosticLevel::Warning, written.error().describe());
  }
  platform::Result<std::unique_ptr<ClipCatalogueStore>> store =
      ClipCatalogueStore::open(impl.mediaStoreURL, impl.options.store);
  if (!store.ok() && store.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::Damaged)) {
    return replaceDamagedStore(impl, store.error());
  }
  if (!store.ok()) return store.error();
  impl.store = std::move(*store);
  impl.storeWasCreated = !existed;
  return {};
}

void postNotification(ClipCatalogue::Impl& impl, const std::string& name, Value object) {
  platform::Notification notification{name, impl.options.sender, {}, {}};
  if (!object.isNone()) notification.object = std::move(object);
  impl.center().post(notification);
}

void announceStarted(ClipCatalogue::Impl& impl) {
  if (impl.options.startedOperation) {
    impl.options.startedOperation();
  } else {
    postNotification(impl, catalogue::kStartedCoreDataOperationNotification, Value());
  }
}

void announceFinished(ClipCatalogue::Impl& impl) {
  if (impl.options.finishedOperations) {
    impl.options.finishedOperations();
  } else {
    postNotification(impl, catalogue::kFinishedCataloggingMediaItemsNotification, Value());
  }
}

bool isKnownOperation(std::int32_t number) {
  switch (static_cast<CatalogueOperation>(number)) {
    case CatalogueOperation::AddOrUpdateClipsWithMediaItems:
    case CatalogueOperation::RemoveClipsWithMediaItemsUniqueIDs:
    case CatalogueOperation::RemoveClipsWithUniqueIDs:
    case CatalogueOperation::MarkClipsAsOfflineForMediaItems:
    case CatalogueOperation::AddOrUpdateClips:
    case CatalogueOperation::RemoveClipsWithMediaFolderUniqueID:
    case CatalogueOperation::MarkAllClipsAsOffline:
      return true;
  }
  return false;
}

// One operation: its work and its save as one transaction; its
// notifications only once that is stored.
void processCoreDataOperation(ClipCatalogue::Impl& impl, const CatalogueOperationRecord& record) {
  announceStarted(impl);
  if (!impl.store) return;  // disabled since it was queued
  if (!isKnownOperation(record.operationToProcess)) {
    platform::reportDiagnostic(
        DiagnosticLevel::Warning,
        "Clip catalogue: operation " + std::to_string(record.operationToProcess) + " is unknown; dropped");
    return;
  }
  detail::CollectedNotifications notifications;
  auto perform = [&] {
    notifications.clear();
    ClipCatalogueStore& store = *impl.store;
    return store.performTransaction([&] { return detail::performCatalogueOperation(store, record, notifications); });
  };
  Status saved = perform();
  if (!saved.ok() && saved.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::Damaged)) {
    if (Status replaced = replaceDamagedStore(impl, saved.error()); !replaced.ok()) {
      impl.openError = replaced.error();
      platform::reportDiagnostic(DiagnosticLevel::Error,
                                 replaced.error().localizedDescription + "; the clip catalogue is disabled");
      foundation::CVNAlertUtilities::presentError(replaced.error());
      return;
    }
    if (impl.options.storeReplaced) impl.options.storeReplaced();
    saved = perform();
  }
  if (!saved.ok()) {
    platform::reportDiagnostic(DiagnosticLevel::Error, "save error: operation " +
                                                           std::to_string(record.operationToProcess) +
                                                           " was not stored: " + saved.error().describe());
    foundation::CVNAlertUtilities::presentError(saved.error());
    return;
  }
  platform::reportDiagnostic(DiagnosticLevel::Info, "Database Operation Committed");
  for (detail::CollectedNotification& notification : notifications) {
    postNotification(impl, notification.name, std::move(notification.object));
  }
}

void scheduleProcessing(const std::shared_ptr<ClipCatalogue::Impl>& impl);

// processNextOperation: runs the first waiting record, then hands the next
// one to a later main-queue task so the main thread breathes between them.
void processNextOperation(const std::weak_ptr<ClipCatalogue::Impl>& weak) {
  std::shared_ptr<ClipCatalogue::Impl> impl = weak.lock();
  if (!impl) return;
  CatalogueOperationRecord record;
  {
    std::lock_guard guard(impl->queueLock);
    impl->processingScheduled = false;
    if (impl->isBusy || impl->operationsToProcess.empty()) return;
    record = std::move(impl->operationsToProcess.front());
    impl->operationsToProcess.pop_front();
  }
  impl->isBusy = true;
  processCoreDataOperation(*impl, record);
  impl->isBusy = false;
  bool more = false;
  bool schedule = false;
  {
    std::lock_guard guard(impl->queueLock);
    more = !impl->operationsToProcess.empty();
    if (more && !impl->processingScheduled) schedule = impl->processingScheduled = true;
  }
  if (schedule) scheduleProcessing(impl);
  if (!more) announceFinished(*impl);
}

void scheduleProcessing(const std::shared_ptr<ClipCatalogue::Impl>& impl) {
  std::weak_ptr<ClipCatalogue::Impl> weak = impl;
  if (!platform::DispatchQueue::main().async([weak] { processNextOperation(weak); })) {
    std::lock_guard guard(impl->queueLock);
    impl->processingScheduled = false;  // the next push tries again
  }
}

// NSString's intValue read only as far as "is it non-zero".
bool readsAsNonZeroInteger(const std::string& word) {
  std::size_t i = 0;
  while (i < word.size() && std::isspace(static_cast<unsigned char>(word[i]))) ++i;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  for (; i < word.size() && std::isdigit(static_cast<unsigned char>(word[i])); ++i) {
    if (word[i] != '0') return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<ClipCatalogue> ClipCatalogue::create(const fs::path& basePath, Options options) {
  auto impl = std::make_shared<Impl>();
  impl->options = std::move(options);
  const std::string bundleName =
      impl->options.bundleName.empty() ? platform::Bundle::main()->name() : impl->options.bundleName;
  impl->rootPath = basePath / (bundleName + " Local DataSource");
  impl->versionsFolderPath = impl->rootPath / catalogue::kVersionsFolderName;
  impl->categoriesFilePath = impl->rootPath / catalogue::kCategoriesFileName;
  impl->mediaStoreURL = impl->rootPath / catalogue::kPrivateFolderName / catalogue::kStoreFileName;

  Status ready = setUpFolders(*impl);
  if (ready.ok()) ready = setUpStore(*impl);
  if (!ready.ok()) {
    // Said once, here: from now on the catalogue stays quiet and does nothing.
    impl->openError = ready.error();
    platform::reportDiagnostic(DiagnosticLevel::Error,
                               ready.error().localizedDescription + "; the clip catalogue is disabled");
    foundation::CVNAlertUtilities::presentError(ready.error());
  }
  return std::unique_ptr<ClipCatalogue>(new ClipCatalogue(std::move(impl)));
}

ClipCatalogue::ClipCatalogue(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
ClipCatalogue::~ClipCatalogue() = default;

bool ClipCatalogue::isEnabled() const { return impl_->store != nullptr; }
std::optional<Error> ClipCatalogue::openError() const { return impl_->openError; }
bool ClipCatalogue::storeWasCreated() const { return impl_->storeWasCreated; }
const fs::path& ClipCatalogue::rootPath() const { return impl_->rootPath; }
const fs::path& ClipCatalogue::versionsFolderPath() const { return impl_->versionsFolderPath; }
const fs::path& ClipCatalogue::categoriesFilePath() const { return impl_->categoriesFilePath; }
const fs::path& ClipCatalogue::mediaStoreURL() const { return impl_->mediaStoreURL; }
ClipCatalogueStore* ClipCatalogue::store() { return impl_->store.get(); }

// ---- Writes ----

void ClipCatalogue::addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& mediaItems) {
  CatalogueOperationRecord::MediaItems copies;
  copies.reserve(mediaItems.size());
  for (const auto& item : mediaItems) {
    if (item) copies.push_back(item->copy());
  }
  pushNewOperationToPerform(
      {static_cast<std::int32_t>(CatalogueOperation::AddOrUpdateClipsWithMediaItems), std::move(copies)});
}

void ClipCatalogue::removeClipsWithMediaItemsUniqueIDs(std::vector<std::string> mediaItemUniqueIDs) {
  pushNewOperationToPerform({static_cast<std::int32_t>(CatalogueOperation::RemoveClipsWithMediaItemsUniqueIDs),
                             std::move(mediaItemUniqueIDs)});
}

void ClipCatalogue::removeClipsWithUniqueIDs(std::vector<std::string> clipUniqueIDs) {
  pushNewOperationToPerform(
      {static_cast<std::int32_t>(CatalogueOperation::RemoveClipsWithUniqueIDs), std::move(clipUniqueIDs)});
}

void ClipCatalogue::markClipsAsOfflineForMediaItemsUniqueIDs(platform::Array mediaItems) {
  pushNewOperationToPerform(
      {static_cast<std::int32_t>(CatalogueOperation::MarkClipsAsOfflineForMediaItems), std::move(mediaItems)});
}

void ClipCatalogue::addOrUpdateClips(const PlaylistItems& clips) {
  CatalogueOperationRecord::Clips snapshots;
  snapshots.reserve(clips.size());
  for (const auto& clip : clips) {
    if (clip) snapshots.push_back(clip->fields());
  }
  pushNewOperationToPerform({static_cast<std::int32_t>(CatalogueOperation::AddOrUpdateClips), std::move(snapshots)});
}

void ClipCatalogue::removeClipsWithMediaFolderUniqueID(std::string mediaFolderUniqueID) {
  pushNewOperationToPerform({static_cast<std::int32_t>(CatalogueOperation::RemoveClipsWithMediaFolderUniqueID),
                             std::move(mediaFolderUniqueID)});
}

void ClipCatalogue::markAllClipsAsOffline() {
  pushNewOperationToPerform({static_cast<std::int32_t>(CatalogueOperation::MarkAllClipsAsOffline), {}});
}

void ClipCatalogue::duplicateClip(const PlaylistItem& clip) {
  if (!impl_->store) return;
  std::shared_ptr<PlaylistItem> copy = clip.copy();
  copy->setUniqueID(foundation::GenerateUniqueID::generateUniqueID());
  const std::string base = originalDisplayNameWithString(clip.displayName());
  std::set<std::string, std::less<>> names;
  platform::Result<std::vector<CatalogueRow>> rows = impl_->store->fetchClips({.displayNamePrefix = base + " copy"});
  if (rows.ok()) {
    for (const CatalogueRow& row : *rows) names.insert(catalogue::rowValue(row, clipinfo::kDisplayName).stringOr(""));
  } else {
    platform::reportDiagnostic(DiagnosticLevel::Warning, rows.error().describe());
  }
  std::string candidate = base + " copy";
  for (int n = 2; names.count(candidate) != 0; ++n) candidate = base + " copy " + std::to_string(n);
  copy->setDisplayName(candidate);
  addOrUpdateClips({copy});
}

void ClipCatalogue::pushNewOperationToPerform(CatalogueOperationRecord record) {
  bool schedule = false;
  {
    std::lock_guard guard(impl_->queueLock);
    if (!impl_->store) {
      if (!impl_->droppedWhileDisabled) {
        impl_->droppedWhileDisabled = true;
        platform::reportDiagnostic(DiagnosticLevel::Warning,
                                   "Clip catalogue: disabled; catalogue operations are dropped");
      }
      return;
    }
    impl_->operationsToProcess.push_back(std::move(record));
    if (!impl_->processingScheduled) schedule = impl_->processingScheduled = true;
  }
  if (schedule) scheduleProcessing(impl_);
}

bool ClipCatalogue::isBusy() const { return impl_->isBusy; }

std::size_t ClipCatalogue::pendingOperationCount() const {
  std::lock_guard guard(impl_->queueLock);
  return impl_->operationsToProcess.size();
}

void ClipCatalogue::discardPendingOperations() {
  std::lock_guard guard(impl_->queueLock);
  impl_->operationsToProcess.clear();
}

Status ClipCatalogue::eraseClipsForNodeWithUniqueID(const std::string& nodeUniqueID) {
  if (!impl_->store) return *impl_->openError;
  ClipCatalogueStore& store = *impl_->store;
  return store.performTransaction([&]() -> Status {
    platform::Result<std::vector<std::string>> deleted = store.deleteClips({.nodeUniqueID = nodeUniqueID});
    if (!deleted.ok()) return deleted.error();
    return {};
  });
}

// ---- Metadata writers ----

Status ClipCatalogue::addMetadataInDataBaseWithMediaItem(const MediaItem& mediaItem, const std::string& clipUniqueID) {
  if (!impl_->store) return *impl_->openError;
  ClipCatalogueStore& store = *impl_->store;
  if (store.isInTransaction()) return detail::addMetadataRows(store, mediaItem, clipUniqueID);
  return store.performTransaction([&] { return detail::addMetadataRows(store, mediaItem, clipUniqueID); });
}

Status ClipCatalogue::updateMetadataInDataBaseWithMediaItem(const MediaItem& mediaItem,
                                                            const std::string& clipUniqueID) {
  if (!impl_->store) return *impl_->openError;
  ClipCatalogueStore& store = *impl_->store;
  auto replace = [&]() -> Status {
    if (Status removed = store.deleteMetadata({clipUniqueID}); !removed.ok()) return removed;
    return detail::addMetadataRows(store, mediaItem, clipUniqueID);
  };
  if (store.isInTransaction()) return replace();
  return store.performTransaction(replace);
}

// ---- Helpers ----

std::optional<fs::path> ClipCatalogue::searchFileAtPath(const fs::path& folder, const std::string& uniqueID,
                                                        const std::string& key) {
  std::error_code error;
  std::set<fs::path> files;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code fileError;
    if (it->is_regular_file(fileError) && it->file_size(fileError) <= kSearchedFileSizeLimit && !fileError) {
      files.insert(it->path());
    }
  }
  for (const fs::path& file : files) {
    platform::Result<Value> contents = platform::readPropertyListFile(file);
    if (!contents.ok() || !contents->isDictionary()) continue;
    const std::string* found = (*contents)[key].string();
    if (found && *found == uniqueID) return file;
  }
  return std::nullopt;
}

std::string ClipCatalogue::originalDisplayNameWithString(const std::string& displayName) {
  std::vector<std::string> words;
  for (std::size_t start = 0;;) {
    const std::size_t space = displayName.find(' ', start);
    words.push_back(displayName.substr(start, space == std::string::npos ? std::string::npos : space - start));
    if (space == std::string::npos) break;
    start = space + 1;
  }
  if (words.size() < 2) return displayName;
  if (words[words.size() - 2] == "copy" && readsAsNonZeroInteger(words.back())) {
    std::string base;
    for (std::size_t i = 0; i + 2 < words.size(); ++i) base += (i == 0 ? "" : " ") + words[i];
    return base;
  }
  if (words.back() == "copy") return displayName.substr(0, displayName.size() - 5);
  return displayName;
}

}  // namespace nodes
