#include "app/playlist/DelayedMessages.h"

#include <algorithm>
#include <utility>

namespace app {

DelayedMessages::DelayedMessages(platform::DispatchQueue& queue) : queue_(queue) {}

DelayedMessages::~DelayedMessages() { cancelAll(); }

void DelayedMessages::perform(platform::Clock::Duration delay, std::function<void()> message) {
  forgetFinished();
  std::weak_ptr<int> alive = alive_;
  auto handle = queue_.after(delay, [alive, message = std::move(message)] {
    if (alive.lock()) message();
  });
  if (handle) pending_.push_back(std::move(handle));
}

void DelayedMessages::cancelAll() {
  for (auto& handle : pending_) handle.cancel();
  pending_.clear();
}

std::size_t DelayedMessages::pendingCount() const {
  return static_cast<std::size_t>(
      std::count_if(pending_.begin(), pending_.end(), [](const platform::TaskHandle& h) { return h.isPending(); }));
}

void DelayedMessages::forgetFinished() {
  std::erase_if(pending_, [](const platform::TaskHandle& handle) { return !handle.isPending(); });
}

}  // namespace app
