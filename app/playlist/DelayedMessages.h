#pragma once
// DelayedMessages: the delayed messages of one window controller (auto-cues,
// checks) on a dispatch queue, on Clock::current(), cancelled all at once as
// the transport's Stop and skip actions require ("cancel by target").
//
// Owned by its controller; main thread only (the queue must run its tasks on
// the thread that owns this object). Destruction cancels every pending
// message, and a message whose owner is gone never runs.

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace app {

class DelayedMessages {
 public:
  explicit DelayedMessages(platform::DispatchQueue& queue = platform::DispatchQueue::main());
  ~DelayedMessages();
  DelayedMessages(const DelayedMessages&) = delete;
  DelayedMessages& operator=(const DelayedMessages&) = delete;

  // Runs `message` once `delay` has passed, unless cancelled first.
  void perform(platform::Clock::Duration delay, std::function<void()> message);
  void cancelAll();
  std::size_t pendingCount() const;

 private:
  void forgetFinished();

  platform::DispatchQueue& queue_;
  std::vector<platform::TaskHandle> pending_;
  // Tasks hold it weakly: a task that outlives this object does nothing.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace app
