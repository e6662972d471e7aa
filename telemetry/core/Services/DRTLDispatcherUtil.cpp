#include "telemetry/core/Services/DRTLDispatcherUtil.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace telemetry::core {

void DRTLDispatcherUtil::performBlockOnMainThread(std::function<void()> block) {
  platform::DispatchQueue::main().async(std::move(block));
}

void DRTLDispatcherUtil::dispatchSyncWithTimeout(double timeoutSeconds, platform::DispatchQueue& queue,
                                                 std::function<void()> block) {
  struct Done {
    std::mutex mutex;
    std::condition_variable condition;
    bool finished = false;
  };
  auto done = std::make_shared<Done>();  // outlives a time-out
  queue.async([done, block = std::move(block)] {
    if (block) block();
    std::lock_guard lock(done->mutex);
    done->finished = true;
    done->condition.notify_all();
  });
  std::unique_lock lock(done->mutex);
  platform::waitOnCurrentClock(lock, done->condition,
                               std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(timeoutSeconds)),
                               [&] { return done->finished; });
}

}  // namespace telemetry::core
