#include "platform/media/SampleBuffer.h"

#include <numeric>

namespace platform::media {

bool SampleBuffer::timingCountFits(std::size_t timingCount, std::size_t numSamples) {
  return timingCount == 0 || timingCount == 1 || timingCount == numSamples;
}

OSStatus SampleBuffer::createReady(std::shared_ptr<BlockBuffer> data, FormatDescriptionRef format,
                                   std::size_t numSamples, std::vector<SampleTimingInfo> timing,
                                   std::vector<std::size_t> sampleSizes, std::shared_ptr<SampleBuffer>* out,
                                   std::vector<AudioStreamPacketDescription> packetDescriptions) {
  out->reset();
  if (!data) return kSampleBufferErrorRequiredParameterMissing;
  if (!timingCountFits(timing.size(), numSamples) || !timingCountFits(sampleSizes.size(), numSamples)) {
    return kSampleBufferErrorInvalidEntryCount;
  }
  const std::size_t total = sampleSizes.size() == 1 ? sampleSizes[0] * numSamples
                                                    : std::accumulate(sampleSizes.begin(), sampleSizes.end(), std::size_t{0});
  if (total > data->dataLength()) return kSampleBufferErrorInvalidSampleData;
  for (const auto& packet : packetDescriptions) {
    if (packet.startOffset < 0 || static_cast<std::size_t>(packet.startOffset) > data->dataLength() ||
        packet.dataByteSize > data->dataLength() - static_cast<std::size_t>(packet.startOffset)) {
      return kSampleBufferErrorInvalidSampleData;
    }
  }
  std::shared_ptr<SampleBuffer> buffer(new SampleBuffer);
  buffer->data_ = std::move(data);
  buffer->format_ = std::move(format);
  buffer->numSamples_ = numSamples;
  buffer->timing_ = std::move(timing);
  buffer->sampleSizes_ = std::move(sampleSizes);
  buffer->packetDescriptions_ = std::move(packetDescriptions);
  *out = std::move(buffer);
  return kSampleBufferNoError;
}

OSStatus SampleBuffer::createForImageBuffer(std::shared_ptr<PixelBuffer> image, FormatDescriptionRef format,
                                            const SampleTimingInfo& timing, std::shared_ptr<SampleBuffer>* out) {
  out->reset();
  if (!image || !format) return kSampleBufferErrorRequiredParameterMissing;
  std::shared_ptr<SampleBuffer> buffer(new SampleBuffer);
  buffer->image_ = std::move(image);
  buffer->format_ = std::move(format);
  buffer->numSamples_ = 1;
  buffer->timing_ = {timing};
  *out = std::move(buffer);
  return kSampleBufferNoError;
}

OSStatus SampleBuffer::createCopyWithNewTiming(std::vector<SampleTimingInfo> timing,
                                               std::shared_ptr<SampleBuffer>* out) const {
  out->reset();
  if (!timingCountFits(timing.size(), numSamples_)) return kSampleBufferErrorInvalidEntryCount;
  std::shared_ptr<SampleBuffer> copy(new SampleBuffer);
  copy->data_ = data_;
  copy->image_ = image_;
  copy->format_ = format_;
  copy->numSamples_ = numSamples_;
  copy->timing_ = std::move(timing);
  copy->sampleSizes_ = sampleSizes_;
  copy->packetDescriptions_ = packetDescriptions_;
  {
    std::lock_guard lock(mutex_);
    copy->sampleAttachments_ = sampleAttachments_;
    copy->attachments_ = attachments_;
  }
  *out = std::move(copy);
  return kSampleBufferNoError;
}

OSStatus SampleBuffer::sampleTimingInfo(std::size_t index, SampleTimingInfo* out) const {
  if (timing_.empty()) return kSampleBufferErrorBufferHasNoSampleTimingInfo;
  if (index >= std::max<std::size_t>(numSamples_, 1)) return kSampleBufferErrorInvalidEntryCount;
  *out = timing_.size() == 1 ? timing_[0] : timing_[index];
  return kSampleBufferNoError;
}

MediaTime SampleBuffer::presentationTimeStamp() const {
  MediaTime earliest;
  for (const auto& entry : timing_) {
    if (!earliest.isValid() || (entry.presentationTimeStamp.isValid() && entry.presentationTimeStamp < earliest)) {
      earliest = entry.presentationTimeStamp;
    }
  }
  return earliest;
}

MediaTime SampleBuffer::decodeTimeStamp() const {
  MediaTime earliest;
  for (const auto& entry : timing_) {
    if (!earliest.isValid() || (entry.decodeTimeStamp.isValid() && entry.decodeTimeStamp < earliest)) {
      earliest = entry.decodeTimeStamp;
    }
  }
  return earliest;
}

MediaTime SampleBuffer::duration() const {
  if (timing_.empty()) return MediaTime::invalid();
  if (timing_.size() == 1) return multiply(timing_[0].duration, static_cast<std::int32_t>(std::max<std::size_t>(numSamples_, 1)));
  MediaTime total = MediaTime::zero();
  for (const auto& entry : timing_) total = add(total, entry.duration);
  return total;
}

MediaTime SampleBuffer::outputPresentationTimeStamp() const {
  {
    std::lock_guard lock(mutex_);
    if (outputPresentationTimeStamp_) return *outputPresentationTimeStamp_;
  }
  return presentationTimeStamp();
}

void SampleBuffer::setOutputPresentationTimeStamp(MediaTime time) {
  std::lock_guard lock(mutex_);
  outputPresentationTimeStamp_ = time;
}

std::size_t SampleBuffer::sampleSize(std::size_t index) const {
  if (sampleSizes_.empty() || index >= numSamples_) return 0;
  return sampleSizes_.size() == 1 ? sampleSizes_[0] : sampleSizes_[index];
}

std::size_t SampleBuffer::totalSampleSize() const {
  if (sampleSizes_.empty()) return data_ ? data_->dataLength() : 0;
  if (sampleSizes_.size() == 1) return sampleSizes_[0] * numSamples_;
  return std::accumulate(sampleSizes_.begin(), sampleSizes_.end(), std::size_t{0});
}

bool SampleBuffer::hasSampleAttachments() const {
  std::lock_guard lock(mutex_);
  return sampleAttachments_.has_value();
}

void SampleBuffer::createSampleAttachmentsIfNeeded() {
  std::lock_guard lock(mutex_);
  if (!sampleAttachments_) sampleAttachments_.emplace(std::max<std::size_t>(numSamples_, 1));
}

std::vector<platform::Dictionary> SampleBuffer::sampleAttachmentsArray() const {
  std::lock_guard lock(mutex_);
  return sampleAttachments_.value_or(std::vector<platform::Dictionary>{});
}

platform::Value SampleBuffer::sampleAttachment(std::size_t index, const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (!sampleAttachments_ || index >= sampleAttachments_->size()) return {};
  auto it = (*sampleAttachments_)[index].find(key);
  return it == (*sampleAttachments_)[index].end() ? platform::Value() : it->second;
}

bool SampleBuffer::setSampleAttachment(std::size_t index, const std::string& key, platform::Value value) {
  std::lock_guard lock(mutex_);
  if (!sampleAttachments_ || index >= sampleAttachments_->size()) return false;
  (*sampleAttachments_)[index][key] = std::move(value);
  return true;
}

bool SampleBuffer::removeSampleAttachment(std::size_t index, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (!sampleAttachments_ || index >= sampleAttachments_->size()) return false;
  return (*sampleAttachments_)[index].erase(key) > 0;
}

void SampleBuffer::setAttachment(const std::string& key, platform::Value value) {
  std::lock_guard lock(mutex_);
  attachments_[key] = std::move(value);
}

platform::Value SampleBuffer::attachment(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = attachments_.find(key);
  return it == attachments_.end() ? platform::Value() : it->second;
}

void SampleBuffer::removeAttachment(const std::string& key) {
  std::lock_guard lock(mutex_);
  attachments_.erase(key);
}

platform::Dictionary SampleBuffer::attachments() const {
  std::lock_guard lock(mutex_);
  return attachments_;
}

}  // namespace platform::media
