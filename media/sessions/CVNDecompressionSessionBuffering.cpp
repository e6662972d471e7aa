// Starting to buffer, the read-ahead and decode-ahead targets, the measures,
// readiness and the tear-down of a decompression session.

#include <cmath>

#include "media/sessions/CVNDecompressionSession.h"

namespace media {

namespace pm = platform::media;

namespace {

constexpr auto kQueueDrainTimeout = std::chrono::seconds(30);
constexpr std::size_t kCompressedQueueCapacity = 8192;
constexpr std::size_t kUncompressedQueueCapacity = 1024;
constexpr std::size_t kSideQueueCapacity = 4096;

pm::MediaTime samplesAsTime(std::uint32_t samples) { return pm::MediaTime::make(samples, 48000); }

pm::MediaTime durationOf(const std::shared_ptr<pm::SampleBufferQueue>& queue) {
  return queue ? queue->totalDuration() : pm::MediaTime::zero();
}

}  // namespace

std::int64_t CVNDecompressionSession::framesNeededForPlayback() const {
  return decoder_ ? decoder_->framesNeededForPlayback() : 0;
}

bool CVNDecompressionSession::startBuffering() {
  if (status() != kSessionStatusInitialized || !isValid()) return false;
  auto decoder = services_.makeDecoder ? services_.makeDecoder(*asset_) : nullptr;
  if (!decoder && asset_->assetType() != kAssetTypeSound) return false;
  if (decoder) {
    decoder->setMetalAPIEnabled(metalAPIEnabled());
    decoder->setShouldProduceGlobalIOSurface(shouldProduceGlobalIOSurface());
    decoder->setExtractCCFromVideoFrames(asset_->hasEmbeddedCaptions());
  }
  shouldRead_.store(0);
  shouldDecode_.store(0);
  readerStarted_.store(false);
  setPlaybackPTS(pm::MediaTime::invalid());
  numberOfFramesRead_.store(0);
  resetAudioCounters();
  numberOfFramesDecoded_.store(0);
  {
    std::lock_guard guard(timesMutex_);
    doNotDisplayDuration_ = pm::MediaTime::zero();
  }
  {
    std::lock_guard guard(orderingMutex_);
    unorderedPTS_.clear();
    unorderedCount_.store(0);
    failedPTS_.clear();
    framesWithoutTime_.clear();
    lastFiveFrames_.clear();
  }
  if (decoder && decoder->supportsReverseFieldOrder()) {
    const auto client = delegate();
    if (client && client->shouldInverseFieldOrder()) decoder->setReverseFieldOrder(true);
  }
  decoder_ = std::move(decoder);
  // The output frame duration may have been set before the rate was known.
  sameFrameRate_.store(pm::compare(outputFrameDuration(), naturalFrameDuration()) == 0);
  hasAudio_.store(asset_->numberOfAudioTracks() > 0 && audioEngine_ != nullptr);

  compressedQueue_ = std::make_shared<pm::SampleBufferQueue>(kCompressedQueueCapacity, pm::SampleBufferQueue::Order::Arrival);
  uncompressedQueue_ = std::make_shared<pm::SampleBufferQueue>(kUncompressedQueueCapacity,
                                                               pm::SampleBufferQueue::Order::OutputPresentationTime);
  closedCaptionQueue_ = std::make_shared<pm::SampleBufferQueue>(kSideQueueCapacity, pm::SampleBufferQueue::Order::Arrival);
  timecodeQueue_ = std::make_shared<pm::SampleBufferQueue>(kSideQueueCapacity, pm::SampleBufferQueue::Order::Arrival);

  const auto weak = weakSelf();
  if (hasAudio()) {
    // The ring is made here, before any thread can hand out or produce audio.
    createAudioOutput("Session output buffer '" + displayName().value_or("") + "'",
                      audioRingByteCount(readAheadBufferInSeconds(), outputAudioStreamBasicDescription()));
    readingQueue_->async([weak] {
      if (const auto self = weak.lock()) self->setUpAudio();
    });
  }
  if (asset_->assetType() != kAssetTypeSound) {
    decodingQueue_->async([weak] {
      if (const auto self = weak.lock()) self->setUpDecoder();
    });
  } else {
    readingQueue_->async([weak] {
      if (const auto self = weak.lock()) self->appendEmptyVideoFrame();
    });
  }
  setStatus(kSessionStatusBuffering);
  readingQueue_->async([weak] {
    if (const auto self = weak.lock()) self->beginReading();
  });
  return true;
}

void CVNDecompressionSession::setUpDecoder() {
  if (!decoder_) return;
  const auto size = decompressSize();
  if (size.width <= 0 || size.height <= 0) {
    setDecompressSize(decodedFrameSize());
  } else {
    decoder_->setOutputDimensions(static_cast<std::int32_t>(size.width), static_cast<std::int32_t>(size.height));
  }
  decoder_->setPixelFormat(bufferFormat());
  decoder_->setDelegate(this);
  decoder_->setPixelBufferPoolSize(pixelBufferPoolSize(decodeAheadBufferInSeconds(), frameRateAsCMTime().seconds()));
  if (decoder_->supportsBitDepth()) decoder_->setBitDepth(asset_->bitsPerRawSample());
  if (!decoder_->setup()) log(": Error: decoder failed to setup", 0, true);
}

void CVNDecompressionSession::setUpAudio() {
  audioEngine_->setOutputFormat(outputAudioStreamBasicDescription());
  for (std::int64_t track = 0; track < asset_->numberOfAudioTracks(); ++track) {
    audioEngine_->addInputWithFormatDescription(asset_->audioFormatDescriptionForTrackIndex(static_cast<std::int32_t>(track)),
                                                1.0);
  }
  if (audioEngine_->start()) {
    reconnectAudioOutput();
    return;
  }
  // The clip plays without audio: no audio readiness, no waiting for audio.
  audioEngine_.reset();
  hasAudio_.store(false);
  log(": Error: Audio engine failed to start; playing without audio", 0);
}

void CVNDecompressionSession::reconnectAudioOutput() {
  audioEngine_->setOutputCallback([weak = weakSelf()](const std::uint8_t* bytes, std::size_t count) {
    if (const auto self = weak.lock()) self->produceAudio(bytes, count);
  });
}

void CVNDecompressionSession::beginReading() {
  asset_->initReading();
  asset_->seekToStartPoint();
  const auto sync = asset_->syncPTS();
  {
    std::lock_guard guard(orderingMutex_);
    lastOrderedPTS_ = frameBefore(sync);
  }
  if (audioEngine_) audioEngine_->setSyncTime(sync);
  readerStarted_.store(true);
  startReadingThread();
}

void CVNDecompressionSession::setAllowedBufferPercentage(double percentage) {
  if (status() < kSessionStatusInitialized || !(percentage > 0 && percentage <= 1.0) || !asset_) return;
  const auto fd = asset_->frameDuration();
  const double minimumSeconds =
      static_cast<double>(framesNeededForPlayback()) * (fd.isValid() && fd.value > 0 ? fd.seconds() : 0.0);
  const double wanted = percentage * readAheadBufferInSeconds();
  {
    std::lock_guard guard(timesMutex_);
    allowedReadAhead_ = wanted >= minimumSeconds ? pm::MediaTime::makeWithSeconds(wanted, 1000)
                                                 : pm::MediaTime::makeWithSeconds(minimumSeconds, 1000);
    allowedDecodeAhead_ = pm::MediaTime::makeWithSeconds(std::max(minimumSeconds, allowedReadAhead_.seconds() / 5), 1000);
  }
  if (!startReadingThreadIfNeeded()) startDecodingIfNeeded();
}

pm::MediaTime CVNDecompressionSession::allowedReadAheadDuration() const {
  std::lock_guard guard(timesMutex_);
  return allowedReadAhead_;
}

pm::MediaTime CVNDecompressionSession::allowedDecodeAheadDuration() const {
  std::lock_guard guard(timesMutex_);
  return allowedDecodeAhead_;
}

bool CVNDecompressionSession::atomicSetShouldRead(bool value) {
  std::int32_t expected = value ? 0 : 1;
  return shouldRead_.compare_exchange_strong(expected, value ? 1 : 0);
}

bool CVNDecompressionSession::atomicSetShouldDecode(bool value) {
  std::int32_t expected = value ? 0 : 1;
  return shouldDecode_.compare_exchange_strong(expected, value ? 1 : 0);
}

bool CVNDecompressionSession::startReadingThreadIfNeeded() {
  const auto current = status();
  if (current != kSessionStatusBuffering && current != kSessionStatusReading) return false;
  // No loop before the reader has been started on the reading queue.
  if (!readerStarted_.load()) return false;
  const auto allowed = allowedReadAheadDuration();
  const bool below = pm::compare(currentReadAheadDuration(), allowed) < 0 ||
                     pm::compare(audioReadAheadDuration(), allowed) < 0;
  if (!below || !atomicSetShouldRead(true)) return false;
  return queueReadingLoop();
}

void CVNDecompressionSession::startReadingThread() {
  if (status() >= kSessionStatusAborted || !atomicSetShouldRead(true)) return;
  queueReadingLoop();
}

bool CVNDecompressionSession::queueReadingLoop() {
  // A stop that came between the caller's status check and the flag wins.
  if (status() >= kSessionStatusIdle) {
    shouldRead_.store(0);
    return false;
  }
  readingQueue_->async([weak = weakSelf()] { readingLoop(weak); });
  return true;
}

pm::MediaTime CVNDecompressionSession::currentReadAheadDuration() const {
  if (status() < kSessionStatusInitialized || !asset_) return pm::MediaTime::zero();
  switch (asset_->assetType()) {
    case kAssetTypeImage:
    case kAssetTypeZiraInput:
      return remainingTime();
    case kAssetTypeSound:
      return samplesAsTime(audioSamplesBuffered());
    default:
      break;
  }
  if (!compressedQueue_) return pm::MediaTime::zero();
  pm::MediaTime doNotDisplay;
  {
    std::lock_guard guard(timesMutex_);
    doNotDisplay = doNotDisplayDuration_;
  }
  // During a quick scrub a decoder that holds frames back before its first
  // picture must not stop reading: only queued frames count then.
  const auto pending = scrubTriggerInstalled_.load() ? pm::MediaTime::zero() : decoderPendingFrames_.duration();
  return durationOf(compressedQueue_) - doNotDisplay + pending + durationOf(uncompressedQueue_);
}

pm::MediaTime CVNDecompressionSession::audioReadAheadDuration() const {
  return hasAudio() ? samplesAsTime(audioSamplesBuffered()) : remainingTime();
}

double CVNDecompressionSession::currentReadAheadInSeconds() const { return currentReadAheadDuration().seconds(); }

double CVNDecompressionSession::bufferCompletionPercentage() const {
  if (!asset_) return 0.0;
  const auto type = asset_->assetType();
  if (type == kAssetTypeZiraInput || type == kAssetTypeZiraStream) return 1.0;
  const double target = readAheadBufferInSeconds();
  if (type == kAssetTypeSound) return audioSamplesBuffered() / (target * 48000.0);
  if (type == kAssetTypeImage) {
    if (!uncompressedQueue_ || uncompressedQueue_->isEmpty()) return 0.0;
    return std::min(remainingTime().seconds() / target, 1.0);
  }
  const auto current = status();
  if (current < kSessionStatusInitialized || current > kSessionStatusIdle) return 0.0;
  return currentReadAheadDuration().seconds() / target;
}

std::size_t CVNDecompressionSession::compressedFrameCount() const {
  return compressedQueue_ ? compressedQueue_->count() : 0;
}

pm::SampleBufferRef CVNDecompressionSession::uncompressedHead() const {
  return uncompressedQueue_ ? uncompressedQueue_->head() : nullptr;
}

void CVNDecompressionSession::updateReadyForPlaybackStatus() {
  if (isReadyForPlayback()) return;
  const auto current = status();
  if (numberOfFramesDecoded_.load() < framesNeededForPlayback() && current != kSessionStatusFinishedDecompressing) return;
  if (hasAudio() && current < kSessionStatusFinishedReading) {
    // An audio-only clip waits for its own larger amount (see the reading loop).
    if (asset_->assetType() == kAssetTypeSound) return;
    if (audioSamplesBuffered() < kAudioSamplesForReadiness) return;
  }
  if (current == kSessionStatusReading) setStatus(kSessionStatusBuffering);
  markAsReadyForPlayback();
}

void CVNDecompressionSession::markAsReadyForPlayback() {
  setReadyForPlayback(true);
  notifyDelegate(&CVNDecompressionSessionDelegate::decompressionSessionIsReadyForPlayback);
}

void CVNDecompressionSession::stopBuffering() {
  setStatus(kSessionStatusIdle);
  shouldRead_.store(0);
  shouldDecode_.store(0);
  setDelegate({});
  wakeReadingLoop();
  readingQueue_->async([weak = weakSelf()] {
    const auto self = weak.lock();
    if (self && self->audioEngine_) self->audioEngine_->setOutputCallback(nullptr);
  });
}

void CVNDecompressionSession::discard() {
  setStatus(kSessionStatusAborted);
  shouldRead_.store(0);
  shouldDecode_.store(0);
  setDelegate({});
  wakeReadingLoop();
  const auto tearDown = [this] {
    const auto onDecodingQueue = [this] {
      if (decoder_) decoder_->invalidate();
      if (compressedQueue_) compressedQueue_->reset();
      if (uncompressedQueue_) uncompressedQueue_->reset();
    };
    if (decodingQueue_->isCurrent()) {
      onDecodingQueue();
    } else {
      decodingQueue_->sync(onDecodingQueue, kQueueDrainTimeout);
    }
    if (audioEngine_) audioEngine_->setOutputCallback(nullptr);
  };
  if (readingQueue_->isCurrent()) {
    tearDown();
  } else {
    readingQueue_->sync(tearDown, kQueueDrainTimeout);
  }
}

}  // namespace media
