#include "platform/media/SampleBufferQueue.h"

#include <algorithm>

namespace platform::media {

SampleBufferQueue::SampleBufferQueue(std::size_t capacity, Order order) : capacity_(capacity), order_(order) {}

OSStatus SampleBufferQueue::enqueue(SampleBufferRef buffer) {
  if (!buffer) return kSampleBufferErrorRequiredParameterMissing;
  std::function<void()> fire;
  {
    std::lock_guard lock(mutex_);
    if (buffers_.size() >= capacity_) return kSampleBufferQueueErrorQueueIsFull;
    if (order_ == Order::OutputPresentationTime) {
      const MediaTime time = buffer->outputPresentationTimeStamp();
      auto position = std::upper_bound(buffers_.begin(), buffers_.end(), time, [](const MediaTime& t, const SampleBufferRef& b) {
        return compare(t, b->outputPresentationTimeStamp()) < 0;
      });
      buffers_.insert(position, std::move(buffer));
    } else {
      buffers_.push_back(std::move(buffer));
    }
    totalDuration_.reset();
    if (trigger_ && buffers_.size() > triggerCount_) fire = trigger_;
  }
  if (fire) fire();
  return kSampleBufferNoError;
}

SampleBufferRef SampleBufferQueue::dequeue() {
  std::lock_guard lock(mutex_);
  if (buffers_.empty()) return nullptr;
  SampleBufferRef buffer = std::move(buffers_.front());
  buffers_.pop_front();
  totalDuration_.reset();
  return buffer;
}

SampleBufferRef SampleBufferQueue::head() const {
  std::lock_guard lock(mutex_);
  return buffers_.empty() ? nullptr : buffers_.front();
}

bool SampleBufferQueue::isEmpty() const {
  std::lock_guard lock(mutex_);
  return buffers_.empty();
}

std::size_t SampleBufferQueue::count() const {
  std::lock_guard lock(mutex_);
  return buffers_.size();
}

MediaTime SampleBufferQueue::totalDuration() const {
  std::lock_guard lock(mutex_);
  if (totalDuration_) return *totalDuration_;
  MediaTime total = MediaTime::zero();
  for (const auto& buffer : buffers_) {
    const MediaTime duration = buffer->duration();
    if (duration.isNumeric()) total = add(total, duration);
  }
  totalDuration_ = total;
  return total;
}

void SampleBufferQueue::reset() {
  std::deque<SampleBufferRef> dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(buffers_);
  totalDuration_.reset();
}

void SampleBufferQueue::setCountAboveTrigger(std::size_t count, std::function<void()> trigger) {
  std::lock_guard lock(mutex_);
  triggerCount_ = count;
  trigger_ = std::move(trigger);
}

}  // namespace platform::media
