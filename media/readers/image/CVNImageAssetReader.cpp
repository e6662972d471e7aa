#include "media/readers/image/CVNImageAssetReader.h"

#include <string_view>

#include "foundation/CVNLogController.h"
#include "media/readers/AssetReaderRegistry.h"
#include "media/readers/movie/FFmpegText.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/DispatchQueue.h"
#include "platform/media/PixelTransferSession.h"
#include "platform/media/TypeIdentifiers.h"

namespace media {

namespace {

using platform::media::FourCharCode;
using platform::media::MediaTime;
using platform::media::fourCC;

constexpr const char* kExifAuxDictionary = "{ExifAux}";

void logLine(std::uint32_t level, bool show, const char* format, auto... arguments) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, show, format, arguments...);
}

}  // namespace

CVNImageAssetReader::CVNImageAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription)
    : CVNAssetReader(std::move(fileURL), std::move(sourceDescription)) {}

CVNImageAssetReader::~CVNImageAssetReader() { close(); }

bool CVNImageAssetReader::canOpenAssetWithMediaURL(const MediaURL& url) {
  return url.isFileURL() && platform::media::mediaFileKindForPath(url.path()) == platform::media::MediaFileKind::Image;
}

void CVNImageAssetReader::registerImageReader() {
  AssetReaderRegistry::shared().registerReader(AssetReaderRegistration{
      AssetReaderKind::Image, &CVNImageAssetReader::canOpenAssetWithMediaURL,
      [](const MediaURL& url, const std::optional<std::string>& description) -> std::shared_ptr<CVNAssetReader> {
        return std::make_shared<CVNImageAssetReader>(url, description);
      }});
}

FourCharCode CVNImageAssetReader::codecTypeForTypeIdentifier(const std::string& identifier) {
  struct Prefix {
    std::string_view prefix;
    FourCharCode code;
  };
  static constexpr Prefix kPrefixes[] = {{"public.jpeg", fourCC("jpeg")}, {"public.png", fourCC("png ")},
                                         {"public.gif", fourCC("gif ")},   {"public.bmp", fourCC("bmp ")},
                                         {"public.tiff", fourCC("tiff")}};
  for (const auto& entry : kPrefixes) {
    if (identifier.starts_with(entry.prefix)) return entry.code;
  }
  return fourCC("img ");
}

bool CVNImageAssetReader::open() {
  if (isOpen_) return true;
  if (!canReadAssetWithMediaURL(fileURL())) return false;
  setLastFileModificationDate(lastModificationDateForFileAtURL(fileURL()));
  auto source = platform::media::ImageSource::createWithURL(fileURL().path());
  if (!source) {
    validationError_ = kValidationReasonFormatNotSupported;
    return false;
  }
  imageSource_ = std::move(*source);
  isOpen_ = true;
  setAssetType(kAssetTypeImage);
  return true;
}

void CVNImageAssetReader::close() {
  if (!isOpen_) return;
  imageSource_.reset();
  isOpen_ = false;
}

void CVNImageAssetReader::loadInfoWithMetadata(bool withMetadata, bool /*validateUsingMediaInfo*/,
                                               CompletionHandler handler) {
  if (assetType() == kAssetTypeImage) {
    finishedReading_ = false;
    if (handler) handler();
    return;
  }
  // One queue per call; the block drops the last reference to it when done.
  auto queue = std::make_shared<platform::SerialQueue>("com.dirarovazovo.loadInfoQueue");
  auto holder = std::make_shared<std::shared_ptr<platform::SerialQueue>>(queue);
  queue->async([this, holder, withMetadata, handler = std::move(handler)] {
    loadInfo(withMetadata);
    if (handler) handler();
    holder->reset();
  });
}

void CVNImageAssetReader::loadInfo(bool withMetadata) {
  if (!open()) return;
  auto properties = imageSource_->properties();
  const platform::Dictionary* dictionary = properties ? &*properties : nullptr;
  const auto number = [&](const char* key) -> std::int64_t {
    if (!dictionary) return 0;
    const auto found = dictionary->find(key);
    return found == dictionary->end() ? 0 : found->second.integerOr(0);
  };
  const std::int64_t width = number(platform::media::kImagePropertyPixelWidth);
  const std::int64_t height = number(platform::media::kImagePropertyPixelHeight);
  if (width <= 0 || height <= 0) {
    // A picture past the size limits cannot be drawn: not supported, not "no size".
    const bool tooLarge = !properties && properties.error().code ==
                                             static_cast<std::int64_t>(platform::media::ImageSourceError::TooLarge);
    validationError_ = tooLarge ? kValidationReasonFormatNotSupported : kValidationReasonVideoCodecNotSupported;
    return;
  }
  imageWidth_ = static_cast<std::int32_t>(width);
  imageHeight_ = static_cast<std::int32_t>(height);
  if (withMetadata) {
    metadataDictionary_.clear();
    for (const char* key : {platform::media::kImagePropertyExifDictionary, kExifAuxDictionary}) {
      const auto found = dictionary->find(key);
      if (found == dictionary->end() || !found->second.dictionary()) continue;
      for (const auto& [name, value] : *found->second.dictionary()) metadataDictionary_[name] = value;
    }
  }
  videoFormatDescription_ = platform::media::FormatDescription::createVideo(
      codecTypeForTypeIdentifier(imageSource_->type()), {imageWidth_, imageHeight_});
  hasVideo_ = true;
  isValid_ = true;
}

bool CVNImageAssetReader::setFrameDuration(MediaTime frameDuration) {
  frameDuration_ = frameDuration;
  return true;
}

bool CVNImageAssetReader::setDesiredDimensions(std::int64_t width, std::int64_t height) {
  desiredWidth_ = static_cast<std::int32_t>(width);
  desiredHeight_ = static_cast<std::int32_t>(height);
  return true;
}

foundation::Size CVNImageAssetReader::displaySize() const {
  if (!videoFormatDescription_) return {};
  const auto dimensions = videoFormatDescription_->dimensions();
  return {static_cast<double>(dimensions.width), static_cast<double>(dimensions.height)};
}

double CVNImageAssetReader::framerate() const {
  if (frameDuration_.value == 0) return 0;
  return static_cast<double>(frameDuration_.timeScale) / static_cast<double>(frameDuration_.value);
}

MediaTime CVNImageAssetReader::frameRateAsCMTime() const {
  return MediaTime::make(frameDuration_.timeScale, static_cast<std::int32_t>(frameDuration_.value));
}

platform::media::SampleBufferRef CVNImageAssetReader::nextSampleBufferForTrackIndex(std::int32_t* /*trackIndex*/) {
  if (finishedReading_) return nullptr;
  if (!sampleBuffer_) {
    const double started = clockSeconds();
    sampleBuffer_ = makeSampleBuffer();
    if (!sampleBuffer_) return nullptr;
    didReadFramesInSeconds(10, clockSeconds() - started);
  }
  finishedReading_ = true;
  return sampleBuffer_;
}

platform::media::SampleBufferRef CVNImageAssetReader::makeSampleBuffer() {
  using namespace platform::media;
  if (desiredWidth_ <= 0 || desiredHeight_ <= 0) {
    desiredWidth_ = imageWidth_;
    desiredHeight_ = imageHeight_;
  }
  const auto width = static_cast<std::size_t>(desiredWidth_ + (desiredWidth_ & 1));
  const auto height = static_cast<std::size_t>(desiredHeight_);
  std::shared_ptr<PixelBuffer> buffer;
  PixelBufferAttributes attributes;
  attributes.shareable = true;
  const CVReturn created = PixelBuffer::create(width, height, kPixelFormat32ARGB, attributes, &buffer);
  if (created != kCVReturnSuccess || !imageSource_) {
    logLine(1, false, "Unable to create pixel buffer for image asset (%i)", static_cast<int>(created));
    return nullptr;
  }
  auto image = imageSource_->createImage();
  PixelTransferSession transfer;
  transfer.setScaling(PixelTransferScaling::Bicubic);
  transfer.setDestinationCleanAperture(PixelRect{0, 0, static_cast<std::size_t>(desiredWidth_), height});
  const CVReturn drawn = image ? transfer.transferImage(**image, *buffer) : kCVReturnInvalidArgument;
  if (drawn != kCVReturnSuccess) {
    logLine(1, false, "Unable to create pixel buffer for image asset (%i)", static_cast<int>(drawn));
    return nullptr;
  }
  pixelFormatDescription_ = FormatDescription::createForPixelBuffer(*buffer);
  const MediaTime start = startPosition();
  SampleBufferRef sample;
  const OSStatus status =
      SampleBuffer::createForImageBuffer(buffer, pixelFormatDescription_, {frameDuration_, start, start}, &sample);
  if (status != kSampleBufferNoError) {
    logLine(1, false, "Unable to create sample buffer for image asset (%i)", static_cast<int>(status));
    pixelFormatDescription_.reset();
    return nullptr;
  }
  return sample;
}

void CVNImageAssetReader::updatePlaybackDuration(double seconds) {
  const MediaTime current = duration();
  const MediaTime updated = MediaTime::makeWithSeconds(seconds, current.timeScale > 0 ? current.timeScale : 600);
  setDuration(updated);
  setOutPoint(updated);
}

}  // namespace media
