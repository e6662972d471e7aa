#include "media/preview/CVNDecompressionSessionPlayerView.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "foundation/CVNLogController.h"
#include "foundation/CVNTimeCodeUtility.h"
#include "media/live/CVNZiraInputSession.h"
#include "media/live/CVNZiraSource.h"
#include "media/live/CVNZiraSourceController.h"
#include "media/preview/PulseAudioPreviewStream.h"
#include "media/readers/MediaURL.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "pluginframework/CVNTimeValue.h"
#include "pluginframework/CVNVideoInput.h"

namespace media {

namespace pm = platform::media;

namespace {

constexpr double kScrubTolerance = 0.01;
constexpr double kAudioRate = 48000.0;

// The largest size of `size`'s aspect inside 640 x 480.
foundation::Size fittedDecodeSize(foundation::Size size) {
  if (size.width <= 0 || size.height <= 0) return {640.0, 480.0};
  const double scale = std::min(640.0 / size.width, 480.0 / size.height);
  return {size.width * scale, size.height * scale};
}

}  // namespace

PlayerViewServices PlayerViewServices::standard() {
  PlayerViewServices services;
  services.makeFileSession = [](const std::string& path, const std::string& description, DelegateRef delegate,
                                QueueRef queue) -> std::shared_ptr<CVNSessionBase> {
    return CVNDecompressionSession::createWithMediaURL(MediaURL::fileURLWithPath(path), description,
                                                       std::move(delegate), std::move(queue));
  };
  services.makeLiveSession = [](std::shared_ptr<CVNZiraSource> source, DelegateRef delegate,
                                QueueRef queue) -> std::shared_ptr<CVNSessionBase> {
    return CVNZiraInputSession::create(std::move(source), std::move(delegate), std::move(queue));
  };
  services.sourceWithName = [](const std::string& name) {
    return CVNZiraSourceController::sharedZiraSourceController().sourceWithName(name);
  };
  services.audioStreams = PulseAudioPreviewStream::factory();
  // The main queue lives for the process.
  services.mainQueue = QueueRef(QueueRef(), &platform::DispatchQueue::main());
  return services;
}

// The session's delegate: sessions hold their delegate weakly, the view owns this.
class CVNDecompressionSessionPlayerView::SessionDelegate final : public CVNDecompressionSessionDelegate {
 public:
  explicit SessionDelegate(CVNDecompressionSessionPlayerView& view) : view_(view) {}
  void decompressionSessionDidInitialize(CVNSessionBase& session) override { view_.sessionDidInitialize(session); }
  void decompressionSessionIsReadyForPlayback(CVNSessionBase& session) override {
    view_.sessionIsReadyForPlayback(session);
  }
  void decompressionSessionDidReadAllFrames(CVNSessionBase& session) override { view_.sessionStoppedScrubbing(session); }
  void decompressionSessionDidDecompressAllFrames(CVNSessionBase& session) override {
    view_.sessionStoppedScrubbing(session);
  }
  bool shouldInverseFieldOrder() override { return false; }

 private:
  CVNDecompressionSessionPlayerView& view_;
};

CVNDecompressionSessionPlayerView::CVNDecompressionSessionPlayerView(SampleBufferDisplay* display,
                                                                     PlayerViewServices services)
    : display_(display),
      services_(std::move(services)),
      sessionDelegate_(std::make_shared<SessionDelegate>(*this)),
      self_(std::make_shared<CVNDecompressionSessionPlayerView*>(this)),
      audioPreview_(services_.audioStreams),
      displayQueue_(std::make_unique<platform::SerialQueue>(kDisplayQueueLabel)) {}

CVNDecompressionSessionPlayerView::~CVNDecompressionSessionPlayerView() {
  *self_ = nullptr;
  {
    const std::lock_guard lock(mutex_);
    setSessionLocked(nullptr);
  }
  // A tick already waiting for the lock finds the timer stopped; then the queue ends.
  displayQueue_.reset();
}

void CVNDecompressionSessionPlayerView::setItemURL(const std::string& path, double startPosition,
                                                   CompletionHandler handler) {
  const std::lock_guard lock(mutex_);
  pauseLocked();
  itemInitializedHandler_ = std::move(handler);
  const std::string name = std::filesystem::path(path).stem().string();
  // Every call builds a new session, also for the file already shown.
  auto session = services_.makeFileSession(path, "Inspector - Clip '" + name + "'", sessionDelegate_,
                                           services_.mainQueue);
  if (session) session->setShouldProduceGlobalIOSurface(false);
  setSessionLocked(std::move(session));
  startPositionInSeconds_ = startPosition;
  ziraSource_.reset();
}

void CVNDecompressionSessionPlayerView::setZiraSourceName(const std::string& name, CompletionHandler handler) {
  const std::lock_guard lock(mutex_);
  auto source = services_.sourceWithName ? services_.sourceWithName(name) : nullptr;
  if (!forceNewSessionCreation_ && source && source == ziraSource_) return;
  const bool restart = forceNewSessionCreation_ && (timerActivated_ || shouldStartWhenReadyForPlayback_);
  pauseLocked();
  itemInitializedHandler_ = std::move(handler);
  auto session = services_.makeLiveSession(source, sessionDelegate_, services_.mainQueue);
  if (session) {
    session->setShouldProduceGlobalIOSurface(false);
    const auto input = source ? source->input() : nullptr;
    const auto mode = input ? input->selectedDisplayMode() : nullptr;
    session->setOutputFrameDuration(mode ? mode->frameDurationAsCMTime() : pm::MediaTime::zero());
  }
  setSessionLocked(std::move(session));
  shouldStartWhenReadyForPlayback_ = restart;
  ziraSource_ = std::move(source);
}

void CVNDecompressionSessionPlayerView::setSessionLocked(std::shared_ptr<CVNSessionBase> session) {
  suspendTimerLocked();
  if (display_) display_->flushAndRemoveImage();
  if (session_) {
    session_->discard();
    session_->setDelegate({});
    session_.reset();
    audioPreview_.destroyAudioPreviewQueue();
  }
  setIsPlayingLocked(false);
  isScrubbing_ = shouldStartWhenReadyForPlayback_ = shouldSkipOneFrame_ = false;
  preciseScrubRequested_ = scrubbingPrecisely_ = false;
  requestedScrubTime_ = -1.0;
  startPositionInSeconds_ = 0;
  interval_.reset();
  session_ = std::move(session);
  if (!session_) return;
  session_->setReadAheadBufferInSeconds(kReadAheadSeconds);
  session_->setDisplayName("Clip Inspector Preview - " + session_->shortDescription());
}

double CVNDecompressionSessionPlayerView::framesPerSecondLocked() const {
  return session_ ? session_->frameRateAsCMTime().seconds() : 0.0;
}

void CVNDecompressionSessionPlayerView::sessionDidInitialize(CVNSessionBase& session) {
  CompletionHandler handler;
  {
    const std::lock_guard lock(mutex_);
    if (&session != session_.get()) return;
    frameCount_ = 0;
    const double fps = framesPerSecondLocked();
    if (session.isValid() && fps > 0 && fps <= kMaximumFramesPerSecond) {
      interval_ = std::chrono::nanoseconds(static_cast<std::uint64_t>(1e9 / fps));
      const auto asset = session.asset();
      const std::int32_t type = asset ? asset->assetType() : kAssetTypeOther;
      session.setDecompressSize(type == kAssetTypeSound ? foundation::Size{640.0, 480.0}
                                                        : fittedDecodeSize(session.displaySize()));
      if (type == kAssetTypeImage || type == kAssetTypeSound || type == kAssetTypeZiraStream) {
        session.setOutputFrameDuration(outputFrameDuration_);
      }
      if (const auto channels = session.numberOfAudioChannels(); channels > 0) {
        asbd_ = previewAudioFormat(static_cast<std::uint32_t>(channels));
        session.setOutputAudioStreamBasicDescription(asbd_);
        audioPreview_.setPreferedAudioSamplesPerAudioBuffer(static_cast<std::int32_t>(std::ceil(kAudioRate / fps)));
        audioPreview_.configureAudioPreviewWithAudioStreamBasicDescription(asbd_);
      }
      if (startPositionInSeconds_ > 0) session.setStartPositionInSeconds(startPositionInSeconds_);
      session.setAllowedBufferPercentage(1.0);
      session.startBuffering();
    }
    handler = itemInitializedHandler_;
  }
  if (handler) handler();
}

void CVNDecompressionSessionPlayerView::sessionIsReadyForPlayback(CVNSessionBase& session) {
  const std::lock_guard lock(mutex_);
  if (&session != session_.get()) return;
  if (!itemIsZira()) {
    if (auto head = session.videoBufferHead()) {
      setSampleBufferLocked(head);
      shouldSkipOneFrame_ = true;
    }
    if (isScrubbing_) {
      session.setAllowedBufferPercentage(1.0);
      isScrubbing_ = false;
      postPositionChanged(currentTimeLocked());
      // A request that arrived meanwhile, earlier or later, is carried out.
      if (std::fabs(requestedScrubTime_ - scrubbingTime_) > kScrubTolerance && requestedScrubTime_ >= 0) {
        seekLocked(requestedScrubTime_, requestedScrubTime_ < scrubbingTime_);
      } else {
        scrubbingTime_ = -1.0;
        scrubbingPrecisely_ = false;
        requestedScrubTime_ = -1.0;
        preciseScrubRequested_ = false;
        session.setAllowedBufferPercentage(1.0);
      }
    }
  }
  if (!isScrubbing_ && shouldStartWhenReadyForPlayback_) playLocked();
}

void CVNDecompressionSessionPlayerView::sessionStoppedScrubbing(CVNSessionBase& session) {
  const std::lock_guard lock(mutex_);
  if (&session == session_.get()) isScrubbing_ = false;
}

bool CVNDecompressionSessionPlayerView::isPlayable() const {
  const std::lock_guard lock(mutex_);
  return session_ && session_->isValid() && interval_.has_value();
}

double CVNDecompressionSessionPlayerView::itemDuration() const {
  const std::lock_guard lock(mutex_);
  return session_ ? session_->playbackDuration().seconds() : 1.0;
}

void CVNDecompressionSessionPlayerView::setItemDuration(double seconds) {
  const std::lock_guard lock(mutex_);
  if (!session_) return;
  const auto timescale = static_cast<std::int32_t>(session_->frameRateAsCMTime().value);
  if (timescale > 0) session_->setDuration(pm::MediaTime::makeWithSeconds(seconds, timescale));
}

void CVNDecompressionSessionPlayerView::setItemOutPoint(double seconds) {
  const std::lock_guard lock(mutex_);
  if (session_) session_->setOutPointInSeconds(seconds);
}

pm::MediaTime CVNDecompressionSessionPlayerView::itemFrameDuration() const {
  const std::lock_guard lock(mutex_);
  return session_ ? session_->naturalFrameDuration() : pm::MediaTime::zero();
}

bool CVNDecompressionSessionPlayerView::itemIsDropFrame() const {
  const std::lock_guard lock(mutex_);
  return session_ && session_->isDropFrame();
}

std::optional<std::int32_t> CVNDecompressionSessionPlayerView::firstTCFrameNumber() const {
  const std::lock_guard lock(mutex_);
  return session_ ? session_->firstFrameNumber() : 0;
}

pm::MediaTime CVNDecompressionSessionPlayerView::currentTime() const {
  const std::lock_guard lock(mutex_);
  return currentTimeLocked();
}

pm::MediaTime CVNDecompressionSessionPlayerView::currentTimeLocked() const {
  return session_ ? session_->elapsedTime() : pm::MediaTime::make(0, 1);
}

void CVNDecompressionSessionPlayerView::play() {
  const std::lock_guard lock(mutex_);
  playLocked();
}

void CVNDecompressionSessionPlayerView::playLocked() {
  setIsPlayingLocked(!isScrubbing_);
  shouldStartWhenReadyForPlayback_ = true;
  shouldSkipOneFrame_ = false;
}

void CVNDecompressionSessionPlayerView::pause() {
  const std::lock_guard lock(mutex_);
  pauseLocked();
}

void CVNDecompressionSessionPlayerView::pauseLocked() {
  setIsPlayingLocked(false);
  shouldStartWhenReadyForPlayback_ = false;
}

void CVNDecompressionSessionPlayerView::togglePlayPause() {
  const std::lock_guard lock(mutex_);
  if (timerActivated_) {
    pauseLocked();
    return;
  }
  if (session_ && session_->isFinishedPlaying()) seekLocked(0.0, true);
  playLocked();
}

void CVNDecompressionSessionPlayerView::setRate(float rate) {
  if (rate > 0) {
    play();
  } else {
    pause();
  }
}

float CVNDecompressionSessionPlayerView::rate() const { return isPlaying() ? 1.0f : 0.0f; }

bool CVNDecompressionSessionPlayerView::isPlaying() const {
  const std::lock_guard lock(mutex_);
  return timerActivated_;
}

bool CVNDecompressionSessionPlayerView::isFinishedPlaying() const {
  const std::lock_guard lock(mutex_);
  return session_ && session_->isFinishedPlaying();
}

void CVNDecompressionSessionPlayerView::setVolume(double volume) {
  const std::lock_guard lock(mutex_);
  if (session_) session_->setOutputVolume(volume);
}

void CVNDecompressionSessionPlayerView::setOutputFrameDuration(pm::MediaTime duration) {
  const std::lock_guard lock(mutex_);
  if (duration.isValid() && duration.value > 0) outputFrameDuration_ = duration;
}

void CVNDecompressionSessionPlayerView::viewDidHide() {
  const std::lock_guard lock(mutex_);
  suspendTimerLocked();
}

bool CVNDecompressionSessionPlayerView::itemIsZira() const {
  return dynamic_cast<const CVNZiraInputSession*>(session_.get()) != nullptr;
}

bool CVNDecompressionSessionPlayerView::itemIsStreamClip() const {
  const std::lock_guard lock(mutex_);
  const auto* file = dynamic_cast<const CVNDecompressionSession*>(session_.get());
  return file && CVNDecompressionSession::isZiraStreamingAssetAndSeekable(file->asset().get());
}

bool CVNDecompressionSessionPlayerView::itemIsStreamZira() const {
  const std::lock_guard lock(mutex_);
  return isLiveStreamWithoutSeeking();
}

bool CVNDecompressionSessionPlayerView::isLiveStreamWithoutSeeking() const {
  const auto* file = dynamic_cast<const CVNDecompressionSession*>(session_.get());
  if (!file || !file->asset()) return false;
  return file->asset()->assetType() == kAssetTypeZiraStream &&
         !CVNDecompressionSession::isZiraStreamingAssetAndSeekable(file->asset().get());
}

void CVNDecompressionSessionPlayerView::seekToTime(double seconds, bool precisely, bool backwards) {
  const std::lock_guard lock(mutex_);
  if (!session_) return;
  if (itemIsZira()) {
    session_->scrubToTime(seconds, !precisely, scrubbingPrecisely_, backwards);
    postPositionChanged(currentTimeLocked());
    return;
  }
  seekLocked(seconds, backwards);
}

void CVNDecompressionSessionPlayerView::seekLocked(double seconds, bool backwards) {
  // Before buffering there is nothing to seek in.
  if (!session_ || session_->status() < kSessionStatusBuffering) return;
  requestedScrubTime_ = seconds;
  const bool startWhenReady = shouldStartWhenReadyForPlayback_;
  pauseLocked();
  shouldStartWhenReadyForPlayback_ = startWhenReady;

  const double fps = framesPerSecondLocked();
  const auto frameOf = [fps](double time) {
    return pluginframework::CVNTimeValue::timeValueWithSeconds(time, fps, false).frameNumber();
  };
  const auto delta = static_cast<std::int32_t>(frameOf(seconds) - frameOf(currentTimeLocked().seconds()));
  if (delta > 0 && session_->decodeAheadFrameCount() >= delta) {
    if (isLiveStreamWithoutSeeking()) return;
    if (shouldSkipOneFrame_) {
      session_->nextVideoSampleBuffer();
      shouldSkipOneFrame_ = false;
    }
    for (std::int32_t i = 0; i < delta; ++i) retrieveNextBufferLocked();
    return;
  }
  preciseScrubRequested_ = true;
  if (isScrubbing_) return;  // the ready callback picks the request up
  if (std::fabs(currentTimeLocked().seconds() - seconds) > kScrubTolerance) {
    scrubbingPrecisely_ = true;
    scrubbingTime_ = seconds;
    isScrubbing_ = true;
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        3, false, "Timeline Inspector: Scrub to time %f %s", seconds, "P");
    // File items are always scrubbed precisely.
    session_->scrubToTime(seconds, false, true, backwards);
  } else {
    preciseScrubRequested_ = false;
    requestedScrubTime_ = -1.0;
  }
}

void CVNDecompressionSessionPlayerView::onTick() {
  const std::lock_guard lock(mutex_);
  // A tick that waited for the lock while the timer was being stopped.
  if (!timerActivated_) return;
  retrieveNextBufferLocked();
}

void CVNDecompressionSessionPlayerView::retrieveNextBufferLocked() {
  if (!session_) return;
  if (auto frame = session_->nextVideoSampleBuffer()) {
    if (audioPreview_.isConfigured()) {
      const auto rate = session_->frameRateAsCMTime();
      const auto frameDuration = pm::MediaTime::make(rate.timeScale, static_cast<std::int32_t>(rate.value));
      const auto samples = static_cast<std::uint32_t>(foundation::CVNTimeCodeUtility::audioSamplesPerFrameForFrameDuration(
          frameDuration, static_cast<std::uint64_t>(frameCount_++)));
      const std::uint8_t* bytes = session_->nextAudioSamples(samples);
      if (timerActivated_ && bytes) audioPreview_.addPointer(bytes, std::size_t{samples} * asbd_.bytesPerPacket);
    }
    setSampleBufferLocked(frame);
  } else if (session_->isFinishedPlaying()) {
    setIsPlayingLocked(false);
    frameCount_ = 0;
    audioPreview_.stop();
  }
}

void CVNDecompressionSessionPlayerView::setSampleBufferLocked(const pm::SampleBufferRef& frame) {
  frame->createSampleAttachmentsIfNeeded();
  frame->setSampleAttachment(0, pm::kSampleAttachmentKeyDisplayImmediately, platform::Value(true));
  if (display_) display_->enqueueSampleBuffer(frame);
  postPositionChanged(currentTimeLocked());
}

void CVNDecompressionSessionPlayerView::setIsPlayingLocked(bool playing) {
  if (playing) {
    resumeTimerLocked();
  } else {
    suspendTimerLocked();
  }
}

void CVNDecompressionSessionPlayerView::resumeTimerLocked() {
  if (timerActivated_) return;
  if (interval_) {
    timer_ = platform::Timer::scheduled(*displayQueue_, *interval_, platform::Timer::Mode::Repeating,
                                        [this] { onTick(); });
  }
  audioPreview_.start();
  timerActivated_ = true;
  postStatusChanged(CVNPlayerViewDelegate::kPlaying);
}

void CVNDecompressionSessionPlayerView::suspendTimerLocked() {
  if (!timerActivated_) return;
  if (timer_) timer_->invalidate();
  timer_.reset();
  audioPreview_.pause();
  timerActivated_ = false;
  postStatusChanged(CVNPlayerViewDelegate::kPaused);
}

std::optional<std::chrono::nanoseconds> CVNDecompressionSessionPlayerView::displayInterval() const {
  const std::lock_guard lock(mutex_);
  return interval_;
}

foundation::Size CVNDecompressionSessionPlayerView::decompressSize() const {
  const std::lock_guard lock(mutex_);
  return session_ ? session_->decompressSize() : foundation::Size{};
}

void CVNDecompressionSessionPlayerView::postPositionChanged(pm::MediaTime position) {
  postToMain([position](CVNDecompressionSessionPlayerView& view) {
    if (view.playerViewDelegate_) view.playerViewDelegate_->playerViewPositionChanged(view, position);
  });
}

void CVNDecompressionSessionPlayerView::postStatusChanged(std::int32_t status) {
  postToMain([status](CVNDecompressionSessionPlayerView& view) {
    if (view.playerViewDelegate_) view.playerViewDelegate_->playerViewStatusChanged(view, status);
  });
}

void CVNDecompressionSessionPlayerView::postToMain(std::function<void(CVNDecompressionSessionPlayerView&)> call) {
  std::weak_ptr<CVNDecompressionSessionPlayerView*> guard = self_;
  services_.mainQueue->async([guard, call = std::move(call)] {
    const auto self = guard.lock();
    if (self && *self) call(**self);
  });
}

}  // namespace media
