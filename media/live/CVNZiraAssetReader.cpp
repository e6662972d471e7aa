#include "media/live/CVNZiraAssetReader.h"

#include "foundation/CVNLogController.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelFormat.h"

namespace media {

using platform::media::MediaTime;

namespace {
constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
}  // namespace

CVNZiraAssetReader::CVNZiraAssetReader(std::optional<std::string> sourceDescription)
    : CVNAssetReader(MediaURL(), std::move(sourceDescription)) {}

void CVNZiraAssetReader::loadInfoWithMetadata(bool, bool, CompletionHandler handler) {
  setAssetType(kAssetTypeImage);
  videoFormatDescription_ =
      platform::media::FormatDescription::createVideo(platform::media::fourCC("img "), {kWidth, kHeight});
  hasVideo_ = true;
  isValid_ = true;
  if (handler) handler();
}

bool CVNZiraAssetReader::setFrameDuration(MediaTime frameDuration) {
  frameDuration_ = frameDuration;
  return true;
}

bool CVNZiraAssetReader::setDesiredDimensions(std::int64_t width, std::int64_t height) {
  desiredWidth_ = width;
  desiredHeight_ = height;
  return true;
}

foundation::Size CVNZiraAssetReader::displaySize() const { return {kWidth, kHeight}; }

double CVNZiraAssetReader::framerate() const {
  if (frameDuration_.value == 0) return 0;
  return static_cast<double>(frameDuration_.timeScale) / static_cast<double>(frameDuration_.value);
}

MediaTime CVNZiraAssetReader::frameRateAsCMTime() const {
  return MediaTime::make(frameDuration_.timeScale, static_cast<std::int32_t>(frameDuration_.value));
}

platform::media::SampleBufferRef CVNZiraAssetReader::nextSampleBufferForTrackIndex(std::int32_t*) {
  using namespace platform::media;
  if (finishedReading_) return nullptr;
  PixelBufferAttributes attributes;
  attributes.shareable = true;
  std::shared_ptr<PixelBuffer> buffer;
  SampleBufferRef sample;
  OSStatus status = PixelBuffer::create(kWidth, kHeight, kPixelFormat32ARGB, attributes, &buffer);
  if (status == 0) {
    const MediaTime start = startPosition();
    status = SampleBuffer::createForImageBuffer(buffer, FormatDescription::createForPixelBuffer(*buffer),
                                                {frameDuration_, start, start}, &sample);
  }
  if (status != 0 || !sample) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        1, true, "Error: Unable to create sample buffer for live event (%i)", static_cast<int>(status));
    return nullptr;
  }
  finishedReading_ = true;
  return sample;
}

void CVNZiraAssetReader::updatePlaybackDuration(double seconds) {
  const MediaTime updated =
      MediaTime::makeWithSeconds(seconds, frameDuration_.timeScale > 0 ? frameDuration_.timeScale : 600);
  setDuration(updated);
  setOutPoint(updated);
}

}  // namespace media
