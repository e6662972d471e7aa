#pragma once
// What a queue player item tells the queue player that owns it. Every call
// runs on the queue the delegate names, which is also where the item's
// readers call back.

#include <cstdint>
#include <memory>

#include "platform/DispatchQueue.h"

namespace media {
class CVNSessionBase;
}

namespace engine::items {

class CVNQueuePlayerItem;

class CVNQueuePlayerItemDelegate {
 public:
  virtual ~CVNQueuePlayerItemDelegate() = default;

  // The queue on which items call their delegate and readers call back.
  virtual std::shared_ptr<platform::DispatchQueue> playerItemDelegateDispatchQueue() = 0;
  // 2 while the second field of an interlaced output frame is rendered.
  virtual std::int32_t fieldToRender() = 0;
  virtual void queuePlayerItemDidInitialize(CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemDidStartReadingFrames(CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemDidBecomeReadyForPlayback(CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemDidReadAllFrames(CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemDidDecompressAllFrames(CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemDidRenderAllFrames(CVNQueuePlayerItem& item) = 0;
  virtual void ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(media::CVNSessionBase& session, double seconds,
                                                                   CVNQueuePlayerItem& item) = 0;
  virtual void queuePlayerItemChangedEndBehaviourFromTo(CVNQueuePlayerItem& item, std::int32_t from,
                                                        std::int32_t to) = 0;
};

}  // namespace engine::items
