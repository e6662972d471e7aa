// The reading side of a decompression session: the loop that sorts the
// reader's samples by media type and stops at the allowed read-ahead, the
// producer that moves the audio engine's output into the ring, the empty
// picture of an audio-only clip and the moves of the out point.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/CVNLogController.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "media/validation/CVNEngineValidation.h"

namespace media {

namespace pm = platform::media;

namespace {

// While the reader has nothing, the loop waits this long (or until stopped).
constexpr auto kReaderWait = std::chrono::milliseconds(2);

}  // namespace

std::string CVNDecompressionSession::sourceName() const {
  if (asset_ && !asset_->sourceDescription().empty()) return asset_->sourceDescription();
  return displayName().value_or("");
}

void CVNDecompressionSession::log(const std::string& text, std::int32_t level, bool show) const {
  foundation::CVNLogController::sharedLogController().logMessage("\"" + sourceName() + "\"" + text, level, show);
}

void CVNDecompressionSession::logFormat(std::int32_t level, bool show, const char* format, ...) const {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  log(text, level, show);
}

void CVNDecompressionSession::readingLoop(const std::weak_ptr<CVNDecompressionSession>& weak) {
  // The session is held for one round at a time, so dropping it ends the loop.
  for (;;) {
    const auto self = weak.lock();
    if (!self || !self->readOnce()) return;
  }
}

bool CVNDecompressionSession::readOnce() {
  if (scrubsPending_.load() > 0) shouldRead_.store(0);
  if (shouldRead_.load() == 0) return false;
  std::int32_t track = 0;
  const auto sample = asset_->nextSampleBufferForTrackIndex(&track);
  if (!sample) {
    if (asset_->finishedReading()) {
      if (status() < kSessionStatusFinishedReading) setStatus(kSessionStatusFinishedReading);
      shouldRead_.store(0);
      // The decoder may have caught up already; it still has to finish.
      startDecodingIfNeeded();
      return false;
    }
    if (asset_->assetType() == kAssetTypeImage) {
      log(": Error: Image could not be decoded. Skipping item '" + displayName().value_or("") + "'", 0);
      setStatus(kSessionStatusFinishedDecompressing);
      shouldRead_.store(0);
      return false;
    }
    return waitForReader();
  }
  const auto format = sample->formatDescription();
  switch (format ? format->mediaType() : 0) {
    case pm::kMediaTypeClosedCaption:
    case pm::kMediaTypeMetadata:
    case pm::kMediaTypeSubtitle:
      enqueueClosedCaptionSampleBuffer(sample);
      break;
    case pm::kMediaTypeAudio:
      handleAudioSample(sample, track);
      break;
    case pm::kMediaTypeTimeCode:
      timecodeQueue_->enqueue(sample);
      break;
    case pm::kMediaTypeVideo:
      handleVideoSample(sample);
      break;
    default:
      break;
  }
  if (shouldRead_.load() != 0) stopAtReadAheadTarget();
  return shouldRead_.load() != 0;
}

bool CVNDecompressionSession::waitForReader() {
  std::unique_lock lock(readerWaitMutex_);
  platform::waitOnCurrentClock(lock, readerWait_, kReaderWait,
                               [this] { return shouldRead_.load() == 0 || scrubsPending_.load() > 0; });
  return shouldRead_.load() != 0;
}

void CVNDecompressionSession::wakeReadingLoop() {
  std::lock_guard guard(readerWaitMutex_);
  readerWait_.notify_all();
}

void CVNDecompressionSession::handleVideoSample(const pm::SampleBufferRef& sample) {
  const auto status = compressedQueue_->enqueue(sample);
  if (status != 0) {
    log(": Failed to enqueue video frame (err: " + std::to_string(status) + ")", 0);
    return;
  }
  const auto doNotDisplay = sample->sampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay);
  if (doNotDisplay.boolean().value_or(false)) {
    std::lock_guard guard(timesMutex_);
    doNotDisplayDuration_ = doNotDisplayDuration_ + sample->duration();
  }
  numberOfFramesRead_.fetch_add(1);
  startDecodingIfNeeded();
}

void CVNDecompressionSession::handleAudioSample(const pm::SampleBufferRef& sample, std::int32_t track) {
  if (!audioEngine_ || !hasAudio()) return;
  audioEngine_->processBuffer(sample, static_cast<std::size_t>(track), true);
  if (asset_->assetType() == kAssetTypeSound && status() == kSessionStatusBuffering && !isReadyForPlayback() &&
      audioSamplesBuffered() >= kAudioOnlySamplesForReadiness) {
    setStatus(kSessionStatusReading);
    markAsReadyForPlayback();
  }
}

void CVNDecompressionSession::stopAtReadAheadTarget() {
  const auto readAhead = currentReadAheadDuration();
  if (pm::compare(readAhead, allowedReadAheadDuration()) < 0) return;
  if (hasAudio() && audioSamplesBuffered() < kAudioSamplesForReadiness) {
    // Read video on so that late audio can arrive, but not without end.
    if (readAhead.seconds() <= kMaximumVideoReadAheadWithoutAudio) return;
    if (!loggedMissingAudio_.exchange(true)) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%0.0f", readAhead.seconds());
      log(std::string(": Error: Stop Reading. No audio available while video read ahead reached ") + seconds +
              " seconds",
          0);
    }
    shouldRead_.store(0);
    return;
  }
  shouldRead_.store(0);
}

void CVNDecompressionSession::produceAudio(const std::uint8_t* bytes, std::size_t count) {
  const auto ring = circularAudioBuffer();
  const std::uint32_t bytesPerPacket = outputAudioStreamBasicDescription().bytesPerPacket;
  if (!ring || bytesPerPacket == 0 || !bytes) return;
  const auto writable = ring->availableBytesForWriting();
  if (writable < count) {
    log(": Error: Failed to copy audio samples", 0);
    count = static_cast<std::size_t>(writable);
  }
  std::memcpy(ring->getWritePointer(), bytes, count);
  ring->advanceWritePointer(count);
  audioSamplesBuffered_.fetch_add(static_cast<std::uint32_t>(count / bytesPerPacket));
  loggedMissingAudio_.store(false);
  updateReadyForPlaybackStatus();
}

void CVNDecompressionSession::appendEmptyVideoFrame() {
  auto size = outputFrameDimensions();
  if (size.width <= 0 || size.height <= 0) size = {1920, 1080};
  pm::CVReturn error = 0;
  const auto picture = CVNEngineValidation::createEmptyPixelBufferWithSize(size, bufferFormat(), false, &error);
  pm::SampleBufferRef sample;
  pm::OSStatus result = error != 0 ? error : -1;
  if (picture) {
    const auto frame = naturalFrameDuration();
    pm::SampleTimingInfo timing{frame, pm::MediaTime::make(0, frame.timeScale > 0 ? frame.timeScale : 1),
                                pm::MediaTime::invalid()};
    result = pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture),
                                                    timing, &sample);
  }
  if (!sample || result != 0) {
    log(": Error: Failed to create sampleBuffer (err: " + std::to_string(result) + ")", 0);
    return;
  }
  uncompressedQueue_->enqueue(sample);
}

void CVNDecompressionSession::updateOutPoint(double seconds) {
  if (!asset_) return;
  if (seconds <= 0) seconds = asset_->duration().seconds();
  const auto position = playbackPTS();
  if (position.isValid() && position.seconds() >= seconds) {
    setStatus(kSessionStatusFinishedPlaying);
    return;
  }
  asset_->updateOutPoint(seconds);
  {
    std::lock_guard guard(timesMutex_);
    updatedOutPoint_ = asset_->outPoint();
  }
  const auto current = status();
  // Finished reading, decoding or playing, but the reader has more now.
  if (current >= kSessionStatusFinishedReading && current <= kSessionStatusFinishedPlaying &&
      !asset_->finishedReading()) {
    setStatus(kSessionStatusReading);
    startReadingThreadIfNeeded();
    startDecodingIfNeeded();
  }
}

pm::MediaTime CVNDecompressionSession::updatedOutPoint() const {
  std::lock_guard guard(timesMutex_);
  return updatedOutPoint_;
}

void CVNDecompressionSession::updatePlaybackDuration(double seconds) {
  if (!asset_) return;
  const auto type = asset_->assetType();
  if (type != kAssetTypeImage && type != kAssetTypeZiraInput) return;
  asset_->updatePlaybackDuration(seconds);
  setStatus(kSessionStatusFinishedDecompressing);
}

}  // namespace media
