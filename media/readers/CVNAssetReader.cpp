#include "media/readers/CVNAssetReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/CVNLogController.h"
#include "media/readers/AssetReaderRegistry.h"
#include "platform/Diagnostics.h"
#include "pluginframework/CVNTimeValue.h"

namespace media {

using platform::media::MediaTime;

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

void missingOverride(const char* operation) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, std::string("Missing override: ") + operation);
}

// The nearest whole count of 1/T for `seconds`, or 0 at T for about zero.
MediaTime timeAtScale(double seconds, std::int32_t timeScale) {
  if (std::fabs(seconds) <= kEpsilon) return MediaTime::make(0, timeScale);
  return MediaTime::make(static_cast<std::int64_t>(std::llround(seconds * timeScale)), timeScale);
}

}  // namespace

CVNAssetReader::CVNAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription)
    : fileURL_(std::move(fileURL)), sourceDescription_(sourceDescription.value_or("")) {}

CVNAssetReader::~CVNAssetReader() = default;

bool CVNAssetReader::canReadAssetWithMediaURL(const MediaURL& url) {
  if (!url.isFileURL()) return false;
  if (::access(url.path().c_str(), R_OK) == 0) return true;
  // The reason comes from the access check itself: reading the whole file only
  // to learn why it cannot be read costs a full read of large media.
  const int error = errno;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      1, false,
      "AssetReader: Error: %s (Possible reasons: the file or folder has been deleted or renamed, or the Volume is not "
      "mounted, or there are Read/Write permissions, or Sandbox limitations,... )",
      (std::string("The file \"") + url.path().filename().string() + "\" couldn't be opened: " + std::strerror(error))
          .c_str());
  return false;
}

std::shared_ptr<CVNAssetReader> CVNAssetReader::assetReaderWithMediaURL(
    const MediaURL& url, const std::optional<std::string>& sourceDescription) {
  for (const auto& registration : AssetReaderRegistry::shared().registrations()) {
    if (!registration.canOpenAssetWithMediaURL || !registration.canOpenAssetWithMediaURL(url)) continue;
    std::shared_ptr<CVNAssetReader> reader = registration.create ? registration.create(url, sourceDescription) : nullptr;
    if (reader) reader->setShouldUpdateDurationWhenReadingAfterEOF(false);
    return reader;
  }
  return nullptr;
}

bool CVNAssetReader::mediaURLIsValidAsset(const MediaURL& url) { return mediaURLIsValidAsset(url, nullptr, nullptr); }

bool CVNAssetReader::mediaURLIsValidAsset(const MediaURL& url, bool* isImage, bool* isAudioOnly) {
  for (const auto& registration : AssetReaderRegistry::shared().registrations()) {
    if (!registration.canOpenAssetWithMediaURL || !registration.canOpenAssetWithMediaURL(url)) continue;
    if (isImage) *isImage = registration.kind == AssetReaderKind::Image;
    if (isAudioOnly) *isAudioOnly = registration.kind == AssetReaderKind::Audio;
    return true;
  }
  return false;
}

std::string CVNAssetReader::captioningTypeDescriptionForType(std::int32_t type) {
  static const char* const kNames[] = {"CEA608", "CEA708", "OP47", "ATSC", "SRT", "STL"};
  return type >= 1 && type <= 6 ? kNames[type - 1] : "None";
}

std::string CVNAssetReader::stringFromAssetType(std::int32_t type) {
  static const char* const kNames[] = {"QuickTimeMovie", "MXF", "LXF", "MPEG2Movie", "DV", "AVI",
                                       "MKV", "Image", "Sound", "ZiraInput", "ZiraStream"};
  return type >= 1 && type <= 11 ? kNames[type - 1] : "Unknown";
}

std::optional<platform::Date> CVNAssetReader::lastModificationDateForFileAtURL(const MediaURL& url) {
  struct stat status {};
  if (!url.isFileURL() || ::stat(url.path().c_str(), &status) != 0) return std::nullopt;
  const auto since = std::chrono::seconds(status.st_mtim.tv_sec) +
                     std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::nanoseconds(status.st_mtim.tv_nsec));
  return platform::Date(std::chrono::duration_cast<std::chrono::microseconds>(since));
}

void CVNAssetReader::loadInfoWithMetadata(bool, bool, CompletionHandler handler) {
  missingOverride("loadInfoWithMetadata:validateUsingMediaInfo:completionHandler:");
  if (handler) handler();
}

void CVNAssetReader::loadInfoWithMetadata(bool withMetadata, CompletionHandler handler) {
  loadInfoWithMetadata(withMetadata, true, std::move(handler));
}

bool CVNAssetReader::setDesiredDimensions(std::int64_t, std::int64_t) { return false; }
bool CVNAssetReader::setFrameDuration(MediaTime) { return false; }

void CVNAssetReader::setDuration(MediaTime duration) {
  std::lock_guard lock(timesMutex_);
  duration_ = duration;
  // "Never set" is a time without a scale.
  if (inPoint_.timeScale == 0) inPoint_ = MediaTime::make(0, duration.timeScale);
  if (outPoint_.timeScale == 0) outPoint_ = duration;
  if (startPosition_.timeScale == 0) startPosition_ = MediaTime::make(0, duration.timeScale);
}

MediaTime CVNAssetReader::duration() const {
  std::lock_guard lock(timesMutex_);
  return duration_;
}

void CVNAssetReader::logRefusal(const char* format, double a, double b, double c) const {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(2, true, format, sourceDescription_.c_str(), a,
                                                                          b, c);
}

void CVNAssetReader::setInPointInSeconds(double seconds) {
  std::unique_lock lock(timesMutex_);
  const std::int32_t scale = duration_.timeScale;
  const double durationSeconds = duration_.seconds();
  const bool outSet = outPoint_.isNumeric();
  const double outSeconds = outPoint_.seconds();
  // NaN and infinities are refused with the rest; an in point must also lie
  // before the current out point, or the clip would play backwards.
  const bool inRange = std::isfinite(seconds) && seconds >= 0 && seconds < durationSeconds;
  const bool beforeOut = !outSet || seconds < outSeconds || std::fabs(outSeconds) <= kEpsilon;
  if (inRange && beforeOut) {
    inPoint_ = timeAtScale(seconds, scale);
    return;
  }
  inPoint_ = MediaTime::make(0, scale);
  lock.unlock();
  if (!inRange) {
    logRefusal("\"%s\": Invalid in point %0.3f (Duration: %0.3f)", seconds, durationSeconds);
  } else {
    logRefusal("\"%s\": Invalid in point %0.3f (Out: %0.3f)", seconds, outSeconds);
  }
}

void CVNAssetReader::setOutPointInSeconds(double seconds) {
  std::unique_lock lock(timesMutex_);
  const std::int32_t scale = duration_.timeScale;
  const double durationSeconds = duration_.seconds();
  const double inSeconds = inPoint_.isNumeric() ? inPoint_.seconds() : 0.0;
  const bool inRange = std::isfinite(seconds) && seconds >= 0 && seconds <= durationSeconds;
  const bool aboutZero = inRange && std::fabs(seconds) <= kEpsilon;
  const bool afterIn = aboutZero || seconds > inSeconds;
  if (inRange && afterIn) {
    outPoint_ = aboutZero ? duration_ : timeAtScale(seconds, scale);
    return;
  }
  outPoint_ = duration_;
  lock.unlock();
  if (!inRange) {
    logRefusal("\"%s\": Invalid out point %0.3f (Duration: %0.3f)", seconds, durationSeconds);
  } else {
    logRefusal("\"%s\": Invalid out point %0.3f (In: %0.3f)", seconds, inSeconds);
  }
}

void CVNAssetReader::setStartPositionInSeconds(double seconds) {
  std::unique_lock lock(timesMutex_);
  const std::int32_t scale = duration_.timeScale;
  const double inSeconds = inPoint_.seconds();
  const double outSeconds = outPoint_.seconds();
  if (std::isfinite(seconds) && seconds >= 0 && seconds < outSeconds - inSeconds) {
    startPosition_ = timeAtScale(seconds, scale);
    return;
  }
  startPosition_ = MediaTime::make(0, scale);
  lock.unlock();
  logRefusal("\"%s\": Invalid start position in seconds %0.3f (In: %0.3f Out: %0.3f)", seconds, inSeconds, outSeconds);
}

platform::media::FormatDescriptionRef CVNAssetReader::audioFormatDescriptionForTrackIndex(std::int32_t index) const {
  if (index < 0 || index >= numberOfAudioTracks() || static_cast<std::size_t>(index) >= audioFormatDescriptionArray_.size()) {
    return nullptr;
  }
  return audioFormatDescriptionArray_[static_cast<std::size_t>(index)];
}

void CVNAssetReader::createCCSampleFormatDescription() {
  if (closedCaptionFormatDescription_) return;
  const bool highDefinition = videoFormatDescription_ && videoFormatDescription_->dimensions().width >= 721;
  captioningType_ = highDefinition ? kCaptioningTypeCEA708 : kCaptioningTypeCEA608;
  closedCaptionFormatDescription_ = platform::media::FormatDescription::create(
      platform::media::kMediaTypeClosedCaption, platform::media::fourCC(highDefinition ? "c708" : "c608"));
}

bool CVNAssetReader::isDropFrame() const {
  if (timeCodeFormatDescription_) {
    return (timeCodeFormatDescription_->timeCodeFlags() & platform::media::kTimeCodeFlagDropFrame) != 0;
  }
  const double rate = framerate();
  if (std::fabs(std::fmod(rate, 1.0)) > 0.001) return std::fabs(rate - 23.98) >= 0.01;
  return false;
}

foundation::Size CVNAssetReader::decodedFrameSize() const {
  if (!videoFormatDescription_) return {};
  const auto dimensions = videoFormatDescription_->dimensions();
  return {static_cast<double>(dimensions.width), static_cast<double>(dimensions.height)};
}

MediaTime CVNAssetReader::frameDuration() const {
  missingOverride("frameDuration");
  return MediaTime::make(1, 1);
}

std::optional<std::string> CVNAssetReader::firstTimeCode() const {
  if (!timeCodeFormatDescription_) return std::nullopt;
  return pluginframework::CVNTimeValue::initWithFrameNumber(firstFrameNumber_, framerate(), isDropFrame()).string();
}

platform::media::SampleBufferRef CVNAssetReader::nextSampleBufferForTrackIndex(std::int32_t*) { return nullptr; }

std::int32_t CVNAssetReader::diskReadPerformanceCpt() {
  std::lock_guard lock(performanceSync_);
  return std::exchange(readPerformanceCpt_, 0);
}

double CVNAssetReader::diskReadPerformanceElapsedTime() {
  std::lock_guard lock(performanceSync_);
  return std::exchange(readPerformanceElapsedTime_, 0.0);
}

void CVNAssetReader::didReadFramesInSeconds(std::int32_t frames, double seconds) {
  std::lock_guard lock(performanceSync_);
  readPerformanceCpt_ += frames;
  readPerformanceElapsedTime_ += seconds;
}

MediaTime CVNAssetReader::startPosition() const {
  std::lock_guard lock(timesMutex_);
  return startPosition_;
}
void CVNAssetReader::setStartPosition(MediaTime time) {
  std::lock_guard lock(timesMutex_);
  startPosition_ = time;
}
MediaTime CVNAssetReader::inPoint() const {
  std::lock_guard lock(timesMutex_);
  return inPoint_;
}
void CVNAssetReader::setInPoint(MediaTime time) {
  std::lock_guard lock(timesMutex_);
  inPoint_ = time;
}
MediaTime CVNAssetReader::outPoint() const {
  std::lock_guard lock(timesMutex_);
  return outPoint_;
}
void CVNAssetReader::setOutPoint(MediaTime time) {
  std::lock_guard lock(timesMutex_);
  outPoint_ = time;
}
std::optional<platform::Date> CVNAssetReader::lastFileModificationDate() const {
  std::lock_guard lock(timesMutex_);
  return lastFileModificationDate_;
}
void CVNAssetReader::setLastFileModificationDate(std::optional<platform::Date> date) {
  std::lock_guard lock(timesMutex_);
  lastFileModificationDate_ = date;
}

}  // namespace media
