#include "nodes/media/MediaItem.h"

#include <array>
#include <cfloat>
#include <limits>

#include "foundation/DictionaryCategories.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/DictionaryFieldReader.h"
#include "nodes/media/NodeModelErrors.h"

namespace nodes {

namespace {

// Every key of the dictionary form, which is also the archived form.
constexpr std::array kAllKeys = {
    clipinfo::kMediaItemUniqueID,     clipinfo::kMediaFolderPath,        clipinfo::kNodeName,
    clipinfo::kMediaFolderUniqueID,   clipinfo::kAbsolutePathToMediaItem, clipinfo::kRelativePathToMediaItem,
    clipinfo::kDisplayName,           clipinfo::kLanguages,              clipinfo::kLastModificationDate,
    clipinfo::kStartTimeCode,         clipinfo::kValidationStatus,       clipinfo::kDurationInSeconds,
    clipinfo::kFramesPerSecond,       clipinfo::kDropFrame,              clipinfo::kVideoCodec,
    clipinfo::kVideoCodecDescription, clipinfo::kInvalidReason,          clipinfo::kFinderLabelIndex,
    clipinfo::kFinderLabelName,       clipinfo::kNaturalVideoSizeHeight, clipinfo::kNaturalVideoSizeWidth,
    clipinfo::kOnline,                clipinfo::kMetadata,
};

platform::Value valueOf(const std::optional<std::string>& text) {
  return text ? platform::Value(*text) : platform::Value();
}

template <typename T>
void assignIfSet(T& field, std::optional<T> value) {
  if (value) field = std::move(*value);
}

template <typename T, typename Source>
void assignNumberIfSet(T& field, std::optional<Source> value) {
  if (value) field = static_cast<T>(*value);
}

}  // namespace

MediaItem::MediaItem(const MediaItem& other) : platform::Archivable(other), info_(other.info()) {}

MediaItemInfo MediaItem::info() const {
  std::lock_guard guard(lock_);
  return info_;
}

void MediaItem::update(const std::function<void(MediaItemInfo&)>& change) {
  std::lock_guard guard(lock_);
  change(info_);
}

int MediaItem::compareByAbsolutePath(const MediaItem& other) const {
  // Snapshots one after the other: never hold two items' locks at once.
  const std::optional<std::string> mine = absolutePath();
  const std::optional<std::string> theirs = other.absolutePath();
  if (mine == theirs) return 0;
  if (!mine) return -1;
  if (!theirs) return 1;
  return mine->compare(*theirs) < 0 ? -1 : 1;
}

platform::Dictionary MediaItem::dictionary() const {
  const MediaItemInfo info = this->info();
  platform::Dictionary dict;
  foundation::setNoNillObject(dict, clipinfo::kMediaItemUniqueID, valueOf(info.uniqueID));
  foundation::setNoNillObject(dict, clipinfo::kMediaFolderPath, valueOf(info.mediaFolderPath));
  foundation::setNoNillObject(dict, clipinfo::kNodeName, valueOf(info.nodeName));
  foundation::setNoNillObject(dict, clipinfo::kMediaFolderUniqueID, valueOf(info.mediaFolderUniqueID));
  foundation::setNoNillObject(dict, clipinfo::kAbsolutePathToMediaItem, valueOf(info.absolutePath));
  foundation::setNoNillObject(dict, clipinfo::kRelativePathToMediaItem, valueOf(info.relativePath));
  foundation::setNoNillObject(dict, clipinfo::kDisplayName, valueOf(info.displayName));
  dict[clipinfo::kLanguages] = platform::Array(info.languagesArray.begin(), info.languagesArray.end());
  if (info.lastModificationDate) dict[clipinfo::kLastModificationDate] = *info.lastModificationDate;
  dict[clipinfo::kStartTimeCode] = info.startTimeCode;
  dict[clipinfo::kValidationStatus] = info.validationStatus;
  dict[clipinfo::kDurationInSeconds] = info.durationInSeconds;
  dict[clipinfo::kFramesPerSecond] = info.framesPerSecond;
  dict[clipinfo::kDropFrame] = info.dropFrame;
  dict[clipinfo::kVideoCodec] = info.videoCodec;
  dict[clipinfo::kVideoCodecDescription] = info.videoCodecDescription;
  dict[clipinfo::kInvalidReason] = info.invalidReason;
  dict[clipinfo::kFinderLabelIndex] = platform::Value(info.finderLabelIndex);
  dict[clipinfo::kFinderLabelName] = info.finderLabelName;
  dict[clipinfo::kNaturalVideoSizeHeight] = static_cast<double>(info.naturalVideoSizeHeight);
  dict[clipinfo::kNaturalVideoSizeWidth] = static_cast<double>(info.naturalVideoSizeWidth);
  dict[clipinfo::kOnline] = info.online;
  dict[clipinfo::kMetadata] = info.nodeMetadataDict;
  return dict;
}

platform::Status MediaItem::setValuesFromDictionary(const platform::Dictionary& dictionary) {
  constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
  constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();
  constexpr double kDoubleMax = std::numeric_limits<double>::max();
  detail::DictionaryFieldReader read(dictionary, kClassName);

  // Read everything before taking the lock, then apply in one step.
  auto uniqueID = read.string(clipinfo::kMediaItemUniqueID);
  auto mediaFolderPath = read.string(clipinfo::kMediaFolderPath);
  auto nodeName = read.string(clipinfo::kNodeName);
  auto mediaFolderUniqueID = read.string(clipinfo::kMediaFolderUniqueID);
  auto absolutePath = read.string(clipinfo::kAbsolutePathToMediaItem);
  auto relativePath = read.string(clipinfo::kRelativePathToMediaItem);
  auto displayName = read.string(clipinfo::kDisplayName);
  auto languages = read.stringArray(clipinfo::kLanguages);
  auto lastModificationDate = read.date(clipinfo::kLastModificationDate);
  auto startTimeCode = read.string(clipinfo::kStartTimeCode);
  auto validationStatus = read.integer(clipinfo::kValidationStatus, kInt32Min, kInt32Max);
  auto duration = read.real(clipinfo::kDurationInSeconds, 0, kDoubleMax);
  auto framesPerSecond = read.real(clipinfo::kFramesPerSecond, 0, kDoubleMax);
  auto dropFrame = read.boolean(clipinfo::kDropFrame);
  auto videoCodec = read.integer(clipinfo::kVideoCodec, 0, std::numeric_limits<std::uint32_t>::max());
  auto videoCodecDescription = read.string(clipinfo::kVideoCodecDescription);
  auto invalidReason = read.integer(clipinfo::kInvalidReason, kInt32Min, kInt32Max);
  auto finderLabelIndex = read.integer(clipinfo::kFinderLabelIndex, std::numeric_limits<std::int64_t>::min(),
                                       std::numeric_limits<std::int64_t>::max());
  auto finderLabelName = read.string(clipinfo::kFinderLabelName);
  auto naturalHeight = read.real(clipinfo::kNaturalVideoSizeHeight, 0, FLT_MAX);
  auto naturalWidth = read.real(clipinfo::kNaturalVideoSizeWidth, 0, FLT_MAX);
  auto online = read.boolean(clipinfo::kOnline);
  auto metadata = read.dictionary(clipinfo::kMetadata);

  std::lock_guard guard(lock_);
  MediaItemInfo& info = info_;
  if (uniqueID) info.uniqueID = std::move(uniqueID);
  if (mediaFolderPath) info.mediaFolderPath = std::move(mediaFolderPath);
  if (nodeName) info.nodeName = std::move(nodeName);
  if (mediaFolderUniqueID) info.mediaFolderUniqueID = std::move(mediaFolderUniqueID);
  if (absolutePath) info.absolutePath = std::move(absolutePath);
  if (relativePath) info.relativePath = std::move(relativePath);
  if (displayName) info.displayName = std::move(displayName);
  assignIfSet(info.languagesArray, std::move(languages));
  if (lastModificationDate) info.lastModificationDate = lastModificationDate;
  assignIfSet(info.startTimeCode, std::move(startTimeCode));
  assignNumberIfSet(info.validationStatus, validationStatus);
  assignIfSet(info.durationInSeconds, duration);
  assignIfSet(info.framesPerSecond, framesPerSecond);
  assignIfSet(info.dropFrame, dropFrame);
  assignNumberIfSet(info.videoCodec, videoCodec);
  assignIfSet(info.videoCodecDescription, std::move(videoCodecDescription));
  assignNumberIfSet(info.invalidReason, invalidReason);
  assignIfSet(info.finderLabelIndex, finderLabelIndex);
  assignIfSet(info.finderLabelName, std::move(finderLabelName));
  assignNumberIfSet(info.naturalVideoSizeHeight, naturalHeight);
  assignNumberIfSet(info.naturalVideoSizeWidth, naturalWidth);
  assignIfSet(info.online, online);
  assignIfSet(info.nodeMetadataDict, std::move(metadata));
  return read.status();
}

std::shared_ptr<MediaItem> MediaItem::fromDictionary(const platform::Dictionary& dictionary) {
  auto item = std::make_shared<MediaItem>();
  (void)item->setValuesFromDictionary(dictionary);
  return item;
}

void MediaItem::encode(platform::KeyedArchiveEncoder& encoder) const {
  for (auto& [key, value] : dictionary()) encoder.encodeValue(key, value);
}

platform::Result<std::shared_ptr<platform::Archivable>> MediaItem::decode(
    const platform::KeyedArchiveDecoder& decoder) {
  platform::Dictionary fields;
  for (const char* key : kAllKeys) {
    if (decoder.contains(key)) fields[key] = decoder.value(key);
  }
  auto item = std::make_shared<MediaItem>();
  platform::Status status = item->setValuesFromDictionary(fields);
  if (!status.ok()) {
    const platform::Value& keys = status.error().userInfo.at(kNodeModelErrorKeysKey);
    return decoder.error((*keys.array())[0].stringOr(""), status.error().localizedDescription);
  }
  return std::shared_ptr<platform::Archivable>(std::move(item));
}

void MediaItem::registerArchiveClass(platform::KeyedArchiveRegistry& registry) {
  registry.registerClass(kClassName, &MediaItem::decode);
}

}  // namespace nodes
