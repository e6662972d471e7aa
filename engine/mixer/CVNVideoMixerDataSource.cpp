// The main queue player's side: the items it asks for and the events it reports.


#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/mixer/CVNVideoMixer.h"
#include "engine/mixer/VideoMixerRun.h"
#include "foundation/CVNLogController.h"
#include "media/live/CVNZiraSource.h"
#include "platform/DispatchQueue.h"

namespace engine::mixer {
namespace {

const items::ItemDictionary* dictionaryOf(const CVNVideoMixer::ItemRef& item) {
  return item ? &item->itemDictionary() : nullptr;
}

std::shared_ptr<items::CVNMediaQueuePlayerItem> asClip(const CVNVideoMixer::ItemRef& item) {
  return std::dynamic_pointer_cast<items::CVNMediaQueuePlayerItem>(item);
}

std::string displayNameOf(const items::ItemDictionary& dictionary) {
  const auto* name = items::stringForKey(dictionary, "itemDisplayName");
  return name ? *name : std::string();
}

}  // namespace

bool CVNVideoMixer::isMainQueuePlayer(const queueplayer::CVNQueuePlayer& player) const {
  const auto run = currentRun();
  return run && run->player.get() == &player;
}

void CVNVideoMixer::onMainQueue(std::function<void(CVNEngineDelegate&)> call) {
  platform::DispatchQueue::main().async([weak = weak_from_this(), call = std::move(call)] {
    const auto self = weak.lock();
    if (!self) return;
    if (auto* host = self->mainQueueDelegate_.load()) call(*host);
  });
}

CVNEngineDelegate::Timestamp CVNVideoMixer::timestampForHost() const {
  const auto* host = mainQueueDelegate_.load();
  if (!host || !host->answersTimestamps()) return std::nullopt;
  return platform::Clock::current().wallNow();
}

std::optional<std::string> CVNVideoMixer::liveItemSkipReason(const items::ItemDictionary& dictionary) const {
  if (!items::boolForKey(dictionary, "itemIsZiraInput").value_or(false)) return std::nullopt;
  const auto name = displayNameOf(dictionary);
  const auto* source = items::objectForKey<std::shared_ptr<media::CVNZiraSource>>(dictionary, "itemZiraSource");
  const bool enabled = source && *source && (*source)->isEnabled();
  if (items::numberForKey(dictionary, "itemDuration").value_or(0.0) <= 0.0 || !enabled)
    return "Vovi Item '" + name + "' skipped because of its invalid duration";
  const auto input = (*source)->input();
  if (!input || !input->isRunning()) return "Vovi Item '" + name + "' skipped because source is not started";
  const auto inputMode = input->selectedDisplayMode();
  if (!inputMode || inputMode->width() != textureWidth_ || inputMode->height() != textureHeight_)
    return "Vovi Item '" + name + "' skipped because source frame size doesn't match with output frame size";
  return std::nullopt;
}

void CVNVideoMixer::addOutputKeys(items::ItemDictionary* dictionary) const {
  const auto mode = displayMode();
  (*dictionary)["itemTimeScale"] = platform::Value(static_cast<std::int64_t>(mode->timeScale()));
  (*dictionary)["itemFrameDuration"] = platform::Value(mode->frameDuration());
  (*dictionary)["itemOutputBufferFormat"] = platform::Value(static_cast<std::int64_t>(bufferFormat_));
  const auto run = currentRun();
  // The output's own width: 16:9 output widens the display width itself.
  if (mode->width() == 720 && run && run->output->force169())
    (*dictionary)["itemSDAspectRatio"] = platform::Value(static_cast<std::int64_t>(1));
}

std::shared_ptr<items::CVNQueuePlayerItem> CVNVideoMixer::nextItemForQueuePlayer(
    queueplayer::CVNQueuePlayer& player, const items::ItemDictionary* afterItem, bool becauseOfError,
    platform::Dictionary* playbackControllerInfo) {
  auto* host = mainQueueDelegate_.load();
  const auto run = currentRun();
  if (!host || !run || run->player.get() != &player) return nullptr;

  // Skipped live inputs are passed over in a loop: a playlist of disabled
  // sources that loops would otherwise recurse without end.
  std::optional<items::ItemDictionary> skipped;
  for (int skips = 0;; ++skips) {
    auto dictionary = host->nextItemAfterItem(afterItem, becauseOfError, playbackControllerInfo);
    if (!dictionary) return nullptr;
    const auto reason = liveItemSkipReason(*dictionary);
    if (!reason) {
      addOutputKeys(&*dictionary);
      auto item = itemFactory_ ? itemFactory_() : items::CVNMediaQueuePlayerItem::create();
      item->setOutputDisplayMode(run->displayMode);
      if (const auto* engine = delegate_.load()) item->setOutputAudioStreamBasicDescription(engine->engineASBD());
      item->setDelegate(&player);
      item->applySettingsFromDictionary(*dictionary);
      item->setSharedPixelBufferPool(run->pool);
      return item;
    }
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(0, true, *reason);
    if (skips + 1 >= kMaxSkippedLiveItems) {
      if (playbackControllerInfo)
        (*playbackControllerInfo)[queueplayer::kPlaybackControllerNoNextItemReasonKey] =
            platform::Value("No playable item: " + std::to_string(kMaxSkippedLiveItems) + " live inputs in a row were skipped");
      return nullptr;
    }
    skipped = std::move(*dictionary);
    afterItem = &*skipped;
    becauseOfError = true;
  }
}

void CVNVideoMixer::itemsOrStatusChangedForQueuePlayer(queueplayer::CVNQueuePlayer& player, std::uint64_t currentStatus,
                                                       const ItemRef& fadeOutItem, const ItemRef& currentItem,
                                                       const ItemRef& fadeInItem) {
  if (!isMainQueuePlayer(player)) return;
  if (auto* engine = delegate_.load())
    engine->itemsOrStatusChanged(engineStatusFromCVNPlaybackStatus(currentStatus), dictionaryOf(fadeOutItem),
                                 dictionaryOf(currentItem), dictionaryOf(fadeInItem));
}

void CVNVideoMixer::queuePlayerDidInitializeValidItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) {
  if (!isMainQueuePlayer(player) || !asClip(item)) return;
  // Posted like every other host call, so the host sees them in order.
  onMainQueue([dictionary = item->itemDictionary()](CVNEngineDelegate& host) { host.itemWillChange(dictionary); });
}

void CVNVideoMixer::queuePlayerDidStartItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) {
  const auto clip = asClip(item);
  if (!isMainQueuePlayer(player) || !clip || clip->isTransition()) return;
  const auto timestamp = timestampForHost();
  if (compositionRenderer_) compositionRenderer_->updateOverlayLogo();
  if (projectPlaybackController_) projectPlaybackController_->applySettingsForPlayerItem(clip->uniqueID());
  onMainQueue([dictionary = clip->itemDictionary(), timestamp](CVNEngineDelegate& host) {
    host.itemDidChange(dictionary, timestamp);
  });
  updateAudioRoutingForItem(item);
}

void CVNVideoMixer::queuePlayerDidStopItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) {
  const auto clip = asClip(item);
  if (!isMainQueuePlayer(player) || !clip) return;
  const auto timestamp = timestampForHost();
  if (compositionRenderer_) compositionRenderer_->updateOverlayLogo();
  updateAudioRoutingForItem(item);
  onMainQueue([dictionary = clip->itemDictionary(), timestamp](CVNEngineDelegate& host) {
    host.itemDidStop(dictionary, timestamp);
  });
}

void CVNVideoMixer::queuePlayerStatusDidChange(queueplayer::CVNQueuePlayer& player, std::uint64_t status) {
  if (!isMainQueuePlayer(player)) return;
  if (status == queueplayer::kQueuePlayerStopped && compositionRenderer_) compositionRenderer_->updateOverlayLogo();
  if (auto* engine = delegate_.load()) engine->videoMixerStatusDidChange(status);
  updateAudioRoutingForItem(player.currentItem());
}

void CVNVideoMixer::queuePlayerLockedClipsChanged(queueplayer::CVNQueuePlayer& player,
                                                  const std::vector<items::ItemDictionary>& lockedClips) {
  if (!isMainQueuePlayer(player)) return;
  onMainQueue([lockedClips](CVNEngineDelegate& host) { host.queuedItemsDidChange(lockedClips); });
}

void CVNVideoMixer::queuePlayerFadeOutItemDidChange(queueplayer::CVNQueuePlayer& player, const ItemRef& item) {
  if (!isMainQueuePlayer(player)) return;
  auto dictionary = item ? std::optional(item->itemDictionary()) : std::nullopt;
  onMainQueue([dictionary = std::move(dictionary)](CVNEngineDelegate& host) {
    host.fadeOutItemDidChange(dictionary ? &*dictionary : nullptr);
  });
}

void CVNVideoMixer::queuePlayerFadeInItemDidChange(queueplayer::CVNQueuePlayer& player, const ItemRef& item) {
  if (!isMainQueuePlayer(player)) return;
  auto dictionary = item ? std::optional(item->itemDictionary()) : std::nullopt;
  onMainQueue([dictionary = std::move(dictionary)](CVNEngineDelegate& host) {
    host.fadeInItemDidChange(dictionary ? &*dictionary : nullptr);
  });
}

void CVNVideoMixer::queuePlayerDidUpdateLogoURL(queueplayer::CVNQueuePlayer& player, const std::optional<media::MediaURL>&) {
  if (isMainQueuePlayer(player) && compositionRenderer_) compositionRenderer_->updateOverlayLogo();
}

void CVNVideoMixer::updateAudioRoutingForItem(const ItemRef& item) {
  const auto run = currentRun();
  if (!run || !run->output->supportsAudioRoutingDuringKey()) return;
  run->output->setKeyModeAudioSource(item && item->hasAudioRoutingMode() ? item->keyModeAudioSource()
                                                                          : run->output->defaultKeyModeAudioSource());
}

}  // namespace engine::mixer
