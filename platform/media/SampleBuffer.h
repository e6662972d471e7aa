#pragma once
// One or more media samples with their timing: compressed bytes in a block
// buffer (with per-sample sizes and, for compressed audio, packet
// descriptions) or one picture in a pixel buffer. Carries per-sample
// attachment dictionaries (sync and dependency marks) and buffer-level
// attachments (captions data, our keys). The media and timing are fixed once
// made; attachments are guarded and may change from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"

namespace platform::media {

using OSStatus = std::int32_t;
inline constexpr OSStatus kSampleBufferNoError = 0;
inline constexpr OSStatus kSampleBufferErrorRequiredParameterMissing = -12731;
inline constexpr OSStatus kSampleBufferErrorInvalidEntryCount = -12744;
inline constexpr OSStatus kSampleBufferErrorBufferHasNoSampleTimingInfo = -12737;
inline constexpr OSStatus kSampleBufferErrorBufferHasNoSampleSizes = -12735;
inline constexpr OSStatus kSampleBufferErrorInvalidSampleData = -12746;

// Per-sample attachment keys.
inline constexpr const char* kSampleAttachmentKeyNotSync = "NotSync";
inline constexpr const char* kSampleAttachmentKeyPartialSync = "PartialSync";
inline constexpr const char* kSampleAttachmentKeyDependsOnOthers = "DependsOnOthers";
inline constexpr const char* kSampleAttachmentKeyIsDependedOnByOthers = "IsDependedOnByOthers";
inline constexpr const char* kSampleAttachmentKeyEarlierDisplayTimesAllowed = "EarlierDisplayTimesAllowed";
inline constexpr const char* kSampleAttachmentKeyDisplayImmediately = "DisplayImmediately";
inline constexpr const char* kSampleAttachmentKeyDoNotDisplay = "DoNotDisplay";
// Buffer-level attachment keys.
inline constexpr const char* kSampleBufferAttachmentKeyResetDecoderBeforeDecoding = "ResetDecoderBeforeDecoding";
inline constexpr const char* kSampleBufferAttachmentKeyDrainAfterDecoding = "DrainAfterDecoding";
inline constexpr const char* kSampleBufferAttachmentKeyTrimDurationAtStart = "TrimDurationAtStart";
inline constexpr const char* kSampleBufferAttachmentKeyTrimDurationAtEnd = "TrimDurationAtEnd";

struct SampleTimingInfo {
  MediaTime duration;
  MediaTime presentationTimeStamp;
  MediaTime decodeTimeStamp;
};

class SampleBuffer {
 public:
  // Compressed samples in `data`. Timing: none, one entry for all samples or
  // one per sample; sizes: none, one for all or one per sample (their sum
  // must fit the block).
  static OSStatus createReady(std::shared_ptr<BlockBuffer> data, FormatDescriptionRef format, std::size_t numSamples,
                              std::vector<SampleTimingInfo> timing, std::vector<std::size_t> sampleSizes,
                              std::shared_ptr<SampleBuffer>* out,
                              std::vector<AudioStreamPacketDescription> packetDescriptions = {});
  // One picture.
  static OSStatus createForImageBuffer(std::shared_ptr<PixelBuffer> image, FormatDescriptionRef format,
                                       const SampleTimingInfo& timing, std::shared_ptr<SampleBuffer>* out);
  // The same media and attachments with other timing (entry-count rules as above).
  OSStatus createCopyWithNewTiming(std::vector<SampleTimingInfo> timing, std::shared_ptr<SampleBuffer>* out) const;

  const std::shared_ptr<BlockBuffer>& dataBuffer() const { return data_; }
  const std::shared_ptr<PixelBuffer>& imageBuffer() const { return image_; }
  const FormatDescriptionRef& formatDescription() const { return format_; }
  std::size_t numSamples() const { return numSamples_; }

  const std::vector<SampleTimingInfo>& sampleTimingInfoArray() const { return timing_; }
  OSStatus sampleTimingInfo(std::size_t index, SampleTimingInfo* out) const;
  // Earliest presentation and decode time; total duration (invalid without timing).
  MediaTime presentationTimeStamp() const;
  MediaTime decodeTimeStamp() const;
  MediaTime duration() const;
  // The presentation time unless one was set for output (trimming, offsets).
  MediaTime outputPresentationTimeStamp() const;
  void setOutputPresentationTimeStamp(MediaTime time);

  std::size_t sampleSize(std::size_t index) const;
  std::size_t totalSampleSize() const;
  const std::vector<AudioStreamPacketDescription>& packetDescriptions() const { return packetDescriptions_; }

  // Per-sample attachments: none until created; created as one dictionary per sample.
  bool hasSampleAttachments() const;
  void createSampleAttachmentsIfNeeded();
  std::vector<platform::Dictionary> sampleAttachmentsArray() const;
  platform::Value sampleAttachment(std::size_t index, const std::string& key) const;
  bool setSampleAttachment(std::size_t index, const std::string& key, platform::Value value);
  bool removeSampleAttachment(std::size_t index, const std::string& key);

  // Buffer-level attachments.
  void setAttachment(const std::string& key, platform::Value value);
  platform::Value attachment(const std::string& key) const;
  void removeAttachment(const std::string& key);
  platform::Dictionary attachments() const;

 private:
  SampleBuffer() = default;
  static bool timingCountFits(std::size_t timingCount, std::size_t numSamples);

  std::shared_ptr<BlockBuffer> data_;
  std::shared_ptr<PixelBuffer> image_;
  FormatDescriptionRef format_;
  std::size_t numSamples_ = 0;
  std::vector<SampleTimingInfo> timing_;
  std::vector<std::size_t> sampleSizes_;
  std::vector<AudioStreamPacketDescription> packetDescriptions_;

  mutable std::mutex mutex_;
  std::optional<MediaTime> outputPresentationTimeStamp_;        // guarded by mutex_
  std::optional<std::vector<platform::Dictionary>> sampleAttachments_;  // guarded by mutex_
  platform::Dictionary attachments_;                            // guarded by mutex_
};

using SampleBufferRef = std::shared_ptr<SampleBuffer>;

}  // namespace platform::media
