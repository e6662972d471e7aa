#include "media/sessions/CVNDecompressionSession.h"

#include <cmath>
#include <cstdio>

#include "foundation/CVNLogController.h"
#include "media/decoders/CVNDecoder.h"
#include "media/validation/CVNEngineValidation.h"

namespace media {

namespace pm = platform::media;

namespace {

bool isUsableFrameRate(double fps) { return std::isfinite(fps) && fps > 0 && fps <= 1000; }

}  // namespace

DecompressionSessionServices DecompressionSessionServices::standard() {
  return {[](const CVNAssetReader& reader) { return CVNDecoder::copyDecoderForAsset(reader); },
          [](const std::string& name) -> std::unique_ptr<SessionAudio> {
            return std::make_unique<EngineSessionAudio>(name);
          }};
}

CVNDecompressionSession::CVNDecompressionSession(std::shared_ptr<CVNAssetReader> asset, DelegateRef delegate,
                                                 std::shared_ptr<platform::DispatchQueue> delegateQueue,
                                                 DecompressionSessionServices services)
    : CVNSessionBase(std::move(delegate), std::move(delegateQueue)),
      asset_(std::move(asset)),
      services_(std::move(services)),
      readingQueue_(std::make_unique<platform::SerialQueue>(kReadingQueueLabel)),
      decodingQueue_(std::make_unique<platform::SerialQueue>(kDecodingQueueLabel)) {
  allowedReadAhead_ = pm::MediaTime::make(static_cast<std::int64_t>(std::lround(readAheadBufferInSeconds())), 1);
  if (asset_ && services_.makeAudio) audioEngine_ = services_.makeAudio(asset_->sourceDescription());
}

std::shared_ptr<CVNDecompressionSession> CVNDecompressionSession::create(
    std::shared_ptr<CVNAssetReader> asset, DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> delegateQueue,
    DecompressionSessionServices services) {
  std::shared_ptr<CVNDecompressionSession> session(
      new CVNDecompressionSession(std::move(asset), std::move(delegate), std::move(delegateQueue), std::move(services)));
  session->examineAsset();
  return session;
}

std::shared_ptr<CVNDecompressionSession> CVNDecompressionSession::createWithMediaURL(
    const MediaURL& url, const std::optional<std::string>& sourceDescription, DelegateRef delegate,
    std::shared_ptr<platform::DispatchQueue> delegateQueue, DecompressionSessionServices services) {
  return create(CVNAssetReader::assetReaderWithMediaURL(url, sourceDescription), std::move(delegate),
                std::move(delegateQueue), std::move(services));
}

CVNDecompressionSession::~CVNDecompressionSession() {
  shouldRead_.store(0);
  shouldDecode_.store(0);
  wakeReadingLoop();
  // The queues go first: their threads may still finish a block, which finds
  // the session gone.
  readingQueue_.reset();
  decodingQueue_.reset();
  if (decoder_) decoder_->invalidate();
}

std::weak_ptr<CVNDecompressionSession> CVNDecompressionSession::weakSelf() {
  return std::static_pointer_cast<CVNDecompressionSession>(shared_from_this());
}

void CVNDecompressionSession::examineAsset() {
  if (!asset_) {
    setValidationErrorReasonString(std::string("Failed to create AssetReader"));
    setContent(kContentNothing);
    setStatus(kSessionStatusInitialized);
    return;
  }
  asset_->loadInfoWithMetadata(false, [weak = weakSelf()] {
    if (const auto self = weak.lock()) self->didExamineAsset();
  });
}

void CVNDecompressionSession::didExamineAsset() {
  const double fps = asset_->frameRateAsCMTime().seconds();
  if (!asset_->isValid()) {
    setValidationErrorReasonString(CVNEngineValidation::stringFromValidationErrorReason(asset_->validationError()));
    setContent(kContentNothing);
  } else if (asset_->assetType() != kAssetTypeSound && !isUsableFrameRate(fps)) {
    // A damaged file's rate must not size pools, rings or read-aheads.
    refusedFrameRate_.store(true);
    setValidationErrorReasonString("Invalid frame rate (" + std::to_string(fps) + " fps)");
    setContent(kContentNothing);
  } else if (asset_->assetType() != kAssetTypeOther) {
    setContent(asset_->numberOfAudioTracks() > 0 ? kContentVideoAndAudio : kContentVideoOnly);
  }
  setStatus(kSessionStatusInitialized);
}

std::string CVNDecompressionSession::stringFromStatus(std::int32_t status) {
  static const char* const kNames[] = {"Initializing", "Initialized",           "Buffering",
                                       "Reading",      "FinishedReading",       "FinishedDecompressing",
                                       "FinishedPlaying", "Idle",               "Aborted"};
  if (status < 1 || status > 9) return "Closed";
  return kNames[status - 1];
}

std::uint64_t CVNDecompressionSession::pixelBufferPoolSize(double decodeAheadSeconds, double framesPerSecond) {
  const double fps = std::isfinite(framesPerSecond) ? std::clamp(framesPerSecond, 1.0, 120.0) : 1.0;
  const double seconds = std::isfinite(decodeAheadSeconds) ? std::clamp(decodeAheadSeconds, 0.0, 60.0) : 0.0;
  return static_cast<std::uint64_t>(std::ceil(seconds * fps)) + 20;
}

std::uint64_t CVNDecompressionSession::audioRingByteCount(double readAheadSeconds,
                                                          const pm::AudioStreamBasicDescription& format) {
  return static_cast<std::uint64_t>(3 * readAheadSeconds * format.sampleRate * format.bytesPerPacket);
}

// Forwarding to the asset.

std::int64_t CVNDecompressionSession::numberOfAudioChannels() const {
  return asset_ ? asset_->numberOfAudioChannels() : 0;
}
bool CVNDecompressionSession::isDropFrame() const { return asset_ && asset_->isDropFrame(); }
std::int32_t CVNDecompressionSession::firstFrameNumber() const { return asset_ ? asset_->firstFrameNumber() : 0; }
void CVNDecompressionSession::setStartPositionInSeconds(double seconds) {
  if (asset_) asset_->setStartPositionInSeconds(seconds);
}
void CVNDecompressionSession::setInPointInSeconds(double seconds) {
  if (asset_) asset_->setInPointInSeconds(seconds);
}
void CVNDecompressionSession::setOutPointInSeconds(double seconds) {
  if (asset_) asset_->setOutPointInSeconds(seconds);
}
pm::MediaTime CVNDecompressionSession::frameRateAsCMTime() const {
  return asset_ ? asset_->frameRateAsCMTime() : pm::MediaTime::zero();
}
pm::FormatDescriptionRef CVNDecompressionSession::closedCaptionFormatDescription() const {
  return asset_ ? asset_->closedCaptionFormatDescription() : nullptr;
}
bool CVNDecompressionSession::isValid() const { return asset_ && asset_->isValid() && !refusedFrameRate_.load(); }
std::int32_t CVNDecompressionSession::diskReadPerformanceCpt() { return asset_ ? asset_->diskReadPerformanceCpt() : 0; }
double CVNDecompressionSession::diskReadPerformanceElapsedTime() {
  return asset_ ? asset_->diskReadPerformanceElapsedTime() : 0.0;
}

std::int32_t CVNDecompressionSession::decompressionPerformanceCpt() {
  std::lock_guard guard(performanceSync_);
  return std::exchange(decompressionPerformanceCpt_, 0);
}

double CVNDecompressionSession::decompressionPerformanceElapsedTime() {
  std::lock_guard guard(performanceSync_);
  return std::exchange(decompressionPerformanceElapsedTime_, 0.0);
}

void CVNDecompressionSession::setOutputVolume(double volume) {
  // The engine belongs to the reading queue once buffering started.
  readingQueue_->async([weak = weakSelf(), volume] {
    const auto self = weak.lock();
    if (self && self->audioEngine_) self->audioEngine_->setOutputVolume(volume);
  });
}

void CVNDecompressionSession::setDuration(pm::MediaTime duration) {
  CVNSessionBase::setDuration(duration);
  if (asset_) asset_->setDuration(duration);
  if (status() >= kSessionStatusBuffering) {
    const auto position = playbackPTS();
    if (position.isValid() && duration.isValid() && pm::compare(position, duration) > 0) {
      setPlaybackPTS(duration.convertScale(position.timeScale, pm::MediaTimeRoundingMethod::RoundHalfAwayFromZero));
    }
  }
}

void CVNDecompressionSession::setOutputFrameDuration(pm::MediaTime duration) {
  CVNSessionBase::setOutputFrameDuration(duration);
  sameFrameRate_.store(pm::compare(duration, naturalFrameDuration()) == 0);
}

std::string CVNDecompressionSession::shortDescription() const {
  if (!asset_) return {};
  const auto& url = asset_->fileURL();
  return url.path().filename().string();
}

std::string CVNDecompressionSession::debugDescription() const {
  char text[256];
  std::snprintf(text, sizeof text,
                "\nFrames read: %lld\nAllowed buffer: %0.1f\nThread status - Read: %i - Decode: %i\nDecompression status: %i",
                static_cast<long long>(numberOfFramesRead_.load()), allowedReadAheadDuration().seconds(),
                static_cast<int>(shouldRead_.load()), static_cast<int>(shouldDecode_.load()), static_cast<int>(status()));
  return text;
}

// Statuses.

void CVNDecompressionSession::setStatus(std::int32_t status) {
  std::int32_t old = CVNSessionBase::status();
  do {
    if (old == kSessionStatusAborted) return;
  } while (!compareExchangeStatus(old, status));
  if (status <= old || status >= kSessionStatusIdle) return;  // stop and discard tell nobody
  if (!delegateQueue()) return;
  delegateQueue()->async([weak = weak_from_this(), old, status] {
    const auto self = weak.lock();
    if (!self) return;
    const auto delegate = self->delegate();
    if (!delegate) return;
    for (std::int32_t crossed = old + 1; crossed <= status; ++crossed) {
      if (crossed == kSessionStatusInitialized) delegate->decompressionSessionDidInitialize(*self);
      if (crossed == kSessionStatusFinishedReading) delegate->decompressionSessionDidReadAllFrames(*self);
      if (crossed == kSessionStatusFinishedDecompressing) delegate->decompressionSessionDidDecompressAllFrames(*self);
    }
  });
}

}  // namespace media
