// The per-frame step: item choice, status, read-ahead and the picture.

#include <algorithm>
#include <array>
#include <limits>

#include "engine/CVNEngineBase.h"
#include "engine/queueplayer/CVNQueuePlayer.h"
#include "engine/queueplayer/MediaItemCast.h"

namespace engine::queueplayer {

using detail::asMedia;

namespace {

double elapsedSeconds(const CVNQueuePlayer::ItemRef& item) { return item->elapsedTime().seconds(); }

double previousMixPoint(const CVNQueuePlayer::ItemRef& item) {
  return item->hasPreviousItemMixPoint() ? item->previousItemMixPointFromInPoint() : 0.0;
}

bool isHold(const CVNQueuePlayer::ItemRef& item) { return item->endBehaviour() == kClipEndBehaviourHold; }

bool isDone(const CVNQueuePlayer::ItemRef& item) { return item->isCanceled() || (item->isFinished() && !isHold(item)); }

bool hasPicture(const CVNQueuePlayer::ItemRef& item) { return item && !item->currentPixelBufferIsMissing(); }

// A live input may go on air before its first picture once its session runs.
bool liveInputHasStarted(const CVNQueuePlayer::ItemRef& item) {
  if (!item->isZiraInput()) return false;
  const auto media = asMedia(item);
  return media && media->decompressionSession() && media->decompressionSession()->status() >= 2;
}

}  // namespace

void CVNQueuePlayer::updateCurrentFadeInFadeOutItems() {
  if (fieldToRender_ == 2) return;
  const bool forced = forceSwitchItem_ != nullptr;
  ItemRef candidate;
  if (!forced) {
    ItemRef current = currentItem_;
    if (!current && !items_.empty() && items_.front()->isReadyForPlayback()) current = items_.front();
    if (current) {
      double remaining = current->remainingTime().seconds();
      if (current->hasNextItemMixPoint()) remaining = current->nextItemMixPointFromInPoint() - elapsedSeconds(current);
      const ItemRef next = nextItemAfterItem(current);
      if (next && next->hasPreviousItemMixPoint()) remaining -= next->previousItemMixPointFromInPoint();
      candidate = current;
      const bool keptByItsOwnMix =
          current->hasPreviousItemMixPoint() && elapsedSeconds(current) <= current->previousItemMixPointFromInPoint();
      if (!isHold(current) && remaining <= 0 && !keptByItsOwnMix && next) candidate = next;
    }
  } else {
    const ItemRef forcedItem = forceSwitchItem_;
    const ItemRef transition = startTransitionOf(forcedItem);
    const ItemRef target = transition ? transition : forcedItem;
    stopReadingAndDecodingUntilItem(target);
    if (!forcedItem->isReadyForPlayback() && !liveInputHasStarted(forcedItem)) return;
    if (transition && !transition->isReadyForPlayback()) return;
    candidate = target;
  }

  // Skip finished items; ask once for more when the queue ends on one.
  bool askedForMore = false;
  while (candidate && isDone(candidate)) {
    ItemRef next = nextItemAfterItem(candidate);
    if (!next && !askedForMore) {
      askedForMore = true;
      updateAllowedBuffer();
      next = nextItemAfterItem(candidate);
    }
    candidate = next;
  }

  if (candidate || !preventFromNilCurrentItem_) {
    ItemRef fadeOut;
    ItemRef fadeIn;
    if (candidate) {
      ItemRef before;
      double window = previousMixPoint(candidate);
      if (!forced) {
        before = itemBeforeItem(candidate);
        if (before && before->hasNextItemMixPoint()) {
          window += before->playbackDuration() - before->nextItemMixPointFromInPoint();
        }
        window = std::min(window, candidate->playbackDuration());
      } else {
        before = currentItem_;
        if (before && before->isTransition()) before = itemBeforeItem(before);
      }
      if (elapsedSeconds(candidate) < window) fadeOut = before;
      const ItemRef after = nextItemAfterItem(candidate);
      double lead = candidate->hasNextItemMixPoint() ? candidate->nextItemMixPointFromInPoint()
                                                      : std::numeric_limits<double>::max();
      if (after && after->hasPreviousItemMixPoint()) lead -= after->previousItemMixPointFromInPoint();
      if (after && elapsedSeconds(candidate) >= lead) fadeIn = after;
    }
    for (const auto& item : {fadeIn, candidate}) {
      if (item && item->isZiraInput() && !item->isReadyForPlayback()) item->markAsReadyForPlayback();
    }
    if (candidate && candidate->isReadyForPlayback()) {
      setFadeOutItem(fadeOut);
      setFadeInItem(fadeIn);
      setCurrentItem(candidate);
    } else if (!candidate) {
      setCurrentItem(nullptr);
    } else if (!candidate->didLogItemNotReadyForPlayback()) {
      log(2, false, "'%s': Don't change current items as \"%s\" is not ready for playback", displayName_.c_str(),
          candidate->displayName().value_or(std::string()).c_str());
      candidate->setDidLogItemNotReadyForPlayback(true);
    }
  }
  if (forced && currentItem_) {
    setForceSwitchItem(nullptr);
    updateAllowedBuffer();
  }
}

void CVNQueuePlayer::updatePlaybackStatus() {
  if (fieldToRender_ == 2 || playbackStatus_ == requestedPlaybackStatus_) return;
  const std::uint64_t requested = requestedPlaybackStatus_;
  if (requested == kQueuePlayerPlaying || requested == kQueuePlayerPaused || requested == kQueuePlayerHoldingFirstFrame) {
    if (!currentItem_ || !currentItem_->isReadyForPlayback()) return;
    if (fadeInItem_ && !fadeInItem_->isReadyForPlayback()) return;
  }
  setPlaybackStatus(requested);
  if (requested == kQueuePlayerHoldingLastFrame && !forceSwitchItem_) {
    stopReadingAndDecodingUntilItem(nullptr);
    std::vector<ItemRef> others;
    for (const auto& item : items_) {
      if (item != fadeOutItem_ && item != currentItem_ && item != fadeInItem_) others.push_back(item);
    }
    if (!others.empty()) removeItems(others);
  } else if (requested == kQueuePlayerStopped) {
    setFadeOutItem(nullptr);
    setFadeInItem(nullptr);
    setCurrentItem(nullptr);
    setForceSwitchItem(nullptr);
    removeAllItems();
  }
}

void CVNQueuePlayer::updateAllowedBuffer() {
  if (forceSwitchItem_ && !forceSwitchItem_->isFinished()) return;
  const double buffer = readAheadBufferInSeconds_;
  double accumulated = 0;
  double previousReadAhead = 100.0;
  bool previousFinishedReading = true;
  const std::vector<ItemRef> queued = items_;
  for (std::size_t index = 0; index < queued.size(); ++index) {
    const ItemRef& item = queued[index];
    if (item->isCanceled() || item->shouldBeIgnoredForAllowedBuffer()) continue;
    double offset = accumulated;
    if (index > 0 && item->hasPreviousItemMixPoint()) offset = accumulated - item->previousItemMixPointFromInPoint();
    const double limit = previousFinishedReading ? buffer : std::min(buffer, previousReadAhead);
    item->setAllowedReadAheadDurationInSeconds(limit - offset);
    previousReadAhead = item->currentReadAheadDurationInSeconds();
    previousFinishedReading = item->itemState() >= items::kItemStateFinishedReading;
    accumulated = std::max(0.0, item->remainingTime().seconds()) + offset;
    if (item->hasNextItemMixPoint()) {
      accumulated -= item->playbackDuration() - item->nextItemMixPointFromInPoint();
    }
    if (accumulated >= buffer) break;
    previousReadAhead += offset;
  }
  const bool lastPlaysForever = !items_.empty() && items_.back()->playForever();
  // One item per pass while an answer is being queued: an item that adds no
  // time (finished at once, invalid) would otherwise make the asking recurse.
  if (delegateIsRunningOutOfClips_ || accumulated >= buffer || lastPlaysForever || !initializingItems_.empty() ||
      waitingForForceSwitchItem_ || askingDataSource_) {
    return;
  }
  log(2, false, "'%s': Asking next item in order to fill readAhead buffer", displayName_.c_str());
  appendDataSourceNextItemBecauseOfError(false);
}

// On the CPU path only one item gives the picture: during a transition that
// is the clip on the far side of the mix point, so the transition is a cut.
CVNQueuePlayer::ItemRef CVNQueuePlayer::pictureItem() const {
  if (!currentItem_ || !currentItem_->isTransition()) return currentItem_;
  return fadeInItem_ ? fadeInItem_ : fadeOutItem_;
}

void CVNQueuePlayer::pixelBufferStep(PixelBufferRef* result) {
  const std::uint64_t statusBefore = playbackStatus_;
  const ItemRef currentBefore = currentItem_;
  updateCurrentFadeInFadeOutItems();
  updatePlaybackStatus();
  const bool blackHold =
      playbackStatus_ == kQueuePlayerHoldingLastFrame && shouldHoldBlackFrameInsteadOfLastFrame_;
  if (!blackHold) {
    if (requestedPlaybackStatus_ != kQueuePlayerStopped) updateAllowedBuffer();
    const ItemRef current = currentItem_;
    const ItemRef picture = pictureItem();
    const bool secondField = fieldToRender_ == 2;
    const bool isLive = current && current->isZiraInput();
    const bool paused = playbackStatus_ == kQueuePlayerPaused || playbackStatus_ == kQueuePlayerHoldingFirstFrame;
    if (picture && !isLive && paused && !secondField &&
        (picture->currentPixelBufferIsMissing() || picture->shouldForceTextureUpdate())) {
      *result = picture->nextPixelBufferByAllowingItemToDequeue(false, static_cast<std::int32_t>(playbackStatus_));
    }
    if (testNextFrame_ && !secondField) {
      // One picture: play this frame without telling anyone, then pause.
      playbackStatus_ = kQueuePlayerPlaying;
      requestedPlaybackStatus_ = kQueuePlayerPaused;
      testNextFrame_ = false;
    }
    if (hasPicture(picture) && current->holdFirstFrame()) {
      requestedPlaybackStatus_ = kQueuePlayerHoldingFirstFrame;
      setPlaybackStatus(kQueuePlayerHoldingFirstFrame);
      current->setHoldFirstFrame(false);
    }
    if (current && (playbackStatus_ == kQueuePlayerPlaying || isLive)) {
      const auto status = static_cast<std::int32_t>(playbackStatus_);
      if (current != picture) {
        // A transition has no picture of its own here; its clock still runs.
        if (asMedia(current)) {
          current->nextPixelBufferByAllowingItemToDequeue(true, status);
        } else {
          current->prepareNextTextureUsingCommandBuffer(nullptr, true, status);
        }
      }
      if (picture) *result = picture->nextPixelBufferByAllowingItemToDequeue(true, status);
      if (hasPicture(picture) && isHold(current) && current->isFinished()) {
        requestedPlaybackStatus_ = kQueuePlayerHoldingLastFrame;
        setPlaybackStatus(kQueuePlayerHoldingLastFrame);
      }
      testNextFrame_ = false;
    }
    if (!*result && picture) *result = picture->copyCurrentPixelBuffer();
  }
  reportChanges(statusBefore, nullptr, currentBefore, nullptr, false);
}

void CVNQueuePlayer::reportChanges(std::uint64_t statusBefore, const ItemRef& fadeOutBefore,
                                   const ItemRef& currentBefore, const ItemRef& fadeInBefore, bool withFadeItems) {
  const bool fadesChanged = withFadeItems && (fadeOutItem_ != fadeOutBefore || fadeInItem_ != fadeInBefore);
  if (playbackStatus_ == statusBefore && currentItem_ == currentBefore && !fadesChanged) return;
  auto* delegate = delegate_.load();
  if (!delegate) return;
  if (!withFadeItems) {
    delegate->itemsOrStatusChangedForQueuePlayer(*this, playbackStatus_, nullptr, currentItem_, nullptr);
    return;
  }
  ItemRef fadeIn = fadeInItem_;
  if (!fadeIn && currentItem_ && currentItem_->isTransition()) fadeIn = currentItem_->playerItemAfterTransition();
  delegate->itemsOrStatusChangedForQueuePlayer(*this, playbackStatus_, fadeOutItem_, currentItem_, fadeIn);
}

void CVNQueuePlayer::renderingInfoStep(render::CommandBuffer* commandBuffer) {
  const std::uint64_t statusBefore = playbackStatus_;
  const ItemRef fadeOutBefore = fadeOutItem_;
  const ItemRef currentBefore = currentItem_;
  const ItemRef fadeInBefore = fadeInItem_;
  updateCurrentFadeInFadeOutItems();
  updatePlaybackStatus();
  if (requestedPlaybackStatus_ != kQueuePlayerStopped) updateAllowedBuffer();
  const ItemRef current = currentItem_;
  const std::array<ItemRef, 3> layers{fadeOutItem_, current, fadeInItem_};
  const foundation::Size raster = renderingSize();
  for (const auto& item : layers) {
    if (item) item->setRasterSize(raster);
  }
  const bool secondField = fieldToRender_ == 2;
  const bool paused = playbackStatus_ == kQueuePlayerPaused || playbackStatus_ == kQueuePlayerHoldingFirstFrame;
  if (paused && !secondField) {
    for (const auto& item : layers) {
      if (!item || (item->lastReturnedTexture() && !item->shouldForceTextureUpdate())) continue;
      item->prepareNextTextureUsingCommandBuffer(commandBuffer, false, static_cast<std::int32_t>(playbackStatus_));
      item->nextTexture();
    }
  }
  if (testNextFrame_ && !secondField) {
    playbackStatus_ = kQueuePlayerPlaying;
    requestedPlaybackStatus_ = kQueuePlayerPaused;
    testNextFrame_ = false;
  }
  // A layer or shader transition has no picture of its own to wait for.
  const bool drawnTransition = current && current->isTransition() && !asMedia(current);
  if (current && current->holdFirstFrame() && (current->lastReturnedTexture() || drawnTransition)) {
    requestedPlaybackStatus_ = kQueuePlayerHoldingFirstFrame;
    setPlaybackStatus(kQueuePlayerHoldingFirstFrame);
    current->setHoldFirstFrame(false);
  }
  const bool playing = playbackStatus_ == kQueuePlayerPlaying;
  for (const auto& item : layers) {
    if (!item || (!playing && !item->isZiraInput())) continue;
    item->prepareNextTextureUsingCommandBuffer(commandBuffer, true, static_cast<std::int32_t>(playbackStatus_));
    item->nextTexture();
  }
  if (playing) {
    if (current && current->lastReturnedTexture() && isHold(current) && current->isFinished()) {
      requestedPlaybackStatus_ = kQueuePlayerHoldingLastFrame;
      setPlaybackStatus(kQueuePlayerHoldingLastFrame);
    }
    testNextFrame_ = false;
  }
  describeLayers();
  reportChanges(statusBefore, fadeOutBefore, currentBefore, fadeInBefore, true);
}

void CVNQueuePlayer::describeLayers() {
  using Info = CVNQueuePlayerRenderingInfo;
  const std::array<ItemRef, 3> layers{fadeOutItem_, currentItem_, fadeInItem_};
  const auto& fadeOut = layers[Info::kFadeOut];
  const auto& current = layers[Info::kCurrent];
  const auto& fadeIn = layers[Info::kFadeIn];
  const std::array<std::int32_t, 3> zOrders{
      fadeOut && fadeOut->hasNextItemMixPoint() ? 3 : 0,
      current && (current->hasPreviousItemMixPoint() || current->hasNextItemMixPoint()) ? 4 : 1,
      fadeIn && fadeIn->hasPreviousItemMixPoint() ? 5 : 2,
  };
  for (std::size_t index = 0; index < layers.size(); ++index) {
    const ItemRef& item = layers[index];
    Info::Layer& layer = renderingInfo_.layers[index];
    layer = Info::Layer{};
    layer.zOrder = zOrders[index];
    if (!item) continue;
    // A finished item that holds shows black when the output asks for it.
    const bool black = shouldHoldBlackFrameInsteadOfLastFrame_ && item->isFinished() && isHold(item);
    if (!black) layer.texture = item->lastReturnedTexture();
    layer.texturePixelFormat = item->texturePixelFormat();
    layer.textureRect = item->textureRect();
    layer.itemRect = item->contentRect();
    layer.shouldPremultiplyByAlpha = item->shouldPremultiplyByAlpha();
  }
}

}  // namespace engine::queueplayer
