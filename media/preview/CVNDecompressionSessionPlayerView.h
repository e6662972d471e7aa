#pragma once
// CVNDecompressionSessionPlayerView: previews one media file or one live
// source without the playout engine. It owns one session at a time, pulls a
// decoded frame from it on each tick of a display timer at the item's frame
// rate, puts it on its own display and hands the frame's audio (48 kHz
// 16-bit, the per-frame cadence of the rate) to an audio preview. It steps
// through frames already decoded and scrubs otherwise, and reports position
// and play state to its delegate on the main queue.
//
// Lives on: the main queue (loading, transport, session callbacks); the
// display timer ticks on the serial queue "com.dirarovazovo.videoPreview".
// One mutex guards the session and the playback state; delegate messages are
// posted, never sent under it. Decode sizes stay within 640 x 480.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/preview/AudioPreviewStream.h"
#include "media/preview/CVNAudioPreview.h"
#include "media/preview/CVNPlayerView.h"
#include "media/preview/SampleBufferDisplay.h"
#include "media/sessions/CVNSessionBase.h"
#include "platform/DispatchQueue.h"
#include "platform/Timer.h"

namespace media {

class CVNZiraSource;

// How the view makes its sessions and finds live sources (tests replace them).
struct PlayerViewServices {
  using DelegateRef = CVNSessionBase::DelegateRef;
  using QueueRef = std::shared_ptr<platform::DispatchQueue>;
  std::function<std::shared_ptr<CVNSessionBase>(const std::string& path, const std::string& sourceDescription,
                                                DelegateRef, QueueRef)>
      makeFileSession;
  std::function<std::shared_ptr<CVNSessionBase>(std::shared_ptr<CVNZiraSource>, DelegateRef, QueueRef)> makeLiveSession;
  std::function<std::shared_ptr<CVNZiraSource>(const std::string& name)> sourceWithName;
  AudioPreviewStreamFactory audioStreams;
  // The queue of session callbacks and delegate messages.
  QueueRef mainQueue;
  // File and live sessions, the shared source controller, the sound server, the main queue.
  static PlayerViewServices standard();
};

class CVNDecompressionSessionPlayerView final : public CVNPlayerView {
 public:
  static constexpr const char* kDisplayQueueLabel = "com.dirarovazovo.videoPreview";
  static constexpr double kReadAheadSeconds = 1.0;
  static constexpr double kMaximumDecodeWidth = 640.0;
  static constexpr double kMaximumDecodeHeight = 480.0;
  // Rates outside (0, 1000] fps are refused as invalid.
  static constexpr double kMaximumFramesPerSecond = 1000.0;

  // `display` is not owned and outlives the view (nullptr: frames go nowhere).
  explicit CVNDecompressionSessionPlayerView(SampleBufferDisplay* display,
                                             PlayerViewServices services = PlayerViewServices::standard());
  ~CVNDecompressionSessionPlayerView() override;
  CVNDecompressionSessionPlayerView(const CVNDecompressionSessionPlayerView&) = delete;
  CVNDecompressionSessionPlayerView& operator=(const CVNDecompressionSessionPlayerView&) = delete;

  // CVNPlayerView.
  void setItemURL(const std::string& path, double startPosition, CompletionHandler handler) override;
  bool isPlayable() const override;
  double itemDuration() const override;
  void setItemDuration(double seconds) override;
  platform::media::MediaTime itemFrameDuration() const override;
  bool itemIsDropFrame() const override;
  void togglePlayPause() override;
  platform::media::MediaTime currentTime() const override;
  void setVolume(double volume) override;
  void seekToTime(double seconds, bool precisely, bool backwards) override;
  float rate() const override;
  void setRate(float rate) override;
  CVNPlayerViewDelegate* playerViewDelegate() const override { return playerViewDelegate_; }
  void setPlayerViewDelegate(CVNPlayerViewDelegate* delegate) override { playerViewDelegate_ = delegate; }
  std::optional<std::int32_t> firstTCFrameNumber() const override;

  void setZiraSourceName(const std::string& name, CompletionHandler handler) override;
  void setItemOutPoint(double seconds);
  void play();
  void pause();
  void seekToTime(double seconds, bool precisely) { seekToTime(seconds, precisely, false); }
  bool isFinishedPlaying() const;
  bool isPlaying() const;
  bool itemIsZira() const;
  bool itemIsStreamClip() const;
  bool itemIsStreamZira() const;
  // Zero times are ignored: they would freeze stills at no duration.
  void setOutputFrameDuration(platform::media::MediaTime duration) override;
  bool forceNewSessionCreation() const { return forceNewSessionCreation_; }
  void setForceNewSessionCreation(bool force) override { forceNewSessionCreation_ = force; }
  void viewWillDisappear() { pause(); }
  void viewDidHide();

  // The display timer's period, none until a valid session initialised.
  std::optional<std::chrono::nanoseconds> displayInterval() const;
  // What the current session was asked to decode to.
  foundation::Size decompressSize() const;
  std::int32_t preferedAudioSamplesPerAudioBuffer() const { return audioPreview_.preferedAudioSamplesPerAudioBuffer(); }

 private:
  class SessionDelegate;
  friend class SessionDelegate;

  // Each *Locked operation expects mutex_ held.
  void setSessionLocked(std::shared_ptr<CVNSessionBase> session);
  void playLocked();
  void pauseLocked();
  void setIsPlayingLocked(bool playing);
  void resumeTimerLocked();
  void suspendTimerLocked();
  void retrieveNextBufferLocked();
  void setSampleBufferLocked(const platform::media::SampleBufferRef& frame);
  void seekLocked(double seconds, bool backwards);
  platform::media::MediaTime currentTimeLocked() const;
  double framesPerSecondLocked() const;
  bool isLiveStreamWithoutSeeking() const;
  void onTick();

  void sessionDidInitialize(CVNSessionBase& session);
  void sessionIsReadyForPlayback(CVNSessionBase& session);
  void sessionStoppedScrubbing(CVNSessionBase& session);

  // Posted to the main queue; nothing once the view is gone.
  void postPositionChanged(platform::media::MediaTime position);
  void postStatusChanged(std::int32_t status);
  void postToMain(std::function<void(CVNDecompressionSessionPlayerView&)> call);

  SampleBufferDisplay* const display_;  // not owned; outlives the view
  const PlayerViewServices services_;
  CVNPlayerViewDelegate* playerViewDelegate_ = nullptr;  // not owned; main queue only
  std::shared_ptr<SessionDelegate> sessionDelegate_;
  // Cleared in the destructor so posted messages find no view.
  std::shared_ptr<CVNDecompressionSessionPlayerView*> self_;
  bool forceNewSessionCreation_ = false;
  CompletionHandler itemInitializedHandler_;  // main queue only

  mutable std::mutex mutex_;
  std::shared_ptr<CVNSessionBase> session_;          // guarded by mutex_
  std::shared_ptr<CVNZiraSource> ziraSource_;        // guarded by mutex_
  std::int64_t frameCount_ = 0;                      // guarded by mutex_
  double startPositionInSeconds_ = 0;                // guarded by mutex_
  bool isScrubbing_ = false;                         // guarded by mutex_
  bool shouldStartWhenReadyForPlayback_ = false;     // guarded by mutex_
  bool shouldSkipOneFrame_ = false;                  // guarded by mutex_
  platform::media::AudioStreamBasicDescription asbd_;  // guarded by mutex_
  bool scrubbingPrecisely_ = false;                  // guarded by mutex_
  double scrubbingTime_ = -1.0;                      // guarded by mutex_
  bool preciseScrubRequested_ = false;               // guarded by mutex_
  double requestedScrubTime_ = -1.0;                 // guarded by mutex_
  platform::media::MediaTime outputFrameDuration_ = platform::media::MediaTime::make(1000, 25000);  // guarded by mutex_
  bool timerActivated_ = false;                      // guarded by mutex_
  std::optional<std::chrono::nanoseconds> interval_;  // guarded by mutex_
  CVNAudioPreview audioPreview_;                     // calls made under mutex_

  std::unique_ptr<platform::SerialQueue> displayQueue_;
  std::unique_ptr<platform::Timer> timer_;  // guarded by mutex_; exists while the timer runs
};

}  // namespace media
