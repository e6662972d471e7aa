#pragma once
// A bounded, thread-safe queue of sample buffers, kept in arrival order or
// sorted by output presentation time (equal times keep arrival order). It
// knows the total duration it holds and can call back once the count rises
// above a threshold (a "count above n" trigger). Callbacks run on the
// enqueuing thread after the lock is released.

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/media/SampleBuffer.h"

namespace platform::media {

inline constexpr OSStatus kSampleBufferQueueErrorQueueIsFull = -12765;

class SampleBufferQueue {
 public:
  enum class Order { Arrival = 1, OutputPresentationTime = 2 };

  SampleBufferQueue(std::size_t capacity, Order order);

  // kSampleBufferQueueErrorQueueIsFull when at capacity; a null buffer is refused.
  OSStatus enqueue(SampleBufferRef buffer);
  SampleBufferRef dequeue();
  SampleBufferRef head() const;
  bool isEmpty() const;
  std::size_t count() const;
  std::size_t capacity() const { return capacity_; }
  // Sum of the held buffers' durations (zero when empty).
  MediaTime totalDuration() const;
  // Drops every buffer.
  void reset();

  // Calls `trigger` each time an enqueue takes the count above `count`;
  // an empty function removes it.
  void setCountAboveTrigger(std::size_t count, std::function<void()> trigger);

 private:
  const std::size_t capacity_;
  const Order order_;
  mutable std::mutex mutex_;
  std::deque<SampleBufferRef> buffers_;   // guarded by mutex_
  // The sum of durations, kept until the buffers change: clients ask for it
  // far more often than the queue changes. Guarded by mutex_.
  mutable std::optional<MediaTime> totalDuration_;
  std::size_t triggerCount_ = 0;          // guarded by mutex_
  std::function<void()> trigger_;         // guarded by mutex_
};

}  // namespace platform::media
