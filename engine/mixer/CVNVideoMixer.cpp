#include "engine/mixer/CVNVideoMixer.h"

#include <cstdio>

#include "engine/CVNEngineBase.h"
#include "engine/items/transitions/TransitionItemFactory.h"
#include "engine/mixer/QueuePlayerPixelRenderer.h"
#include "engine/mixer/VideoMixerRun.h"
#include "foundation/CVNLogController.h"
#include "pluginframework/CVNTimeValue.h"

namespace engine::mixer {
namespace {

constexpr platform::media::FourCharCode k2vuy = 0x32767579;  // '2vuy'
constexpr platform::media::FourCharCode kBGRA = 0x42475241;  // 'BGRA'
constexpr platform::media::FourCharCode kRGBA = 0x52474241;  // 'RGBA'
constexpr platform::media::FourCharCode kV210 = 0x76323130;  // 'v210'

}  // namespace

platform::Clock::Duration CVNVideoMixer::Run::frameDuration() const {
  const double seconds = static_cast<double>(displayMode->frameDuration()) / displayMode->timeScale();
  return std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(seconds));
}

std::shared_ptr<CVNVideoMixer> CVNVideoMixer::create() {
  return std::shared_ptr<CVNVideoMixer>(new CVNVideoMixer());
}

CVNVideoMixer::CVNVideoMixer()
    : renderingQueue_(std::make_shared<platform::SerialQueue>("com.dirarovazovo.videoMixer.renderingQueue")) {}

CVNVideoMixer::~CVNVideoMixer() {
  if (isRunning()) stopMixer();
}

bool CVNVideoMixer::isBufferFormatAccepted(platform::media::FourCharCode format) {
  return format == k2vuy || format == kBGRA || format == kRGBA || format == kV210;
}

std::string CVNVideoMixer::descriptionForBufferFormat(platform::media::FourCharCode format) {
  switch (format) {
    case k2vuy: return "2vuy 8-bit";
    case kBGRA: return "BGRA";
    case kRGBA: return "RGBA";
    case kV210: return "yuv 10-bit";
    case kFormatNotSpecified: return "Format not specified";
    default: return std::to_string(static_cast<std::int32_t>(format));
  }
}

void CVNVideoMixer::setProjectPlaybackController(std::shared_ptr<CVNCGProjectsPlaybackController> controller) {
  projectPlaybackController_ = std::move(controller);
}

void CVNVideoMixer::setCompositionRenderer(std::shared_ptr<CVNCGCompositionRenderer> renderer) {
  compositionRenderer_ = std::move(renderer);
}

void CVNVideoMixer::setShouldHoldBlackFrameInsteadOfLastFrame(bool value) {
  shouldHoldBlackFrameInsteadOfLastFrame_ = value;
  if (const auto player = mainQueuePlayer()) player->setShouldHoldBlackFrameInsteadOfLastFrame(value);
}

void CVNVideoMixer::setSelectedOutput(std::shared_ptr<pluginframework::CVNVideoOutput> output) {
  selectedOutput_ = std::move(output);
  if (!selectedOutput_) return;
  setDisplayMode(selectedOutput_->selectedDisplayMode());
  if (selectedOutput_->keyingMode() != 0) graphicContext_.setTransparent(true);
}

void CVNVideoMixer::setDisplayMode(const DisplayModeRef& mode) {
  {
    const std::lock_guard lock(displayModeLock_);
    if (mode == displayMode_) return;
    displayMode_ = mode ? std::make_shared<const pluginframework::CVNDisplayMode>(*mode) : nullptr;
  }
  if (!mode) return;
  std::int32_t width = mode->width();
  if (selectedOutput_ && selectedOutput_->force169()) {
    if (mode->height() == 576) width = 1024;
    if (mode->height() == 486) width = 854;
  }
  displayWidth_ = width;
  graphicContext_.setViewSize({static_cast<double>(width), static_cast<double>(mode->height())});
  graphicContext_.setOutputSize({static_cast<double>(mode->width()), static_cast<double>(mode->height())});
  if (mode->width() > 0) graphicContext_.setHorizontalZoomValue(static_cast<double>(width) / mode->width());
}

CVNVideoMixer::DisplayModeRef CVNVideoMixer::displayMode() const {
  const std::lock_guard lock(displayModeLock_);
  return displayMode_;
}

bool CVNVideoMixer::interlaced() const {
  const auto mode = displayMode();
  return !mode || mode->fieldDominance() != pluginframework::FieldDominance::Progressive;
}

std::shared_ptr<CVNVideoMixer::Run> CVNVideoMixer::currentRun() const {
  const std::lock_guard lock(runLock_);
  return run_;
}

std::shared_ptr<queueplayer::CVNQueuePlayer> CVNVideoMixer::mainQueuePlayer() const {
  const auto run = currentRun();
  return run ? run->player : nullptr;
}

std::optional<std::string> CVNVideoMixer::fail(const std::string& message) const {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(0, true, message);
  return message;
}

void CVNVideoMixer::setupSilenceBuffers(std::uint32_t bytesPerFrame) {
  silenceAudioBuffer_ = std::make_shared<std::vector<std::uint8_t>>(std::size_t{kSilenceFrames} * bytesPerFrame, 0);
  const std::uint64_t ringBytes = kAudioRingFrames * bytesPerFrame;
  if (!circularAudioBuffer_ || circularAudioBuffer_->byteCapacity() != ringBytes)
    circularAudioBuffer_ = std::make_shared<media::CVNCircularBuffer>("VideMixer", ringBytes);
}

std::optional<std::string> CVNVideoMixer::startMixer() {
  if (isRunning()) return fail("VideoMixer must be stopped before starting it again");
  if (!selectedOutput_) return fail("No selected output");
  if (!mainQueueDelegate_.load()) return fail("Video Mixer has no Delegate for MainQueue");
  const auto* engine = delegate_.load();
  const auto asbd = engine ? engine->engineASBD() : platform::media::AudioStreamBasicDescription{};
  // A zero format would give frames without room for their audio.
  if (asbd.bytesPerFrame == 0) return fail("VideoMixer: the engine audio format is not set");

  setupSilenceBuffers(asbd.bytesPerFrame);
  setDisplayMode(selectedOutput_->selectedDisplayMode());
  const auto keying = selectedOutput_->keyingMode();
  graphicContext_.setPremultipliedAlpha(keying == 1 || keying == 2 ? selectedOutput_->premultipliedAlpha() : true);
  const auto mode = displayMode();
  if (!mode) return fail("DisplayMode Invalid");
  textureWidth_ = mode->width();
  textureHeight_ = mode->height();
  bufferFormat_ = selectedOutput_->bufferFormat();
  graphicContext_.setTransparent(bufferFormat_ == kRGBA || bufferFormat_ == kBGRA);
  if (textureWidth_ < 1 || textureHeight_ < 1 || !isBufferFormatAccepted(bufferFormat_))
    return fail("Invalid DisplayMode/BufferFormat: " + pluginframework::CVNDisplayMode::descriptionForDisplayMode(mode.get()) +
                " " + descriptionForBufferFormat(bufferFormat_));

  auto run = std::make_shared<Run>();
  run->displayMode = mode;
  run->output = selectedOutput_;
  run->nextRenderTime = platform::media::MediaTime::make(0, mode->timeScale());
  run->silence = silenceAudioBuffer_;
  run->audioRing = circularAudioBuffer_;
  run->audioBytesPerFrame = asbd.bytesPerFrame;
  if (const auto error = setUpRun(run)) return fail(*error);

  {
    const std::lock_guard lock(processingFrameCountLock_);
    processingFrameCount_ = 0;
  }
  {
    const std::lock_guard lock(runLock_);
    run_ = run;
  }
  isRunning_ = true;

  // Prime the queue; a render that cannot finish within the limit fails the start.
  for (int i = 0; i < kPrimedFrames; ++i) renderNextFrame();
  for (int i = 0; i < kPrimedFrames; ++i) {
    if (!run->renderingSemaphore.wait(kPrimingTimeout)) {
      stopMixer();
      return fail("VideoMixer: the first frames could not be rendered in time");
    }
  }
  for (int i = 0; i < kPrimedFrames; ++i) run->renderingSemaphore.signal();
  return std::nullopt;
}

std::optional<std::string> CVNVideoMixer::setUpRun(const std::shared_ptr<Run>& run) {
  const auto& mode = *run->displayMode;
  platform::media::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = bufferFormat_;
  attributes.width = static_cast<std::size_t>(textureWidth_);
  attributes.height = static_cast<std::size_t>(textureHeight_);
  attributes.shareable = true;
  if (platform::media::PixelBufferPool::create(attributes, &run->pool) != platform::media::kCVReturnSuccess)
    return "Unable to create Pixel Buffer Pool";
  platform::media::CVReturn status = platform::media::kCVReturnSuccess;
  run->emptyPixelBuffer = CVNEngineBase::createEmptyPixelBufferWithSize(
      {static_cast<double>(textureWidth_), static_cast<double>(textureHeight_)}, bufferFormat_, true, &status);
  if (!run->emptyPixelBuffer) {
    char message[96];
    std::snprintf(message, sizeof message, "VideoMixer: Error: Failed to create empty pixelBuffer with err: %i", status);
    return std::string(message);
  }
  const auto zero = pluginframework::CVNTimeValue::initWithFrameNumber(0, mode.frameRate(), true);
  run->emptyTimecode = zero.createTimecodeSampleBufferWithPTS(platform::media::MediaTime::make(0, mode.timeScale()),
                                                              zero.createTimecodeFormatDescription());

  run->player = queueplayer::CVNQueuePlayer::create("MainQueue");
  run->player->setShouldHoldBlackFrameInsteadOfLastFrame(shouldHoldBlackFrameInsteadOfLastFrame_);
  run->player->setMetalAPIEnabled(false);
  run->player->setOutputDisplayMode(run->displayMode);
  run->player->setTransitionFactory(
      [](const platform::Dictionary& dictionary, const items::StartTransitionContext& context) {
        return items::transitionFromDictionary(dictionary, context);
      });
  run->player->setDataSource(this);
  run->player->setDelegate(this);

  run->renderer = rendererFactory_ ? rendererFactory_(*run->player)
                                   : std::make_unique<QueuePlayerPixelRenderer>(run->player);
  std::string error;
  if (!run->renderer->prepare({run->displayMode, bufferFormat_, run->pool}, &error)) return error;
  return std::nullopt;
}

std::optional<std::string> CVNVideoMixer::stopMixer() {
  if (!isRunning()) return fail("VideoMixer must be started before to be stopped");
  isRunning_ = false;
  if (!drainRenders())
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        0, true, "VideoMixer: Warning: renders still in flight after 2 s; stopping without them");

  std::shared_ptr<Run> run;
  {
    const std::lock_guard lock(runLock_);
    run = std::move(run_);
  }
  run->renderingSemaphore.wait(platform::Clock::Duration::zero());
  run->player->stopPlayback();
  run->player->setDataSource(nullptr);
  run->player->setDelegate(nullptr);
  // A render that outlived the drain still holds the run; it releases the renderer then.
  renderingQueue_->async([run] { run->renderer->release(); });
  selectedOutput_.reset();
  bufferFormat_ = kFormatNotSpecified;
  textureWidth_ = 0;
  textureHeight_ = 0;
  silenceAudioBuffer_.reset();
  if (shouldStopRendererWithMixer_ && compositionRenderer_) compositionRenderer_->stop();
  return std::nullopt;
}

bool CVNVideoMixer::drainRenders() {
  renderingQueue_->sync([] {}, kStopDrainTimeout);
  std::unique_lock lock(processingFrameCountLock_);
  return platform::Clock::current().waitFor(lock, processingFramesDone_, kStopDrainTimeout,
                                            [this] { return processingFrameCount_ == 0; });
}

void CVNVideoMixer::processingFrameDone() {
  const std::lock_guard lock(processingFrameCountLock_);
  if (processingFrameCount_ > 0 && --processingFrameCount_ == 0) processingFramesDone_.notify_all();
}

bool CVNVideoMixer::startPlayback() {
  const auto player = mainQueuePlayer();
  if (!isRunning() || !player) return false;
  player->startPlayback();
  return true;
}

void CVNVideoMixer::pausePlayback() {
  if (const auto player = mainQueuePlayer()) player->pause();
}

void CVNVideoMixer::resumePlayback() {
  if (const auto player = mainQueuePlayer()) player->play();
}

void CVNVideoMixer::stopPlayback() {
  if (const auto player = mainQueuePlayer()) player->stopPlayback();
}

void CVNVideoMixer::pauseResume() {
  const auto player = mainQueuePlayer();
  if (!player) return;
  if (player->playbackStatus() == queueplayer::kQueuePlayerPlaying)
    player->pause();
  else
    player->play();
}

void CVNVideoMixer::stepForward() {
  if (const auto player = mainQueuePlayer()) player->stepForward();
}

double CVNVideoMixer::diskPerformanceRatio() const {
  const auto player = mainQueuePlayer();
  return player ? player->diskPerformanceRatio() : 0.0;
}

double CVNVideoMixer::decompressionPerformanceRatio() const {
  const auto player = mainQueuePlayer();
  return player ? player->decompressionPerformanceRatio() : 0.0;
}

double CVNVideoMixer::transferPerformanceRatio() const {
  return selectedOutput_ ? selectedOutput_->transferPerformanceRatio() : 0.0;
}

double CVNVideoMixer::renderingPerformanceRatio() {
  const auto mode = displayMode();
  const std::lock_guard lock(performanceSync_);
  if (!mode || mode->frameRate() <= 0.0 || renderingPerformanceCpt_ == 0) return 0.0;
  const double ratio = renderingPerformanceElapsedTime_ * mode->timeScale() /
                       (static_cast<double>(mode->frameDuration()) * renderingPerformanceCpt_);
  renderingPerformanceCpt_ = 0;
  renderingPerformanceElapsedTime_ = 0.0;
  return ratio;
}

}  // namespace engine::mixer
