#pragma once
// The clock a layer or shader transition item keeps: it has no media of its
// own, is ready as soon as it is asked to read, and counts its playback
// duration down one output pull at a time. It hands out no picture; the
// renderer animates or wipes between the two neighbouring items.
//
// Lives on: the queue player's serial queue, as every item.

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/items/CVNQueuePlayerItem.h"

namespace engine::items {

class TransitionClockQueuePlayerItem : public CVNQueuePlayerItem {
 public:
  bool isTransition() const override { return true; }

  // Only before reading has begun: sets the clock to the playback duration in
  // the output's time scale, then makes the item ready in one step.
  void startReading() override;
  void stopReadingAndDecodingFrames() override {}
  double currentReadAheadDurationInSeconds() override { return remainingTime().seconds(); }

  // Both pulls step the clock when they may dequeue and give no picture. The
  // texture pull comes once per field of interlaced output, the pixel-buffer
  // pull once per frame whatever the output, so each steps what it stands for.
  void prepareNextTextureUsingCommandBuffer(render::CommandBuffer* commandBuffer, bool shouldDequeue,
                                            std::int32_t playbackStatus) override;
  render::TextureRef nextTexture() override { return nullptr; }
  std::shared_ptr<platform::media::PixelBuffer> nextPixelBufferByAllowingItemToDequeue(bool allowDequeue,
                                                                                       std::int32_t playbackStatus) override;
  std::shared_ptr<platform::media::PixelBuffer> copyCurrentPixelBuffer() override { return nullptr; }

  enum class Pull { PerFieldOrFrame, PerFrame };
  // What one pull plays of `mode`: a frame, or a field of interlaced output
  // for a pull made per field. None for a mode that cannot keep time.
  static std::optional<platform::media::MediaTime> durationOfOnePull(const pluginframework::CVNDisplayMode& mode,
                                                                     Pull pull);

 protected:
  TransitionClockQueuePlayerItem() = default;
  // Called once the clock is set, before the item becomes ready.
  virtual void clockDidStart() {}

 private:
  void stepClock(Pull pull);
  // A transition that cannot keep time ends at once rather than never.
  void finishWithoutClock();
};

}  // namespace engine::items
