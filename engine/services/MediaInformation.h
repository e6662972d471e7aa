#pragma once
// The media information dictionary a load-information job hands back: what a
// loaded reader says of its file, in "item…" keys. Filled in two steps so the
// job can free its slot once the reader's own properties are read. Pure
// functions of the reader; any thread.

#include <cstdint>

#include "media/readers/CVNAssetReader.h"
#include "media/readers/MediaURL.h"
#include "platform/Value.h"

namespace engine {

inline constexpr const char* kItemURLKey = "itemURL";
inline constexpr const char* kItemMediaFileLastModificationDateKey = "itemMediaFileLastModificationDate";
inline constexpr const char* kItemMediaFileBitsPerRawSampleKey = "itemMediaFileBitsPerRawSample";
inline constexpr const char* kItemMediaFileDisplayWidthKey = "itemMediaFileDisplayWidth";
inline constexpr const char* kItemMediaFileDisplayHeightKey = "itemMediaFileDisplayHeight";
inline constexpr const char* kItemFrameRateKey = "itemFrameRate";
inline constexpr const char* kItemFieldOrderKey = "itemFieldOrder";
inline constexpr const char* kItemIsStreamedKey = "itemIsStreamed";
inline constexpr const char* kItemIsValidMediaFileKey = "itemIsValidMediaFile";
inline constexpr const char* kItemDurationKey = "itemDuration";
inline constexpr const char* kItemVideoCodecKey = "itemVideoCodec";
inline constexpr const char* kItemNumberOfAudioStreamsKey = "itemNumberOfAudioStreams";
inline constexpr const char* kItemIsStillImageKey = "itemIsStillImage";
inline constexpr const char* kItemIsSoundOnlyKey = "itemIsSoundOnly";
inline constexpr const char* kItemAudioCodecKey = "itemAudioCodec";
inline constexpr const char* kItemClosedCaptionCodecKey = "itemClosedCaptionCodec";
inline constexpr const char* kItemCaptioningTypeKey = "itemCaptioningType";
inline constexpr const char* kItemMetadataKey = "itemMetadata";
inline constexpr const char* kItemTimeCodeIsDropFrameKey = "itemTimeCodeIsDropFrame";
inline constexpr const char* kItemTimeCodeFramePerSecondKey = "itemTimeCodeFramePerSecond";
inline constexpr const char* kItemTimeCodeFirstFrameNumberKey = "itemTimeCodeFirstFrameNumber";
inline constexpr const char* kItemTimeCodeFirstTimeCodeKey = "itemTimeCodeFirstTimeCode";
inline constexpr const char* kItemValidationErrorKey = "itemValidationErrorKey";

// The URL and the reader's file properties: every entry before "itemIsValidMediaFile".
void addReaderProperties(platform::Dictionary& info, const media::CVNAssetReader& reader);
// "itemIsValidMediaFile" and the entries of a valid or an invalid file.
void addValidityEntries(platform::Dictionary& info, const media::CVNAssetReader& reader);

// The answer when no reader opens the URL.
platform::Dictionary invalidMediaInformation(std::int32_t reason);
// Why no reader opened the URL: 19 for a network URL, else 1 for a missing file and 10 for one that exists.
std::int32_t reasonWithoutReader(const media::MediaURL& url);

}  // namespace engine
