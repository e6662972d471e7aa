#pragma once
// The ordered list of compressed sample buffers handed to a decoder and not
// yet decoded, with the total of their durations. One sample buffer may be
// held twice (and counted twice). Every operation takes one lock, so the
// decoding queue can add while the decoder's threads remove.

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/media/SampleBuffer.h"

namespace media {

class CVNBufferArray {
 public:
  // Nothing for none; otherwise appended and its duration added.
  void addSampleBuffer(const platform::media::SampleBufferRef& sample);
  // The first entry that is this very sample buffer; nothing when not held.
  void removeSampleBuffer(const platform::media::SampleBufferRef& sample);
  void removeAllSampleBuffers();
  platform::media::MediaTime duration() const;
  std::size_t count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<platform::media::SampleBufferRef> items_;                                   // guarded by mutex_
  platform::media::MediaTime totalDuration_ = platform::media::MediaTime::zero();        // guarded by mutex_
};

}  // namespace media
