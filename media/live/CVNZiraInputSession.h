#pragma once
// The session that plays a live source through the session interface, so a
// queue player item or a preview treats a live input like a clip. Frames come
// decoded from the capture device; the session keeps a short buffer of them,
// hands out one frame per output frame (dropping or repeating to follow the
// output clock), converts each handed-out frame's audio into the output format
// in the session's audio ring, queues captions (empty ones when the input has
// none), can hold the start until "before start" actions confirm or a time
// limit passes, and reports a missing signal once per outage.
//
// Threads: frames arrive on the capture thread (under the source's sessions
// lock); the player's queue calls the hand-out; the buffer queues carry the
// hand-over and the wait state is guarded. Callbacks run on the delegate queue.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "media/live/LiveAudioConverter.h"
#include "media/sessions/CVNSessionBase.h"

namespace media {

class CVNZiraSource;

class CVNZiraInputSession final : public CVNSessionBase {
 public:
  // Registers "ZiraInputNoSignalTimeOut" −5.0 (reports off unless configured).
  static void registerDefaults();
  // Nullptr without a source. Initialisation is reported on the delegate queue.
  static std::shared_ptr<CVNZiraInputSession> create(std::shared_ptr<CVNZiraSource> source, DelegateRef delegate,
                                                     std::shared_ptr<platform::DispatchQueue> delegateQueue);
  ~CVNZiraInputSession() override;

  bool startBuffering() override;
  void stopBuffering() override {}
  void discard() override;
  void setOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& format) override;
  platform::media::SampleBufferRef nextVideoSampleBuffer() override;
  bool isFinishedPlaying() const override;
  platform::media::FormatDescriptionRef closedCaptionFormatDescription() const override;
  platform::media::SampleBufferRef videoBufferHead() override;
  double currentReadAheadInSeconds() const override { return readAheadBufferInSeconds(); }
  void updatePlaybackDuration(double seconds) override;
  bool isValid() const override { return isValid_.load(); }
  std::string shortDescription() const override;
  platform::media::MediaTime frameRateAsCMTime() const override;
  std::int64_t numberOfAudioChannels() const override;
  // Only 29.97 and 59.94 inputs count frames with drop frame.
  bool isDropFrame() const override;
  double framerate() const;

  // From the source, on the capture thread.
  void inputDidProduceVideoBuffer(const platform::media::SampleBufferRef& video,
                                  const platform::media::SampleBufferRef& audio,
                                  const platform::media::SampleBufferRef& closedCaption);

  // Before-start wait: frames are skipped until NO or "actionWaitTimeout" seconds.
  void setWaitForActionCompletionCallback(bool wait);
  bool waitingForActionCompletionCallback() const;
  std::uint64_t skippedFramesCount() const;
  void setPlayForever(bool value) { playForever_.store(value); }
  bool playForever() const { return playForever_.load(); }
  void setIncrementPTSEvenWhenNoFrameAreDequeued(bool value) { incrementPTSWithoutFrames_.store(value); }
  std::int32_t ziraBufferSize() const { return bufferSize_; }
  double lastReceivedFrameTime() const { return lastReceivedFrameTime_.load(); }
  const std::shared_ptr<CVNZiraSource>& ziraSource() const { return source_; }
  // Frames, audio and captions waiting in the buffer.
  std::size_t bufferedVideoCount() const { return videoQueue_->count(); }
  std::size_t bufferedAudioCount() const { return audioQueue_->count(); }
  std::size_t bufferedCaptionCount() const { return closedCaptionQueue_ ? closedCaptionQueue_->count() : 0; }

 private:
  CVNZiraInputSession(std::shared_ptr<CVNZiraSource> source, DelegateRef delegate,
                      std::shared_ptr<platform::DispatchQueue> delegateQueue);
  void setupAudio();
  void convertAudioSample(const platform::media::SampleBufferRef& sample);
  platform::media::SampleBufferRef dequeueVideoSampleAndConvertAudio();
  void incrementTimeStampsAndUpdateFinishedStatus();
  void checkAndNotifyDelegateForMissingIncomingSignal();
  void enqueueClosedCaption(const platform::media::SampleBufferRef& caption, const platform::media::SampleBuffer& video);
  void trim(platform::media::SampleBufferQueue& queue);
  void log(const std::string& message, std::int32_t level, bool show = false) const;

  const std::shared_ptr<CVNZiraSource> source_;
  const std::string sourceName_;
  const std::int32_t bufferSize_;
  const double noSignalTimeout_;
  std::atomic<bool> isValid_{true};
  std::atomic<bool> playForever_{false};
  std::atomic<bool> incrementPTSWithoutFrames_{false};
  std::atomic<bool> reportAllowed_{true};
  std::atomic<double> lastReceivedFrameTime_{0.0};
  std::atomic<bool> registered_{false};

  std::shared_ptr<platform::media::SampleBufferQueue> videoQueue_;
  std::shared_ptr<platform::media::SampleBufferQueue> audioQueue_;

  mutable std::mutex captureMutex_;  // capture-side state
  bool waitingForActions_ = false;                      // guarded by captureMutex_
  double actionDeadline_ = 0.0;                          // guarded by captureMutex_
  std::uint64_t skippedFrames_ = 0;                      // guarded by captureMutex_
  std::uint16_t captionSequence_ = 0;                    // guarded by captureMutex_
  platform::media::FormatDescriptionRef captionFormat_;  // guarded by captureMutex_

  // Hand-out side: the player's queue only.
  bool waitForRefill_ = true;
  platform::media::MediaTime dequeueEndTimeStamp_ = platform::media::MediaTime::zero();
  platform::media::MediaTime outTimeStamp_ = platform::media::MediaTime::zero();
  platform::media::SampleBufferRef lastReturned_;
  platform::media::SampleBufferRef currentAudioSample_;
  LiveAudioConverter converter_;
};

}  // namespace media
