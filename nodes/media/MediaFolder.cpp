#include "nodes/media/MediaFolder.h"

#include <algorithm>
#include <limits>

#include "foundation/DictionaryCategories.h"
#include "nodes/media/DictionaryFieldReader.h"

namespace nodes {

namespace {

constexpr const char* kUniqueIDKey = "mediaFolderUniqueID";
constexpr const char* kPathKey = "mediaFolderPath";
constexpr const char* kLastChangeNumberKey = "mediaFolderLastChangeNumber";
constexpr const char* kInitializedKey = "mediaFolderInitialized";
constexpr const char* kCaseSensitiveKey = "mediaFolderIsCaseSensitive";

MediaFolder::MediaItems copiesOf(const MediaFolder::MediaItems& items) {
  MediaFolder::MediaItems copies;
  copies.reserve(items.size());
  for (const auto& item : items) copies.push_back(item ? item->copy() : nullptr);
  return copies;
}

}  // namespace

MediaFolder::MediaFolder(const MediaFolder& other) {
  {
    std::lock_guard guard(other.fieldsLock_);
    uniqueID_ = other.uniqueID_;
    lastChangeNumber_ = other.lastChangeNumber_;
    path_ = other.path_;
    initialized_ = other.initialized_;
    caseSensitive_ = other.caseSensitive_;
  }
  mediaItems_ = copiesOf(other.mediaItems());
  for (auto& [uniqueID, item] : other.mediaItemsToSave()) mediaItemsToSave_.emplace(uniqueID, item->copy());
}

std::optional<std::string> MediaFolder::uniqueID() const {
  std::lock_guard guard(fieldsLock_);
  return uniqueID_;
}

void MediaFolder::setUniqueID(std::optional<std::string> uniqueID) {
  std::lock_guard guard(fieldsLock_);
  uniqueID_ = std::move(uniqueID);
}

std::uint64_t MediaFolder::lastChangeNumber() const {
  std::lock_guard guard(fieldsLock_);
  return lastChangeNumber_;
}

void MediaFolder::setLastChangeNumber(std::uint64_t number) {
  std::lock_guard guard(fieldsLock_);
  lastChangeNumber_ = number;
}

std::optional<std::string> MediaFolder::path() const {
  std::lock_guard guard(fieldsLock_);
  return path_;
}

void MediaFolder::setPath(std::optional<std::string> path) {
  std::lock_guard guard(fieldsLock_);
  path_ = std::move(path);
}

bool MediaFolder::initialized() const {
  std::lock_guard guard(fieldsLock_);
  return initialized_;
}

void MediaFolder::setInitialized(bool initialized) {
  std::lock_guard guard(fieldsLock_);
  initialized_ = initialized;
}

bool MediaFolder::caseSensitive() const {
  std::lock_guard guard(fieldsLock_);
  return caseSensitive_;
}

void MediaFolder::setCaseSensitive(bool caseSensitive) {
  std::lock_guard guard(fieldsLock_);
  caseSensitive_ = caseSensitive;
}

MediaFolder::MediaItems MediaFolder::mediaItems() const {
  std::lock_guard guard(mediaItemsLock_);
  return mediaItems_;
}

void MediaFolder::setMediaItems(MediaItems items) {
  std::lock_guard guard(mediaItemsLock_);
  mediaItems_ = std::move(items);
}

void MediaFolder::addMediaItem(std::shared_ptr<MediaItem> item) {
  if (!item) return;
  std::lock_guard guard(mediaItemsLock_);
  mediaItems_.push_back(std::move(item));
}

std::shared_ptr<MediaItem> MediaFolder::firstMediaItem() const {
  std::lock_guard guard(mediaItemsLock_);
  return mediaItems_.empty() ? nullptr : mediaItems_.front();
}

std::size_t MediaFolder::mediaItemsCount() const {
  std::lock_guard guard(mediaItemsLock_);
  return mediaItems_.size();
}

void MediaFolder::removeMediaItem(const std::shared_ptr<MediaItem>& item) {
  std::lock_guard guard(mediaItemsLock_);
  std::erase(mediaItems_, item);
}

void MediaFolder::removeMediaItemWithUniqueID(std::string_view uniqueID) {
  std::lock_guard guard(mediaItemsLock_);
  std::erase_if(mediaItems_, [&](const std::shared_ptr<MediaItem>& item) {
    std::optional<std::string> itemID = item->uniqueID();
    return itemID && *itemID == uniqueID;
  });
}

void MediaFolder::withMediaItems(const std::function<void(MediaItems&)>& body) {
  std::lock_guard guard(mediaItemsLock_);
  body(mediaItems_);
}

MediaFolder::MediaItemsToSave MediaFolder::mediaItemsToSave() const {
  std::lock_guard guard(mediaItemsToSaveLock_);
  return mediaItemsToSave_;
}

void MediaFolder::setMediaItemsToSave(MediaItemsToSave items) {
  std::erase_if(items, [](const auto& entry) { return entry.second == nullptr; });
  std::lock_guard guard(mediaItemsToSaveLock_);
  mediaItemsToSave_ = std::move(items);
}

bool MediaFolder::addMediaItemToSave(std::shared_ptr<MediaItem> item) {
  if (!item) return false;
  std::optional<std::string> uniqueID = item->uniqueID();
  if (!uniqueID) return false;
  std::lock_guard guard(mediaItemsToSaveLock_);
  mediaItemsToSave_.insert_or_assign(std::move(*uniqueID), std::move(item));
  return true;
}

void MediaFolder::removeMediaItemToSave(const MediaItem& item) {
  std::optional<std::string> uniqueID = item.uniqueID();
  if (!uniqueID) return;
  std::lock_guard guard(mediaItemsToSaveLock_);
  mediaItemsToSave_.erase(*uniqueID);
}

std::size_t MediaFolder::mediaItemsToSaveCount() const {
  std::lock_guard guard(mediaItemsToSaveLock_);
  return mediaItemsToSave_.size();
}

MediaFolder::MediaItems MediaFolder::takeMediaItemsToSave() {
  MediaItemsToSave taken;
  {
    std::lock_guard guard(mediaItemsToSaveLock_);
    taken.swap(mediaItemsToSave_);
  }
  MediaItems items;
  items.reserve(taken.size());
  for (auto& entry : taken) items.push_back(std::move(entry.second));
  return items;
}

void MediaFolder::withMediaItemsToSave(const std::function<void(MediaItemsToSave&)>& body) {
  std::lock_guard guard(mediaItemsToSaveLock_);
  body(mediaItemsToSave_);
}

platform::Dictionary MediaFolder::dictionary() const {
  std::lock_guard guard(fieldsLock_);
  platform::Dictionary dict;
  if (uniqueID_) foundation::setNoNillObject(dict, kUniqueIDKey, *uniqueID_);
  if (path_) foundation::setNoNillObject(dict, kPathKey, *path_);
  // Property lists hold signed 64-bit integers; no node counts that far.
  constexpr std::uint64_t kMax = std::numeric_limits<std::int64_t>::max();
  dict[kLastChangeNumberKey] = platform::Value(static_cast<std::int64_t>(std::min(lastChangeNumber_, kMax)));
  dict[kInitializedKey] = initialized_;
  dict[kCaseSensitiveKey] = caseSensitive_;
  return dict;
}

platform::Status MediaFolder::setValuesFromDictionary(const platform::Dictionary& dictionary) {
  detail::DictionaryFieldReader read(dictionary, "MediaFolder");
  auto uniqueID = read.string(kUniqueIDKey);
  auto path = read.string(kPathKey);
  auto lastChangeNumber = read.integer(kLastChangeNumberKey, 0, std::numeric_limits<std::int64_t>::max());
  auto initialized = read.boolean(kInitializedKey);
  auto caseSensitive = read.boolean(kCaseSensitiveKey);

  std::lock_guard guard(fieldsLock_);
  if (uniqueID) uniqueID_ = std::move(uniqueID);
  if (path) path_ = std::move(path);
  if (lastChangeNumber) lastChangeNumber_ = static_cast<std::uint64_t>(*lastChangeNumber);
  if (initialized) initialized_ = *initialized;
  if (caseSensitive) caseSensitive_ = *caseSensitive;
  return read.status();
}

std::shared_ptr<MediaFolder> MediaFolder::fromDictionary(const platform::Dictionary& dictionary) {
  auto folder = std::make_shared<MediaFolder>();
  (void)folder->setValuesFromDictionary(dictionary);
  return folder;
}

}  // namespace nodes
