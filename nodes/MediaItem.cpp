#include "nodes/MediaItem.h"

#include <array>
#include <cfloat>
#include <limits>

#include "foundation/DictionaryCategories.h"
#include "nodes/DictionaryFieldReader.h"
#include "nodes/NodeModelErrors.h"

namespace nodes {

namespace {

constexpr const char* kUniqueIDKey = "clipInfoMediaItemUniqueID";
constexpr const char* kMediaFolderPathKey = "clipInfoMediaFolderPath";
constexpr const char* kNodeNameKey = "clipInfoNodeName";
constexpr const char* kMediaFolderUniqueIDKey = "clipInfoMediaFolderUniqueID";
constexpr const char* kAbsolutePathKey = "clipInfoAbsolutePathToMediaItem";
constexpr const char* kRelativePathKey = "clipInfoRelativePathToMediaItem";
constexpr const char* kDisplayNameKey = "clipInfoDisplayName";
constexpr const char* kLanguagesKey = "clipInfoLanguages";
constexpr const char* kLastModificationDateKey = "clipInfoLastModificationDate";
constexpr const char* kStartTimeCodeKey = "clipInfoStartTimeCode";
constexpr const char* kValidationStatusKey = "clipInfoValidationStatus";
constexpr const char* kDurationKey = "clipInfoDurationInSeconds";
constexpr const char* kFramesPerSecondKey = "clipInfoFramesPerSecond";
constexpr const char* kDropFrameKey = "clipInfoDropFrame";
constexpr const char* kVideoCodecKey = "clipInfoVideoCodec";
constexpr const char* kVideoCodecDescriptionKey = "clipInfoVideoCodecDescription";
constexpr const char* kInvalidReasonKey = "clipInfoInvalidReason";
constexpr const char* kFinderLabelIndexKey = "clipInfoFinderLabelIndex";
constexpr const char* kFinderLabelNameKey = "clipInfoFinderLabelName";
constexpr const char* kNaturalHeightKey = "clipInfoNaturalVideoSizeHeight";
constexpr const char* kNaturalWidthKey = "clipInfoNaturalVideoSizeWidth";
constexpr const char* kOnlineKey = "clipInfoOnline";
constexpr const char* kMetadataKey = "clipInfoMetadata";

// Every key of the dictionary form, which is also the archived form.
constexpr std::array kAllKeys = {
    kUniqueIDKey,        kMediaFolderPathKey,       kNodeNameKey,      kMediaFolderUniqueIDKey,
    kAbsolutePathKey,    kRelativePathKey,          kDisplayNameKey,   kLanguagesKey,
    kLastModificationDateKey, kStartTimeCodeKey,    kValidationStatusKey, kDurationKey,
    kFramesPerSecondKey, kDropFrameKey,             kVideoCodecKey,    kVideoCodecDescriptionKey,
    kInvalidReasonKey,   kFinderLabelIndexKey,      kFinderLabelNameKey, kNaturalHeightKey,
    kNaturalWidthKey,    kOnlineKey,                kMetadataKey,
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
  foundation::setNoNillObject(dict, kUniqueIDKey, valueOf(info.uniqueID));
  foundation::setNoNillObject(dict, kMediaFolderPathKey, valueOf(info.mediaFolderPath));
  foundation::setNoNillObject(dict, kNodeNameKey, valueOf(info.nodeName));
  foundation::setNoNillObject(dict, kMediaFolderUniqueIDKey, valueOf(info.mediaFolderUniqueID));
  foundation::setNoNillObject(dict, kAbsolutePathKey, valueOf(info.absolutePath));
  foundation::setNoNillObject(dict, kRelativePathKey, valueOf(info.relativePath));
  foundation::setNoNillObject(dict, kDisplayNameKey, valueOf(info.displayName));
  dict[kLanguagesKey] = platform::Array(info.languagesArray.begin(), info.languagesArray.end());
  if (info.lastModificationDate) dict[kLastModificationDateKey] = *info.lastModificationDate;
  dict[kStartTimeCodeKey] = info.startTimeCode;
  dict[kValidationStatusKey] = info.validationStatus;
  dict[kDurationKey] = info.durationInSeconds;
  dict[kFramesPerSecondKey] = info.framesPerSecond;
  dict[kDropFrameKey] = info.dropFrame;
  dict[kVideoCodecKey] = info.videoCodec;
  dict[kVideoCodecDescriptionKey] = info.videoCodecDescription;
  dict[kInvalidReasonKey] = info.invalidReason;
  dict[kFinderLabelIndexKey] = platform::Value(info.finderLabelIndex);
  dict[kFinderLabelNameKey] = info.finderLabelName;
  dict[kNaturalHeightKey] = static_cast<double>(info.naturalVideoSizeHeight);
  dict[kNaturalWidthKey] = static_cast<double>(info.naturalVideoSizeWidth);
  dict[kOnlineKey] = info.online;
  dict[kMetadataKey] = info.nodeMetadataDict;
  return dict;
}

platform::Status MediaItem::setValuesFromDictionary(const platform::Dictionary& dictionary) {
  constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
  constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();
  constexpr double kDoubleMax = std::numeric_limits<double>::max();
  detail::DictionaryFieldReader read(dictionary, kClassName);

  // Read everything before taking the lock, then apply in one step.
  auto uniqueID = read.string(kUniqueIDKey);
  auto mediaFolderPath = read.string(kMediaFolderPathKey);
  auto nodeName = read.string(kNodeNameKey);
  auto mediaFolderUniqueID = read.string(kMediaFolderUniqueIDKey);
  auto absolutePath = read.string(kAbsolutePathKey);
  auto relativePath = read.string(kRelativePathKey);
  auto displayName = read.string(kDisplayNameKey);
  auto languages = read.stringArray(kLanguagesKey);
  auto lastModificationDate = read.date(kLastModificationDateKey);
  auto startTimeCode = read.string(kStartTimeCodeKey);
  auto validationStatus = read.integer(kValidationStatusKey, kInt32Min, kInt32Max);
  auto duration = read.real(kDurationKey, 0, kDoubleMax);
  auto framesPerSecond = read.real(kFramesPerSecondKey, 0, kDoubleMax);
  auto dropFrame = read.boolean(kDropFrameKey);
  auto videoCodec = read.integer(kVideoCodecKey, 0, std::numeric_limits<std::uint32_t>::max());
  auto videoCodecDescription = read.string(kVideoCodecDescriptionKey);
  auto invalidReason = read.integer(kInvalidReasonKey, kInt32Min, kInt32Max);
  auto finderLabelIndex = read.integer(kFinderLabelIndexKey, std::numeric_limits<std::int64_t>::min(),
                                       std::numeric_limits<std::int64_t>::max());
  auto finderLabelName = read.string(kFinderLabelNameKey);
  auto naturalHeight = read.real(kNaturalHeightKey, 0, FLT_MAX);
  auto naturalWidth = read.real(kNaturalWidthKey, 0, FLT_MAX);
  auto online = read.boolean(kOnlineKey);
  auto metadata = read.dictionary(kMetadataKey);

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
