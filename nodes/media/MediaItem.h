#pragma once
// MediaItem: one media file in a node's media folder, as the node reports it
// ("fmmediaiteminfo"). The node connection's polling thread creates and fills
// items; the main thread reads them and the catalogue turns them into clips.
//
// Shared through std::shared_ptr. Any thread: every field is guarded by the
// item's private lock, readers get copies, and update() applies several
// changes as one step so a reader never sees a half-filled item.
//
// Guarantees: the fields only ever hold values of their own type and range;
// dictionaries and archives with missing, mistyped or out-of-range keys leave
// those fields as they were and say which keys were refused. A copy shares
// nothing with its source.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Value.h"

namespace nodes {

// Four question marks: the codec of an item whose codec is not known yet.
inline constexpr std::uint32_t kUnknownVideoCodec = 0x3F3F3F3F;

// The data fields of a media item, in declaration order, with the values of a
// new item. None (nullopt) and empty are kept apart.
struct MediaItemInfo {
  std::optional<std::string> uniqueID;
  std::optional<std::string> mediaFolderPath;
  std::optional<std::string> mediaFolderUniqueID;
  std::optional<std::string> absolutePath;
  std::optional<std::string> relativePath;  // path inside the media folder
  std::optional<std::string> nodeName;
  std::optional<platform::Date> lastModificationDate;
  std::vector<std::string> languagesArray;
  std::optional<std::string> displayName;
  std::string startTimeCode = "00:00:00:00";
  platform::Dictionary nodeMetadataDict;
  std::int32_t validationStatus = 0;  // the node's validation code
  double durationInSeconds = 0;
  double framesPerSecond = 0;
  bool dropFrame = false;
  std::uint32_t videoCodec = kUnknownVideoCodec;  // four-character code
  std::string videoCodecDescription = "Unknown";
  std::int32_t invalidReason = -1;  // the node's reason code
  std::int64_t finderLabelIndex = 0;
  std::string finderLabelName;
  bool online = false;
  bool initialized = false;  // true once its info was fetched
  float naturalVideoSizeWidth = 0;
  float naturalVideoSizeHeight = 0;
  std::string nodeUniqueID;

  friend bool operator==(const MediaItemInfo&, const MediaItemInfo&) = default;
};

class MediaItem final : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "MediaItem";

  MediaItem() = default;
  explicit MediaItem(MediaItemInfo info) : info_(std::move(info)) {}
  // A deep copy taken under the source's lock, with a lock of its own.
  MediaItem(const MediaItem& other);
  MediaItem& operator=(const MediaItem&) = delete;
  std::shared_ptr<MediaItem> copy() const { return std::make_shared<MediaItem>(*this); }

  // The whole item at one moment, and a change of several fields at once.
  MediaItemInfo info() const;
  void update(const std::function<void(MediaItemInfo&)>& change);

  // Accessors of every field (each takes the lock).
  std::optional<std::string> uniqueID() const { return get(&MediaItemInfo::uniqueID); }
  void setUniqueID(std::optional<std::string> v) { set(&MediaItemInfo::uniqueID, std::move(v)); }
  std::optional<std::string> mediaFolderPath() const { return get(&MediaItemInfo::mediaFolderPath); }
  void setMediaFolderPath(std::optional<std::string> v) { set(&MediaItemInfo::mediaFolderPath, std::move(v)); }
  std::optional<std::string> mediaFolderUniqueID() const { return get(&MediaItemInfo::mediaFolderUniqueID); }
  void setMediaFolderUniqueID(std::optional<std::string> v) { set(&MediaItemInfo::mediaFolderUniqueID, std::move(v)); }
  std::optional<std::string> absolutePath() const { return get(&MediaItemInfo::absolutePath); }
  void setAbsolutePath(std::optional<std::string> v) { set(&MediaItemInfo::absolutePath, std::move(v)); }
  std::optional<std::string> relativePath() const { return get(&MediaItemInfo::relativePath); }
  void setRelativePath(std::optional<std::string> v) { set(&MediaItemInfo::relativePath, std::move(v)); }
  std::optional<std::string> nodeName() const { return get(&MediaItemInfo::nodeName); }
  void setNodeName(std::optional<std::string> v) { set(&MediaItemInfo::nodeName, std::move(v)); }
  std::optional<platform::Date> lastModificationDate() const { return get(&MediaItemInfo::lastModificationDate); }
  void setLastModificationDate(std::optional<platform::Date> v) { set(&MediaItemInfo::lastModificationDate, v); }
  std::vector<std::string> languagesArray() const { return get(&MediaItemInfo::languagesArray); }
  void setLanguagesArray(std::vector<std::string> v) { set(&MediaItemInfo::languagesArray, std::move(v)); }
  std::optional<std::string> displayName() const { return get(&MediaItemInfo::displayName); }
  void setDisplayName(std::optional<std::string> v) { set(&MediaItemInfo::displayName, std::move(v)); }
  std::string startTimeCode() const { return get(&MediaItemInfo::startTimeCode); }
  void setStartTimeCode(std::string v) { set(&MediaItemInfo::startTimeCode, std::move(v)); }
  platform::Dictionary nodeMetadataDict() const { return get(&MediaItemInfo::nodeMetadataDict); }
  void setNodeMetadataDict(platform::Dictionary v) { set(&MediaItemInfo::nodeMetadataDict, std::move(v)); }
  std::int32_t validationStatus() const { return get(&MediaItemInfo::validationStatus); }
  void setValidationStatus(std::int32_t v) { set(&MediaItemInfo::validationStatus, v); }
  double durationInSeconds() const { return get(&MediaItemInfo::durationInSeconds); }
  void setDurationInSeconds(double v) { set(&MediaItemInfo::durationInSeconds, v); }
  double framesPerSecond() const { return get(&MediaItemInfo::framesPerSecond); }
  void setFramesPerSecond(double v) { set(&MediaItemInfo::framesPerSecond, v); }
  bool dropFrame() const { return get(&MediaItemInfo::dropFrame); }
  void setDropFrame(bool v) { set(&MediaItemInfo::dropFrame, v); }
  std::uint32_t videoCodec() const { return get(&MediaItemInfo::videoCodec); }
  void setVideoCodec(std::uint32_t v) { set(&MediaItemInfo::videoCodec, v); }
  std::string videoCodecDescription() const { return get(&MediaItemInfo::videoCodecDescription); }
  void setVideoCodecDescription(std::string v) { set(&MediaItemInfo::videoCodecDescription, std::move(v)); }
  std::int32_t invalidReason() const { return get(&MediaItemInfo::invalidReason); }
  void setInvalidReason(std::int32_t v) { set(&MediaItemInfo::invalidReason, v); }
  std::int64_t finderLabelIndex() const { return get(&MediaItemInfo::finderLabelIndex); }
  void setFinderLabelIndex(std::int64_t v) { set(&MediaItemInfo::finderLabelIndex, v); }
  std::string finderLabelName() const { return get(&MediaItemInfo::finderLabelName); }
  // None stores the empty string.
  void setFinderLabelName(std::optional<std::string> v) { set(&MediaItemInfo::finderLabelName, std::move(v).value_or("")); }
  bool online() const { return get(&MediaItemInfo::online); }
  void setOnline(bool v) { set(&MediaItemInfo::online, v); }
  bool initialized() const { return get(&MediaItemInfo::initialized); }
  void setInitialized(bool v) { set(&MediaItemInfo::initialized, v); }
  float naturalVideoSizeWidth() const { return get(&MediaItemInfo::naturalVideoSizeWidth); }
  void setNaturalVideoSizeWidth(float v) { set(&MediaItemInfo::naturalVideoSizeWidth, v); }
  float naturalVideoSizeHeight() const { return get(&MediaItemInfo::naturalVideoSizeHeight); }
  void setNaturalVideoSizeHeight(float v) { set(&MediaItemInfo::naturalVideoSizeHeight, v); }
  std::string nodeUniqueID() const { return get(&MediaItemInfo::nodeUniqueID); }
  void setNodeUniqueID(std::string v) { set(&MediaItemInfo::nodeUniqueID, std::move(v)); }

  // Byte-wise comparison of the absolute paths (none sorts first): -1, 0, 1.
  int compareByAbsolutePath(const MediaItem& other) const;

  // The dictionary form: "clipInfo..." keys; keys of fields that are none
  // are left out.
  platform::Dictionary dictionary() const;
  // Sets every field whose "clipInfo..." key (the keys dictionary() writes)
  // is present and valid; keeps the others. The error names refused keys.
  // Does not touch nodeUniqueID and initialized.
  platform::Status setValuesFromDictionary(const platform::Dictionary& dictionary);
  static std::shared_ptr<MediaItem> fromDictionary(const platform::Dictionary& dictionary);

  // Keyed archiving: every field but nodeUniqueID and initialized.
  std::string className() const override { return kClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  // Missing keys keep the new-item values; a key of the wrong type or out of
  // range refuses the archive.
  static platform::Result<std::shared_ptr<platform::Archivable>> decode(const platform::KeyedArchiveDecoder& decoder);
  static void registerArchiveClass(platform::KeyedArchiveRegistry& registry = platform::KeyedArchiveRegistry::shared());

 private:
  template <typename T>
  T get(T MediaItemInfo::*field) const {
    std::lock_guard guard(lock_);
    return info_.*field;
  }
  template <typename T, typename V>
  void set(T MediaItemInfo::*field, V&& value) {
    std::lock_guard guard(lock_);
    info_.*field = std::forward<V>(value);
  }

  mutable std::mutex lock_;
  MediaItemInfo info_;  // guarded by lock_
};

}  // namespace nodes
