#include "engine/items/CVNQueuePlayerItem.h"

#include <vector>

#include "foundation/GenerateUniqueID.h"
#include "platform/Diagnostics.h"

namespace engine::items {

namespace {

std::string textOrEmpty(const std::optional<std::string>& text) { return text.value_or(std::string()); }

}  // namespace

CVNQueuePlayerItem::CVNQueuePlayerItem() : uniqueID_(foundation::GenerateUniqueID::generateUniqueID()) {}

void CVNQueuePlayerItem::logMissingOverride(const char* name) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, std::string("missing override for ") + name);
}

void CVNQueuePlayerItem::applySettingsFromDictionary(const ItemDictionary& dictionary) {
  for (const auto& [key, value] : dictionary) itemDictionary_.insert_or_assign(key, value);
  const auto* playlistID = stringForKey(dictionary, "playlistItemUniqueID");
  playlistItemUniqueID_ = playlistID ? *playlistID : std::string();
  const auto* name = stringForKey(dictionary, "itemDisplayName");
  displayName_ = name ? *name : std::string();
  if (const auto hold = boolForKey(dictionary, "itemHoldFirstFrame")) holdFirstFrame_ = *hold;
  if (const auto behaviour = integerForKey(dictionary, "itemEndBehaviour")) {
    endBehaviour_ = static_cast<std::int32_t>(*behaviour);
  }
  if (const auto* rect = objectForKey<foundation::Rect>(dictionary, "itemContentRect")) setContentRect(*rect);
  if (const auto format = integerForKey(dictionary, "itemOutputBufferFormat")) {
    outputBufferFormat_ = static_cast<std::uint32_t>(*format);
  }
  if (const auto premultiply = boolForKey(dictionary, "itemShouldPremultiplyByAlpha")) {
    shouldPremultiplyByAlpha_ = *premultiply;
  }
}

bool CVNQueuePlayerItem::updateWithAttributes(const ItemDictionary& attributes, std::optional<std::string>* errorString) {
  ItemDictionary remaining = attributes;
  if (const auto hold = boolForKey(remaining, "itemHoldFirstFrame")) {
    holdFirstFrame_ = *hold;
    remaining.erase("itemHoldFirstFrame");
  }
  if (const auto behaviour = integerForKey(remaining, "itemEndBehaviour")) {
    const auto oldBehaviour = endBehaviour_;
    const auto newBehaviour = static_cast<std::int32_t>(*behaviour);
    if (newBehaviour != oldBehaviour) {
      setEndBehaviour(newBehaviour);
      if (delegate_) delegate_->queuePlayerItemChangedEndBehaviourFromTo(*this, oldBehaviour, newBehaviour);
    }
    remaining.erase("itemEndBehaviour");
  }
  if (const auto projects = remaining.find("itemCGProjects"); projects != remaining.end()) {
    itemDictionary_.insert_or_assign("itemCGProjects", projects->second);
    remaining.erase(projects);
  }
  if (remaining.empty()) return true;
  if (errorString) {
    std::string keys;
    for (const auto& entry : remaining) keys += (keys.empty() ? "" : ", ") + entry.first;
    *errorString = "Failed to update properties " + keys + " of item " + textOrEmpty(displayName_);
  }
  return false;
}

void CVNQueuePlayerItem::setOutputDisplayMode(DisplayModeRef mode) {
  if (mode == outputDisplayMode_) return;
  outputDisplayMode_ = std::move(mode);
  if (outputDisplayMode_ && storedContentRect() == foundation::Rect{}) {
    storeContentRect({{0, 0}, {double(outputDisplayMode_->width()), double(outputDisplayMode_->height())}});
  }
}

void CVNQueuePlayerItem::setAllowedReadAheadDurationInSeconds(double seconds) {
  if (seconds > 0) startReading();
}

void CVNQueuePlayerItem::startReading() { logMissingOverride("startReading"); }

void CVNQueuePlayerItem::stopReadingAndDecodingFrames() { logMissingOverride("stopReadingAndDecodingFrames"); }

double CVNQueuePlayerItem::currentReadAheadDurationInSeconds() {
  logMissingOverride("currentReadAheadDurationInSeconds");
  return 0;
}

std::shared_ptr<platform::media::PixelBuffer> CVNQueuePlayerItem::copyCurrentPixelBuffer() {
  logMissingOverride("copyCurrentPixelBuffer");
  return nullptr;
}

std::shared_ptr<platform::media::PixelBuffer> CVNQueuePlayerItem::nextPixelBufferByAllowingItemToDequeue(bool, std::int32_t) {
  logMissingOverride("nextPixelBufferWithStatusPlaying");
  return nullptr;
}

void CVNQueuePlayerItem::prepareNextTextureUsingCommandBuffer(render::CommandBuffer*, bool, std::int32_t) {
  logMissingOverride("prepareNextTextureUsingCommandBuffer:shouldDequeue:playbackStatus:");
}

render::TextureRef CVNQueuePlayerItem::nextTexture() {
  logMissingOverride("nextTexture");
  return nullptr;
}

std::string CVNQueuePlayerItem::descriptionForLogs() const {
  return "'" + textOrEmpty(displayName_) + "' (UID = '" + uniqueID_ + "')";
}

void CVNQueuePlayerItem::setIsFinished(bool finished) {
  if (finished == isFinished_) return;
  isFinished_ = finished;
  if (!finished) return;
  setItemState(kItemStateFinished);
  remainingTime_ = platform::media::MediaTime::zero();
}

void CVNQueuePlayerItem::setItemState(std::int32_t state) {
  while (itemState_ < state) {
    const auto left = itemState_;
    itemState_ = left + 1;
    announceStateLeft(left);
  }
}

void CVNQueuePlayerItem::announceStateLeft(std::int32_t state) {
  if (state == kItemStateFinishedReading || state == kItemStateFinishedDecoding) markAsReadyForPlayback();
  if (!delegate_) return;
  switch (state) {
    case kItemStateNotInitialized:
      delegate_->queuePlayerItemDidInitialize(*this);
      break;
    case kItemStateInitialized:
      delegate_->queuePlayerItemDidStartReadingFrames(*this);
      break;
    case kItemStateReading:
      delegate_->queuePlayerItemDidReadAllFrames(*this);
      break;
    case kItemStateFinishedReading:
      delegate_->queuePlayerItemDidDecompressAllFrames(*this);
      break;
    case kItemStateFinishedDecoding:
      delegate_->queuePlayerItemDidRenderAllFrames(*this);
      break;
    default:
      break;
  }
}

void CVNQueuePlayerItem::markAsReadyForPlayback() {
  if (isReadyForPlayback_) return;
  isReadyForPlayback_ = true;
  if (delegate_) delegate_->queuePlayerItemDidBecomeReadyForPlayback(*this);
}

bool CVNQueuePlayerItem::hasAudioRoutingMode() const { return itemDictionary_.contains("itemAudioRouting"); }

std::int32_t CVNQueuePlayerItem::keyModeAudioSource() const {
  return static_cast<std::int32_t>(integerForKey(itemDictionary_, "itemAudioRouting").value_or(0));
}

ItemDictionary CVNQueuePlayerItem::extendedItemDictionary() const {
  ItemDictionary extended = itemDictionary_;
  extended.insert_or_assign("remainingTime", platform::Value(remainingTime_.seconds()));
  extended.insert_or_assign("elapsedTime", platform::Value(elapsedTime_.seconds()));
  extended.insert_or_assign("itemDuration", platform::Value(playbackDuration_));
  if (isTransition()) {
    if (auto next = itemBDictionary()) extended.insert_or_assign("transitionNextItemDictionary", platform::Value(*next));
    extended.insert_or_assign("transitionEndOffset", platform::Value(previousItemMixPointFromInPoint_));
    extended.insert_or_assign("transitionStartOffset", platform::Value(nextItemMixPointFromInPoint_));
  }
  return extended;
}

platform::media::AudioStreamBasicDescription CVNQueuePlayerItem::outputAudioStreamBasicDescription() const {
  std::lock_guard guard(sharedFieldsMutex_);
  return outputAudioStreamBasicDescription_;
}

void CVNQueuePlayerItem::setOutputAudioStreamBasicDescription(
    const platform::media::AudioStreamBasicDescription& description) {
  std::lock_guard guard(sharedFieldsMutex_);
  outputAudioStreamBasicDescription_ = description;
}

foundation::Rect CVNQueuePlayerItem::contentRect() const { return storedContentRect(); }

void CVNQueuePlayerItem::setContentRect(foundation::Rect rect) { storeContentRect(rect); }

foundation::Rect CVNQueuePlayerItem::storedContentRect() const {
  std::lock_guard guard(sharedFieldsMutex_);
  return contentRect_;
}

void CVNQueuePlayerItem::storeContentRect(foundation::Rect rect) {
  std::lock_guard guard(sharedFieldsMutex_);
  contentRect_ = rect;
}

foundation::Rect CVNQueuePlayerItem::textureRect() const {
  std::lock_guard guard(sharedFieldsMutex_);
  return textureRect_;
}

void CVNQueuePlayerItem::setTextureRect(foundation::Rect rect) {
  std::lock_guard guard(sharedFieldsMutex_);
  textureRect_ = rect;
}

std::optional<platform::Dictionary> CVNQueuePlayerItem::itemBDictionary() const {
  std::lock_guard guard(sharedFieldsMutex_);
  return itemBDictionary_;
}

void CVNQueuePlayerItem::setItemBDictionary(std::optional<platform::Dictionary> dictionary) {
  std::lock_guard guard(sharedFieldsMutex_);
  itemBDictionary_ = std::move(dictionary);
}

void CVNQueuePlayerItem::setIsValid(bool valid, std::optional<std::string> reason) {
  isValid_ = valid;
  invalidReason_ = std::move(reason);
}

}  // namespace engine::items
