#pragma once
// Where a player view puts its frames: the newest enqueued frame is shown
// until the next one or a flush. Each view has a display of its own.
// enqueue may be called from any thread.

#include "platform/media/SampleBuffer.h"

namespace media {

class SampleBufferDisplay {
 public:
  virtual ~SampleBufferDisplay() = default;
  virtual void enqueueSampleBuffer(const platform::media::SampleBufferRef& frame) = 0;
  // Back to black.
  virtual void flushAndRemoveImage() = 0;
};

}  // namespace media
