// The client's side of a decompression session: one decoded frame per output
// frame, with the source's rate conformed to the output's by dropping or
// repeating frames, the playback position, and the end of playback.

#include <cmath>
#include <cstdlib>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"

namespace media {

namespace pm = platform::media;

bool CVNDecompressionSession::isZiraStreamingAsset(const CVNAssetReader* reader) {
  const auto* movie = dynamic_cast<const CVNFFmpegMovieAssetReader*>(reader);
  return movie && movie->isZiraStream();
}

bool CVNDecompressionSession::isZiraStreamingAssetAndSeekable(const CVNAssetReader* reader) {
  const auto* movie = dynamic_cast<const CVNFFmpegMovieAssetReader*>(reader);
  return movie && movie->isZiraStream() && movie->isSeekableZiraStream();
}

bool CVNDecompressionSession::frameAvailable() const {
  // Frames still missing in front of the queued ones hold the queue back.
  return uncompressedQueue_->count() > unorderedCount_.load();
}

pm::SampleBufferRef CVNDecompressionSession::nextVideoSampleBuffer() {
  if (!asset_ || !uncompressedQueue_) return nullptr;
  const auto type = asset_->assetType();
  const auto ofd = outputFrameDuration();
  if (type == kAssetTypeImage || type == kAssetTypeSound) {
    if (status() == kSessionStatusFinishedPlaying) return nullptr;
    const auto head = uncompressedQueue_->head();
    if (!head) return nullptr;
    const auto position = playbackPTS();
    const auto next = position.isValid() ? position + head->duration() : asset_->inPoint();
    setPlaybackPTS(next);
    if (ofd.isValid() && pm::compare(next + ofd, asset_->outPoint()) >= 0) setStatus(kSessionStatusFinishedPlaying);
    return head;
  }
  bool tookNewFrame = false;
  const auto frame = nextConformedFrame(&tookNewFrame);
  if (type == kAssetTypeZiraStream) synthesiseStreamPosition();
  startReadingThreadIfNeeded();
  startDecodingIfNeeded();
  if (tookNewFrame) processCCAttachmentFromVideoSampleBuffer(frame);
  return frame;
}

pm::SampleBufferRef CVNDecompressionSession::nextConformedFrame(bool* tookNewFrame) {
  const auto ofd = outputFrameDuration();
  std::unique_lock lock(conformMutex_);
  pm::SampleBufferRef frame;
  if (shouldRepeatFrame_ && !shouldDropFrame_) {
    shift_ = shift_ + ofd;
    frame = frameToRepeat_;
    shouldRepeatFrame_ = pm::compare(shift_, pm::MediaTime::zero() - ofd) <= 0;
    if (!shouldRepeatFrame_) frameToRepeat_.reset();
  } else {
    if (shouldDropFrame_ && frameAvailable()) {
      const auto dropped = uncompressedQueue_->dequeue();
      shift_ = shift_ - dropped->duration();
      shouldDropFrame_ = false;
      if (pm::compare(shift_, dropped->duration()) >= 0 && frameAvailable()) {
        shift_ = shift_ - uncompressedQueue_->dequeue()->duration();
      }
    }
    if (frameAvailable()) frame = uncompressedQueue_->dequeue();
    if (frame) {
      *tookNewFrame = true;
      if (asset_->assetType() != kAssetTypeZiraStream) setPlaybackPTS(frame->outputPresentationTimeStamp());
      if (!sameFrameRate_.load() && ofd.isValid()) conform(frame, ofd);
    }
  }
  const bool repeatPending = shouldRepeatFrame_;
  lock.unlock();
  finishPlaybackAtEnd(repeatPending);
  return frame;
}

void CVNDecompressionSession::conform(const pm::SampleBufferRef& frame, pm::MediaTime ofd) {
  auto fd = frame->duration();
  if (!fd.isValid() || fd.value <= 0) fd = naturalFrameDuration();
  if (status() == kSessionStatusFinishedDecompressing && uncompressedQueue_->isEmpty()) {
    // A broken last duration (say 1/90000) counts one output frame.
    const double rate = fd.value > 0 ? static_cast<double>(fd.timeScale / fd.value) : 0.0;
    const double nominal = asset_->framerate();
    if (rate < nominal / 2 || rate > nominal * 2) fd = ofd;
  }
  const auto difference = ofd - fd;
  if (difference.value == 0) return;
  shift_ = shift_ + difference;
  if (logTimeDifference_) {
    logTimeDifference_ = false;
    if (std::fabs(difference.seconds()) > 0.000001) {
      logFormat(2, false,
                ": Warning: Frame rate is different than output. Will drop or duplicate frames to maintain audio sync. "
                "(file %lld/%i - output %lld/%i)",
                static_cast<long long>(fd.value), fd.timeScale, static_cast<long long>(ofd.value), ofd.timeScale);
    }
  }
  if (pm::compare(shift_, pm::MediaTime::zero() - ofd) <= 0) {
    frameToRepeat_ = frame;
    shouldRepeatFrame_ = true;
  } else if (pm::compare(shift_, fd) >= 0) {
    shouldDropFrame_ = true;
  }
}

void CVNDecompressionSession::finishPlaybackAtEnd(bool repeatPending) {
  const auto ofd = outputFrameDuration();
  const auto position = playbackPTS();
  bool finished = false;
  {
    std::lock_guard guard(timesMutex_);
    if (updatedOutPoint_.isValid() && position.isValid() && ofd.isValid() &&
        pm::compare(position + ofd, updatedOutPoint_) >= 0) {
      updatedOutPoint_ = pm::MediaTime::invalid();
      finished = true;
    }
  }
  if (!finished) {
    finished = status() == kSessionStatusFinishedDecompressing && uncompressedQueue_->isEmpty() && !repeatPending;
  }
  if (!finished) return;
  setStatus(kSessionStatusFinishedPlaying);
  if (!isReadyForPlayback()) markAsReadyForPlayback();
}

void CVNDecompressionSession::synthesiseStreamPosition() {
  const auto ofd = outputFrameDuration();
  const auto position = playbackPTS();
  const auto inPoint = asset_->inPoint();
  pm::MediaTime next;
  if (ofd.isValid()) {
    next = position.isValid() ? position + ofd : inPoint;
  } else {
    const auto natural = naturalFrameDuration();
    next = position.isValid() ? position + natural
                              : inPoint.convertScale(natural.timeScale, pm::MediaTimeRoundingMethod::RoundHalfAwayFromZero);
  }
  setPlaybackPTS(next);
  if (next.seconds() >= asset_->outPoint().seconds()) setStatus(kSessionStatusFinishedPlaying);
}

pm::SampleBufferRef CVNDecompressionSession::videoBufferHead() {
  if (!uncompressedQueue_) return nullptr;
  const auto head = uncompressedQueue_->head();
  if (!head || !asset_) return head;
  const auto type = asset_->assetType();
  const bool fixedPosition = type == kAssetTypeImage || type == kAssetTypeSound ||
                             (type == kAssetTypeZiraStream && !isZiraStreamingAssetAndSeekable(asset_.get()));
  if (!fixedPosition) setPlaybackPTS(head->outputPresentationTimeStamp());
  return head;
}

const std::uint8_t* CVNDecompressionSession::nextAudioSamples(std::uint32_t n) {
  if (!asset_ || asset_->numberOfAudioTracks() == 0) return nullptr;
  const auto* samples = CVNSessionBase::nextAudioSamples(n);
  startReadingThreadIfNeeded();
  return samples;
}

pm::MediaTime CVNDecompressionSession::playbackDuration() const {
  return asset_ ? asset_->outPoint() - asset_->inPoint() : pm::MediaTime::zero();
}

pm::MediaTime CVNDecompressionSession::remainingTime() const {
  if (isFinishedPlaying()) return pm::MediaTime::zero();
  const auto position = playbackPTS();
  if (asset_ && position.isValid()) return asset_->outPoint() - position;
  return playbackDuration();
}

pm::MediaTime CVNDecompressionSession::elapsedTime() const {
  const auto position = playbackPTS();
  if (asset_ && position.isValid()) return position - asset_->inPoint();
  const auto total = asset_ ? asset_->duration() : duration();
  return pm::MediaTime::make(0, total.isValid() ? total.timeScale : 1);
}

}  // namespace media
