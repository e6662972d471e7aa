#pragma once
// The abstract playback session between one media source and the player that
// pulls frames from it. It owns the output side: decoded video ordered by
// output time, the ring of decoded audio, captions, timecode and an optional
// subtitles packetizer; it keeps the read-ahead settings and the playback
// position, and reports to its delegate on the delegate's queue. It hands out
// audio with sync keeping, pairs and splits captions, synthesises timecode
// and gives neutral answers for what the file and live sessions override.
//
// Threads: the client's thread calls the hand-out operations; a subclass's
// producer writes the ring on another thread (one producer, one consumer).
// The named string, display-mode and timecode properties are guarded; the
// delegate is held weakly and read when each callback runs.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "captions/CVNSRTFileReader.h"
#include "captions/CVNSTLFileReader.h"
#include "captions/CVNSubtitlesPacketizer.h"
#include "foundation/geometry/Geometry.h"
#include "media/buffers/CVNCircularBuffer.h"
#include "media/sessions/CVNDecompressionSessionDelegate.h"
#include "platform/DispatchQueue.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/SampleBufferQueue.h"
#include "pluginframework/CVNDisplayMode.h"
#include "pluginframework/CVNTimeValue.h"

namespace media {

class CVNAssetReader;

// What a source offers.
enum SessionContent : std::int32_t { kContentVideoAndAudio = 0, kContentVideoOnly = 1, kContentNothing = 2 };

class CVNSessionBase : public std::enable_shared_from_this<CVNSessionBase> {
 public:
  using DelegateRef = std::weak_ptr<CVNDecompressionSessionDelegate>;

  // The most samples one output frame needs at 48 kHz (23.98 fps).
  static constexpr std::uint32_t kMinimumAudioScratchSamples = 2002;

  CVNSessionBase(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> delegateQueue);
  virtual ~CVNSessionBase() = default;
  CVNSessionBase(const CVNSessionBase&) = delete;
  CVNSessionBase& operator=(const CVNSessionBase&) = delete;

  void setDelegate(DelegateRef delegate);
  // The delegate, kept alive by the caller for one call; none once dropped.
  std::shared_ptr<CVNDecompressionSessionDelegate> delegate() const;
  const std::shared_ptr<platform::DispatchQueue>& delegateQueue() const { return delegateQueue_; }

  // Overridden by the file and live sessions; the base answers neutrally.
  virtual std::int64_t numberOfAudioChannels() const { return 0; }
  virtual bool isDropFrame() const { return false; }
  virtual std::int32_t firstFrameNumber() const { return 0; }
  virtual bool shouldInverseFieldOrder() const { return false; }
  virtual void setStartPositionInSeconds(double /*seconds*/) {}
  virtual void setInPointInSeconds(double /*seconds*/) {}
  virtual void setOutPointInSeconds(double /*seconds*/) {}
  virtual void setDuration(platform::media::MediaTime duration);
  virtual platform::media::MediaTime duration() const;
  virtual void setOutputFrameDuration(platform::media::MediaTime duration);
  platform::media::MediaTime outputFrameDuration() const;
  virtual platform::media::MediaTime frameRateAsCMTime() const { return platform::media::MediaTime::make(1, 1); }
  virtual platform::media::FormatDescriptionRef closedCaptionFormatDescription() const;
  virtual bool startBuffering() { return true; }
  virtual void setAllowedBufferPercentage(double /*percentage*/) {}
  virtual double bufferCompletionPercentage() const { return 1.0; }
  virtual double currentReadAheadInSeconds() const { return 0.0; }
  virtual platform::media::SampleBufferRef nextVideoSampleBuffer() { return nullptr; }
  platform::media::SampleBufferRef nextVideoSampleBufferWithFieldToRender(std::int32_t /*field*/) {
    return nextVideoSampleBuffer();
  }
  // The head of the decoded queue, left in place; it becomes the playback position.
  virtual platform::media::SampleBufferRef videoBufferHead();
  platform::media::MediaTime videoPresentationTimestamp() const { return playbackPTS(); }
  // n samples of output audio (see the .cpp), valid until the next call.
  virtual const std::uint8_t* nextAudioSamples(std::uint32_t n);
  virtual void setOutputVolume(double /*volume*/) {}
  virtual bool isFinishedPlaying() const { return false; }
  // Decoded frames ready ahead of the position; a preview steps through them.
  virtual std::int64_t decodeAheadFrameCount() const { return 0; }
  virtual platform::media::MediaTime playbackDuration() const { return duration(); }
  virtual platform::media::MediaTime remainingTime() const;
  virtual platform::media::MediaTime elapsedTime() const;
  void scrubToTime(double seconds, bool quickly, bool precisely) { scrubToTime(seconds, quickly, precisely, false); }
  virtual void scrubToTime(double seconds, bool quickly, bool precisely, bool backwards);
  virtual void stopBuffering() {}
  virtual void discard() {}
  virtual std::int32_t diskReadPerformanceCpt() { return 0; }
  virtual double diskReadPerformanceElapsedTime() { return 0.0; }
  virtual std::int32_t decompressionPerformanceCpt() { return 0; }
  virtual double decompressionPerformanceElapsedTime() { return 0.0; }
  virtual std::shared_ptr<CVNAssetReader> asset() const { return nullptr; }
  virtual bool isValid() const { return false; }
  virtual void setStatus(std::int32_t status) { status_.store(status); }
  std::int32_t status() const { return status_.load(); }
  virtual std::string shortDescription() const { return {}; }
  virtual void updateOutPoint(double /*seconds*/) {}
  virtual void updatePlaybackDuration(double /*seconds*/) {}

  foundation::Size decodedFrameSize() const;
  foundation::Size displaySize() const;
  std::int32_t fieldOrder() const;
  bool isStillImage() const;

  // The output frame duration that matches the source's rate (29.97 gives
  // 1001/30000); rates without a nominal match keep the reciprocal.
  platform::media::MediaTime naturalFrameDuration() const;

  double readAheadBufferInSeconds() const { return readAheadSeconds_.load(); }
  // Clamped to 1 ... 10 seconds.
  void setReadAheadBufferInSeconds(double seconds);
  double decodeAheadBufferInSeconds() const { return decodeAheadSeconds_.load(); }
  void setDecodeAheadBufferInSeconds(double seconds) { decodeAheadSeconds_.store(seconds); }

  // Captions: paired or split to the output's rate, then queued.
  void enqueueClosedCaptionSampleBuffer(const platform::media::SampleBufferRef& sample);
  platform::media::SampleBufferRef nextClosedCaptionSampleBufferWithPTS(platform::media::MediaTime pts);
  // The queued timecode due at pts, else the next one synthesised.
  platform::media::SampleBufferRef nextTimecodeSampleBufferWithPTS(platform::media::MediaTime pts);

  // Subtitles: 2 for PAL outputs, else 1 (CEA-608).
  std::int32_t subtitleMode() const;
  void addSubtitleRecords(const captions::SubtitleRecords& records);
  void deleteSubtitleRecords();
  std::optional<captions::SubtitleRecords> subtitleRecords() const;
  void setSubtitleFilePath(const std::filesystem::path& path);

  // Plain properties.
  std::uint32_t bufferFormat() const { return bufferFormat_; }
  void setBufferFormat(std::uint32_t format) { bufferFormat_ = format; }
  foundation::Size decompressSize() const { return decompressSize_; }
  void setDecompressSize(foundation::Size size) { decompressSize_ = size; }
  platform::media::AudioStreamBasicDescription outputAudioStreamBasicDescription() const { return outputAudioFormat_; }
  virtual void setOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& format) {
    outputAudioFormat_ = format;
  }
  foundation::Size outputFrameDimensions() const;
  void setOutputFrameDimensions(foundation::Size size);
  std::int32_t content() const { return content_.load(); }
  std::optional<std::string> displayName() const;
  void setDisplayName(std::optional<std::string> name);
  std::shared_ptr<const pluginframework::CVNDisplayMode> outputDisplayMode() const;
  void setOutputDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode);
  std::optional<pluginframework::CVNTimeValue> lastReturnedTimecode() const;
  void setLastReturnedTimecode(std::optional<pluginframework::CVNTimeValue> value);
  bool disablePlaybackPTSUpdate() const { return disablePlaybackPTSUpdate_; }
  void setDisablePlaybackPTSUpdate(bool value) { disablePlaybackPTSUpdate_ = value; }
  bool shouldProduceGlobalIOSurface() const { return shouldProduceGlobalIOSurface_; }
  void setShouldProduceGlobalIOSurface(bool value) { shouldProduceGlobalIOSurface_ = value; }
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  void setMetalAPIEnabled(bool value) { metalAPIEnabled_ = value; }
  std::optional<std::string> validationErrorReasonString() const;
  void setValidationErrorReasonString(std::optional<std::string> text);
  bool isReadyForPlayback() const { return isReadyForPlayback_.load(); }
  platform::media::MediaTime playbackPTS() const;
  void setPlaybackPTS(platform::media::MediaTime time);
  std::uint32_t audioSamplesBuffered() const { return audioSamplesBuffered_.load(); }
  const std::shared_ptr<CVNCircularBuffer>& circularAudioBuffer() const { return circularAudioBuffer_; }
  // Samples the hand-out can fill from its own block in one call.
  std::uint32_t audioScratchSamples() const { return audioScratchSamples_; }

 protected:
  // Runs `call` with the current delegate on the delegate queue; nothing when
  // the delegate is gone by the time the block runs.
  void notifyDelegate(void (CVNDecompressionSessionDelegate::*call)(CVNSessionBase&));
  bool compareExchangeStatus(std::int32_t& expected, std::int32_t desired) {
    return status_.compare_exchange_weak(expected, desired);
  }
  // The ring (`ringBytes`) and the hand-out's own block, sized for one output
  // frame (at least 2002 samples). Before any audio flows.
  void createAudioOutput(const std::string& ringName, std::uint64_t ringBytes);
  void dropAudioOutput();
  void resetAudioCounters();
  // Empties the ring from outside the client's thread (a scrub, with the
  // producer held); the client's own counters are cleared at its next call.
  void resetAudioHandOut();
  void setContent(std::int32_t content) { content_.store(content); }
  void setReadyForPlayback(bool ready) { isReadyForPlayback_.store(ready); }

  std::atomic<std::uint32_t> audioSamplesBuffered_{0};
  std::shared_ptr<platform::media::SampleBufferQueue> uncompressedQueue_;
  std::shared_ptr<platform::media::SampleBufferQueue> closedCaptionQueue_;
  std::shared_ptr<platform::media::SampleBufferQueue> timecodeQueue_;

 private:
  void logLateAudio();
  void subtractBufferedSamples(std::uint64_t samples);

  mutable std::mutex delegateMutex_;
  DelegateRef delegate_;  // guarded by delegateMutex_; not owned
  const std::shared_ptr<platform::DispatchQueue> delegateQueue_;

  std::atomic<std::int32_t> status_{1};
  std::atomic<std::int32_t> content_{kContentNothing};
  platform::media::AudioStreamBasicDescription outputAudioFormat_;
  std::uint32_t bufferFormat_;
  foundation::Size decompressSize_{};
  bool disablePlaybackPTSUpdate_ = false;
  bool shouldProduceGlobalIOSurface_ = false;
  bool metalAPIEnabled_ = false;
  std::atomic<bool> isReadyForPlayback_{false};
  std::atomic<double> readAheadSeconds_{8.0};
  std::atomic<double> decodeAheadSeconds_{2.0};

  // Audio hand-out: the client's thread only (the ring and the count are shared).
  std::shared_ptr<CVNCircularBuffer> circularAudioBuffer_;
  std::vector<std::uint8_t> audioScratch_;
  std::uint32_t audioScratchSamples_ = 0;
  std::uint64_t audioBytesToDiscard_ = 0;
  std::uint64_t audioSamplesLateToLog_ = 0;
  std::int64_t lastAudioReadSize_ = 0;
  std::atomic<bool> audioHandOutResetRequested_{false};

  // Caption pairing: the reading queue only.
  platform::media::SampleBufferRef pendingCaption_;

  mutable std::mutex propertiesMutex_;
  std::optional<std::string> displayName_;                                     // guarded by propertiesMutex_
  std::shared_ptr<const pluginframework::CVNDisplayMode> outputDisplayMode_;  // guarded by propertiesMutex_
  std::optional<pluginframework::CVNTimeValue> lastReturnedTimecode_;          // guarded by propertiesMutex_
  std::optional<std::string> validationErrorReasonString_;                     // guarded by propertiesMutex_
  foundation::Size outputFrameDimensions_{};                                   // guarded by propertiesMutex_
  platform::media::MediaTime duration_ = platform::media::MediaTime::make(250, 25);  // guarded by propertiesMutex_
  platform::media::MediaTime playbackPTS_;                                     // guarded by propertiesMutex_
  platform::media::MediaTime outputFrameDuration_;                             // guarded by propertiesMutex_
  std::unique_ptr<captions::CVNSubtitlesPacketizer> subtitlesPacketizer_;      // guarded by propertiesMutex_
};

}  // namespace media
