#pragma once
// The queue player: sequences queue player items for one output. It keeps an
// ordered queue, asks its data source for more whenever less than its
// read-ahead duration is buffered, tells each item how far to read, and once
// per output frame chooses the fade-out, current and fade-in items, moves the
// actual playback status towards the requested one and hands out the picture.
//
// Lives on: its serial queue "com.dirarovazovo.queueplayer.<name>". Control
// operations post to it or wait on it (each wait bounded on platform::Clock;
// a wait asked for from the queue itself is refused with a log line and the
// neutral answer, since it could only deadlock). Items call back on it. The
// three current items and the logo are also read from other threads, under
// the current-item lock. Queue operations and the frame steps must be called
// on the queue. Made with create(): posted tasks hold the player weakly.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "captions/CVNSubtitlesPacketizer.h"
#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/CVNQueuePlayerItemDelegate.h"
#include "engine/queueplayer/CVNQueuePlayerDataSource.h"
#include "engine/queueplayer/CVNQueuePlayerDelegate.h"
#include "engine/queueplayer/CVNQueuePlayerRenderingInfo.h"
#include "engine/queueplayer/TransitionFactory.h"
#include "platform/DispatchQueue.h"
#include "platform/media/SampleBuffer.h"

namespace engine::items {
class CVNMediaQueuePlayerItem;
}

namespace engine::queueplayer {

enum QueuePlayerPlaybackStatus : std::uint64_t {
  kQueuePlayerStopped = 0,
  kQueuePlayerWaiting = 1,
  kQueuePlayerPlaying = 2,
  kQueuePlayerPaused = 3,
  kQueuePlayerHoldingLastFrame = 4,
  kQueuePlayerHoldingFirstFrame = 5,
  kQueuePlayerStopping = 6,
};

// How long a caller waits for the player's queue before it takes the neutral answer.
inline constexpr platform::Clock::Duration kQueuePlayerSyncTimeout = std::chrono::seconds(2);
// Invalid answers in a row after which the data source is not asked again
// until the application claims an item or forces a switch.
inline constexpr int kMaxInvalidAnswersInARow = 16;
inline constexpr double kDefaultReadAheadBufferInSeconds = 10.0;

class CVNQueuePlayer final : public items::CVNQueuePlayerItemDelegate,
                             public std::enable_shared_from_this<CVNQueuePlayer> {
 public:
  using ItemRef = std::shared_ptr<items::CVNQueuePlayerItem>;
  using PixelBufferRef = std::shared_ptr<platform::media::PixelBuffer>;

  // nullopt gives "QueuePlayer".
  static std::shared_ptr<CVNQueuePlayer> create(std::optional<std::string> displayName);
  ~CVNQueuePlayer() override;
  CVNQueuePlayer(const CVNQueuePlayer&) = delete;
  CVNQueuePlayer& operator=(const CVNQueuePlayer&) = delete;

  // Accepted and ignored.
  static void setShouldAutoStartCurrentItem(bool) {}

  // Properties: set them before frames are pulled.
  const std::string& displayName() const { return displayName_; }
  const items::CVNQueuePlayerItem::DisplayModeRef& outputDisplayMode() const { return outputDisplayMode_; }
  void setOutputDisplayMode(items::CVNQueuePlayerItem::DisplayModeRef mode) { outputDisplayMode_ = std::move(mode); }
  void setFieldToRender(std::int32_t field) { fieldToRender_ = field; }
  CVNQueuePlayerDelegate* delegate() const { return delegate_; }
  void setDelegate(CVNQueuePlayerDelegate* delegate) { delegate_ = delegate; }
  CVNQueuePlayerDataSource* dataSource() const { return dataSource_; }
  void setDataSource(CVNQueuePlayerDataSource* dataSource) { dataSource_ = dataSource; }
  bool preventFromNilCurrentItem() const { return preventFromNilCurrentItem_; }
  void setPreventFromNilCurrentItem(bool value) { preventFromNilCurrentItem_ = value; }
  std::optional<media::MediaURL> staticOverlayLogoURL() const;
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  void setMetalAPIEnabled(bool value) { metalAPIEnabled_ = value; }
  foundation::Size renderingSize() const;
  void setRenderingSize(foundation::Size size);
  bool waitingForForceSwitchItem() const { return waitingForForceSwitchItem_; }
  bool shouldHoldBlackFrameInsteadOfLastFrame() const { return shouldHoldBlackFrameInsteadOfLastFrame_; }
  void setShouldHoldBlackFrameInsteadOfLastFrame(bool value) { shouldHoldBlackFrameInsteadOfLastFrame_ = value; }
  double readAheadBufferInSeconds() const { return readAheadBufferInSeconds_; }
  void setTransitionFactory(TransitionFactory factory) { transitionFactory_ = std::move(factory); }

  // The item that plays a transition into a clip; nullptr without a factory
  // or when the dictionary makes none.
  ItemRef transitionFromDictionary(const platform::Dictionary& dictionary, render::Device* metalDevice,
                                   items::CVNQueuePlayerItem::DisplayModeRef outputDisplayMode,
                                   std::uint32_t outputBufferFormat,
                                   const platform::media::AudioStreamBasicDescription& asbd,
                                   items::CVNQueuePlayerItemDelegate* delegate) const;

  // Control (posted to the queue).
  void play();
  void pause();
  void stop();
  void prepare();
  void startPlayback();
  void stopPlayback();
  void forceSwitchToNextItem();
  void claimNextItem();
  // The next frame plays one picture; the player then ends paused.
  void stepForward();
  void updateItem(const std::string& playlistItemUniqueID, const items::ItemDictionary& attributes,
                  std::function<void(const std::optional<std::string>& error)> completionHandler);
  // Sent to every queued item (the first two to clips only).
  void setAllowSmartResize(bool allow);
  void setExplicitInvertFieldOrder(bool invert);
  void setShouldPremultiplyByAlpha(bool premultiply);
  void addSubtitleRecordsToCurrentItem(const captions::SubtitleRecords& records);
  void deleteSubtitleRecordsFromCurrentItem();

  // Queries (waiting on the queue; the neutral answer when refused or late).
  bool setCurrentItemTime(double seconds, bool precisely);
  std::uint64_t requestedPlaybackStatus();
  std::uint64_t playbackStatus();
  std::optional<captions::SubtitleRecords> subtitleRecordsFromCurrentItem();
  platform::media::SampleBufferRef nextClosedCaptionSampleBuffer();
  platform::media::SampleBufferRef nextTimecodeSampleBuffer();
  // Index 0 the current item, -1 the fade-out item, any other the fade-in item.
  const std::uint8_t* nextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes, int itemIndex);
  const std::uint8_t* fadeOutItemNextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes) {
    return nextAudioSamples(sampleCount, outSizeInBytes, -1);
  }
  const std::uint8_t* currentItemNextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes) {
    return nextAudioSamples(sampleCount, outSizeInBytes, 0);
  }
  const std::uint8_t* fadeInItemNextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes) {
    return nextAudioSamples(sampleCount, outSizeInBytes, 1);
  }
  platform::Array VANCPackets();
  double diskPerformanceRatio();
  double decompressionPerformanceRatio();
  // The per-frame pull without the GPU: the picture of the current item, or
  // nullptr. Runs one frame step on the queue.
  PixelBufferRef nextPixelBuffer();
  // The per-frame pull with the GPU: the three items' textures and how to
  // draw them. Runs one frame step on the queue; `commandBuffer` is used
  // only during it.
  CVNQueuePlayerRenderingInfo nextQueuePlayerRenderingInfoUsingCommandBuffer(render::CommandBuffer* commandBuffer);

  // Snapshot under the current-item lock, any thread. Without a fade-in item
  // and with a transition current, the fade-in answer is the item after it.
  void getFadeOutItem(ItemRef* fadeOutItem, ItemRef* currentItem, ItemRef* fadeInItem) const;
  ItemRef currentItem() const;
  std::shared_ptr<items::CVNMediaQueuePlayerItem> lastStartedMediaQueuePlayerItem() const;

  // Queue operations: on the player's queue only.
  const std::vector<ItemRef>& items() const { return items_; }
  void addItem(const ItemRef& item) { insertItem(item, items_.size()); }
  void insertItem(const ItemRef& item, std::size_t index);
  void removeAllItems();
  void removeItem(const ItemRef& item);
  void removeItemsAtIndexes(const std::set<std::size_t>& indexes);
  // items().size() when not queued.
  std::size_t indexOfItem(const ItemRef& item) const;
  ItemRef nextItemAfterItem(const ItemRef& item) const;
  ItemRef itemBeforeItem(const ItemRef& item) const;
  ItemRef nextMediaItemAfterItem(const ItemRef& item) const;
  void stopReadingAndDecodingUntilItem(const ItemRef& item);
  void stopReadingAndDecodingFramesForItem(const ItemRef& item);
  void removeUnusedClips();
  void lockedClipsChanged();
  ItemRef appendDataSourceNextItemBecauseOfError(bool becauseOfError);

  // The frame step's parts: on the player's queue only.
  void updateCurrentFadeInFadeOutItems();
  void updatePlaybackStatus();
  void updateAllowedBuffer();

  // Item callbacks (on the player's queue).
  std::shared_ptr<platform::DispatchQueue> playerItemDelegateDispatchQueue() override { return queue_; }
  std::int32_t fieldToRender() override { return fieldToRender_; }
  void queuePlayerItemDidInitialize(items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemDidStartReadingFrames(items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemDidBecomeReadyForPlayback(items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemDidReadAllFrames(items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemDidDecompressAllFrames(items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemDidRenderAllFrames(items::CVNQueuePlayerItem& item) override;
  void ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(media::CVNSessionBase& session, double seconds,
                                                           items::CVNQueuePlayerItem& item) override;
  void queuePlayerItemChangedEndBehaviourFromTo(items::CVNQueuePlayerItem& item, std::int32_t from,
                                                std::int32_t to) override;

 private:
  explicit CVNQueuePlayer(std::string displayName);

  // Posts `task` to the queue behind a weak guard.
  void onQueue(std::function<void(CVNQueuePlayer&)> task);
  // Runs `task` on the queue and waits (bounded); false, with a log line
  // naming `operation`, when refused or late.
  bool onQueueAndWait(const char* operation, const std::function<void()>& task);
  // Posts a delegate call to the main queue behind a weak guard.
  void onMainQueue(std::function<void(CVNQueuePlayer&, CVNQueuePlayerDelegate&)> call);
  // Through the technical log; callers name the player in the text.
  void log(std::uint32_t level, bool show, const char* format, ...) const __attribute__((format(printf, 4, 5)));
  void logItemEvent(const items::CVNQueuePlayerItem& item, const char* event) const;

  void setFadeOutItem(const ItemRef& item);
  void setFadeInItem(const ItemRef& item);
  void setCurrentItem(const ItemRef& item);
  void setForceSwitchItem(const ItemRef& item);
  void setPlaybackStatus(std::uint64_t status);
  void itemDidStartPlaying(const ItemRef& item);
  void itemDidFinishPlaying(const ItemRef& item);
  void removeItems(const std::vector<ItemRef>& removed);
  void handleInitializedItem(const ItemRef& item);
  void handleInvalidItem(const ItemRef& item);
  void countInvalidAnswer();
  void handleEndBehaviourChange(const ItemRef& item, std::int32_t to);
  void applyAttributeUpdate(const std::string& playlistItemUniqueID, const items::ItemDictionary& attributes,
                            const std::function<void(const std::optional<std::string>&)>& completionHandler);
  void logReceivedItem(const ItemRef& item) const;
  // The start transition of a clip, if it has one.
  ItemRef startTransitionOf(const ItemRef& item) const;
  void pixelBufferStep(PixelBufferRef* result);
  void renderingInfoStep(render::CommandBuffer* commandBuffer);
  void describeLayers();
  // Tells the delegate when the status or the items differ from before the step.
  void reportChanges(std::uint64_t statusBefore, const ItemRef& fadeOutBefore, const ItemRef& currentBefore,
                     const ItemRef& fadeInBefore, bool withFadeItems);
  ItemRef pictureItem() const;

  const std::string displayName_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  TransitionFactory transitionFactory_;
  items::CVNQueuePlayerItem::DisplayModeRef outputDisplayMode_;
  std::atomic<CVNQueuePlayerDelegate*> delegate_{nullptr};      // not owned; outlives the player
  std::atomic<CVNQueuePlayerDataSource*> dataSource_{nullptr};  // not owned; outlives the player
  std::atomic<bool> preventFromNilCurrentItem_{false};
  std::atomic<bool> metalAPIEnabled_{false};
  std::atomic<bool> waitingForForceSwitchItem_{false};
  std::atomic<bool> shouldHoldBlackFrameInsteadOfLastFrame_{false};
  std::atomic<std::int32_t> fieldToRender_{1};

  // On the queue only.
  std::vector<ItemRef> items_;
  std::vector<ItemRef> initializingItems_;
  std::vector<ItemRef> currentReadingItems_;
  ItemRef forceSwitchItem_;
  std::uint64_t playbackStatus_ = kQueuePlayerStopped;
  std::uint64_t requestedPlaybackStatus_ = kQueuePlayerStopped;
  double readAheadBufferInSeconds_ = kDefaultReadAheadBufferInSeconds;
  bool testNextFrame_ = false;
  bool delegateIsRunningOutOfClips_ = false;
  bool askingDataSource_ = false;
  int invalidAnswersInARow_ = 0;
  CVNQueuePlayerRenderingInfo renderingInfo_;

  // Written on the queue under the lock; read on the queue without it.
  mutable std::mutex currentItemLock_;
  ItemRef currentItem_;                                // guarded by currentItemLock_
  ItemRef fadeOutItem_;                                // guarded by currentItemLock_
  ItemRef fadeInItem_;                                 // guarded by currentItemLock_
  std::optional<media::MediaURL> staticOverlayLogoURL_;  // guarded by currentItemLock_
  foundation::Size renderingSize_{};                   // guarded by currentItemLock_
};

}  // namespace engine::queueplayer
