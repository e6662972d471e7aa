// Moving a decompression session to another position: both loops stop, every
// buffer empties, the reader seeks and reading starts again. A quick scrub
// reads one frame ahead and tells the delegate at its first decoded frame.

#include <cmath>

#include "media/sessions/CVNDecompressionSession.h"

namespace media {

namespace pm = platform::media;

namespace {

constexpr auto kScrubWorkTimeout = std::chrono::seconds(30);

}  // namespace

void CVNDecompressionSession::scrubToTime(double seconds, bool quickly, bool precisely, bool backwards) {
  shouldRead_.store(0);
  shouldDecode_.store(0);
  wakeReadingLoop();
  removeScrubTrigger();
  if (!asset_ || !std::isfinite(seconds)) return;
  const double target = asset_->inPoint().seconds() + seconds;
  const auto current = status();
  if (current < kSessionStatusBuffering || current > kSessionStatusAborted) return;
  // A reading loop that some caller started after the flags were cleared
  // must still give way to this block.
  scrubsPending_.fetch_add(1);
  wakeReadingLoop();
  readingQueue_->async([weak = weakSelf(), target, quickly, precisely, backwards] {
    const auto self = weak.lock();
    if (!self) return;
    // Both queues held: no reading or decoding round overlaps the reset.
    self->decodingQueue_->sync([&] { self->scrubWork(target, quickly, precisely, backwards); }, kScrubWorkTimeout);
    self->scrubsPending_.fetch_sub(1);
    self->startReadingThreadIfNeeded();
  });
}

void CVNDecompressionSession::scrubWork(double target, bool quickly, bool precisely, bool backwards) {
  if (status() == kSessionStatusAborted) return;
  const auto type = asset_->assetType();
  const auto ofd = outputFrameDuration();
  const auto targetTime = pm::MediaTime::makeWithSeconds(target, ofd.isValid() ? ofd.timeScale : 1000);
  if (type == kAssetTypeImage || (type == kAssetTypeZiraStream && !isZiraStreamingAssetAndSeekable(asset_.get()))) {
    setPlaybackPTS(targetTime);
    markAsReadyForPlayback();
    return;
  }
  // A trigger from an earlier scrub whose work had not run yet goes too.
  removeScrubTrigger();
  if (type == kAssetTypeSound) {
    setPlaybackPTS(targetTime);
  } else {
    resetVideoSide();
  }
  resetAudioHandOut();
  {
    std::lock_guard guard(conformMutex_);
    shift_ = pm::MediaTime::zero();
    shouldDropFrame_ = false;
    shouldRepeatFrame_ = false;
    frameToRepeat_.reset();
  }
  numberOfFramesDecoded_.store(0);
  setReadyForPlayback(false);
  {
    std::lock_guard guard(timesMutex_);
    doNotDisplayDuration_ = pm::MediaTime::zero();
  }
  asset_->seekToTime(target, precisely, backwards);
  const auto sync = asset_->syncPTS();
  if (audioEngine_) audioEngine_->setSyncTime(sync);
  {
    std::lock_guard guard(orderingMutex_);
    lastOrderedPTS_ = frameBefore(sync);
  }
  if (sync.isValid() && sync.value != 0) setPlaybackPTS(sync);
  {
    std::lock_guard guard(timesMutex_);
    allowedReadAhead_ = quickly ? asset_->frameDuration() : pm::MediaTime::makeWithSeconds(readAheadBufferInSeconds(), 1000);
  }
  if (quickly) installScrubTrigger();
  setStatus(quickly ? kSessionStatusReading : kSessionStatusBuffering);
  if (audioEngine_ && hasAudio()) reconnectAudioOutput();
}

void CVNDecompressionSession::resetVideoSide() {
  scrubGeneration_.fetch_add(1);
  if (decoder_) decoder_->flush();
  decoderPendingFrames_.removeAllSampleBuffers();
  compressedQueue_->reset();
  uncompressedQueue_->reset();
  closedCaptionQueue_->reset();
  timecodeQueue_->reset();
  std::lock_guard guard(orderingMutex_);
  framesWithoutTime_.clear();
  unorderedPTS_.clear();
  unorderedCount_.store(0);
  failedPTS_.clear();
}

void CVNDecompressionSession::installScrubTrigger() {
  scrubTriggerInstalled_.store(true);
  uncompressedQueue_->setCountAboveTrigger(0, [weak = weakSelf()] {
    if (const auto self = weak.lock()) self->frameIsReadyForScrub();
  });
}

void CVNDecompressionSession::removeScrubTrigger() {
  if (!scrubTriggerInstalled_.exchange(false)) return;
  if (uncompressedQueue_) uncompressedQueue_->setCountAboveTrigger(0, {});
}

void CVNDecompressionSession::frameIsReadyForScrub() {
  {
    std::lock_guard guard(orderingMutex_);
    unorderedPTS_.clear();
    unorderedCount_.store(0);
    if (const auto head = uncompressedQueue_->head()) lastOrderedPTS_ = head->presentationTimeStamp();
  }
  if (!delegateQueue()) return;
  delegateQueue()->async([weak = weakSelf()] {
    const auto self = weak.lock();
    if (!self || !self->scrubTriggerInstalled_.load()) return;
    self->removeScrubTrigger();
    if (const auto delegate = self->delegate()) delegate->decompressionSessionIsReadyForPlayback(*self);
  });
}

}  // namespace media
