#include "media/buffers/CVNBufferArray.h"

#include <algorithm>

namespace media {

using platform::media::MediaTime;

namespace {
// Samples without timing count as nothing.
MediaTime durationOf(const platform::media::SampleBuffer& sample) {
  const MediaTime duration = sample.duration();
  return duration.isNumeric() ? duration : MediaTime::zero();
}
}  // namespace

void CVNBufferArray::addSampleBuffer(const platform::media::SampleBufferRef& sample) {
  if (!sample) return;
  std::lock_guard lock(mutex_);
  totalDuration_ = add(totalDuration_, durationOf(*sample));
  items_.push_back(sample);
}

void CVNBufferArray::removeSampleBuffer(const platform::media::SampleBufferRef& sample) {
  if (!sample) return;
  platform::media::SampleBufferRef released;  // let go after the lock
  std::lock_guard lock(mutex_);
  auto it = std::find(items_.begin(), items_.end(), sample);
  if (it == items_.end()) return;
  totalDuration_ = subtract(totalDuration_, durationOf(**it));
  released = std::move(*it);
  items_.erase(it);
}

void CVNBufferArray::removeAllSampleBuffers() {
  std::vector<platform::media::SampleBufferRef> released;
  std::lock_guard lock(mutex_);
  released.swap(items_);
  totalDuration_ = MediaTime::zero();
}

MediaTime CVNBufferArray::duration() const {
  std::lock_guard lock(mutex_);
  return totalDuration_;
}

std::size_t CVNBufferArray::count() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

}  // namespace media
