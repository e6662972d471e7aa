#pragma once
// The "clipInfo" key vocabulary of a playlist item: the keys of playlist
// document entries, node clip dictionaries, pasteboard archives and catalogue
// clip records. Constants only; any thread.

namespace nodes::clipinfo {

inline constexpr const char* kAttributes = "clipInfoAttributes";
inline constexpr const char* kHasInPoint = "clipInfoHasInPoint";
inline constexpr const char* kHasOutPoint = "clipInfoHasOutPoint";
inline constexpr const char* kOnline = "clipInfoOnline";
inline constexpr const char* kInPointInSeconds = "clipInfoInPointInSeconds";
inline constexpr const char* kOutPointInSeconds = "clipInfoOutPointInSeconds";
inline constexpr const char* kMediaFolderUniqueID = "clipInfoMediaFolderUniqueID";
inline constexpr const char* kMediaItemUniqueID = "clipInfoMediaItemUniqueID";
inline constexpr const char* kMediaFileDurationInSeconds = "clipInfoMediaFileDurationInSeconds";
inline constexpr const char* kNodeName = "clipInfoNodeName";
inline constexpr const char* kNodeUniqueID = "clipInfoNodeUniqueID";
inline constexpr const char* kMediaFolderPath = "clipInfoMediaFolderPath";
inline constexpr const char* kAbsolutePathToMediaItem = "clipInfoAbsolutePathToMediaItem";
inline constexpr const char* kRelativePathToMediaItem = "clipInfoRelativePathToMediaItem";
inline constexpr const char* kDisplayName = "clipInfoDisplayName";
inline constexpr const char* kLanguages = "clipInfoLanguages";
inline constexpr const char* kLastModificationDate = "clipInfoLastModificationDate";
inline constexpr const char* kLastModificationDateString = "clipInfoLastModificationDateString";
inline constexpr const char* kUniqueID = "clipInfoUniqueID";
inline constexpr const char* kPlaybackUniqueID = "clipInfoPlaybackUniqueID";
inline constexpr const char* kValidationStatus = "clipInfoValidationStatus";
inline constexpr const char* kDurationInSeconds = "clipInfoDurationInSeconds";
inline constexpr const char* kFramesPerSecond = "clipInfoFramesPerSecond";
inline constexpr const char* kDropFrame = "clipInfoDropFrame";
inline constexpr const char* kVideoCodec = "clipInfoVideoCodec";
inline constexpr const char* kVideoCodecDescription = "clipInfoVideoCodecDescription";
inline constexpr const char* kInvalidReason = "clipInfoInvalidReason";
inline constexpr const char* kFinderLabelIndex = "clipInfoFinderLabelIndex";
inline constexpr const char* kFinderLabelName = "clipInfoFinderLabelName";
inline constexpr const char* kNaturalVideoSizeWidth = "clipInfoNaturalVideoSizeWidth";
inline constexpr const char* kNaturalVideoSizeHeight = "clipInfoNaturalVideoSizeHeight";
inline constexpr const char* kDisplayVideoSizeWidth = "clipInfoDisplayVideoSizeWidth";
inline constexpr const char* kDisplayVideoSizeHeight = "clipInfoDisplayVideoSizeHeight";
inline constexpr const char* kDisplayVideoOriginX = "clipInfoDisplayVideoOriginX";
inline constexpr const char* kDisplayVideoOriginY = "clipInfoDisplayVideoOriginY";
inline constexpr const char* kLanguagesDescription = "clipInfoLanguagesDescription";
inline constexpr const char* kStartTimeCode = "clipInfoStartTimeCode";
inline constexpr const char* kThumbnail = "clipInfoThumbnail";
inline constexpr const char* kMetadata = "clipInfoMetadata";
inline constexpr const char* kCreationDate = "clipInfoCreationDate";

// Keys of a catalogue ClipAttributes record.
inline constexpr const char* kAttributeNameKey = "attributeName";
inline constexpr const char* kAttributeValueKey = "attributeValue";

}  // namespace nodes::clipinfo
