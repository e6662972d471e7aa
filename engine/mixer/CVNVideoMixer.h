#pragma once
// The video mixer: makes the engine's output frames. It keeps three finished
// frames (picture, audio, captions, timecode) ahead of the output; each pull
// hands out the oldest and starts one render, so the output's clock paces
// rendering and a frame leaves three pulls after its render began. It owns
// the main queue player ("MainQueue") for a run, is its data source (items
// from the host's delegate, live inputs checked) and turns its events into
// engine status changes and host calls.
//
// Lives on: the output's thread pulls; renders run on the serial
// "com.dirarovazovo.videoMixer.renderingQueue"; data source and queue player
// events on the player's queue; host calls posted to the main queue, in
// order. Start and stop from one control thread at a time. Every wait is
// bounded on platform::Clock: a pull waits two frame durations then sends
// black, priming waits 1 s a frame, the stop drain 2 s. Made with create():
// posted tasks hold the mixer weakly.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/CVNEngineDelegate.h"
#include "engine/graphicsservices/CVNCGCompositionRenderer.h"
#include "engine/graphicsservices/CVNCGProjectsPlaybackController.h"
#include "engine/graphicsservices/CVNGraphicContext.h"
#include "engine/mixer/CVNVideoMixerDelegate.h"
#include "engine/queueplayer/CVNQueuePlayer.h"
#include "engine/render/FrameRenderer.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Semaphore.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNVideoOutput.h"

namespace engine::mixer {

inline constexpr platform::media::FourCharCode kFormatNotSpecified = 0x5231324D;  // 'R12M'
inline constexpr int kPrimedFrames = 3;
// The most audio one video frame carries, and the ring's size in frames.
inline constexpr std::uint32_t kSilenceFrames = 2002;
inline constexpr std::uint64_t kAudioRingFrames = 26026;
// Disabled or stopped live inputs skipped in one request before giving up.
inline constexpr int kMaxSkippedLiveItems = 64;
inline constexpr auto kPrimingTimeout = std::chrono::seconds(1);
inline constexpr auto kStopDrainTimeout = std::chrono::seconds(2);

struct MixerFrame {
  std::shared_ptr<platform::media::PixelBuffer> picture;
  const std::uint8_t* audio = nullptr;  // stays readable until later frames wrap the ring
  std::uint32_t audioFrameCount = 0;
  platform::media::SampleBufferRef closedCaption;  // null when the frame has none
  platform::media::SampleBufferRef timecode;
  // Keeps `audio` valid for as long as the frame is held, even past a stop.
  std::shared_ptr<const void> audioOwner;
};

class CVNVideoMixer final : public queueplayer::CVNQueuePlayerDataSource,
                            public queueplayer::CVNQueuePlayerDelegate,
                            public std::enable_shared_from_this<CVNVideoMixer> {
 public:
  using DisplayModeRef = std::shared_ptr<const pluginframework::CVNDisplayMode>;
  // Builds the renderer of a run over its queue player; the default hands on
  // the player's own pixel buffers.
  using RendererFactory = std::function<std::unique_ptr<render::FrameRenderer>(queueplayer::CVNQueuePlayer&)>;
  // Builds each item the data source accepts; the default makes a clip item.
  using ItemFactory = std::function<std::shared_ptr<items::CVNMediaQueuePlayerItem>()>;

  static std::shared_ptr<CVNVideoMixer> create();
  ~CVNVideoMixer() override;
  CVNVideoMixer(const CVNVideoMixer&) = delete;
  CVNVideoMixer& operator=(const CVNVideoMixer&) = delete;

  static bool isBufferFormatAccepted(platform::media::FourCharCode format);
  static std::string descriptionForBufferFormat(platform::media::FourCharCode format);

  // Plain setters: before start. The delegates are not owned and outlive the mixer.
  void setDelegate(CVNVideoMixerDelegate* delegate) { delegate_ = delegate; }
  void setMainQueueDelegate(CVNEngineDelegate* delegate) { mainQueueDelegate_ = delegate; }
  void setProjectPlaybackController(std::shared_ptr<CVNCGProjectsPlaybackController> controller);
  void setCompositionRenderer(std::shared_ptr<CVNCGCompositionRenderer> renderer);
  const std::shared_ptr<CVNCGCompositionRenderer>& compositionRenderer() const { return compositionRenderer_; }
  void setShouldStopCompositionRendererWhenStoppingMixer(bool value) { shouldStopRendererWithMixer_ = value; }
  void setShouldHoldBlackFrameInsteadOfLastFrame(bool value);
  void setDebugOutputKeyOnly(bool value) { debugOutputKeyOnly_ = value; }
  bool debugOutputKeyOnly() const { return debugOutputKeyOnly_; }
  void setRendererFactory(RendererFactory factory) { rendererFactory_ = std::move(factory); }
  void setItemFactory(ItemFactory factory) { itemFactory_ = std::move(factory); }
  const CVNGraphicContext& graphicContext() const { return graphicContext_; }
  CVNGraphicContext& graphicContext() { return graphicContext_; }

  // Stores the output and takes its display mode; nullptr forgets it.
  void setSelectedOutput(std::shared_ptr<pluginframework::CVNVideoOutput> output);
  // Keeps a copy of the mode and sizes the graphic context; the display
  // width is 1024 (576 lines) or 854 (486 lines) when the output asks for 16:9.
  void setDisplayMode(const DisplayModeRef& mode);
  DisplayModeRef displayMode() const;
  std::int32_t displayWidth() const { return displayWidth_; }
  bool interlaced() const;
  platform::media::FourCharCode bufferFormat() const { return bufferFormat_; }
  bool isRunning() const { return isRunning_.load(); }
  std::shared_ptr<queueplayer::CVNQueuePlayer> mainQueuePlayer() const;

  // None on success, else the reason (also logged).
  std::optional<std::string> startMixer();
  std::optional<std::string> stopMixer();

  // The oldest finished frame, and one render started. Waits at most two
  // frame durations; then black, silence and no captions. False only when
  // the mixer is not running.
  bool copyNextPixelBuffer(MixerFrame* frame);
  void renderNextFrame();

  bool startPlayback();
  void pausePlayback();
  void resumePlayback();
  void stopPlayback();
  void pauseResume();
  void stepForward();

  double diskPerformanceRatio() const;
  double decompressionPerformanceRatio() const;
  double transferPerformanceRatio() const;
  // The mean render time as a fraction of a frame since the last read; 0 without frames.
  double renderingPerformanceRatio();

  // Queue player data source and delegate (on the player's queue).
  std::shared_ptr<items::CVNQueuePlayerItem> nextItemForQueuePlayer(queueplayer::CVNQueuePlayer& player,
                                                                   const items::ItemDictionary* afterItem,
                                                                   bool becauseOfError,
                                                                   platform::Dictionary* playbackControllerInfo) override;
  void itemsOrStatusChangedForQueuePlayer(queueplayer::CVNQueuePlayer& player, std::uint64_t currentStatus,
                                          const ItemRef& fadeOutItem, const ItemRef& currentItem,
                                          const ItemRef& fadeInItem) override;
  void queuePlayerDidInitializeValidItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) override;
  void queuePlayerDidStartItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) override;
  void queuePlayerDidStopItem(queueplayer::CVNQueuePlayer& player, const ItemRef& item) override;
  void queuePlayerStatusDidChange(queueplayer::CVNQueuePlayer& player, std::uint64_t status) override;
  void queuePlayerLockedClipsChanged(queueplayer::CVNQueuePlayer& player,
                                     const std::vector<items::ItemDictionary>& lockedClips) override;
  void queuePlayerDidBecomeReadyForPlaybackForItem(queueplayer::CVNQueuePlayer&, const ItemRef&) override {}
  void queuePlayerFadeOutItemDidChange(queueplayer::CVNQueuePlayer& player, const ItemRef& item) override;
  void queuePlayerFadeInItemDidChange(queueplayer::CVNQueuePlayer& player, const ItemRef& item) override;
  void queuePlayerDidUpdateLogoURL(queueplayer::CVNQueuePlayer& player,
                                   const std::optional<media::MediaURL>& url) override;

 private:
  // What the renders of one run use; each render holds it, so a stop that
  // gives up draining never frees it under a late render.
  struct Run;

  CVNVideoMixer();
  std::optional<std::string> fail(const std::string& message) const;
  std::optional<std::string> setUpRun(const std::shared_ptr<Run>& run);
  void setupSilenceBuffers(std::uint32_t bytesPerFrame);
  void render(const std::shared_ptr<Run>& run);
  void collectAudioAndCaptions(Run& run, std::uint32_t audioFrames, MixerFrame* frame);
  void handOutBlack(const Run& run, MixerFrame* frame);
  bool drainRenders();
  void processingFrameDone();
  std::shared_ptr<Run> currentRun() const;
  bool isMainQueuePlayer(const queueplayer::CVNQueuePlayer& player) const;
  // Posts a host call to the main queue, behind a weak guard.
  void onMainQueue(std::function<void(CVNEngineDelegate&)> call);
  void updateAudioRoutingForItem(const ItemRef& item);
  std::optional<std::string> liveItemSkipReason(const items::ItemDictionary& dictionary) const;
  void addOutputKeys(items::ItemDictionary* dictionary) const;
  CVNEngineDelegate::Timestamp timestampForHost() const;

  std::atomic<CVNVideoMixerDelegate*> delegate_{nullptr};
  std::atomic<CVNEngineDelegate*> mainQueueDelegate_{nullptr};
  std::shared_ptr<CVNCGProjectsPlaybackController> projectPlaybackController_;
  std::shared_ptr<CVNCGCompositionRenderer> compositionRenderer_;
  bool shouldStopRendererWithMixer_ = true;
  std::atomic<bool> shouldHoldBlackFrameInsteadOfLastFrame_{false};
  bool debugOutputKeyOnly_ = false;
  RendererFactory rendererFactory_;
  ItemFactory itemFactory_;
  CVNGraphicContext graphicContext_{"VideoMixer Graphic Context"};

  std::shared_ptr<platform::SerialQueue> renderingQueue_;
  std::shared_ptr<pluginframework::CVNVideoOutput> selectedOutput_;
  mutable std::mutex displayModeLock_;
  DisplayModeRef displayMode_;  // guarded by displayModeLock_
  std::int32_t displayWidth_ = 0;
  platform::media::FourCharCode bufferFormat_ = kFormatNotSpecified;
  std::int32_t textureWidth_ = 0;
  std::int32_t textureHeight_ = 0;
  std::atomic<bool> isRunning_{false};
  std::shared_ptr<std::vector<std::uint8_t>> silenceAudioBuffer_;
  std::shared_ptr<media::CVNCircularBuffer> circularAudioBuffer_;

  mutable std::mutex runLock_;
  std::shared_ptr<Run> run_;  // guarded by runLock_; set for exactly a run

  // Finished frames, oldest first: each entry keeps its picture, audio,
  // captions and timecode in step.
  std::mutex audioVideoClosedCaptionBuffersLock_;
  std::deque<MixerFrame> finishedFrames_;  // guarded by audioVideoClosedCaptionBuffersLock_

  std::mutex processingFrameCountLock_;
  std::condition_variable processingFramesDone_;
  std::uint64_t processingFrameCount_ = 0;  // guarded by processingFrameCountLock_

  std::mutex performanceSync_;
  std::int32_t renderingPerformanceCpt_ = 0;        // guarded by performanceSync_
  double renderingPerformanceElapsedTime_ = 0.0;    // guarded by performanceSync_
  platform::Clock::TimePoint lastBlackLog_{};       // guarded by performanceSync_
  std::uint64_t blackFramesSinceLog_ = 0;           // guarded by performanceSync_
};

}  // namespace engine::mixer
