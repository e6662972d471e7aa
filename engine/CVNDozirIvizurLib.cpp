#include "engine/CVNDozirIvizurLib.h"

#include "foundation/CVNLogController.h"
#include "pluginframework/CVNDeviceController.h"

namespace engine {
namespace {

foundation::CVNLogController& log() { return foundation::CVNLogController::sharedLogController(); }

void loadPlugins(const platform::Bundle& bundle) {
  const auto devices = pluginframework::CVNDeviceController::sharedDeviceController();
  const auto main = platform::Bundle::main();
  if (!main || main->resourcesPath() != bundle.resourcesPath())
    devices->loadPluginsFromFolder(bundle.resourcesPath() / "PlugIns");
}

}  // namespace

std::shared_ptr<CVNDozirIvizurLib> CVNDozirIvizurLib::initWithBundle(std::shared_ptr<const platform::Bundle> bundle) {
  if (bundle) loadPlugins(*bundle);
  return std::shared_ptr<CVNDozirIvizurLib>(new CVNDozirIvizurLib(std::move(bundle)));
}

std::shared_ptr<CVNDozirIvizurLib> CVNDozirIvizurLib::initWithBundle(
    std::shared_ptr<const platform::Bundle> bundle, std::shared_ptr<CVNCGCompositionRenderer> compositionRenderer) {
  auto engine = initWithBundle(std::move(bundle));
  engine->setEnableMetalAPI(true);
  engine->videoMixer_->setCompositionRenderer(compositionRenderer);
  engine->videoMixer_->setShouldStopCompositionRendererWhenStoppingMixer(false);
  engine->projectsPlaybackController_->setCompositionRenderer(std::move(compositionRenderer));
  return engine;
}

CVNDozirIvizurLib::CVNDozirIvizurLib(std::shared_ptr<const platform::Bundle> bundle)
    : CVNEngineBase(std::move(bundle)) {}

CVNDozirIvizurLib::~CVNDozirIvizurLib() {
  connectionObservation_.reset();
  if (videoMixer_->isRunning()) stopEngine();
}

bool CVNDozirIvizurLib::isHardwareCompatible(std::string* message) {
  if (message) *message = "Device is not compatible with Metal";
  return false;
}

void CVNDozirIvizurLib::setEnableMetalAPI(bool enable) {
  std::string message;
  const bool compatible = isHardwareCompatible(&message);
  if (enable && !compatible) log().logMessage(message, 0, true);
  metalAPIEnabled_ = enable && compatible;
}

void CVNDozirIvizurLib::setDelegate(CVNEngineDelegate* delegate) {
  if (delegate == this->delegate()) return;
  CVNEngineBase::setDelegate(delegate);
  delegateVersion2_ = delegate && delegate->answersItemsOrStatusChanged();
}

void CVNDozirIvizurLib::setLogDelegate(foundation::CVNLogControllerDelegate* delegate) {
  log().setLogDelegate(delegate);
}

void CVNDozirIvizurLib::setSelectedOutput(std::shared_ptr<pluginframework::CVNVideoOutput> output) {
  bool changed = false;
  {
    const std::lock_guard lock(selectedOutputLock_);
    changed = output != selectedOutput_;
    if (changed) selectedOutput_ = output;
  }
  if (changed) {
    connectionObservation_.reset();
    if (output)
      connectionObservation_ = output->connectionDescription().observe(
          [weak = weak_from_this()](const std::string& old, const std::string& now) {
            platform::DispatchQueue::main().async([weak, old, now] {
              if (const auto self = weak.lock()) self->connectionDescriptionChanged(old, now);
            });
          });
  }
  videoMixer_->setSelectedOutput(std::move(output));
}

std::shared_ptr<pluginframework::CVNVideoOutput> CVNDozirIvizurLib::selectedOutput() const {
  const std::lock_guard lock(selectedOutputLock_);
  return selectedOutput_;
}

void CVNDozirIvizurLib::setDebugOutputKeyOnly(bool keyOnly) {
  // Only an engine that runs is restarted: one never started stays stopped.
  const bool wasRunning = videoMixer_->isRunning();
  if (wasRunning) stopEngine();
  videoMixer_->setDebugOutputKeyOnly(keyOnly);
  if (wasRunning) startEngine();
  auto& context = videoMixer_->graphicContext();
  context.setShouldRenderTiledBackground(false);
  context.setTransparent(true);
}

bool CVNDozirIvizurLib::fail(const std::string& description) const {
  errorFromClass("CVNDozirIvizurLib", description);
  return false;
}

bool CVNDozirIvizurLib::startEngine() {
  auto* host = delegate();
  if (!host) return fail("Error: Engine delegate not set");
  const auto output = selectedOutput();
  if (!output)
    return fail(
        "Error: No video output selected. Check that your video device is connected and drivers are up to date.");
  if (!output->outputConnectionAvailable())
    return fail("Error: Output " + output->name() + " (UID: " + output->uniqueID() +
                ") is 'inactive'. Change the connector mapping, or use another device.");
  if (output->isRunning()) return fail("Error: Output needs to be stopped before starting it again");
  const auto mode = output->selectedDisplayMode();
  if (!mode) return fail("Invalid output display mode");
  // Frames would carry no room for their audio.
  if (engineASBD().bytesPerFrame == 0) return fail("Error: Engine audio format not set (setEngineASBD was not called)");

  videoMixer_->setSelectedOutput(output);
  videoMixer_->setMainQueueDelegate(host);
  videoMixer_->setDelegate(this);
  videoMixer_->setProjectPlaybackController(projectsPlaybackController_);
  if (videoMixer_->startMixer()) {
    videoMixer_->setSelectedOutput(nullptr);
    videoMixer_->setMainQueueDelegate(nullptr);
    videoMixer_->setDelegate(nullptr);
    return false;
  }
  projectsPlaybackController_->setCompositionRenderer(videoMixer_->compositionRenderer());
  CVNEngineBase::startEngine();
  {
    const std::lock_guard lock(pullLock_);
    acceptsPulls_ = true;
  }
  output->setDelegate(this);

  platform::Error error;
  if (!output->startPlayback(&error)) {
    if (!error.localizedDescription.empty())
      fail("Failed to start Playback on output " + output->name() + ". Error: " + error.localizedDescription);
    // The mixer stops first, so the stop below only releases the rest.
    videoMixer_->stopMixer();
    stopEngine();
    return false;
  }
  itemsOrStatusChanged(mixer::kEngineStopped, nullptr, nullptr, nullptr);
  if (const auto& renderer = videoMixer_->compositionRenderer()) renderer->setIsPaused(false);
  log().logMessageWithLevel(2, false, "Output Started - %s %s (Video Card Buffer Size %i)",
                            pluginframework::CVNDisplayMode::descriptionForDisplayMode(mode.get()).c_str(),
                            mixer::CVNVideoMixer::descriptionForBufferFormat(output->bufferFormat()).c_str(),
                            output->videoCardBufferSize());
  return true;
}

bool CVNDozirIvizurLib::stopEngine() {
  // The output's thread may be inside a pull that uses the mixer and the
  // audio conversion: stop the output and wait for that pull before either goes.
  const auto output = selectedOutput();
  const bool wasRunning = output && output->isRunning();
  if (output) {
    output->setDelegate(nullptr);
    if (wasRunning) output->stopPlayback();
  }
  {
    const std::lock_guard lock(pullLock_);
    acceptsPulls_ = false;
  }
  if (wasRunning) {
    if (videoMixer_->isRunning()) videoMixer_->stopMixer();
    projectsPlaybackController_->stopAllProjects();
  }
  CVNEngineBase::stopEngine();
  if (wasRunning) itemsOrStatusChanged(mixer::kEngineClosed, nullptr, nullptr, nullptr);
  return true;
}

bool CVNDozirIvizurLib::outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames,
                                         std::shared_ptr<platform::media::PixelBuffer>* picture, std::int16_t* audio) {
  const std::lock_guard lock(pullLock_);
  if (!acceptsPulls_) return false;
  return CVNEngineBase::outputWantsFrame(frameIndex, audioFrames, picture, audio);
}

bool CVNDozirIvizurLib::copyNextPixelBuffer(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                                            const std::uint8_t** audioSamples, std::uint32_t,
                                            platform::media::SampleBufferRef* closedCaptionBuffer,
                                            platform::media::SampleBufferRef* timecodeSampleBuffer, bool, std::int64_t) {
  mixer::MixerFrame frame;
  const bool pulled = videoMixer_->copyNextPixelBuffer(&frame);
  *pixelBuffer = std::move(frame.picture);
  *audioSamples = frame.audio;
  *closedCaptionBuffer = std::move(frame.closedCaption);
  *timecodeSampleBuffer = std::move(frame.timecode);
  return pulled;
}

bool CVNDozirIvizurLib::startPlayback() {
  log().logMessage("DozirIvizur startPlayback", 2, false);
  return videoMixer_->startPlayback();
}

void CVNDozirIvizurLib::pausePlayback(bool pause) {
  log().logMessage(pause ? "DozirIvizur requestedStatus changed to pause"
                         : "DozirIvizur requestedStatus changed to play (resume)",
                   2, false);
  if (const auto player = queuePlayer()) pause ? player->pause() : player->play();
}

bool CVNDozirIvizurLib::stopPlayback() {
  log().logMessage("DozirIvizur stop playback", 2, false);
  if (const auto player = queuePlayer()) player->stopPlayback();
  return true;
}

void CVNDozirIvizurLib::stepForward() {
  if (const auto player = queuePlayer()) player->stepForward();
}

bool CVNDozirIvizurLib::forceNextItem() {
  if (const auto player = queuePlayer()) player->forceSwitchToNextItem();
  return true;
}

void CVNDozirIvizurLib::claimNextItem() {
  if (const auto player = queuePlayer()) player->claimNextItem();
}

bool CVNDozirIvizurLib::setCurrentItemTime(double seconds) {
  if (const auto player = queuePlayer()) player->setCurrentItemTime(seconds, true);
  return true;
}

void CVNDozirIvizurLib::updateItemWithUniqueID(const std::string& uniqueID, const items::ItemDictionary& attributes,
                                               std::function<void(const std::optional<std::string>&)> completionHandler) {
  if (const auto player = queuePlayer()) player->updateItem(uniqueID, attributes, std::move(completionHandler));
}

void CVNDozirIvizurLib::addSubtitleRecordsToCurrentlyPlayingItem(const captions::SubtitleRecords& records) {
  if (const auto player = queuePlayer()) player->addSubtitleRecordsToCurrentItem(records);
}

void CVNDozirIvizurLib::deleteSubtitleRecordsFromCurrentlyPlayingItem() {
  if (const auto player = queuePlayer()) player->deleteSubtitleRecordsFromCurrentItem();
}

std::optional<captions::SubtitleRecords> CVNDozirIvizurLib::subtitleRecordsFromCurrentlyPlayingItem() {
  const auto player = queuePlayer();
  return player ? player->subtitleRecordsFromCurrentItem() : std::nullopt;
}

std::optional<EnginePlaybackStatusInfo> CVNDozirIvizurLib::playbackStatus() {
  EnginePlaybackStatusInfo info;
  if (const auto player = queuePlayer()) {
    queueplayer::CVNQueuePlayer::ItemRef fadeOut, current, fadeIn;
    player->getFadeOutItem(&fadeOut, &current, &fadeIn);
    if (fadeOut) info.fadeOutItem = fadeOut->extendedItemDictionary();
    if (current) info.item = current->extendedItemDictionary();
    if (fadeIn) info.fadeInItem = fadeIn->extendedItemDictionary();
  }
  info.status = enginePlaybackStatus();
  return info;
}

}  // namespace engine
