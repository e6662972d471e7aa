#include "media/sessions/CVNSessionBase.h"

#include <cmath>

#include "captions/CVNCCUtilities.h"
#include "media/readers/CVNAssetReader.h"
#include "media/readers/image/CVNImageAssetReader.h"
#include "platform/Diagnostics.h"
#include "platform/media/PixelFormat.h"

namespace media {

namespace pm = platform::media;

namespace {

pm::AudioStreamBasicDescription defaultOutputAudioFormat() {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = 48000.0;
  format.formatID = pm::fourCC("lpcm");
  format.formatFlags = 12;  // signed integer, packed
  format.bytesPerPacket = 4;
  format.framesPerPacket = 1;
  format.bytesPerFrame = 4;
  format.channelsPerFrame = 2;
  format.bitsPerChannel = 16;
  return format;
}

}  // namespace

CVNSessionBase::CVNSessionBase(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> delegateQueue)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      outputAudioFormat_(defaultOutputAudioFormat()),
      bufferFormat_(pm::fourCC("2vuy")) {}

void CVNSessionBase::setDelegate(DelegateRef delegate) {
  std::lock_guard guard(delegateMutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<CVNDecompressionSessionDelegate> CVNSessionBase::delegate() const {
  std::lock_guard guard(delegateMutex_);
  return delegate_.lock();
}

void CVNSessionBase::notifyDelegate(void (CVNDecompressionSessionDelegate::*call)(CVNSessionBase&)) {
  if (!delegateQueue_) return;
  delegateQueue_->async([weakSelf = weak_from_this(), call] {
    const auto self = weakSelf.lock();
    if (!self) return;
    if (const auto delegate = self->delegate()) ((*delegate).*call)(*self);
  });
}

void CVNSessionBase::setDuration(pm::MediaTime duration) {
  std::lock_guard guard(propertiesMutex_);
  duration_ = duration;
}

pm::MediaTime CVNSessionBase::duration() const {
  if (const auto reader = asset()) return reader->duration();
  std::lock_guard guard(propertiesMutex_);
  return duration_;
}

void CVNSessionBase::setOutputFrameDuration(pm::MediaTime duration) {
  std::lock_guard guard(propertiesMutex_);
  outputFrameDuration_ = duration;
}

pm::MediaTime CVNSessionBase::outputFrameDuration() const {
  std::lock_guard guard(propertiesMutex_);
  return outputFrameDuration_;
}

pm::FormatDescriptionRef CVNSessionBase::closedCaptionFormatDescription() const {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                             "Missing override for - (CMClosedCaptionFormatDescriptionRef) closedCaptionFormatDescription");
  return nullptr;
}

pm::SampleBufferRef CVNSessionBase::videoBufferHead() {
  if (!uncompressedQueue_) return nullptr;
  auto head = uncompressedQueue_->head();
  if (head) setPlaybackPTS(head->outputPresentationTimeStamp());
  return head;
}

pm::MediaTime CVNSessionBase::remainingTime() const {
  if (isFinishedPlaying()) return pm::MediaTime::zero();
  const auto position = playbackPTS();
  return position.isValid() ? playbackDuration() - position : playbackDuration();
}

pm::MediaTime CVNSessionBase::elapsedTime() const {
  const auto position = playbackPTS();
  return position.isValid() ? position : pm::MediaTime::zero();
}

void CVNSessionBase::scrubToTime(double seconds, bool, bool, bool) {
  const auto frame = outputFrameDuration();
  if (!frame.isValid() || frame.value <= 0 || !std::isfinite(seconds)) return;
  auto value = static_cast<std::int64_t>(seconds * frame.timeScale);
  value -= value % frame.value;
  setPlaybackPTS(pm::MediaTime::make(value, frame.timeScale));
}

foundation::Size CVNSessionBase::decodedFrameSize() const {
  const auto reader = asset();
  return reader ? reader->decodedFrameSize() : foundation::Size{};
}

foundation::Size CVNSessionBase::displaySize() const {
  const auto reader = asset();
  return reader ? reader->displaySize() : foundation::Size{};
}

std::int32_t CVNSessionBase::fieldOrder() const {
  const auto reader = asset();
  return reader ? reader->fieldOrder() : 0;
}

bool CVNSessionBase::isStillImage() const {
  return dynamic_cast<const CVNImageAssetReader*>(asset().get()) != nullptr;
}

pm::MediaTime CVNSessionBase::naturalFrameDuration() const {
  struct Nominal {
    double rate;
    std::int64_t value;
    std::int32_t timeScale;
  };
  static constexpr Nominal kNominal[] = {{23.98, 1001, 24000}, {24, 1000, 24000}, {25, 1000, 25000},
                                         {29.97, 1001, 30000}, {30, 1000, 30000}, {50, 1000, 50000},
                                         {60, 1000, 60000}};
  const auto rate = frameRateAsCMTime();
  const double r = rate.seconds();
  for (const auto& nominal : kNominal) {
    if (std::fabs(r - nominal.rate) <= 0.01) return pm::MediaTime::make(nominal.value, nominal.timeScale);
  }
  if (!rate.isValid() || rate.value <= 0 || rate.value > INT32_MAX) return pm::MediaTime::zero();
  return pm::MediaTime::make(rate.timeScale, static_cast<std::int32_t>(rate.value));
}

void CVNSessionBase::setReadAheadBufferInSeconds(double seconds) {
  if (std::isnan(seconds)) seconds = 1.0;
  readAheadSeconds_.store(std::clamp(seconds, 1.0, 10.0));
}

foundation::Size CVNSessionBase::outputFrameDimensions() const {
  std::lock_guard guard(propertiesMutex_);
  return outputFrameDimensions_;
}

void CVNSessionBase::setOutputFrameDimensions(foundation::Size size) {
  std::lock_guard guard(propertiesMutex_);
  outputFrameDimensions_ = size;
}

std::optional<std::string> CVNSessionBase::displayName() const {
  std::lock_guard guard(propertiesMutex_);
  return displayName_;
}

void CVNSessionBase::setDisplayName(std::optional<std::string> name) {
  std::lock_guard guard(propertiesMutex_);
  displayName_ = std::move(name);
}

std::shared_ptr<const pluginframework::CVNDisplayMode> CVNSessionBase::outputDisplayMode() const {
  std::lock_guard guard(propertiesMutex_);
  return outputDisplayMode_;
}

void CVNSessionBase::setOutputDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) {
  std::lock_guard guard(propertiesMutex_);
  outputDisplayMode_ = std::move(mode);
}

std::optional<pluginframework::CVNTimeValue> CVNSessionBase::lastReturnedTimecode() const {
  std::lock_guard guard(propertiesMutex_);
  return lastReturnedTimecode_;
}

void CVNSessionBase::setLastReturnedTimecode(std::optional<pluginframework::CVNTimeValue> value) {
  std::lock_guard guard(propertiesMutex_);
  lastReturnedTimecode_ = std::move(value);
}

std::optional<std::string> CVNSessionBase::validationErrorReasonString() const {
  std::lock_guard guard(propertiesMutex_);
  return validationErrorReasonString_;
}

void CVNSessionBase::setValidationErrorReasonString(std::optional<std::string> text) {
  std::lock_guard guard(propertiesMutex_);
  validationErrorReasonString_ = std::move(text);
}

pm::MediaTime CVNSessionBase::playbackPTS() const {
  std::lock_guard guard(propertiesMutex_);
  return playbackPTS_;
}

void CVNSessionBase::setPlaybackPTS(pm::MediaTime time) {
  std::lock_guard guard(propertiesMutex_);
  playbackPTS_ = time;
}

}  // namespace media
