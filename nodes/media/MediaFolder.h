#pragma once
// MediaFolder: one media folder of a node, with the media items whose info is
// still to be fetched (mediaItems) and the fetched items waiting to go to the
// catalogue (mediaItemsToSave). The node connection owns its folders (shared
// pointers, so notifications can carry them); its polling thread changes them
// while the main thread reads them.
//
// Any thread: the two collections each have their own private lock, the other
// fields a third; readers get snapshots. withMediaItems / withMediaItemsToSave
// run a caller's function under the collection's lock for walks that must see
// one consistent collection; that function must not call back into this
// folder nor take locks that may be held while calling into it.
//
// Guarantees: a copy shares neither its collections nor its items with its
// source; dictionaries with missing or bad keys keep the field values.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "nodes/media/MediaItem.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

class MediaFolder {
 public:
  using MediaItems = std::vector<std::shared_ptr<MediaItem>>;
  // Media item unique ID -> item.
  using MediaItemsToSave = std::map<std::string, std::shared_ptr<MediaItem>, std::less<>>;

  // Nil ID and path, change number 0, both flags false, empty collections.
  MediaFolder() = default;
  // Deep copy: new collections holding copies of the items.
  MediaFolder(const MediaFolder& other);
  MediaFolder& operator=(const MediaFolder&) = delete;
  std::shared_ptr<MediaFolder> copy() const { return std::make_shared<MediaFolder>(*this); }

  std::optional<std::string> uniqueID() const;
  void setUniqueID(std::optional<std::string> uniqueID);
  std::uint64_t lastChangeNumber() const;
  void setLastChangeNumber(std::uint64_t number);
  std::optional<std::string> path() const;
  void setPath(std::optional<std::string> path);
  // True once every media item of the folder was fetched and handed on.
  bool initialized() const;
  void setInitialized(bool initialized);
  bool caseSensitive() const;
  void setCaseSensitive(bool caseSensitive);

  // Items whose info is still to be fetched.
  MediaItems mediaItems() const;
  void setMediaItems(MediaItems items);
  void addMediaItem(std::shared_ptr<MediaItem> item);
  std::shared_ptr<MediaItem> firstMediaItem() const;  // nullptr when empty
  std::size_t mediaItemsCount() const;
  // Removes that object (by identity).
  void removeMediaItem(const std::shared_ptr<MediaItem>& item);
  // Removes every item with that unique ID.
  void removeMediaItemWithUniqueID(std::string_view uniqueID);
  void withMediaItems(const std::function<void(MediaItems&)>& body);

  // Fetched items waiting for the catalogue.
  MediaItemsToSave mediaItemsToSave() const;
  void setMediaItemsToSave(MediaItemsToSave items);
  // Stores the item under its unique ID; false (and nothing stored) when the
  // item has no unique ID.
  bool addMediaItemToSave(std::shared_ptr<MediaItem> item);
  // Removes the entry with the item's unique ID.
  void removeMediaItemToSave(const MediaItem& item);
  std::size_t mediaItemsToSaveCount() const;
  // Every waiting item, in unique ID order, leaving the collection empty.
  MediaItems takeMediaItemsToSave();
  void withMediaItemsToSave(const std::function<void(MediaItemsToSave&)>& body);

  // "mediaFolderUniqueID", "mediaFolderPath" (left out when none),
  // "mediaFolderLastChangeNumber", "mediaFolderInitialized",
  // "mediaFolderIsCaseSensitive".
  platform::Dictionary dictionary() const;
  // Sets each field whose key is present and valid; the error names the keys
  // refused (their fields keep their values).
  platform::Status setValuesFromDictionary(const platform::Dictionary& dictionary);
  static std::shared_ptr<MediaFolder> fromDictionary(const platform::Dictionary& dictionary);

 private:
  mutable std::mutex fieldsLock_;
  std::optional<std::string> uniqueID_;  // guarded by fieldsLock_
  std::uint64_t lastChangeNumber_ = 0;   // guarded by fieldsLock_
  std::optional<std::string> path_;      // guarded by fieldsLock_
  bool initialized_ = false;             // guarded by fieldsLock_
  bool caseSensitive_ = false;           // guarded by fieldsLock_

  mutable std::mutex mediaItemsLock_;
  MediaItems mediaItems_;  // guarded by mediaItemsLock_

  mutable std::mutex mediaItemsToSaveLock_;
  MediaItemsToSave mediaItemsToSave_;  // guarded by mediaItemsToSaveLock_
};

}  // namespace nodes
