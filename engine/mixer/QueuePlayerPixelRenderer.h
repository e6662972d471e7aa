#pragma once
// The renderer without a graphics device: each frame is the queue player's
// own pixel buffer (already at the output size and format), or none when the
// player has no picture, which the mixer sends as black. Rendering queue only.

#include <memory>

#include "engine/queueplayer/CVNQueuePlayer.h"
#include "engine/render/FrameRenderer.h"

namespace engine::mixer {

class QueuePlayerPixelRenderer final : public render::FrameRenderer {
 public:
  explicit QueuePlayerPixelRenderer(std::shared_ptr<queueplayer::CVNQueuePlayer> player) : player_(std::move(player)) {}

  bool prepare(const render::RenderTarget&, std::string*) override { return true; }
  std::shared_ptr<platform::media::PixelBuffer> renderFrame(std::int64_t) override { return player_->nextPixelBuffer(); }
  void release() override {}

 private:
  std::shared_ptr<queueplayer::CVNQueuePlayer> player_;
};

}  // namespace engine::mixer
