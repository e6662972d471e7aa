// Frame delivery on the CPU path: taking or repeating a picture, fitting it
// to the output, and the audio, captions, timecode and VANC that go with it.
#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/items/PixelBufferCentring.h"
#include "foundation/CVNLogController.h"
#include "platform/media/FourCharCode.h"

namespace engine::items {

namespace pm = platform::media;

namespace {

std::string fourCCText(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
  return text;
}

}  // namespace

std::shared_ptr<pm::PixelBuffer> CVNMediaQueuePlayerItem::nextPixelBufferByAllowingItemToDequeue(
    bool allowDequeue, std::int32_t playbackStatus) {
  if (!isReadyForPlayback()) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        1, false, "Error: Asking to prepare while not ready for item '%s'", logDescription().c_str());
    return nullptr;
  }
  bool mayTake = allowDequeue;
  getNextSampleBufferAndUpdateTexture(&mayTake, playbackStatus);
  auto picture = copyCurrentPixelBuffer();
  copyTimesFromSession();
  setIsFinished(session_->isFinishedPlaying());
  setCurrentPixelBufferIsMissing(picture == nullptr);
  return picture;
}

std::shared_ptr<pm::PixelBuffer> CVNMediaQueuePlayerItem::copyCurrentPixelBuffer() {
  std::lock_guard guard(textureLock_);
  return currentPixelBuffer_;
}

bool CVNMediaQueuePlayerItem::getNextSampleBufferAndUpdateTexture(bool* mayTake, std::int32_t playbackStatus) {
  // A live input that is not playing shows its pictures without moving on.
  const bool holdLiveTime = isZiraInput() && playbackStatus != kPlaybackStatusPlaying;
  if (holdLiveTime) session_->setDisablePlaybackPTSUpdate(true);
  bool tookPicture = false;
  if (isFinished()) {
    setItemState(kItemStateFinished);
    *mayTake = false;
  } else {
    tookPicture = takePicture(mayTake);
  }
  if (!tookPicture) {
    if (duplicatedFramesCount_ == 0) logDuplicatedFrames();
    ++duplicatedFramesCount_;
  }
  shouldSendCloseCaption_ = *mayTake;
  acceptableAudioSampleRequestsCount_ =
      *mayTake ? (shouldUseTextureTwice_ && oneFrameDecodedUsedToOuputTwoFrames_ ? 2 : 1) : 0;
  if (holdLiveTime) session_->setDisablePlaybackPTSUpdate(false);
  return tookPicture;
}

bool CVNMediaQueuePlayerItem::takePicture(bool* mayTake) {
  pm::SampleBufferRef sample;
  if (!*mayTake || holdFirstFrame()) {
    sample = session_->videoBufferHead();
    *mayTake = false;
  } else {
    sample = session_->nextVideoSampleBuffer();
    *mayTake = sample != nullptr;
  }
  setShouldForceTextureUpdate(false);
  if (!sample) {
    currentSampleBuffer_.reset();
    return false;
  }
  const auto pts = sample->presentationTimeStamp();
  if (pts.isValid()) lastDequeuedFramePTS_ = pts;
  setCurrentSampleBuffer(sample);
  if (!sample->imageBuffer() || !setCurrentPixelBuffer(sample->imageBuffer())) return false;
  if (duplicatedFramesCount_ > 0) {
    logDuplicatedFrames();
    duplicatedFramesCount_ = 0;
  }
  return true;
}

void CVNMediaQueuePlayerItem::setCurrentSampleBuffer(pm::SampleBufferRef sample) {
  if (isZiraInput() && sample && sample->imageBuffer()) {
    const foundation::Size size{double(sample->imageBuffer()->width()), double(sample->imageBuffer()->height())};
    if (size != videoFrameSize_) setVideoFrameSize(size);
  }
  currentSampleBuffer_ = std::move(sample);
}

bool CVNMediaQueuePlayerItem::setCurrentPixelBuffer(const std::shared_ptr<pm::PixelBuffer>& pixelBuffer) {
  if (!pixelBuffer) return false;
  {
    std::lock_guard guard(textureLock_);
    if (pixelBuffer == currentPixelBuffer_) return true;
  }
  decodedPixelFormat_ = pixelBuffer->pixelFormatType();
  const auto wanted = outputBufferFormat();
  if (wanted != 0 && decodedPixelFormat_ != wanted) {
    // The output takes one format; a picture in another would be read as garbage.
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        1, false, "Error: Picture in format '%s' instead of '%s' refused for item '%s'",
        fourCCText(decodedPixelFormat_).c_str(), fourCCText(wanted).c_str(), descriptionForLogs().c_str());
    return false;
  }
  auto picture = pixelBuffer;
  const auto& mode = outputDisplayMode();
  if (mode && (picture->width() != std::size_t(mode->width()) || picture->height() != std::size_t(mode->height()))) {
    picture = resizePixelBuffer(picture);
  }
  std::lock_guard guard(textureLock_);
  currentPixelBuffer_ = std::move(picture);
  return true;
}

std::shared_ptr<pm::PixelBuffer> CVNMediaQueuePlayerItem::resizePixelBuffer(
    const std::shared_ptr<pm::PixelBuffer>& pixelBuffer) {
  auto& log = foundation::CVNLogController::sharedLogController();
  std::shared_ptr<pm::PixelBuffer> resized;
  const auto& pool = sharedPixelBufferPool();
  const auto created = pool ? pool->createPixelBuffer(&resized) : pm::kCVReturnInvalidArgument;
  if (created != pm::kCVReturnSuccess || !resized) {
    log.logMessageWithLevel(0, true, "Error: Failed to create pixel buffer from pool (resizePixelBuffer:) with error: %i",
                            created);
    return pixelBuffer;
  }
  if (const auto locked = pixelBuffer->lockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
      locked != pm::kCVReturnSuccess) {
    log.logMessageWithLevel(0, true, "Error: Failed to lock inPixelBuffer (resizePixelBuffer:) with error: %i", locked);
    return pixelBuffer;
  }
  if (const auto locked = resized->lockBaseAddress(pm::PixelBufferLockFlags::None); locked != pm::kCVReturnSuccess) {
    pixelBuffer->unlockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
    log.logMessageWithLevel(0, true, "Error: Failed to lock newPixelBuffer (resizePixelBuffer:) with error: %i", locked);
    return pixelBuffer;
  }
  const bool centred = centrePixelBuffer(*pixelBuffer, *resized);
  resized->unlockBaseAddress(pm::PixelBufferLockFlags::None);
  pixelBuffer->unlockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
  if (!centred) {
    log.logMessageWithLevel(0, false, "Error: Picture in format '%s' cannot fill a '%s' buffer (resizePixelBuffer:)",
                            fourCCText(pixelBuffer->pixelFormatType()).c_str(),
                            fourCCText(resized->pixelFormatType()).c_str());
    return pixelBuffer;
  }
  return resized;
}

void CVNMediaQueuePlayerItem::logDuplicatedFrames() const {
  const char* start = "Error: Video frame not decompressed yet";
  const char* stop = "Video frame now decompressed";
  if (type_ == kClipTypeLiveInput) {
    start = "Error: Vovi Item - no frames available";
    stop = "Vovi Item - frames are now available";
  } else if (type_ == kClipTypeNetworkStream) {
    start = "Error: Stream Item - no frames available (slow reading)";
    stop = "Stream Item - frames are now available";
  }
  auto& log = foundation::CVNLogController::sharedLogController();
  if (duplicatedFramesCount_ == 0) {
    log.logMessageWithLevel(1, false, "%s. Start duplicating frames '%s'", start, descriptionForLogs().c_str());
  } else {
    log.logMessageWithLevel(1, false, "%s. Stop duplicating frames '%s' (%i)", stop, descriptionForLogs().c_str(),
                            duplicatedFramesCount_);
  }
}

const std::uint8_t* CVNMediaQueuePlayerItem::nextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes) {
  if (acceptableAudioSampleRequestsCount_ <= 0 || !session_) return nullptr;
  --acceptableAudioSampleRequestsCount_;
  if (outSizeInBytes) *outSizeInBytes = sampleCount * session_->outputAudioStreamBasicDescription().bytesPerPacket;
  return session_->nextAudioSamples(sampleCount);
}

pm::SampleBufferRef CVNMediaQueuePlayerItem::nextClosedCaptionSampleBuffer() {
  if (!shouldSendCloseCaption_ || !session_) return nullptr;
  return session_->nextClosedCaptionSampleBufferWithPTS(lastDequeuedFramePTS_);
}

pm::SampleBufferRef CVNMediaQueuePlayerItem::nextTimecodeSampleBuffer() {
  return session_ ? session_->nextTimecodeSampleBufferWithPTS(lastDequeuedFramePTS_) : nullptr;
}

platform::Array CVNMediaQueuePlayerItem::VANCPackets() const {
  if (!currentSampleBuffer_) return {};
  const auto packets = currentSampleBuffer_->sampleAttachment(0, "VANCPackets");
  return packets.isArray() ? *packets.array() : platform::Array{};
}

void CVNMediaQueuePlayerItem::logGPUPathMissingOnce() {
  if (loggedGPUPathMissing_) return;
  loggedGPUPathMissing_ = true;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      1, false, "Error: Textures asked of item '%s' without a graphics path", descriptionForLogs().c_str());
}

void CVNMediaQueuePlayerItem::prepareNextTextureUsingCommandBuffer(render::CommandBuffer*, bool, std::int32_t) {
  logGPUPathMissingOnce();
}

render::TextureRef CVNMediaQueuePlayerItem::nextTexture() {
  logGPUPathMissingOnce();
  return nullptr;
}

}  // namespace engine::items
