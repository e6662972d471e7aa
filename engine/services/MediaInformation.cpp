#include "engine/services/MediaInformation.h"

#include <filesystem>
#include <system_error>

#include "media/validation/CVNEngineValidation.h"

namespace engine {

namespace {

// The MPEG-2 profile of the video when described, else its codec's subtype.
platform::Value videoCodec(const media::CVNAssetReader& reader) {
  const auto& video = reader.videoFormatDescription();
  if (!video) return {};
  platform::Value profile = video->extension(platform::media::kFormatDescriptionExtensionMPEG2Profile);
  if (!profile.isNone()) return profile;
  return static_cast<std::int64_t>(video->mediaSubType());
}

void addTimeCodeEntries(platform::Dictionary& info, const media::CVNAssetReader& reader) {
  info[kItemTimeCodeIsDropFrameKey] = reader.isDropFrame();
  const auto& timeCode = reader.timeCodeFormatDescription();
  if (!timeCode) return;
  info[kItemTimeCodeFramePerSecondKey] = static_cast<std::int64_t>(timeCode->frameQuanta());
  info[kItemTimeCodeFirstFrameNumberKey] = reader.firstFrameNumber();
  if (const auto first = reader.firstTimeCode()) info[kItemTimeCodeFirstTimeCodeKey] = *first;
}

}  // namespace

void addReaderProperties(platform::Dictionary& info, const media::CVNAssetReader& reader) {
  info[kItemURLKey] = reader.fileURL().absoluteString();
  if (const auto date = reader.lastFileModificationDate()) info[kItemMediaFileLastModificationDateKey] = *date;
  info[kItemMediaFileBitsPerRawSampleKey] = reader.bitsPerRawSample();
  const auto display = reader.displaySize();
  info[kItemMediaFileDisplayWidthKey] = display.width;
  info[kItemMediaFileDisplayHeightKey] = display.height;
  info[kItemFrameRateKey] = reader.framerate();
  info[kItemFieldOrderKey] = reader.fieldOrder();
  if (reader.assetType() == media::kAssetTypeZiraStream) info[kItemIsStreamedKey] = !(reader.duration().seconds() > 0);
}

void addValidityEntries(platform::Dictionary& info, const media::CVNAssetReader& reader) {
  info[kItemIsValidMediaFileKey] = reader.isValid();
  if (auto codec = videoCodec(reader); !codec.isNone()) info[kItemVideoCodecKey] = std::move(codec);
  if (!reader.isValid()) {
    info[kItemValidationErrorKey] = reader.validationError();
    return;
  }
  info[kItemDurationKey] = reader.duration().seconds();
  const std::int64_t audioTracks = reader.numberOfAudioTracks();
  info[kItemNumberOfAudioStreamsKey] = audioTracks;
  info[kItemIsStillImageKey] = reader.assetType() == media::kAssetTypeImage;
  info[kItemIsSoundOnlyKey] = reader.assetType() == media::kAssetTypeSound;
  if (audioTracks > 0) {
    if (const auto audio = reader.audioFormatDescriptionForTrackIndex(0)) {
      if (const auto* description = audio->audioStreamBasicDescription()) {
        info[kItemAudioCodecKey] = static_cast<std::int64_t>(description->formatID);
      }
    }
  }
  if (const auto& captions = reader.closedCaptionFormatDescription()) {
    info[kItemClosedCaptionCodecKey] = static_cast<std::int64_t>(captions->mediaSubType());
  }
  info[kItemCaptioningTypeKey] = reader.captioningType();
  info[kItemMetadataKey] = reader.metadata();
  addTimeCodeEntries(info, reader);
}

platform::Dictionary invalidMediaInformation(std::int32_t reason) {
  return {{kItemIsValidMediaFileKey, false}, {kItemValidationErrorKey, reason}};
}

std::int32_t reasonWithoutReader(const media::MediaURL& url) {
  // Files have no reference form here: every file URL counts as one.
  if (!url.isFileURL()) return media::kValidationReasonURLNotSupported;
  std::error_code error;
  return std::filesystem::exists(url.path(), error) ? media::kValidationReasonFormatNotSupported
                                                     : media::kValidationReasonFileNotFound;
}

}  // namespace engine
