#pragma once
// The session that plays a file or a network stream: it reads sample buffers
// from an asset reader ahead of need on its reading queue, sorts them into the
// compressed video queue, its private audio engine (whose output fills the
// audio ring), the caption queue and the timecode queue, and stops once the
// allowed read-ahead is reached. It owns the statuses 1 (Initializing) to
// 9 (Aborted), the loop flags, the sizing of read-ahead, decode-ahead, pixel
// buffer pool and audio ring, the readiness rule and the tear-down.
//
// Threads: the client's thread calls the hand-out operations, the starters
// and setAllowedBufferPercentage; the reading queue runs the audio set-up and
// the reading loop; the decoding queue runs the decoder set-up; callbacks run
// on the delegate queue. A loop starts only for the caller that set its flag
// (compare-and-swap). Sessions live in shared pointers (use create()).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/buffers/CVNBufferArray.h"
#include "media/decoders/CVNDecoderProtocol.h"
#include "media/readers/CVNAssetReader.h"
#include "media/sessions/CVNSessionBase.h"
#include "media/sessions/SessionAudio.h"
#include "platform/DispatchQueue.h"

namespace media {

enum SessionStatus : std::int32_t {
  kSessionStatusInitializing = 1,
  kSessionStatusInitialized = 2,
  kSessionStatusBuffering = 3,
  kSessionStatusReading = 4,
  kSessionStatusFinishedReading = 5,
  kSessionStatusFinishedDecompressing = 6,
  kSessionStatusFinishedPlaying = 7,
  kSessionStatusIdle = 8,
  kSessionStatusAborted = 9,
};

// How a session makes its decoder and its audio engine (tests replace them).
struct DecompressionSessionServices {
  std::function<std::unique_ptr<CVNDecoderProtocol>(const CVNAssetReader&)> makeDecoder;
  std::function<std::unique_ptr<SessionAudio>(const std::string& name)> makeAudio;
  // The decoder selection and the offline audio engine.
  static DecompressionSessionServices standard();
};

class CVNDecompressionSession final : public CVNSessionBase, public CVNDecoderDelegateProtocol {
 public:
  static constexpr const char* kReadingQueueLabel = "com.dirarovazovo.decompressionSession.readingQueue";
  static constexpr const char* kDecodingQueueLabel = "com.dirarovazovo.decompressionSession.videoDecompressionQueue";
  // Video read on without audio up to this much read-ahead.
  static constexpr double kMaximumVideoReadAheadWithoutAudio = 15.0;
  // Audio samples buffered before playback may start (an audio-only clip: more).
  static constexpr std::uint32_t kAudioSamplesForReadiness = 2002;
  static constexpr std::uint32_t kAudioOnlySamplesForReadiness = 4001;

  // initWithAsset:delegate:delegateQueue: — examines the asset (status 2 when
  // done); without an asset the session is invalid at once.
  static std::shared_ptr<CVNDecompressionSession> create(
      std::shared_ptr<CVNAssetReader> asset, DelegateRef delegate,
      std::shared_ptr<platform::DispatchQueue> delegateQueue,
      DecompressionSessionServices services = DecompressionSessionServices::standard());
  // initWithMediaURL:sourceDescription:delegate:delegateQueue:
  static std::shared_ptr<CVNDecompressionSession> createWithMediaURL(
      const MediaURL& url, const std::optional<std::string>& sourceDescription, DelegateRef delegate,
      std::shared_ptr<platform::DispatchQueue> delegateQueue,
      DecompressionSessionServices services = DecompressionSessionServices::standard());
  // initWithZiraEventAndDelegate:delegateQueue:sourceDescription: — a live
  // event without a source, played as its one transparent frame.
  static std::shared_ptr<CVNDecompressionSession> createWithZiraEvent(
      DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> delegateQueue,
      const std::optional<std::string>& sourceDescription,
      DecompressionSessionServices services = DecompressionSessionServices::standard());
  ~CVNDecompressionSession() override;

  // A network stream of the movie reader (and one that can seek).
  static bool isZiraStreamingAsset(const CVNAssetReader* reader);
  static bool isZiraStreamingAssetAndSeekable(const CVNAssetReader* reader);
  // The name of a status; "Closed" for any other value.
  static std::string stringFromStatus(std::int32_t status);
  // ceil(decode-ahead × rate) + 20, the rate kept within 1 ... 120.
  static std::uint64_t pixelBufferPoolSize(double decodeAheadSeconds, double framesPerSecond);
  // Three read-aheads of output audio.
  static std::uint64_t audioRingByteCount(double readAheadSeconds,
                                          const platform::media::AudioStreamBasicDescription& format);

  // Forwarded to the asset.
  std::int64_t numberOfAudioChannels() const override;
  bool isDropFrame() const override;
  std::int32_t firstFrameNumber() const override;
  void setStartPositionInSeconds(double seconds) override;
  void setInPointInSeconds(double seconds) override;
  void setOutPointInSeconds(double seconds) override;
  platform::media::MediaTime frameRateAsCMTime() const override;
  platform::media::FormatDescriptionRef closedCaptionFormatDescription() const override;
  bool isValid() const override;
  std::int32_t diskReadPerformanceCpt() override;
  double diskReadPerformanceElapsedTime() override;
  std::int32_t decompressionPerformanceCpt() override;
  double decompressionPerformanceElapsedTime() override;
  void setOutputVolume(double volume) override;
  void setDuration(platform::media::MediaTime duration) override;
  void setOutputFrameDuration(platform::media::MediaTime duration) override;
  std::shared_ptr<CVNAssetReader> asset() const override { return asset_; }
  std::string shortDescription() const override;
  // Frames read, allowed buffer, loop flags and status, one per line.
  std::string debugDescription() const;

  // Frame output (the client's thread).
  platform::media::SampleBufferRef nextVideoSampleBuffer() override;
  platform::media::SampleBufferRef videoBufferHead() override;
  // None at all when the asset has no audio tracks.
  const std::uint8_t* nextAudioSamples(std::uint32_t n) override;
  bool isFinishedPlaying() const override { return status() == kSessionStatusFinishedPlaying; }
  platform::media::MediaTime playbackDuration() const override;
  platform::media::MediaTime remainingTime() const override;
  platform::media::MediaTime elapsedTime() const override;

  // Scrubbing: `seconds` from the in point; returns at once.
  using CVNSessionBase::scrubToTime;
  void scrubToTime(double seconds, bool quickly, bool precisely, bool backwards) override;

  // Decoding (the decoding queue).
  bool startDecodingIfNeeded();
  void decodeVideoSampleBuffer(const platform::media::SampleBufferRef& sample);
  // Decoded frames, put in presentation order (the decoder's thread).
  void decoderDidProduceFrame(const platform::media::SampleBufferRef& frame,
                              const platform::media::SampleBufferRef& compressed);
  void decodingFailedForPresentationTimestamp(platform::media::MediaTime pts,
                                              const platform::media::SampleBufferRef& compressed);
  // A copy of a recent frame near `pts` with that time; the first frame of a
  // clip gets an empty picture instead; none when nothing is near enough.
  platform::media::SampleBufferRef createDuplicateSampleBufferNearPresentationTimestamp(platform::media::MediaTime pts);
  platform::media::SampleBufferRef createEmptySampleBufferWithPTS(platform::media::MediaTime pts,
                                                                  platform::media::OSStatus* error);
  void processCCAttachmentFromVideoSampleBuffer(const platform::media::SampleBufferRef& frame);
  static bool doNotDisplayFlagValueFromSampleBuffer(const platform::media::SampleBuffer& sample);
  // Frames decoded and ready, less the ones still missing in front of them.
  std::int64_t decodeAheadFrameCount() const override;
  bool isDecoding() const { return shouldDecode_.load() != 0; }

  // CVNDecoderDelegateProtocol.
  void didReceiveCCSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer) override;
  void didFindAnEmbeddedCCPacket() override;
  void decoderWillRetryDecodingSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer) override;

  // Statuses only move away from 9 never; a rise below 8 tells the delegate
  // of each status crossed that has a callback (2, 5, 6).
  void setStatus(std::int32_t status) override;

  // Buffering and sizing.
  bool startBuffering() override;
  void setAllowedBufferPercentage(double percentage) override;
  double bufferCompletionPercentage() const override;
  double currentReadAheadInSeconds() const override;
  platform::media::MediaTime currentReadAheadDuration() const;
  platform::media::MediaTime audioReadAheadDuration() const;
  platform::media::MediaTime allowedReadAheadDuration() const;
  platform::media::MediaTime allowedDecodeAheadDuration() const;
  bool startReadingThreadIfNeeded();
  bool atomicSetShouldRead(bool value);
  bool atomicSetShouldDecode(bool value);
  bool isReading() const { return shouldRead_.load() != 0; }
  void updateReadyForPlaybackStatus();
  void markAsReadyForPlayback();
  // Audio is expected: the asset has audio tracks and the engine started.
  bool hasAudio() const { return hasAudio_.load(); }
  std::int64_t numberOfFramesRead() const { return numberOfFramesRead_.load(); }
  // The decoder buffering made; none before. Read-only, for measuring.
  const CVNDecoderProtocol* decoder() const { return decoder_.get(); }
  std::size_t compressedFrameCount() const;
  platform::media::SampleBufferRef uncompressedHead() const;

  void updateOutPoint(double seconds) override;
  void updatePlaybackDuration(double seconds) override;
  platform::media::MediaTime updatedOutPoint() const;

  // Tear-down: nothing reaches the delegate afterwards.
  void stopBuffering() override;
  // Returns once neither queue runs a block of this session.
  void discard() override;

 private:
  CVNDecompressionSession(std::shared_ptr<CVNAssetReader> asset, DelegateRef delegate,
                          std::shared_ptr<platform::DispatchQueue> delegateQueue, DecompressionSessionServices services);
  void examineAsset();
  void didExamineAsset();
  std::weak_ptr<CVNDecompressionSession> weakSelf();

  void setUpDecoder();
  void startDecodingThread();
  static void decodingLoop(const std::weak_ptr<CVNDecompressionSession>& weak);
  // One round of the loop; false when the loop ends.
  bool decodeOnce();
  platform::media::MediaTime decodedAheadDuration() const;
  void noteDecodeDuration(double seconds, const platform::media::SampleBuffer& sample);
  // The catch-up before frame `dts`: fills what should exist by then.
  // The ordering starts one frame before the sync time, so the frame at the
  // sync time is the first one expected and stood in for when missing.
  platform::media::MediaTime frameBefore(platform::media::MediaTime sync) const;
  // Under orderingMutex_, once the decoder has finished.
  void standInForMissingFramesAtTheEnd();
  void catchUpBefore(platform::media::MediaTime dts, platform::media::MediaTime duration);
  void enqueueDecodedFrame(const platform::media::SampleBufferRef& frame);
  void rememberRecentFrame(const platform::media::SampleBufferRef& frame);
  bool frameAvailable() const;
  platform::media::SampleBufferRef nextConformedFrame(bool* tookNewFrame);
  // Drop or repeat decisions for a new frame F (conformMutex_ held).
  void conform(const platform::media::SampleBufferRef& frame, platform::media::MediaTime outputFrameDuration);
  void finishPlaybackAtEnd(bool repeatPending);
  void synthesiseStreamPosition();
  void scrubWork(double target, bool quickly, bool precisely, bool backwards);
  void resetVideoSide();
  void installScrubTrigger();
  void removeScrubTrigger();
  void frameIsReadyForScrub();
  void setUpAudio();
  void reconnectAudioOutput();
  void appendEmptyVideoFrame();
  void beginReading();
  void startReadingThread();
  // With the flag set by the caller: queues the loop unless stopped meanwhile.
  bool queueReadingLoop();
  static void readingLoop(const std::weak_ptr<CVNDecompressionSession>& weak);
  // One round of the loop; false when the loop ends.
  bool readOnce();
  bool waitForReader();
  void wakeReadingLoop();
  void stopAtReadAheadTarget();
  void handleVideoSample(const platform::media::SampleBufferRef& sample);
  void handleAudioSample(const platform::media::SampleBufferRef& sample, std::int32_t track);
  void produceAudio(const std::uint8_t* bytes, std::size_t count);
  void log(const std::string& text, std::int32_t level, bool show = false) const;
  // The source name in quotes, then the formatted text.
  void logFormat(std::int32_t level, bool show, const char* format, ...) const __attribute__((format(printf, 4, 5)));
  std::string sourceName() const;
  std::int64_t framesNeededForPlayback() const;

  const std::shared_ptr<CVNAssetReader> asset_;
  const DecompressionSessionServices services_;
  std::unique_ptr<CVNDecoderProtocol> decoder_;  // set by startBuffering, then used on the decoding queue
  std::unique_ptr<SessionAudio> audioEngine_;    // the reading queue once buffering started
  std::atomic<bool> hasAudio_{false};
  std::atomic<bool> refusedFrameRate_{false};
  std::shared_ptr<platform::media::SampleBufferQueue> compressedQueue_;
  CVNBufferArray decoderPendingFrames_;

  std::atomic<std::int32_t> shouldRead_{0};
  std::atomic<std::int32_t> shouldDecode_{0};
  std::atomic<std::int64_t> numberOfFramesRead_{0};
  std::atomic<std::int64_t> numberOfFramesDecoded_{0};
  std::atomic<bool> loggedMissingAudio_{false};
  std::atomic<bool> readerStarted_{false};

  mutable std::mutex timesMutex_;
  platform::media::MediaTime allowedReadAhead_;                                    // guarded by timesMutex_
  platform::media::MediaTime allowedDecodeAhead_ = platform::media::MediaTime::zero();  // guarded by timesMutex_
  platform::media::MediaTime doNotDisplayDuration_ = platform::media::MediaTime::zero();  // guarded by timesMutex_
  platform::media::MediaTime updatedOutPoint_;                                     // guarded by timesMutex_

  // Frame ordering: the decoder's thread, and a scrub while both loops
  // stand. Recursive because the scrub trigger fires inside an enqueue.
  mutable std::recursive_mutex orderingMutex_;
  platform::media::MediaTime lastOrderedPTS_;                        // guarded by orderingMutex_
  std::vector<platform::media::MediaTime> unorderedPTS_;             // guarded by orderingMutex_
  std::vector<platform::media::MediaTime> failedPTS_;                // guarded by orderingMutex_
  std::deque<platform::media::SampleBufferRef> framesWithoutTime_;   // guarded by orderingMutex_
  std::deque<platform::media::SampleBufferRef> lastFiveFrames_;      // guarded by orderingMutex_
  std::atomic<std::size_t> unorderedCount_{0};                       // unorderedPTS_.size(), read by the client
  std::atomic<bool> scrubTriggerInstalled_{false};
  // Counts scrubs; a decode sent before one finds its result unwanted.
  std::atomic<std::uint64_t> scrubGeneration_{0};
  // Scrubs queued and not done: reading loops give way to them.
  std::atomic<std::int32_t> scrubsPending_{0};

  // Slow-decode watch: the decoding queue only.
  std::int64_t decodeRequestCount_ = 0;
  double decodeDurations_[10] = {};
  std::size_t decodeDurationIndex_ = 0;

  // Frame-rate conform: the client's thread, and a scrub's reset.
  mutable std::mutex conformMutex_;
  platform::media::MediaTime shift_ = platform::media::MediaTime::zero();  // guarded by conformMutex_
  bool shouldDropFrame_ = false;                                          // guarded by conformMutex_
  bool shouldRepeatFrame_ = false;                                        // guarded by conformMutex_
  platform::media::SampleBufferRef frameToRepeat_;                        // guarded by conformMutex_
  bool logTimeDifference_ = true;                                         // guarded by conformMutex_
  std::atomic<bool> sameFrameRate_{true};

  mutable std::mutex performanceSync_;
  std::int32_t decompressionPerformanceCpt_ = 0;          // guarded by performanceSync_
  double decompressionPerformanceElapsedTime_ = 0;        // guarded by performanceSync_

  // Wakes a reading loop that waits for the reader.
  std::mutex readerWaitMutex_;
  std::condition_variable readerWait_;

  std::unique_ptr<platform::SerialQueue> readingQueue_;
  std::unique_ptr<platform::SerialQueue> decodingQueue_;
};

}  // namespace media
