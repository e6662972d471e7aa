#pragma once
// A pool of pixel buffers of one format and size. A buffer taken from the
// pool comes back to it when its last reference goes (even after the pool is
// gone, when it is simply freed). The pool keeps at least `minimumBufferCount`
// free buffers once made and refuses to make more than `maximumBufferCount`
// at once (kCVReturnWouldExceedAllocationThreshold).
//
// Thread-safe: buffers are taken and returned from any thread.

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/media/PixelBuffer.h"

namespace platform::media {

struct PixelBufferPoolAttributes {
  FourCharCode pixelFormat = 0;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRowAlignment = 64;
  std::size_t minimumBufferCount = 0;
  std::optional<std::size_t> maximumBufferCount;  // none: no limit
  bool shareable = false;
};

class PixelBufferPool {
 public:
  ~PixelBufferPool();
  PixelBufferPool(const PixelBufferPool&) = delete;
  PixelBufferPool& operator=(const PixelBufferPool&) = delete;

  // kCVReturnInvalidSize for zero or oversized dimensions,
  // kCVReturnInvalidPixelFormat for unknown formats,
  // kCVReturnInvalidPoolAttributes for a maximum below the minimum.
  static CVReturn create(const PixelBufferPoolAttributes& attributes, std::shared_ptr<PixelBufferPool>* out);

  // A free buffer, or a new one; attachments of a returned buffer are cleared.
  CVReturn createPixelBuffer(std::shared_ptr<PixelBuffer>* out);

  const PixelBufferPoolAttributes& attributes() const;
  // Buffers made so far and buffers handed out now.
  std::size_t buffersCreated() const;
  std::size_t buffersInUse() const;
  // Frees every free buffer (those in use are freed on return).
  void flush();

 private:
  struct State;
  explicit PixelBufferPool(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace platform::media
