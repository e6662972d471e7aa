// The queue, the data source, the current-item setters and the item callbacks.

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/CVNEngineBase.h"
#include "engine/queueplayer/CVNQueuePlayer.h"
#include "engine/queueplayer/MediaItemCast.h"
#include "foundation/CVNIOLibUtilities.h"

namespace engine::queueplayer {

using detail::asMedia;

namespace {

std::string nameOf(const CVNQueuePlayer::ItemRef& item) {
  return item ? item->displayName().value_or(std::string()) : std::string();
}

void eraseItem(std::vector<CVNQueuePlayer::ItemRef>& list, const items::CVNQueuePlayerItem* item) {
  std::erase_if(list, [item](const CVNQueuePlayer::ItemRef& listed) { return listed.get() == item; });
}

bool containsItem(const std::vector<CVNQueuePlayer::ItemRef>& list, const items::CVNQueuePlayerItem* item) {
  return std::any_of(list.begin(), list.end(), [item](const CVNQueuePlayer::ItemRef& listed) { return listed.get() == item; });
}

std::string statusName(std::uint64_t status) { return foundation::CVNIOLibUtilities::stringFromPlaybackStatus(status); }

std::string secondsEntry(const char* name, double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%s: %0.3fs", name, seconds);
  return text;
}

}  // namespace

// Queue operations.

void CVNQueuePlayer::insertItem(const ItemRef& item, std::size_t index) {
  if (!item) return;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(std::min(index, items_.size())), item);
  item->setDelegate(this);
  if (item->itemState() == items::kItemStateNotInitialized) initializingItems_.push_back(item);
  updateAllowedBuffer();
  lockedClipsChanged();
}

void CVNQueuePlayer::removeItems(const std::vector<ItemRef>& removed) {
  for (const auto& item : removed) {
    item->setPlayerItemAfterTransition(nullptr);
    if (item->itemState() == items::kItemStateReading) item->stopReadingAndDecodingFrames();
    item->setDelegate(nullptr);
    eraseItem(initializingItems_, item.get());
    eraseItem(currentReadingItems_, item.get());
    item->discard();
  }
  std::erase_if(items_, [&](const ItemRef& item) { return containsItem(removed, item.get()); });
  lockedClipsChanged();
}

void CVNQueuePlayer::removeAllItems() { removeItems(std::vector<ItemRef>(items_)); }

void CVNQueuePlayer::removeItem(const ItemRef& item) {
  if (indexOfItem(item) == items_.size()) return;
  removeItems({item});
}

void CVNQueuePlayer::removeItemsAtIndexes(const std::set<std::size_t>& indexes) {
  std::vector<ItemRef> removed;
  for (const std::size_t index : indexes) {
    if (index < items_.size()) removed.push_back(items_[index]);
  }
  if (!removed.empty()) removeItems(removed);
}

std::size_t CVNQueuePlayer::indexOfItem(const ItemRef& item) const {
  if (!item) return items_.size();
  return static_cast<std::size_t>(std::find(items_.begin(), items_.end(), item) - items_.begin());
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::nextItemAfterItem(const ItemRef& item) const {
  const std::size_t index = indexOfItem(item);
  return index + 1 < items_.size() ? items_[index + 1] : nullptr;
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::itemBeforeItem(const ItemRef& item) const {
  const std::size_t index = indexOfItem(item);
  return index > 0 && index < items_.size() ? items_[index - 1] : nullptr;
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::nextMediaItemAfterItem(const ItemRef& item) const {
  for (std::size_t index = indexOfItem(item) + 1; index < items_.size(); ++index) {
    if (!items_[index]->isTransition()) return items_[index];
  }
  return nullptr;
}

void CVNQueuePlayer::stopReadingAndDecodingUntilItem(const ItemRef& item) {
  for (const auto& queued : std::vector<ItemRef>(items_)) {
    if (item && queued == item) break;
    if (queued == fadeOutItem_ || queued == currentItem_) {
      queued->setShouldBeIgnoredForAllowedBuffer(true);
    } else {
      stopReadingAndDecodingFramesForItem(queued);
    }
  }
}

void CVNQueuePlayer::stopReadingAndDecodingFramesForItem(const ItemRef& item) {
  if (!item || item->itemState() >= items::kItemStateFinishedDecoding) return;
  item->stopReadingAndDecodingFrames();
  eraseItem(currentReadingItems_, item.get());
}

CVNQueuePlayer::ItemRef CVNQueuePlayer::startTransitionOf(const ItemRef& item) const {
  const auto media = asMedia(item);
  if (!media || !media->startTransition()) return nullptr;
  return media->startTransition();
}

void CVNQueuePlayer::removeUnusedClips() {
  const std::size_t currentIndex = indexOfItem(currentItem_);
  if (currentIndex >= items_.size()) return;
  const ItemRef forcedTransition = startTransitionOf(forceSwitchItem_);
  std::vector<ItemRef> unused;
  for (std::size_t index = 0; index < currentIndex; ++index) {
    const ItemRef& item = items_[index];
    if (item == fadeOutItem_ || item == fadeInItem_ || item == forceSwitchItem_ || item == forcedTransition) continue;
    unused.push_back(item);
  }
  if (!unused.empty()) removeItems(unused);
}

void CVNQueuePlayer::lockedClipsChanged() {
  std::vector<items::ItemDictionary> lockedClips;
  for (const auto& item : items_) {
    if (asMedia(item)) lockedClips.push_back(item->itemDictionary());
  }
  if (auto* delegate = delegate_.load()) delegate->queuePlayerLockedClipsChanged(*this, lockedClips);
}

// The data source.

CVNQueuePlayer::ItemRef CVNQueuePlayer::appendDataSourceNextItemBecauseOfError(bool becauseOfError) {
  auto* dataSource = dataSource_.load();
  if (delegateIsRunningOutOfClips_ || !dataSource) return nullptr;
  platform::Dictionary info;
  const ItemRef item = dataSource->nextItemForQueuePlayer(
      *this, items_.empty() ? nullptr : &items_.back()->itemDictionary(), becauseOfError, &info);
  if (!item) {
    const auto hold = info.find(kPlaybackControllerShouldHoldFrameOnLastItemKey);
    if (hold != info.end() && hold->second.booleanOr(false) && !items_.empty()) {
      items_.back()->setEndBehaviour(kClipEndBehaviourHold);
      log(2, false, "%s: setting clip end behavior to hold for item %s", displayName_.c_str(),
          nameOf(items_.back()).c_str());
    }
    delegateIsRunningOutOfClips_ = true;
    if (!preventFromNilCurrentItem_) {
      const auto reason = info.find(kPlaybackControllerNoNextItemReasonKey);
      const std::string* reasonText = reason == info.end() ? nullptr : reason->second.string();
      const std::string text = reasonText ? "No next item (Reason: " + *reasonText + ")"
                                          : std::string("There is nothing left to play in Playlist or Schedule");
      log(2, false, "'%s': %s", displayName_.c_str(), text.c_str());
    }
    return nullptr;
  }
  logReceivedItem(item);
  const bool wasAsking = std::exchange(askingDataSource_, true);
  const auto media = asMedia(item);
  if (media && media->readAheadBufferInSeconds() != readAheadBufferInSeconds_) {
    readAheadBufferInSeconds_ = media->readAheadBufferInSeconds();
    log(2, false, "'%s': Changed readAheadBuffer to %0.0f seconds", displayName_.c_str(), readAheadBufferInSeconds_);
  }
  if (const ItemRef transition = startTransitionOf(item)) addItem(transition);
  addItem(item);
  askingDataSource_ = wasAsking;
  return item;
}

void CVNQueuePlayer::logReceivedItem(const ItemRef& item) const {
  std::string text = item->descriptionForLogs();
  const auto media = asMedia(item);
  text += ", URL: \"" + (media && media->URL() ? media->URL()->path().string() : std::string()) + "\"";
  const auto& settings = item->itemDictionary();
  if (const auto start = items::numberForKey(settings, "itemStartPosition"); start && *start > 0) {
    text += ", " + secondsEntry("start_position", *start);
  }
  static constexpr std::pair<const char*, const char*> kTimes[] = {
      {"itemInPoint", "in_point"},
      {"itemOutPoint", "out_point"},
      {"itemPreviousItemMixPoint", "previous_item_mix_point"},
      {"itemNextItemMixPoint", "next_item_mix_point"},
      {"itemDuration", "item_duration"},
  };
  for (const auto& [key, name] : kTimes) {
    if (const auto seconds = items::numberForKey(settings, key)) text += ", " + secondsEntry(name, *seconds);
  }
  if (const auto* transition = items::plistDictionaryForKey(settings, "itemStartTransition")) {
    const auto name = transition->find("displayName");
    const std::string* nameText = name == transition->end() ? nullptr : name->second.string();
    text += ", start_transition: \"" + (nameText ? *nameText : std::string()) + "\"";
  }
  log(2, false, "'%s': Received next item: %s", displayName_.c_str(), text.c_str());
}

// The three items and the statuses.

void CVNQueuePlayer::setFadeOutItem(const ItemRef& item) {
  if (item == fadeOutItem_) return;
  log(2, false, "'%s': Transition: fadeOutItem: %s (Item A)", displayName_.c_str(), nameOf(item).c_str());
  const ItemRef old = fadeOutItem_;
  if (old) itemDidFinishPlaying(old);
  {
    std::lock_guard lock(currentItemLock_);
    fadeOutItem_ = item;
  }
  if (old) removeUnusedClips();
  if (auto* delegate = delegate_.load()) delegate->queuePlayerFadeOutItemDidChange(*this, item);
}

void CVNQueuePlayer::setFadeInItem(const ItemRef& item) {
  if (item == fadeInItem_) return;
  log(2, false, "'%s': Transition: fadeInItem: %s (Item B)", displayName_.c_str(), nameOf(item).c_str());
  {
    std::lock_guard lock(currentItemLock_);
    fadeInItem_ = item;
  }
  if (item) itemDidStartPlaying(item);
  if (auto* delegate = delegate_.load()) delegate->queuePlayerFadeInItemDidChange(*this, item);
}

void CVNQueuePlayer::setCurrentItem(const ItemRef& item) {
  if (item == currentItem_) return;
  log(2, false, "'%s': Transition: Set Current Item: %s", displayName_.c_str(),
      item ? item->descriptionForLogs().c_str() : "(null)");
  const ItemRef old = currentItem_;
  if (old && !(item && item->isTransition())) itemDidFinishPlaying(old);
  {
    std::lock_guard lock(currentItemLock_);
    currentItem_ = item;
  }
  if (playbackStatus_ == kQueuePlayerHoldingLastFrame) {
    requestedPlaybackStatus_ = kQueuePlayerPlaying;
    setPlaybackStatus(kQueuePlayerPlaying);
  }
  if (item && !item->didLogItemStarted()) itemDidStartPlaying(item);
  removeUnusedClips();
  if (!item && !fadeInItem_) {
    requestedPlaybackStatus_ = kQueuePlayerStopped;
    setPlaybackStatus(kQueuePlayerStopped);
  }
}

void CVNQueuePlayer::setForceSwitchItem(const ItemRef& item) {
  forceSwitchItem_ = item;
  if (!item) return;
  item->setAllowedReadAheadDurationInSeconds(readAheadBufferInSeconds_);
  if (const ItemRef transition = startTransitionOf(item)) {
    transition->setAllowedReadAheadDurationInSeconds(readAheadBufferInSeconds_);
  }
}

void CVNQueuePlayer::setPlaybackStatus(std::uint64_t status) {
  if (status == playbackStatus_) return;
  log(3, false, "'%s' QueuePlayer Playback status changed from: %s to: %s", displayName_.c_str(),
      statusName(playbackStatus_).c_str(), statusName(status).c_str());
  playbackStatus_ = status;
  if (status == kQueuePlayerStopped) {
    std::lock_guard lock(currentItemLock_);
    staticOverlayLogoURL_.reset();
  }
  if (auto* delegate = delegate_.load()) delegate->queuePlayerStatusDidChange(*this, status);
}

void CVNQueuePlayer::itemDidStartPlaying(const ItemRef& item) {
  log(2, false, "'%s': Start Playing Item: %s", displayName_.c_str(), item->descriptionForLogs().c_str());
  item->setDidLogItemStarted(true);
  if (const auto media = asMedia(item)) {
    std::lock_guard lock(currentItemLock_);
    staticOverlayLogoURL_ = media->staticOverlayLogoURL();
  }
  if (auto* delegate = delegate_.load()) delegate->queuePlayerDidStartItem(*this, item);
}

void CVNQueuePlayer::itemDidFinishPlaying(const ItemRef& item) {
  log(2, false, "'%s': Finished Playing Item: %s", displayName_.c_str(), item->descriptionForLogs().c_str());
  if (auto* delegate = delegate_.load()) delegate->queuePlayerDidStopItem(*this, item);
}

// Item callbacks.

void CVNQueuePlayer::logItemEvent(const items::CVNQueuePlayerItem& item, const char* event) const {
  log(3, false, "'%s': %s %s %s", displayName_.c_str(), item.queuePlayerTypeString().c_str(),
      item.descriptionForLogs().c_str(), event);
}

void CVNQueuePlayer::queuePlayerItemDidInitialize(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did initialize");
  onQueue([item = item.shared_from_this()](CVNQueuePlayer& self) { self.handleInitializedItem(item); });
}

void CVNQueuePlayer::handleInitializedItem(const ItemRef& item) {
  if (!item->isCanceled() && !item->isValid()) {
    handleInvalidItem(item);
    eraseItem(initializingItems_, item.get());
    return;
  }
  if (!item->isTransition()) invalidAnswersInARow_ = 0;
  onMainQueue([item](CVNQueuePlayer& self, CVNQueuePlayerDelegate& delegate) {
    delegate.queuePlayerDidInitializeValidItem(self, item);
  });
  eraseItem(initializingItems_, item.get());
  updateAllowedBuffer();
}

void CVNQueuePlayer::handleInvalidItem(const ItemRef& item) {
  std::string text = "'" + displayName_ + "': Invalid Item " + item->descriptionForLogs();
  if (item->invalidReason()) text += " (reason: " + *item->invalidReason() + ")";
  log(1, true, "%s", text.c_str());
  if (item->isTransition()) {
    if (const ItemRef transition = startTransitionOf(item)) removeItem(transition);
    for (const auto& queued : items_) {
      const auto media = asMedia(queued);
      if (media && media->startTransition() == item) media->setStartTransition(nullptr);
    }
  }
  if (item == forceSwitchItem_) {
    setForceSwitchItem(nullptr);
    log(1, true, "'%s': Asking to forceSwitch to next item as previous forceSwitch Item is invalid %s",
        displayName_.c_str(), item->descriptionForLogs().c_str());
    removeItem(item);
    countInvalidAnswer();
    setForceSwitchItem(appendDataSourceNextItemBecauseOfError(true));
    return;
  }
  if (item->endBehaviour() == kClipEndBehaviourHold) {
    const ItemRef previous = itemBeforeItem(item);
    if (previous && previous->endBehaviour() != kClipEndBehaviourHold) {
      previous->setEndBehaviour(kClipEndBehaviourHold);
      log(1, true, "'%s': Changing clip end behavior for previous item (%s) to hold last frame. As item is invalid",
          displayName_.c_str(), previous->descriptionForLogs().c_str());
    }
  }
  log(1, true, "'%s': Asking next Item is invalid %s", displayName_.c_str(), item->descriptionForLogs().c_str());
  removeItem(item);
  if (item->isTransition()) return;
  countInvalidAnswer();
  appendDataSourceNextItemBecauseOfError(true);
}

// A data source that answers only invalid items (a looping playlist of
// missing files) would otherwise be asked for ever.
void CVNQueuePlayer::countInvalidAnswer() {
  if (++invalidAnswersInARow_ < kMaxInvalidAnswersInARow || delegateIsRunningOutOfClips_) return;
  delegateIsRunningOutOfClips_ = true;
  log(1, true, "'%s': %d invalid items in a row, no further item asked until the next is claimed",
      displayName_.c_str(), invalidAnswersInARow_);
}

void CVNQueuePlayer::queuePlayerItemDidStartReadingFrames(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did start reading frames");
  onQueue([item = item.shared_from_this()](CVNQueuePlayer& self) {
    if (self.indexOfItem(item) < self.items_.size()) {
      if (!containsItem(self.currentReadingItems_, item.get())) self.currentReadingItems_.push_back(item);
      return;
    }
    self.log(2, false, "'%s': %s %s item started reading but has been removed from _items", self.displayName_.c_str(),
             item->queuePlayerTypeString().c_str(), item->descriptionForLogs().c_str());
    item->discard();
  });
}

void CVNQueuePlayer::queuePlayerItemDidBecomeReadyForPlayback(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did become ready for playback");
  onMainQueue([item = item.shared_from_this()](CVNQueuePlayer& self, CVNQueuePlayerDelegate& delegate) {
    delegate.queuePlayerDidBecomeReadyForPlaybackForItem(self, item);
  });
}

void CVNQueuePlayer::queuePlayerItemDidReadAllFrames(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did read all frames");
  onQueue([item = &item](CVNQueuePlayer& self) { eraseItem(self.currentReadingItems_, item); });
}

void CVNQueuePlayer::queuePlayerItemDidDecompressAllFrames(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did decompress all frames");
}

void CVNQueuePlayer::queuePlayerItemDidRenderAllFrames(items::CVNQueuePlayerItem& item) {
  logItemEvent(item, "did render all frames");
}

void CVNQueuePlayer::ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(media::CVNSessionBase&, double seconds,
                                                                         items::CVNQueuePlayerItem& item) {
  onQueue([item = item.shared_from_this(), seconds](CVNQueuePlayer& self) {
    self.log(2, false,
             "'%s': Vovi Source '%s': Did not receive any frames since %0.2f sec. Time out reached, skipping to next "
             "clip",
             self.displayName_.c_str(), nameOf(item).c_str(), seconds);
    const bool wasForced = item == self.forceSwitchItem_;
    if (wasForced) self.setForceSwitchItem(nullptr);
    self.stopReadingAndDecodingFramesForItem(item);
    self.updateAllowedBuffer();
    if (wasForced) self.setForceSwitchItem(self.nextMediaItemAfterItem(item));
    self.removeItem(item);
  });
}

void CVNQueuePlayer::queuePlayerItemChangedEndBehaviourFromTo(items::CVNQueuePlayerItem& item, std::int32_t,
                                                              std::int32_t to) {
  const std::string name = CVNEngineBase::stringFromClipEndBehaviour(to).value_or(std::string());
  log(0, false, "'%s' changing clip end behavior to \"%s\" for Item %s", displayName_.c_str(), name.c_str(),
      item.descriptionForLogs().c_str());
  onQueue([item = item.shared_from_this(), to](CVNQueuePlayer& self) { self.handleEndBehaviourChange(item, to); });
}

void CVNQueuePlayer::handleEndBehaviourChange(const ItemRef& item, std::int32_t to) {
  static constexpr std::int32_t kStopsAsking[] = {kClipEndBehaviourStop, kClipEndBehaviourHold, kClipEndBehaviourLoop,
                                                  kClipEndBehaviourColor, kClipEndBehaviourImage};
  static constexpr std::int32_t kAsksAfresh[] = {kClipEndBehaviourNormal, kClipEndBehaviourChain,
                                                 kClipEndBehaviourLoop, kClipEndBehaviourCueNext};
  if (std::find(std::begin(kStopsAsking), std::end(kStopsAsking), to) != std::end(kStopsAsking)) {
    delegateIsRunningOutOfClips_ = true;
    const std::size_t index = indexOfItem(item);
    if (index < items_.size()) removeItems(std::vector<ItemRef>(items_.begin() + static_cast<std::ptrdiff_t>(index) + 1, items_.end()));
  }
  if (std::find(std::begin(kAsksAfresh), std::end(kAsksAfresh), to) != std::end(kAsksAfresh)) {
    delegateIsRunningOutOfClips_ = false;
    updateAllowedBuffer();
  }
}

void CVNQueuePlayer::applyAttributeUpdate(const std::string& playlistItemUniqueID,
                                          const items::ItemDictionary& attributes,
                                          const std::function<void(const std::optional<std::string>&)>& completionHandler) {
  const bool setsCueNext = items::integerForKey(attributes, "itemEndBehaviour") == kClipEndBehaviourCueNext;
  const bool setsLogo = attributes.count("itemStaticOverlayLogoURL") != 0;
  std::optional<std::string> lastError;
  bool holdNextFirstFrame = false;
  for (const auto& item : std::vector<ItemRef>(items_)) {
    // Cue Next: the clip after the changed one waits on its first picture.
    if (holdNextFirstFrame) {
      item->setHoldFirstFrame(true);
      holdNextFirstFrame = false;
    }
    if (item->playlistItemUniqueID() != playlistItemUniqueID) continue;
    std::optional<std::string> error;
    item->updateWithAttributes(attributes, &error);
    if (setsCueNext) holdNextFirstFrame = true;
    if (setsLogo && item == lastStartedMediaQueuePlayerItem()) {
      const auto logo = asMedia(item)->staticOverlayLogoURL();
      {
        std::lock_guard lock(currentItemLock_);
        staticOverlayLogoURL_ = logo;
      }
      if (auto* delegate = delegate_.load()) delegate->queuePlayerDidUpdateLogoURL(*this, logo);
    }
    if (error) {
      log(2, true, "%s", error->c_str());
      lastError = error;
    }
  }
  if (completionHandler) completionHandler(lastError);
}

}  // namespace engine::queueplayer
