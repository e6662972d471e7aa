#include "engine/queueplayer/CVNQueuePlayer.h"

#include <cstdarg>

#include "engine/CVNEngineBase.h"
#include "engine/queueplayer/MediaItemCast.h"
#include "foundation/CVNLogController.h"

namespace engine::queueplayer {

using detail::asMedia;
using items::CVNMediaQueuePlayerItem;

std::shared_ptr<CVNQueuePlayer> CVNQueuePlayer::create(std::optional<std::string> displayName) {
  return std::shared_ptr<CVNQueuePlayer>(new CVNQueuePlayer(displayName.value_or("QueuePlayer")));
}

CVNQueuePlayer::CVNQueuePlayer(std::string displayName)
    : displayName_(std::move(displayName)),
      queue_(std::make_shared<platform::SerialQueue>("com.dirarovazovo.queueplayer." + displayName_)) {}

CVNQueuePlayer::~CVNQueuePlayer() {
  // Items may outlive the player (the mixer's lists, a preview); they must not call back into it.
  for (const auto& item : items_) {
    item->setDelegate(nullptr);
    item->setPlayerItemAfterTransition(nullptr);
  }
  for (const auto& item : {forceSwitchItem_, currentItem_, fadeOutItem_, fadeInItem_}) {
    if (item && item->delegate() == this) item->setDelegate(nullptr);
  }
}

void CVNQueuePlayer::log(std::uint32_t level, bool show, const char* format, ...) const {
  va_list arguments;
  va_start(arguments, format);
  foundation::CVNLogController::sharedLogController().logMessageWithLevelV(level, show, format, arguments);
  va_end(arguments);
}

void CVNQueuePlayer::onQueue(std::function<void(CVNQueuePlayer&)> task) {
  queue_->async([weak = weak_from_this(), task = std::move(task)] {
    if (const auto self = weak.lock()) task(*self);
  });
}

bool CVNQueuePlayer::onQueueAndWait(const char* operation, const std::function<void()>& task) {
  if (queue_->isCurrent()) {
    log(1, false, "'%s': %s refused: asked from the player's own queue", displayName_.c_str(), operation);
    return false;
  }
  if (queue_->sync(task, kQueuePlayerSyncTimeout)) return true;
  log(1, false, "'%s': %s gave up: the player's queue did not answer in time", displayName_.c_str(), operation);
  return false;
}

void CVNQueuePlayer::onMainQueue(std::function<void(CVNQueuePlayer&, CVNQueuePlayerDelegate&)> call) {
  platform::DispatchQueue::main().async([weak = weak_from_this(), call = std::move(call)] {
    const auto self = weak.lock();
    if (!self) return;
    if (auto* delegate = self->delegate_.load()) call(*self, *delegate);
  });
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::transitionFromDictionary(
    const platform::Dictionary& dictionary, render::Device* metalDevice,
    items::CVNQueuePlayerItem::DisplayModeRef outputDisplayMode, std::uint32_t outputBufferFormat,
    const platform::media::AudioStreamBasicDescription& asbd, items::CVNQueuePlayerItemDelegate* delegate) const {
  if (!transitionFactory_) return nullptr;
  items::StartTransitionContext context;
  context.metalDevice = metalDevice;
  context.outputDisplayMode = std::move(outputDisplayMode);
  context.outputBufferFormat = outputBufferFormat;
  context.asbd = asbd;
  context.delegate = delegate;
  return transitionFactory_(dictionary, context);
}

std::optional<media::MediaURL> CVNQueuePlayer::staticOverlayLogoURL() const {
  std::lock_guard lock(currentItemLock_);
  return staticOverlayLogoURL_;
}

foundation::Size CVNQueuePlayer::renderingSize() const {
  std::lock_guard lock(currentItemLock_);
  return renderingSize_;
}

void CVNQueuePlayer::setRenderingSize(foundation::Size size) {
  std::lock_guard lock(currentItemLock_);
  renderingSize_ = size;
}

// Control.

void CVNQueuePlayer::play() {
  onQueue([](CVNQueuePlayer& self) { self.requestedPlaybackStatus_ = kQueuePlayerPlaying; });
}

void CVNQueuePlayer::pause() {
  onQueue([](CVNQueuePlayer& self) { self.requestedPlaybackStatus_ = kQueuePlayerPaused; });
}

void CVNQueuePlayer::stop() {
  onQueue([](CVNQueuePlayer& self) { self.requestedPlaybackStatus_ = kQueuePlayerStopped; });
}

void CVNQueuePlayer::prepare() {
  onQueue([](CVNQueuePlayer& self) {
    self.setFadeOutItem(nullptr);
    self.setCurrentItem(nullptr);
    self.setFadeInItem(nullptr);
    self.removeAllItems();
    self.requestedPlaybackStatus_ = kQueuePlayerPaused;
    self.forceSwitchToNextItem();
  });
}

void CVNQueuePlayer::startPlayback() {
  onQueue([](CVNQueuePlayer& self) {
    self.requestedPlaybackStatus_ = kQueuePlayerPlaying;
    self.forceSwitchToNextItem();
  });
}

void CVNQueuePlayer::stopPlayback() {
  onQueue([](CVNQueuePlayer& self) {
    std::vector<ItemRef> holding;
    for (const auto& item : {self.currentItem_, self.fadeOutItem_, self.fadeInItem_}) {
      if (item && item->endBehaviour() == kClipEndBehaviourHold) holding.push_back(item);
    }
    if (self.playbackStatus_ == kQueuePlayerHoldingLastFrame || holding.empty()) {
      self.requestedPlaybackStatus_ = kQueuePlayerStopped;
      return;
    }
    self.requestedPlaybackStatus_ = kQueuePlayerHoldingLastFrame;
    for (const auto& item : {self.currentItem_, self.fadeOutItem_, self.fadeInItem_}) {
      if (!item) continue;
      item->setCanReturnNewTexture(false);
      item->stopReadingAndDecodingFrames();
    }
  });
}

void CVNQueuePlayer::forceSwitchToNextItem() {
  log(2, false, "'%s' Force switch to next item", displayName_.c_str());
  waitingForForceSwitchItem_ = true;
  onQueue([](CVNQueuePlayer& self) {
    self.delegateIsRunningOutOfClips_ = false;
    self.invalidAnswersInARow_ = 0;
    self.setForceSwitchItem(self.appendDataSourceNextItemBecauseOfError(false));
    self.waitingForForceSwitchItem_ = false;
  });
}

void CVNQueuePlayer::claimNextItem() {
  onQueue([](CVNQueuePlayer& self) {
    self.log(2, false, "'%s' QueuePlayer asking next item (claimed by application) ", self.displayName_.c_str());
    self.delegateIsRunningOutOfClips_ = false;
    self.invalidAnswersInARow_ = 0;
    self.appendDataSourceNextItemBecauseOfError(false);
  });
}

void CVNQueuePlayer::stepForward() {
  onQueue([](CVNQueuePlayer& self) { self.testNextFrame_ = true; });
}

void CVNQueuePlayer::updateItem(const std::string& playlistItemUniqueID, const items::ItemDictionary& attributes,
                                std::function<void(const std::optional<std::string>& error)> completionHandler) {
  onQueue([=](CVNQueuePlayer& self) { self.applyAttributeUpdate(playlistItemUniqueID, attributes, completionHandler); });
}

void CVNQueuePlayer::setAllowSmartResize(bool allow) {
  onQueue([allow](CVNQueuePlayer& self) {
    for (const auto& item : self.items_) {
      if (const auto media = asMedia(item)) media->setAllowDeinterlace(allow);
    }
  });
}

void CVNQueuePlayer::setExplicitInvertFieldOrder(bool invert) {
  onQueue([invert](CVNQueuePlayer& self) {
    for (const auto& item : self.items_) {
      if (const auto media = asMedia(item)) media->setExplicitFieldInversion(invert);
    }
  });
}

void CVNQueuePlayer::setShouldPremultiplyByAlpha(bool premultiply) {
  onQueue([premultiply](CVNQueuePlayer& self) {
    for (const auto& item : self.items_) item->setShouldPremultiplyByAlpha(premultiply);
  });
}

void CVNQueuePlayer::addSubtitleRecordsToCurrentItem(const captions::SubtitleRecords& records) {
  onQueue([records](CVNQueuePlayer& self) {
    if (const auto media = asMedia(self.currentItem_)) media->addSubtitleRecords(records);
  });
}

void CVNQueuePlayer::deleteSubtitleRecordsFromCurrentItem() {
  onQueue([](CVNQueuePlayer& self) {
    if (const auto media = asMedia(self.currentItem_)) media->deleteSubtitleRecords();
  });
}

// Queries.

bool CVNQueuePlayer::setCurrentItemTime(double seconds, bool precisely) {
  if (seconds < 0) return true;
  bool ready = true;
  onQueueAndWait("setCurrentItemTime", [&] {
    requestedPlaybackStatus_ = kQueuePlayerPaused;
    ItemRef target = forceSwitchItem_;
    if (!target && currentItem_ && currentItem_->isTransition()) {
      // Two transitions in a row: nothing to scrub.
      if (fadeInItem_ && fadeInItem_->isTransition()) return;
      target = fadeInItem_;
    }
    if (!target) target = currentItem_;
    if (!target) return;
    if (const auto media = asMedia(target)) media->scrubToTime(seconds, precisely);
    ready = target->isReadyForPlayback();
  });
  return ready;
}

std::uint64_t CVNQueuePlayer::requestedPlaybackStatus() {
  std::uint64_t status = kQueuePlayerStopped;
  onQueueAndWait("requestedPlaybackStatus", [&] { status = requestedPlaybackStatus_; });
  return status;
}

std::uint64_t CVNQueuePlayer::playbackStatus() {
  std::uint64_t status = kQueuePlayerStopped;
  onQueueAndWait("playbackStatus", [&] { status = playbackStatus_; });
  return status;
}

std::optional<captions::SubtitleRecords> CVNQueuePlayer::subtitleRecordsFromCurrentItem() {
  std::optional<captions::SubtitleRecords> records;
  onQueueAndWait("subtitleRecordsFromCurrentItem", [&] {
    if (const auto media = asMedia(currentItem_)) records = media->subtitleRecords();
  });
  return records;
}

platform::media::SampleBufferRef CVNQueuePlayer::nextClosedCaptionSampleBuffer() {
  platform::media::SampleBufferRef sample;
  onQueueAndWait("nextClosedCaptionSampleBuffer", [&] {
    if (const auto media = asMedia(currentItem_)) sample = media->nextClosedCaptionSampleBuffer();
  });
  return sample;
}

platform::media::SampleBufferRef CVNQueuePlayer::nextTimecodeSampleBuffer() {
  platform::media::SampleBufferRef sample;
  onQueueAndWait("nextTimecodeSampleBuffer", [&] {
    if (const auto media = asMedia(currentItem_)) sample = media->nextTimecodeSampleBuffer();
  });
  return sample;
}

const std::uint8_t* CVNQueuePlayer::nextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes,
                                                     int itemIndex) {
  const std::uint8_t* samples = nullptr;
  onQueueAndWait("nextAudioSamples", [&] {
    const ItemRef& item = itemIndex == 0 ? currentItem_ : itemIndex == -1 ? fadeOutItem_ : fadeInItem_;
    if (const auto media = asMedia(item)) samples = media->nextAudioSamples(sampleCount, outSizeInBytes);
  });
  return samples;
}

platform::Array CVNQueuePlayer::VANCPackets() {
  platform::Array packets;
  onQueueAndWait("VANCPackets", [&] {
    for (const auto& item : {fadeOutItem_, currentItem_, fadeInItem_}) {
      if (const auto media = asMedia(item)) {
        const platform::Array itemPackets = media->VANCPackets();
        packets.insert(packets.end(), itemPackets.begin(), itemPackets.end());
      }
    }
  });
  return packets;
}

namespace {

struct SessionShare {
  double weightedSeconds = 0;
  std::int64_t frames = 0;
};

// Sums over the queue and divides once; a session's counters reset when
// read, so `share` reads each of them exactly once.
double performanceRatio(const std::vector<CVNQueuePlayer::ItemRef>& queued,
                        const std::function<std::optional<SessionShare>(const CVNQueuePlayer::ItemRef& item,
                                                                        media::CVNSessionBase& session)>& share) {
  SessionShare total;
  for (const auto& item : queued) {
    const auto media = asMedia(item);
    if (!media || !media->decompressionSession()) continue;
    if (const auto part = share(item, *media->decompressionSession())) {
      total.weightedSeconds += part->weightedSeconds;
      total.frames += part->frames;
    }
  }
  if (total.frames != 0) return total.weightedSeconds / static_cast<double>(total.frames);
  return total.weightedSeconds != 0 ? 1.0 : 0.0;
}

}  // namespace

double CVNQueuePlayer::diskPerformanceRatio() {
  double ratio = 0;
  onQueueAndWait("diskPerformanceRatio", [&] {
    ratio = performanceRatio(items_, [](const ItemRef& item, media::CVNSessionBase& session) -> std::optional<SessionShare> {
      if (item->itemState() < items::kItemStateReading) return std::nullopt;
      const double elapsed = session.diskReadPerformanceElapsedTime();
      return SessionShare{session.frameRateAsCMTime().seconds() * elapsed, session.diskReadPerformanceCpt()};
    });
  });
  return ratio;
}

double CVNQueuePlayer::decompressionPerformanceRatio() {
  double ratio = 0;
  onQueueAndWait("decompressionPerformanceRatio", [&] {
    ratio = performanceRatio(items_, [](const ItemRef&, media::CVNSessionBase& session) -> std::optional<SessionShare> {
      const std::int32_t frames = session.decompressionPerformanceCpt();
      if (frames == 0) return std::nullopt;
      return SessionShare{session.decompressionPerformanceElapsedTime() * session.frameRateAsCMTime().seconds(), frames};
    });
  });
  return ratio;
}

CVNQueuePlayer::PixelBufferRef CVNQueuePlayer::nextPixelBuffer() {
  PixelBufferRef picture;
  onQueueAndWait("nextPixelBuffer", [&] { pixelBufferStep(&picture); });
  return picture;
}

CVNQueuePlayerRenderingInfo CVNQueuePlayer::nextQueuePlayerRenderingInfoUsingCommandBuffer(
    render::CommandBuffer* commandBuffer) {
  CVNQueuePlayerRenderingInfo info;
  onQueueAndWait("nextQueuePlayerRenderingInfoUsingCommandBuffer", [&] {
    renderingInfoStep(commandBuffer);
    info = renderingInfo_;
  });
  return info;
}

void CVNQueuePlayer::getFadeOutItem(ItemRef* fadeOutItem, ItemRef* currentItem, ItemRef* fadeInItem) const {
  std::lock_guard lock(currentItemLock_);
  if (fadeOutItem) *fadeOutItem = fadeOutItem_;
  if (currentItem) *currentItem = currentItem_;
  if (!fadeInItem) return;
  if (fadeInItem_) {
    *fadeInItem = fadeInItem_;
  } else if (currentItem_ && currentItem_->isTransition()) {
    *fadeInItem = currentItem_->playerItemAfterTransition();
  }
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::currentItem() const {
  std::lock_guard lock(currentItemLock_);
  return currentItem_;
}

std::shared_ptr<CVNMediaQueuePlayerItem> CVNQueuePlayer::lastStartedMediaQueuePlayerItem() const {
  std::lock_guard lock(currentItemLock_);
  for (const auto& item : {fadeInItem_, currentItem_, fadeOutItem_}) {
    if (auto media = asMedia(item)) return media;
  }
  return nullptr;
}

}  // namespace engine::queueplayer
