#include "platform/media/FormatDescription.h"

#include "platform/media/PixelBuffer.h"

namespace platform::media {

std::shared_ptr<const FormatDescription> FormatDescription::create(FourCharCode mediaType, FourCharCode mediaSubType,
                                                                   platform::Dictionary extensions) {
  std::shared_ptr<FormatDescription> description(new FormatDescription);
  description->mediaType_ = mediaType;
  description->mediaSubType_ = mediaSubType;
  description->extensions_ = std::move(extensions);
  return description;
}

std::shared_ptr<const FormatDescription> FormatDescription::createVideo(FourCharCode codecType,
                                                                        VideoDimensions dimensions,
                                                                        platform::Dictionary extensions) {
  auto description = std::const_pointer_cast<FormatDescription>(create(kMediaTypeVideo, codecType, std::move(extensions)));
  description->dimensions_ = dimensions;
  return description;
}

std::shared_ptr<const FormatDescription> FormatDescription::createForPixelBuffer(const PixelBuffer& buffer) {
  platform::Dictionary extensions;
  for (const char* key : {kPixelBufferFieldCountKey, kPixelBufferFieldDetailKey, kPixelBufferPixelAspectRatioKey,
                          kPixelBufferCleanApertureKey, kPixelBufferColorPrimariesKey, kPixelBufferTransferFunctionKey,
                          kPixelBufferYCbCrMatrixKey}) {
    platform::Value value = buffer.attachment(key);
    if (!value.isNone()) extensions[key] = std::move(value);
  }
  return createVideo(buffer.pixelFormatType(),
                     {static_cast<std::int32_t>(buffer.width()), static_cast<std::int32_t>(buffer.height())},
                     std::move(extensions));
}

std::shared_ptr<const FormatDescription> FormatDescription::createAudio(const AudioStreamBasicDescription& asbd,
                                                                        std::optional<AudioChannelLayout> layout,
                                                                        std::vector<std::uint8_t> magicCookie,
                                                                        platform::Dictionary extensions) {
  auto description =
      std::const_pointer_cast<FormatDescription>(create(kMediaTypeAudio, asbd.formatID, std::move(extensions)));
  description->audio_ = asbd;
  description->channelLayout_ = std::move(layout);
  description->magicCookie_ = std::move(magicCookie);
  return description;
}

std::shared_ptr<const FormatDescription> FormatDescription::createTimeCode(FourCharCode timeCodeFormatType,
                                                                           MediaTime frameDuration,
                                                                           std::uint32_t frameQuanta,
                                                                           std::uint32_t timeCodeFlags,
                                                                           platform::Dictionary extensions) {
  auto description =
      std::const_pointer_cast<FormatDescription>(create(kMediaTypeTimeCode, timeCodeFormatType, std::move(extensions)));
  description->frameDuration_ = frameDuration;
  description->frameQuanta_ = frameQuanta;
  description->timeCodeFlags_ = timeCodeFlags;
  return description;
}

platform::Value FormatDescription::extension(std::string_view key) const {
  auto it = extensions_.find(key);
  return it == extensions_.end() ? platform::Value() : it->second;
}

std::optional<std::vector<std::uint8_t>> FormatDescription::atom(std::string_view name) const {
  const platform::Value& atoms = extension(kFormatDescriptionExtensionAtoms);
  const platform::Value& value = atoms[name];
  if (const auto* data = value.data()) return *data;
  return std::nullopt;
}

const AudioStreamBasicDescription* FormatDescription::audioStreamBasicDescription() const {
  return mediaType_ == kMediaTypeAudio ? &audio_ : nullptr;
}

bool FormatDescription::equals(const FormatDescription& other) const {
  return mediaType_ == other.mediaType_ && mediaSubType_ == other.mediaSubType_ && extensions_ == other.extensions_ &&
         dimensions_ == other.dimensions_ && audio_ == other.audio_ && channelLayout_ == other.channelLayout_ &&
         magicCookie_ == other.magicCookie_ && compare(frameDuration_, other.frameDuration_) == 0 &&
         frameQuanta_ == other.frameQuanta_ && timeCodeFlags_ == other.timeCodeFlags_;
}

}  // namespace platform::media
