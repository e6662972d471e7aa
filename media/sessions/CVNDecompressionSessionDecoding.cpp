// The decoding side of a decompression session: the loop that feeds the
// decoder up to the allowed decode-ahead, the slow-decode watch, and the
// decoder's results put in presentation order, with gaps filled by frames
// that came out late, without a time, or as duplicates of a neighbour.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "captions/CVNCCUtilities.h"
#include "foundation/CVNLogController.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/Clock.h"

namespace media {

namespace pm = platform::media;

namespace {

constexpr std::size_t kFramesWithoutTimeCapacity = 5;
constexpr std::size_t kRecentFrameCount = 5;
constexpr std::size_t kUnorderedTimesLimit = 30;
constexpr std::size_t kDecodeDurationRing = 10;
// A larger presentation gap is a jump or a wrap, not frames to wait for.
constexpr double kResyncGapSeconds = 1.0;

pm::MediaTime inScale(pm::MediaTime time, std::int32_t timeScale) {
  return time.timeScale == timeScale ? time : time.convertScale(timeScale, pm::MediaTimeRoundingMethod::RoundHalfAwayFromZero);
}

pm::MediaTime plus(pm::MediaTime time, std::int64_t value) { return pm::MediaTime::make(time.value + value, time.timeScale); }

}  // namespace

bool CVNDecompressionSession::doNotDisplayFlagValueFromSampleBuffer(const pm::SampleBuffer& sample) {
  if (!sample.hasSampleAttachments()) return false;
  return sample.sampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay).boolean().value_or(false);
}

pm::MediaTime CVNDecompressionSession::decodedAheadDuration() const {
  // Frames still inside the decoder do not count: a frame-threaded decoder
  // holds about one a thread and gives nothing back until fed more, so at a
  // short decode-ahead they would stop the feeding for good. The decoder
  // bounds how many it holds.
  return uncompressedQueue_ ? uncompressedQueue_->totalDuration() : pm::MediaTime::zero();
}

std::int64_t CVNDecompressionSession::decodeAheadFrameCount() const {
  const auto frames = uncompressedQueue_ ? static_cast<std::int64_t>(uncompressedQueue_->count()) : 0;
  return frames - static_cast<std::int64_t>(unorderedCount_.load());
}

bool CVNDecompressionSession::startDecodingIfNeeded() {
  if (!decoder_ || !uncompressedQueue_ || status() >= kSessionStatusFinishedDecompressing) return false;
  if (pm::compare(decodedAheadDuration(), allowedDecodeAheadDuration()) >= 0) return false;
  if (!atomicSetShouldDecode(true)) return false;
  startDecodingThread();
  return true;
}

void CVNDecompressionSession::startDecodingThread() {
  decodingQueue_->async([weak = weakSelf()] { decodingLoop(weak); });
}

void CVNDecompressionSession::decodingLoop(const std::weak_ptr<CVNDecompressionSession>& weak) {
  for (;;) {
    const auto self = weak.lock();
    if (!self || !self->decodeOnce()) return;
  }
}

bool CVNDecompressionSession::decodeOnce() {
  if (shouldDecode_.load() == 0) return false;
  if (const auto sample = compressedQueue_->dequeue()) decodeVideoSampleBuffer(sample);
  // A quick scrub reads one frame at a time until the first picture.
  if (scrubTriggerInstalled_.load()) startReadingThreadIfNeeded();
  if (status() == kSessionStatusFinishedReading && compressedQueue_->isEmpty()) {
    decoder_->finish();
    {
      std::lock_guard guard(orderingMutex_);
      standInForMissingFramesAtTheEnd();
      unorderedPTS_.clear();
      unorderedCount_.store(0);
    }
    setStatus(kSessionStatusFinishedDecompressing);
    if (!isReadyForPlayback()) markAsReadyForPlayback();
    shouldDecode_.store(0);
    return false;
  }
  const bool more = !compressedQueue_->isEmpty() &&
                    pm::compare(decodedAheadDuration(), allowedDecodeAheadDuration()) < 0;
  if (more) return shouldDecode_.load() != 0;
  shouldDecode_.store(0);
  // A sample read, a frame taken or the end of reading may have come while
  // the flag was still set, so its start request was refused; none of them
  // may wait for the client's next call.
  if (!compressedQueue_->isEmpty() || status() == kSessionStatusFinishedReading) startDecodingIfNeeded();
  return false;
}

void CVNDecompressionSession::decodeVideoSampleBuffer(const pm::SampleBufferRef& sample) {
  if (!decoder_ || !sample) return;
  const bool shouldOutput = !doNotDisplayFlagValueFromSampleBuffer(*sample);
  auto& clock = platform::Clock::current();
  const auto started = clock.now();
  decoderPendingFrames_.addSampleBuffer(sample);
  decoder_->decodeSampleBuffer(sample, shouldOutput,
                               [weak = weakSelf(), sample, shouldOutput, generation = scrubGeneration_.load()](
                                   bool success, const std::optional<std::string>& error, const pm::SampleBufferRef& decoded) {
                                 const auto self = weak.lock();
                                 if (!self) return;
                                 if (generation != self->scrubGeneration_.load()) {
                                   // Sent before a scrub: the decoder may still hand it back late.
                                 } else if (!shouldOutput) {
                                   // Never shown: a failure needs no stand-in frame.
                                   std::lock_guard guard(self->timesMutex_);
                                   self->doNotDisplayDuration_ = self->doNotDisplayDuration_ - sample->duration();
                                 } else if (!success) {
                                   self->decodingFailedForPresentationTimestamp(sample->presentationTimeStamp(), sample);
                                   foundation::CVNLogController::sharedLogController().logMessageWithLevel(
                                       2, true, "Decompression: Error: %s for item %s", error.value_or("").c_str(),
                                       self->displayName().value_or("").c_str());
                                 } else if (decoded) {
                                   self->decoderDidProduceFrame(decoded, sample);
                                 }
                                 self->decoderPendingFrames_.removeSampleBuffer(sample);
                               });
  const double elapsed = std::chrono::duration<double>(clock.now() - started).count();
  const bool still = asset_->assetType() == kAssetTypeImage;
  {
    std::lock_guard guard(performanceSync_);
    decompressionPerformanceCpt_ += still ? 10 : 1;
    decompressionPerformanceElapsedTime_ += elapsed;
  }
  ++decodeRequestCount_;
  noteDecodeDuration(elapsed, *sample);
}

void CVNDecompressionSession::noteDecodeDuration(double seconds, const pm::SampleBuffer& sample) {
  const double frame = sample.duration().isValid() ? sample.duration().seconds() : 0.0;
  if (asset_->isIFrameOnlyCodec()) {
    if (asset_->assetType() == kAssetTypeImage) {
      if (seconds >= 0.5) logFormat(1, false, ": Warning: Decoding image took %fs (frame duration: %.3fs)", seconds, frame);
    } else if (seconds >= frame) {
      logFormat(1, false, ": Warning: Decoding[%05lld] took %fs (frame duration: %.3fs)",
                static_cast<long long>(decodeRequestCount_), seconds, frame);
    }
    return;
  }
  decodeDurations_[decodeDurationIndex_++] = seconds;
  if (decodeDurationIndex_ < kDecodeDurationRing) return;
  double sum = 0;
  for (const double value : decodeDurations_) sum += value;
  if (sum >= kDecodeDurationRing * frame) {
    logFormat(1, false, ": Warning: Decoding too slow, avg decoding duration %0.3fs (frame duration: %.3fs)",
              sum / kDecodeDurationRing, frame);
  }
  decodeDurationIndex_ = 0;
}

void CVNDecompressionSession::rememberRecentFrame(const pm::SampleBufferRef& frame) {
  if (lastFiveFrames_.size() >= kRecentFrameCount) lastFiveFrames_.pop_front();
  lastFiveFrames_.push_back(frame);
}

void CVNDecompressionSession::enqueueDecodedFrame(const pm::SampleBufferRef& frame) {
  if (uncompressedQueue_->enqueue(frame) != 0) std::fprintf(stderr, "Could not enqueue buffer\n");
}

void CVNDecompressionSession::decoderDidProduceFrame(const pm::SampleBufferRef& frame, const pm::SampleBufferRef&) {
  if (!frame || !uncompressedQueue_) return;
  const auto pts = frame->presentationTimeStamp();
  {
    std::lock_guard guard(orderingMutex_);
    if (!pts.isValid()) {
      if (scrubTriggerInstalled_.load()) {
        enqueueDecodedFrame(frame);
      } else if (framesWithoutTime_.size() < kFramesWithoutTimeCapacity) {
        framesWithoutTime_.push_back(frame);
      }
      return;
    }
    rememberRecentFrame(frame);
    auto duration = frame->duration();
    if (!duration.isValid() || duration.value <= 0) duration = naturalFrameDuration();
    duration = inScale(duration, pts.timeScale);
    if (duration.value <= 0) duration = pm::MediaTime::make(1, pts.timeScale);
    if (!lastOrderedPTS_.isValid()) lastOrderedPTS_ = pm::MediaTime::make(pts.value - duration.value, pts.timeScale);
    lastOrderedPTS_ = inScale(lastOrderedPTS_, pts.timeScale);
    const auto expected = plus(lastOrderedPTS_, duration.value);
    const std::int64_t difference = expected.value - pts.value;
    if (std::abs(static_cast<double>(difference)) / pts.timeScale > kResyncGapSeconds) {
      logFormat(1, false, ": Warning: Presentation time jumped from %lld to %lld, resyncing",
                static_cast<long long>(expected.value), static_cast<long long>(pts.value));
      lastOrderedPTS_ = pts;
      unorderedPTS_.clear();
      failedPTS_.clear();
    } else if (difference > duration.value / 2) {
      // Its time has passed and was stood in for: showing it now would go back in time.
      logFormat(3, false, ": Warning: Frame %lld came after its time, dropped", static_cast<long long>(pts.value));
      return;
    } else if (-difference > duration.value / 2) {
      unorderedPTS_.push_back(pts);
      if (unorderedPTS_.size() >= kUnorderedTimesLimit) unorderedPTS_.clear();
    } else {
      lastOrderedPTS_ = pts;
    }
    const auto dts = frame->decodeTimeStamp();
    if (dts.isValid()) catchUpBefore(inScale(dts, pts.timeScale), duration);
    unorderedCount_.store(unorderedPTS_.size());
  }
  numberOfFramesDecoded_.fetch_add(1);
  updateReadyForPlaybackStatus();
  enqueueDecodedFrame(frame);
}

void CVNDecompressionSession::catchUpBefore(pm::MediaTime dts, pm::MediaTime duration) {
  // Beyond the resync gap the decode time is not to be trusted.
  if (static_cast<double>(dts.value - lastOrderedPTS_.value) / dts.timeScale > kResyncGapSeconds) return;
  auto expected = plus(lastOrderedPTS_, duration.value);
  const auto advance = [&] {
    lastOrderedPTS_ = expected;
    expected = plus(expected, duration.value);
  };
  while (lastOrderedPTS_.value < dts.value) {
    const auto early = std::find_if(unorderedPTS_.begin(), unorderedPTS_.end(), [&](const pm::MediaTime& time) {
      return inScale(time, dts.timeScale).value < expected.value + duration.value;
    });
    if (early != unorderedPTS_.end()) {
      lastOrderedPTS_ = inScale(*early, dts.timeScale);
      expected = plus(lastOrderedPTS_, duration.value);
      unorderedPTS_.erase(early);
      continue;
    }
    const auto failed = std::find_if(failedPTS_.begin(), failedPTS_.end(), [&](const pm::MediaTime& time) {
      return inScale(time, dts.timeScale).value == expected.value;
    });
    const bool decodeFailed = failed != failedPTS_.end();
    if (decodeFailed) failedPTS_.erase(failed);
    if (decodeFailed || framesWithoutTime_.empty()) {
      // A frame the file lacks (a dropped packet, or one the decoder
      // swallowed without an error) is stood in for like a failed one, so
      // every output frame exists.
      if (const auto duplicate = createDuplicateSampleBufferNearPresentationTimestamp(expected)) {
        enqueueDecodedFrame(duplicate);
        rememberRecentFrame(duplicate);
      } else {
        log(": Warning: Frame may be missing, this may result in a sync issue", 3);
      }
      advance();
      continue;
    }
    const auto orphan = framesWithoutTime_.front();
    framesWithoutTime_.pop_front();
    orphan->setOutputPresentationTimeStamp(expected);
    enqueueDecodedFrame(orphan);
    logFormat(1, false, ": Warning: Reordering a frame at %lld", static_cast<long long>(expected.value));
    advance();
  }
}

pm::MediaTime CVNDecompressionSession::frameBefore(pm::MediaTime sync) const {
  const auto duration = naturalFrameDuration();
  if (!sync.isValid() || !duration.isValid()) return sync;
  return sync - duration;
}

void CVNDecompressionSession::standInForMissingFramesAtTheEnd() {
  const auto out = asset_->outPoint();
  if (!lastOrderedPTS_.isValid() || !out.isValid()) return;
  auto duration = inScale(naturalFrameDuration(), lastOrderedPTS_.timeScale);
  if (duration.value <= 0) return;
  // The frames the file lacks before its end: every output frame up to the out point exists.
  catchUpBefore(pm::MediaTime::make(inScale(out, lastOrderedPTS_.timeScale).value - duration.value, lastOrderedPTS_.timeScale),
                duration);
}

void CVNDecompressionSession::decodingFailedForPresentationTimestamp(pm::MediaTime pts, const pm::SampleBufferRef& compressed) {
  if (const auto duplicate = createDuplicateSampleBufferNearPresentationTimestamp(pts)) {
    decoderDidProduceFrame(duplicate, compressed);
  } else {
    logFormat(2, false, ": Error: Frame %lld could not be decoded. Will try to duplicate another frame to maintain sync",
              static_cast<long long>(pts.value));
    std::lock_guard guard(orderingMutex_);
    failedPTS_.push_back(pts);
  }
  startReadingThreadIfNeeded();
}

void CVNDecompressionSession::decoderWillRetryDecodingSampleBuffer(const pm::SampleBufferRef& sampleBuffer) {
  const auto pts = sampleBuffer ? sampleBuffer->presentationTimeStamp() : pm::MediaTime::invalid();
  logFormat(2, false, ": Error: Frame %lld failed to decode. Will try to decode frame once again",
            static_cast<long long>(pts.value));
}

pm::SampleBufferRef CVNDecompressionSession::createDuplicateSampleBufferNearPresentationTimestamp(pm::MediaTime pts) {
  std::lock_guard guard(orderingMutex_);
  if (numberOfFramesDecoded_.load() == 0 && lastFiveFrames_.empty()) {
    pm::OSStatus error = 0;
    auto empty = createEmptySampleBufferWithPTS(pts, &error);
    if (!empty) logFormat(0, true, ": Warning: Failed to create empty sampleBuffer (err: %i)", static_cast<int>(error));
    return empty;
  }
  for (const auto& frame : lastFiveFrames_) {
    const auto framePts = frame->presentationTimeStamp();
    const auto frameDuration = frame->duration();
    if (!framePts.isValid() || !frameDuration.isValid()) continue;
    const double distance = std::fabs(framePts.seconds() - pts.seconds());
    if (distance > 2 * frameDuration.seconds()) continue;
    pm::SampleBufferRef copy;
    if (frame->createCopyWithNewTiming({{frameDuration, pts, pm::MediaTime::invalid()}}, &copy) != 0 || !copy) continue;
    logFormat(1, false, ": Error: Frame %lld could not be decoded. Frame %lld got duplicated",
              static_cast<long long>(pts.value), static_cast<long long>(framePts.value));
    return copy;
  }
  return nullptr;
}

pm::SampleBufferRef CVNDecompressionSession::createEmptySampleBufferWithPTS(pm::MediaTime pts, pm::OSStatus* error) {
  const auto rate = frameRateAsCMTime();
  const auto frame = rate.isValid() && rate.value > 0 ? pm::MediaTime::make(rate.timeScale, static_cast<std::int32_t>(rate.value))
                                                      : naturalFrameDuration();
  auto size = decompressSize();
  if (size.width <= 0 || size.height <= 0) size = decodedFrameSize();
  pm::CVReturn status = 0;
  const auto picture = CVNEngineValidation::createEmptyPixelBufferWithSize(size, bufferFormat(), true, &status);
  if (!picture) {
    if (error) *error = status != 0 ? status : -1;
    return nullptr;
  }
  pm::SampleBufferRef sample;
  const auto result = pm::SampleBuffer::createForImageBuffer(
      picture, pm::FormatDescription::createForPixelBuffer(*picture), {frame, pts, pm::MediaTime::invalid()}, &sample);
  if (result != 0) {
    if (error) *error = result;
    return nullptr;
  }
  return sample;
}

void CVNDecompressionSession::processCCAttachmentFromVideoSampleBuffer(const pm::SampleBufferRef& frame) {
  if (!frame || !frame->hasSampleAttachments()) return;
  // Kept by value: the bytes live in it.
  const platform::Value attachment = frame->sampleAttachment(0, "a53CCData");
  const auto* data = attachment.data();
  if (!data) return;
  pm::SampleTimingInfo timing;
  if (frame->sampleTimingInfo(0, &timing) != 0) return;
  asset_->createCCSampleFormatDescription();
  const auto caption = captions::CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo(
      timing, timing.duration, 0, {data->data(), data->size()});
  if (caption) enqueueClosedCaptionSampleBuffer(caption);
}

void CVNDecompressionSession::didReceiveCCSampleBuffer(const pm::SampleBufferRef& sampleBuffer) {
  enqueueClosedCaptionSampleBuffer(sampleBuffer);
}

void CVNDecompressionSession::didFindAnEmbeddedCCPacket() { asset_->createCCSampleFormatDescription(); }

}  // namespace media
