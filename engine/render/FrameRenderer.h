#pragma once
// How the video mixer turns the current picture into one output frame. The
// CPU implementation hands on the queue player's own pixel buffer; the GPU
// path draws the composition into a buffer from the pool. The mixer's queue,
// audio, captions, pacing and stop do not depend on which one runs.
//
// Called on the mixer's rendering queue only: prepare at start, one
// renderFrame per output frame, release at stop.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelBufferPool.h"
#include "pluginframework/CVNDisplayMode.h"

namespace engine::render {

struct RenderTarget {
  std::shared_ptr<const pluginframework::CVNDisplayMode> displayMode;
  platform::media::FourCharCode bufferFormat = 0;
  std::shared_ptr<platform::media::PixelBufferPool> pool;
};

class FrameRenderer {
 public:
  virtual ~FrameRenderer() = default;
  // False, with the reason in `error`, when frames cannot be made for `target`.
  virtual bool prepare(const RenderTarget& target, std::string* error) = 0;
  // Frame `frameNumber` since start, or nullptr when none could be made (the
  // mixer then sends black, so a failure never stalls the output).
  virtual std::shared_ptr<platform::media::PixelBuffer> renderFrame(std::int64_t frameNumber) = 0;
  virtual void release() = 0;
};

}  // namespace engine::render
