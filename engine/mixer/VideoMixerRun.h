#pragma once
// What one run of the video mixer renders with: made by startMixer, dropped
// by stopMixer. Every render and pull holds it, so what they use lives until
// the last of them is done, even when a stop gives up waiting for one.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/mixer/CVNVideoMixer.h"
#include "media/buffers/CVNCircularBuffer.h"
#include "platform/media/PixelBufferPool.h"

namespace engine::mixer {

struct CVNVideoMixer::Run {
  std::shared_ptr<queueplayer::CVNQueuePlayer> player;
  std::unique_ptr<render::FrameRenderer> renderer;
  std::shared_ptr<pluginframework::CVNVideoOutput> output;
  DisplayModeRef displayMode;
  std::shared_ptr<platform::media::PixelBufferPool> pool;
  std::shared_ptr<platform::media::PixelBuffer> emptyPixelBuffer;
  platform::media::SampleBufferRef emptyTimecode;
  std::shared_ptr<std::vector<std::uint8_t>> silence;
  std::shared_ptr<media::CVNCircularBuffer> audioRing;
  std::uint32_t audioBytesPerFrame = 0;
  platform::Semaphore renderingSemaphore{0};

  // Finished frames, oldest first; each entry keeps its picture, audio,
  // captions and timecode in step.
  std::mutex audioVideoClosedCaptionBuffersLock;
  std::deque<MixerFrame> finishedFrames;  // guarded by audioVideoClosedCaptionBuffersLock

  // On the rendering queue only.
  std::int64_t frameCpt = 0;
  platform::media::MediaTime nextRenderTime{};

  platform::Clock::Duration frameDuration() const;
};

}  // namespace engine::mixer
