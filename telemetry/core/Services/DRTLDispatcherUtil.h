#pragma once
// DRTLDispatcherUtil: work handed to the main queue (platform::DispatchQueue::main()).

#include <functional>

#include "platform/DispatchQueue.h"

namespace telemetry::core {

class DRTLDispatcherUtil {
 public:
  // Queues the block on the main queue and returns at once, also on the main thread.
  static void performBlockOnMainThread(std::function<void()> block);
  // Queues the block on `queue` and waits for it at most `timeoutSeconds`
  // on platform::Clock; the block may still run after a time-out.
  static void dispatchSyncWithTimeout(double timeoutSeconds, platform::DispatchQueue& queue,
                                      std::function<void()> block);
};

}  // namespace telemetry::core
