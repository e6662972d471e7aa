#pragma once
// The abstract reader of one media asset: it opens a source, describes its
// tracks with format descriptions and hands out sample buffers one at a
// time, with in point, out point, start position and duration kept as media
// times. Movie, image, audio and live readers derive from it. The class also
// holds the reader factory (asking the registered movie, image and audio
// readers in that order), the tables of asset and captioning type names and
// the read-performance counters the decompression session polls.
//
// Threads: a reader is used from one queue at a time; the media-time fields
// are read and written as whole values under a lock, and the two
// read-performance counters under another, so other threads may read them.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/geometry/Geometry.h"
#include "media/readers/MediaURL.h"
#include "platform/Value.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

namespace media {

// Asset type codes.
enum AssetType : std::int32_t {
  kAssetTypeOther = 0,
  kAssetTypeQuickTimeMovie = 1,
  kAssetTypeMXF = 2,
  kAssetTypeLXF = 3,
  kAssetTypeMPEG2Movie = 4,
  kAssetTypeDV = 5,
  kAssetTypeAVI = 6,
  kAssetTypeMKV = 7,
  kAssetTypeImage = 8,
  kAssetTypeSound = 9,
  kAssetTypeZiraInput = 10,
  kAssetTypeZiraStream = 11,
};

// Captioning type codes.
enum CaptioningType : std::int32_t {
  kCaptioningTypeNone = 0,
  kCaptioningTypeCEA608 = 1,
  kCaptioningTypeCEA708 = 2,
  kCaptioningTypeOP47 = 3,
  kCaptioningTypeATSC = 4,
  kCaptioningTypeSRT = 5,
  kCaptioningTypeSTL = 6,
};

class CVNAssetReader {
 public:
  using CompletionHandler = std::function<void()>;

  // initWithMediaURL:sourceDescription: — type 0, nothing described, not
  // valid or open, times unset, duration zero, growing duration allowed.
  CVNAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription);
  virtual ~CVNAssetReader();
  CVNAssetReader(const CVNAssetReader&) = delete;
  CVNAssetReader& operator=(const CVNAssetReader&) = delete;

  // Class operations.
  // True when the file is readable. Otherwise logs the reason the file
  // cannot be opened (from the access check, without reading the file) and
  // answers false.
  static bool canReadAssetWithMediaURL(const MediaURL& url);
  // The first registered reader (movie, image, audio) that can open the URL,
  // made and told not to grow its duration; none when no reader can.
  static std::shared_ptr<CVNAssetReader> assetReaderWithMediaURL(const MediaURL& url,
                                                                 const std::optional<std::string>& sourceDescription);
  static bool mediaURLIsValidAsset(const MediaURL& url);
  // Also tells which reader answered; the flags stay untouched when none does.
  static bool mediaURLIsValidAsset(const MediaURL& url, bool* isImage, bool* isAudioOnly);
  static std::string captioningTypeDescriptionForType(std::int32_t type);
  static std::string stringFromAssetType(std::int32_t type);
  // The file's modification date, read afresh; none when it cannot be read.
  static std::optional<platform::Date> lastModificationDateForFileAtURL(const MediaURL& url);

  // Loading (subclasses override; the base logs "Missing override" and calls the handler).
  virtual void loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo, CompletionHandler handler);
  void loadInfoWithMetadata(bool withMetadata, CompletionHandler handler);

  bool isValid() const { return isValid_; }
  std::int32_t validationError() const { return validationError_; }
  bool isOpen() const { return isOpen_; }
  bool hasAudio() const { return hasAudio_; }
  bool hasVideo() const { return hasVideo_; }
  virtual bool hasEmbeddedCaptions() const { return false; }
  virtual bool setDesiredDimensions(std::int64_t width, std::int64_t height);
  virtual bool setFrameDuration(platform::media::MediaTime frameDuration);

  // Stores the duration and fills the in point, out point and start position
  // that were never set.
  void setDuration(platform::media::MediaTime duration);
  platform::media::MediaTime duration() const;
  // Refused values (negative, not finite, out of range, in not below out)
  // are logged and replaced (see the .cpp).
  void setInPointInSeconds(double seconds);
  void setOutPointInSeconds(double seconds);
  void setStartPositionInSeconds(double seconds);
  virtual void seekToStartPoint() {}

  platform::media::FormatDescriptionRef audioFormatDescriptionForTrackIndex(std::int32_t index) const;
  const platform::media::FormatDescriptionRef& videoFormatDescription() const { return videoFormatDescription_; }
  const platform::media::FormatDescriptionRef& closedCaptionFormatDescription() const {
    return closedCaptionFormatDescription_;
  }
  std::int32_t captioningType() const { return captioningType_; }
  const platform::media::FormatDescriptionRef& timeCodeFormatDescription() const { return timeCodeFormatDescription_; }
  // Describes captions found in the video: CEA708 ('c708') from 721 pixels
  // wide, CEA608 ('c608') below; nothing when a caption description exists.
  void createCCSampleFormatDescription();
  bool isDropFrame() const;
  virtual bool isIFrameOnlyCodec() const { return false; }
  virtual std::int64_t numberOfAudioTracks() const { return 0; }
  virtual std::int64_t numberOfAudioChannels() const { return 0; }
  virtual foundation::Size decodedFrameSize() const;
  virtual foundation::Size displaySize() const { return {}; }
  virtual double framerate() const { return 0; }
  virtual platform::media::MediaTime frameRateAsCMTime() const { return platform::media::MediaTime::make(1, 1); }
  virtual platform::media::MediaTime frameDuration() const;
  bool isInterlaced() const { return fieldOrder() >= 2; }
  // libavcodec's field orders: 0 unknown, 1 progressive, 2 and above interlaced.
  virtual std::int32_t fieldOrder() const { return 0; }
  virtual bool hasBFrames() const { return false; }
  virtual platform::Dictionary metadata() const { return {}; }
  virtual platform::media::MediaTime syncPTS() const { return platform::media::MediaTime::zero(); }
  std::int32_t firstFrameNumber() const { return firstFrameNumber_; }
  // The timecode text of the first frame; none without a timecode track.
  std::optional<std::string> firstTimeCode() const;
  bool finishedReading() const { return finishedReading_; }
  virtual void initReading() {}
  virtual void seekToTime(double /*seconds*/, bool /*precisely*/, bool /*backwards*/) {}
  // The next sample of any track (its index through `trackIndex`); none at the end.
  virtual platform::media::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex);

  // Frames read (and time spent) since the previous query; each query resets its counter.
  std::int32_t diskReadPerformanceCpt();
  double diskReadPerformanceElapsedTime();
  void didReadFramesInSeconds(std::int32_t frames, double seconds);

  virtual void updateOutPoint(double /*seconds*/) {}
  virtual void updatePlaybackDuration(double /*seconds*/) {}

  const MediaURL& fileURL() const { return fileURL_; }
  const std::string& sourceDescription() const { return sourceDescription_; }
  std::int32_t assetType() const { return assetType_; }
  void setAssetType(std::int32_t type) { assetType_ = type; }
  platform::media::MediaTime startPosition() const;
  void setStartPosition(platform::media::MediaTime time);
  platform::media::MediaTime inPoint() const;
  void setInPoint(platform::media::MediaTime time);
  platform::media::MediaTime outPoint() const;
  void setOutPoint(platform::media::MediaTime time);
  bool shouldUpdateDurationWhenReadingAfterEOF() const { return shouldUpdateDurationWhenReadingAfterEOF_; }
  void setShouldUpdateDurationWhenReadingAfterEOF(bool value) { shouldUpdateDurationWhenReadingAfterEOF_ = value; }
  std::optional<platform::Date> lastFileModificationDate() const;
  void setLastFileModificationDate(std::optional<platform::Date> date);
  std::int32_t bitsPerRawSample() const { return bitsPerRawSample_; }

 protected:
  // What subclasses fill while opening and loading.
  std::vector<platform::media::FormatDescriptionRef> audioFormatDescriptionArray_;
  platform::media::FormatDescriptionRef videoFormatDescription_;
  platform::media::FormatDescriptionRef closedCaptionFormatDescription_;
  platform::media::FormatDescriptionRef timeCodeFormatDescription_;
  std::int32_t captioningType_ = kCaptioningTypeNone;
  std::int32_t validationError_ = 0;
  bool isValid_ = false;
  bool isOpen_ = false;
  bool hasAudio_ = false;
  bool hasVideo_ = false;
  bool finishedReading_ = false;
  std::int32_t firstFrameNumber_ = 0;
  std::int32_t bitsPerRawSample_ = 0;

 private:
  void logRefusal(const char* format, double a, double b, double c = 0) const;

  const MediaURL fileURL_;
  const std::string sourceDescription_;
  std::int32_t assetType_ = kAssetTypeOther;
  bool shouldUpdateDurationWhenReadingAfterEOF_ = true;

  mutable std::mutex timesMutex_;
  platform::media::MediaTime startPosition_;           // guarded by timesMutex_
  platform::media::MediaTime inPoint_;                 // guarded by timesMutex_
  platform::media::MediaTime outPoint_;                // guarded by timesMutex_
  platform::media::MediaTime duration_ = platform::media::MediaTime::zero();  // guarded by timesMutex_
  std::optional<platform::Date> lastFileModificationDate_;                    // guarded by timesMutex_

  std::mutex performanceSync_;
  std::int32_t readPerformanceCpt_ = 0;         // guarded by performanceSync_
  double readPerformanceElapsedTime_ = 0;       // guarded by performanceSync_
};

}  // namespace media
