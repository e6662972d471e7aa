#pragma once
// The base of everything a queue player plays (a clip or a transition): its
// identity, output formats, settings, the forward-only item state with the
// delegate's callbacks, times, end behaviour, mix points and the description
// of its current picture. Picture and reading operations are for subclasses;
// the base logs that the override is missing and answers nothing.
//
// Lives on: the queue player's serial queue (the delegate's queue), where the
// delegate is called. The output audio description, the content and texture
// rectangles and the settings of the item after a transition are read by the
// engine from other threads, so they are copied under a lock.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/items/CVNQueuePlayerItemDelegate.h"
#include "engine/items/ItemDictionary.h"
#include "engine/render/RenderHandles.h"
#include "foundation/geometry/Geometry.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelBufferPool.h"
#include "pluginframework/CVNDisplayMode.h"

namespace engine::items {

enum QueuePlayerItemState : std::int32_t {
  kItemStateNotInitialized = 0,
  kItemStateInitialized = 1,
  kItemStateReading = 2,
  kItemStateFinishedReading = 3,
  kItemStateFinishedDecoding = 4,
  kItemStateFinished = 5,
};

// "????": the texture's format is not known yet.
inline constexpr std::uint32_t kUnknownTexturePixelFormat = 0x3F3F3F3F;

class CVNQueuePlayerItem : public std::enable_shared_from_this<CVNQueuePlayerItem> {
 public:
  using DisplayModeRef = std::shared_ptr<const pluginframework::CVNDisplayMode>;

  CVNQueuePlayerItem();
  virtual ~CVNQueuePlayerItem() = default;
  CVNQueuePlayerItem(const CVNQueuePlayerItem&) = delete;
  CVNQueuePlayerItem& operator=(const CVNQueuePlayerItem&) = delete;

  // Keeps every entry, then applies the keys the base knows.
  virtual void applySettingsFromDictionary(const ItemDictionary& dictionary);
  // True when every key was understood; handled keys stay applied either way.
  virtual bool updateWithAttributes(const ItemDictionary& attributes, std::optional<std::string>* errorString);
  virtual void setOutputDisplayMode(DisplayModeRef mode);
  virtual void discard() {}
  virtual void setAllowedReadAheadDurationInSeconds(double seconds);

  virtual void startReading();
  virtual void stopReadingAndDecodingFrames();
  virtual double currentReadAheadDurationInSeconds();
  virtual std::shared_ptr<platform::media::PixelBuffer> copyCurrentPixelBuffer();
  virtual std::shared_ptr<platform::media::PixelBuffer> nextPixelBufferByAllowingItemToDequeue(bool allowDequeue,
                                                                                               std::int32_t playbackStatus);
  virtual void prepareNextTextureUsingCommandBuffer(render::CommandBuffer* commandBuffer, bool shouldDequeue,
                                                    std::int32_t playbackStatus);
  virtual render::TextureRef nextTexture();

  virtual std::string descriptionForLogs() const;
  void setIsFinished(bool finished);
  bool isFinished() const { return isFinished_; }
  // Forward only; a jump delivers every intermediate callback in order.
  void setItemState(std::int32_t state);
  std::int32_t itemState() const { return itemState_; }
  void markAsReadyForPlayback();
  virtual void setRasterSize(foundation::Size size) { rasterSize_ = size; }
  foundation::Size rasterSize() const { return rasterSize_; }
  virtual bool playForever() const { return false; }
  const ItemDictionary& itemDictionary() const { return itemDictionary_; }
  bool hasAudioRoutingMode() const;
  std::int32_t keyModeAudioSource() const;
  // The settings with "remainingTime", "elapsedTime" and "itemDuration" (and
  // a transition's offsets and next item's settings).
  ItemDictionary extendedItemDictionary() const;
  virtual std::string queuePlayerTypeString() const { return "Queue Player Item"; }
  void setSharedPixelBufferPool(std::shared_ptr<platform::media::PixelBufferPool> pool) {
    sharedPixelBufferPool_ = std::move(pool);
  }
  const std::shared_ptr<platform::media::PixelBufferPool>& sharedPixelBufferPool() const {
    return sharedPixelBufferPool_;
  }
  virtual bool isTransition() const { return false; }
  virtual bool isZiraInput() const { return false; }

  // Remaining fields.
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> name) { displayName_ = std::move(name); }
  const std::string& uniqueID() const { return uniqueID_; }
  const std::optional<std::string>& playlistItemUniqueID() const { return playlistItemUniqueID_; }
  const DisplayModeRef& outputDisplayMode() const { return outputDisplayMode_; }
  std::uint32_t outputBufferFormat() const { return outputBufferFormat_; }
  void setOutputBufferFormat(std::uint32_t format) { outputBufferFormat_ = format; }
  platform::media::AudioStreamBasicDescription outputAudioStreamBasicDescription() const;
  void setOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& description);
  render::Device* metalDevice() const { return metalDevice_; }
  virtual void setMetalDevice(render::Device* device) { metalDevice_ = device; }
  const render::TextureRef& lastReturnedTexture() const { return lastReturnedTexture_; }
  std::uint32_t texturePixelFormat() const { return texturePixelFormat_; }
  float textureWidthRatio() const { return textureWidthRatio_; }
  CVNQueuePlayerItemDelegate* delegate() const { return delegate_; }
  void setDelegate(CVNQueuePlayerItemDelegate* delegate) { delegate_ = delegate; }
  virtual std::int32_t requestedItemState() const { return requestedItemState_; }
  virtual void setRequestedItemState(std::int32_t state) { requestedItemState_ = state; }
  platform::media::MediaTime elapsedTime() const { return elapsedTime_; }
  platform::media::MediaTime remainingTime() const { return remainingTime_; }
  double playbackDuration() const { return playbackDuration_; }
  virtual void setPlaybackDuration(double seconds) { playbackDuration_ = seconds; }
  virtual bool isValid() const { return isValid_; }
  const std::optional<std::string>& invalidReason() const { return invalidReason_; }
  bool isReadyForPlayback() const { return isReadyForPlayback_; }
  bool isCanceled() const { return isCanceled_; }
  void setIsCanceled(bool canceled) { isCanceled_ = canceled; }
  bool didLogItemStarted() const { return didLogItemStarted_; }
  void setDidLogItemStarted(bool value) { didLogItemStarted_ = value; }
  bool didLogItemNotReadyForPlayback() const { return didLogItemNotReadyForPlayback_; }
  void setDidLogItemNotReadyForPlayback(bool value) { didLogItemNotReadyForPlayback_ = value; }
  std::int32_t endBehaviour() const { return endBehaviour_; }
  virtual void setEndBehaviour(std::int32_t behaviour) { endBehaviour_ = behaviour; }
  bool canReturnNewTexture() const { return canReturnNewTexture_; }
  void setCanReturnNewTexture(bool value) { canReturnNewTexture_ = value; }
  virtual bool shouldForceTextureUpdate() const { return shouldForceTextureUpdate_; }
  virtual void setShouldForceTextureUpdate(bool value) { shouldForceTextureUpdate_ = value; }
  bool holdFirstFrame() const { return holdFirstFrame_; }
  void setHoldFirstFrame(bool value) { holdFirstFrame_ = value; }
  virtual foundation::Rect contentRect() const;
  virtual void setContentRect(foundation::Rect rect);
  foundation::Rect textureRect() const;
  void setTextureRect(foundation::Rect rect);
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  bool shouldPremultiplyByAlpha() const { return shouldPremultiplyByAlpha_; }
  void setShouldPremultiplyByAlpha(bool value) { shouldPremultiplyByAlpha_ = value; }
  bool currentPixelBufferIsMissing() const { return currentPixelBufferIsMissing_; }
  std::optional<platform::Dictionary> itemBDictionary() const;
  void setItemBDictionary(std::optional<platform::Dictionary> dictionary);
  const std::shared_ptr<CVNQueuePlayerItem>& playerItemAfterTransition() const { return playerItemAfterTransition_; }
  void setPlayerItemAfterTransition(std::shared_ptr<CVNQueuePlayerItem> item) {
    playerItemAfterTransition_ = std::move(item);
  }
  bool hasPreviousItemMixPoint() const { return hasPreviousItemMixPoint_; }
  double previousItemMixPointFromInPoint() const { return previousItemMixPointFromInPoint_; }
  bool hasNextItemMixPoint() const { return hasNextItemMixPoint_; }
  double nextItemMixPointFromInPoint() const { return nextItemMixPointFromInPoint_; }
  // Set by the item from its settings, or by the queue player on a transition it builds.
  void setPreviousItemMixPoint(double seconds) {
    hasPreviousItemMixPoint_ = true;
    previousItemMixPointFromInPoint_ = seconds;
  }
  void setNextItemMixPoint(double seconds) {
    hasNextItemMixPoint_ = true;
    nextItemMixPointFromInPoint_ = seconds;
  }
  bool shouldBeIgnoredForAllowedBuffer() const { return shouldBeIgnoredForAllowedBuffer_; }
  void setShouldBeIgnoredForAllowedBuffer(bool value) { shouldBeIgnoredForAllowedBuffer_ = value; }

 protected:
  // Logs "missing override for <name>" to the system log.
  static void logMissingOverride(const char* name);
  // The one place the state may move back: a scrub returns the item to
  // Reading without replaying the callbacks of states already passed.
  void returnToReadingState() { itemState_ = kItemStateReading; }
  void setIsValid(bool valid, std::optional<std::string> reason);
  void setReadyForPlayback(bool ready) { isReadyForPlayback_ = ready; }
  void setTimes(platform::media::MediaTime elapsed, platform::media::MediaTime remaining) {
    elapsedTime_ = elapsed;
    remainingTime_ = remaining;
  }
  void setLastReturnedTexture(render::TextureRef texture) { lastReturnedTexture_ = std::move(texture); }
  void setTexturePixelFormat(std::uint32_t format) { texturePixelFormat_ = format; }
  void setTextureWidthRatio(float ratio) { textureWidthRatio_ = ratio; }
  void setCurrentPixelBufferIsMissing(bool missing) { currentPixelBufferIsMissing_ = missing; }
  void setUniqueID(std::string uniqueID) { uniqueID_ = std::move(uniqueID); }
  ItemDictionary& mutableItemDictionary() { return itemDictionary_; }
  // The base's own content rectangle, for subclasses that place it themselves.
  foundation::Rect storedContentRect() const;
  void storeContentRect(foundation::Rect rect);

 private:
  void announceStateLeft(std::int32_t state);

  std::optional<std::string> displayName_;
  std::string uniqueID_;
  std::optional<std::string> playlistItemUniqueID_;
  DisplayModeRef outputDisplayMode_;
  std::uint32_t outputBufferFormat_ = 0;
  render::Device* metalDevice_ = nullptr;  // not owned; the engine outlives its items
  render::TextureRef lastReturnedTexture_;
  std::uint32_t texturePixelFormat_ = kUnknownTexturePixelFormat;
  float textureWidthRatio_ = 1.0f;
  ItemDictionary itemDictionary_;
  CVNQueuePlayerItemDelegate* delegate_ = nullptr;  // not owned; the queue player outlives its items
  std::int32_t itemState_ = kItemStateNotInitialized;
  std::int32_t requestedItemState_ = kItemStateInitialized;
  platform::media::MediaTime elapsedTime_ = platform::media::MediaTime::zero();
  platform::media::MediaTime remainingTime_ = platform::media::MediaTime::zero();
  double playbackDuration_ = 0;
  bool isValid_ = true;
  std::optional<std::string> invalidReason_;
  bool isReadyForPlayback_ = false;
  bool isFinished_ = false;
  bool isCanceled_ = false;
  bool didLogItemStarted_ = false;
  bool didLogItemNotReadyForPlayback_ = false;
  std::int32_t endBehaviour_ = 0;
  bool canReturnNewTexture_ = false;
  bool shouldForceTextureUpdate_ = false;
  bool holdFirstFrame_ = false;
  bool metalAPIEnabled_ = false;  // the GPU path is not there yet
  bool shouldPremultiplyByAlpha_ = false;
  bool currentPixelBufferIsMissing_ = true;
  std::shared_ptr<platform::media::PixelBufferPool> sharedPixelBufferPool_;
  foundation::Size rasterSize_{1920, 1080};
  std::shared_ptr<CVNQueuePlayerItem> playerItemAfterTransition_;
  bool hasPreviousItemMixPoint_ = false;
  double previousItemMixPointFromInPoint_ = 0;
  bool hasNextItemMixPoint_ = false;
  double nextItemMixPointFromInPoint_ = 0;
  bool shouldBeIgnoredForAllowedBuffer_ = false;

  mutable std::mutex sharedFieldsMutex_;
  platform::media::AudioStreamBasicDescription outputAudioStreamBasicDescription_{};  // guarded by sharedFieldsMutex_
  foundation::Rect contentRect_{};                                                    // guarded by sharedFieldsMutex_
  foundation::Rect textureRect_{{0, 0}, {1, 1}};                                      // guarded by sharedFieldsMutex_
  std::optional<platform::Dictionary> itemBDictionary_;                               // guarded by sharedFieldsMutex_
};

}  // namespace engine::items
