#pragma once
// The concrete engine: one video mixer and one graphics projects player on
// the selected output. A host makes it with initWithBundle, sets a delegate,
// an audio format and an output, and calls startEngine; the output then pulls
// each frame through the engine from the mixer. It keeps the engine playback
// status and tells the host of status and item changes on the main queue: a
// delegate that answers itemsOrStatusChanged gets those calls only, any
// other one playbackStatusDidChange, once per change.
//
// Threads: host calls from one control thread at a time (start, stop and the
// setters are not re-entrant); the status is read and written under its own
// lock since the mixer reports from its queue player's queue; the output
// pulls on its thread. stopEngine stops the output and waits for its pull
// before it stops the mixer and frees what the pull uses. Made with
// initWithBundle: tasks posted to the main queue hold the engine weakly.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/CVNEngineBase.h"
#include "engine/graphicsservices/CVNCGCompositionRenderer.h"
#include "engine/graphicsservices/CVNCGProjectsPlaybackController.h"
#include "engine/mixer/CVNVideoMixer.h"
#include "engine/mixer/CVNVideoMixerDelegate.h"
#include "foundation/CVNLogControllerDelegate.h"
#include "platform/Observable.h"

namespace engine {

class CVNDozirIvizurLib final : public CVNEngineBase,
                                public mixer::CVNVideoMixerDelegate,
                                public std::enable_shared_from_this<CVNDozirIvizurLib> {
 public:
  // The device plug-ins come from the bundle's "PlugIns" folder (the shared
  // device controller loads the main bundle's by itself).
  static std::shared_ptr<CVNDozirIvizurLib> initWithBundle(std::shared_ptr<const platform::Bundle> bundle);
  static std::shared_ptr<CVNDozirIvizurLib> initWithBundle(std::shared_ptr<const platform::Bundle> bundle,
                                                           std::shared_ptr<CVNCGCompositionRenderer> compositionRenderer);
  ~CVNDozirIvizurLib() override;

  // YES only with a GPU path, which this build lacks: NO with the reason.
  static bool isHardwareCompatible(std::string* message);
  // Failure logged at level 0 (shown); none when the class or text is missing.
  static std::optional<platform::Error> errorFromClass(const std::string& className, const std::string& description);
  static std::string stringFromEnginePlaybackStatus(std::int32_t status);
  // 8 (undefined) for an unknown name; names are matched exactly.
  static std::int32_t enginePlaybackStatusFromString(const std::string& name);

  void setEnableMetalAPI(bool enable);
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  void setDelegate(CVNEngineDelegate* delegate) override;
  void setLogDelegate(foundation::CVNLogControllerDelegate* delegate);
  void setSelectedOutput(std::shared_ptr<pluginframework::CVNVideoOutput> output) override;
  std::shared_ptr<pluginframework::CVNVideoOutput> selectedOutput() const override;
  const CVNGraphicContext& graphicContext() const { return videoMixer_->graphicContext(); }
  const std::shared_ptr<CVNCGProjectsPlaybackController>& projectsPlaybackController() const {
    return projectsPlaybackController_;
  }
  const std::shared_ptr<mixer::CVNVideoMixer>& videoMixer() const { return videoMixer_; }
  void setShouldHoldBlackFrameInsteadOfLastFrame(bool hold) { videoMixer_->setShouldHoldBlackFrameInsteadOfLastFrame(hold); }
  // Restarts the engine around the change when it runs.
  void setDebugOutputKeyOnly(bool keyOnly);
  void setPreview(bool) {}

  bool startEngine() override;
  bool stopEngine() override;

  bool startPlayback() override;
  void pausePlayback(bool pause) override;
  bool stopPlayback() override;
  void stepForward() override;
  bool forceNextItem() override;
  void claimNextItem();
  bool setCurrentItemTime(double seconds) override;
  void updateItemWithUniqueID(const std::string& uniqueID, const items::ItemDictionary& attributes,
                              std::function<void(const std::optional<std::string>&)> completionHandler) override;
  void addSubtitleRecordsToCurrentlyPlayingItem(const captions::SubtitleRecords& records);
  void deleteSubtitleRecordsFromCurrentlyPlayingItem();
  std::optional<captions::SubtitleRecords> subtitleRecordsFromCurrentlyPlayingItem();
  std::optional<EnginePlaybackStatusInfo> playbackStatus() override;
  std::int32_t enginePlaybackStatus() const override;
  std::string enginePlaybackStatusString() const { return stringFromEnginePlaybackStatus(enginePlaybackStatus()); }
  double diskPerformanceRatio() override { return videoMixer_->diskPerformanceRatio(); }
  double decompressionPerformanceRatio() override { return videoMixer_->decompressionPerformanceRatio(); }
  double renderingPerformanceRatio() override { return videoMixer_->renderingPerformanceRatio(); }
  double transferPerformanceRatio() override { return videoMixer_->transferPerformanceRatio(); }

  bool copyNextPixelBuffer(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                           const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                           platform::media::SampleBufferRef* closedCaptionBuffer,
                           platform::media::SampleBufferRef* timecodeSampleBuffer, bool preroll,
                           std::int64_t outputPTS) override;
  bool outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames,
                        std::shared_ptr<platform::media::PixelBuffer>* picture, std::int16_t* audio) override;

  // The mixer's reports (from its queue player's queue) and start and stop's.
  void videoMixerStatusDidChange(std::uint64_t queuePlayerStatus) override;
  void itemsOrStatusChanged(std::int32_t engineStatus, const items::ItemDictionary* fadeOutItem,
                            const items::ItemDictionary* currentItem, const items::ItemDictionary* fadeInItem) override;
  platform::media::AudioStreamBasicDescription engineASBD() const override { return CVNEngineBase::engineASBD(); }

 private:
  explicit CVNDozirIvizurLib(std::shared_ptr<const platform::Bundle> bundle);
  void setEnginePlaybackStatus(std::int32_t status);
  bool fail(const std::string& description) const;
  void connectionDescriptionChanged(const std::string& old, const std::string& now);
  std::shared_ptr<queueplayer::CVNQueuePlayer> queuePlayer() const { return videoMixer_->mainQueuePlayer(); }

  const std::shared_ptr<mixer::CVNVideoMixer> videoMixer_ = mixer::CVNVideoMixer::create();
  const std::shared_ptr<CVNCGProjectsPlaybackController> projectsPlaybackController_ =
      std::make_shared<CVNCGProjectsPlaybackController>();

  mutable std::recursive_mutex enginePlaybackStatusLock_;
  std::int32_t enginePlaybackStatus_ = mixer::kEngineClosed;  // guarded by enginePlaybackStatusLock_
  bool metalAPIEnabled_ = false;
  std::atomic<bool> delegateVersion2_{false};

  mutable std::mutex selectedOutputLock_;
  std::shared_ptr<pluginframework::CVNVideoOutput> selectedOutput_;  // guarded by selectedOutputLock_
  platform::ObservationToken connectionObservation_;

  // Held by each pull; stop takes it to know no pull is left, and pulls that
  // come after the output's stop get no frame.
  std::mutex pullLock_;
  bool acceptsPulls_ = false;  // guarded by pullLock_
};

}  // namespace engine
