#include "platform/NotificationQueue.h"

#include <algorithm>
#include <deque>
#include <string>
#include <utility>

#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace platform {
namespace {

bool matches(const Notification& waiting, const Notification& other, unsigned coalesceMask) {
  if (coalesceMask == NotificationQueue::kNoCoalescing) return false;
  if ((coalesceMask & NotificationQueue::kCoalescingOnName) && waiting.name != other.name) return false;
  if ((coalesceMask & NotificationQueue::kCoalescingOnSender) && waiting.sender != other.sender) return false;
  return true;
}

}  // namespace

struct NotificationQueue::State {
  explicit State(NotificationCenter& c) : center(c) {}
  NotificationCenter& center;
  std::deque<Notification> asap;
  std::deque<Notification> idle;
  bool asapScheduled = false;
  bool idleScheduled = false;
  bool closed = false;  // the queue is gone; drop what waits
};

NotificationQueue::NotificationQueue(NotificationCenter& center) : state_(std::make_shared<State>(center)) {}

NotificationQueue::~NotificationQueue() { state_->closed = true; }

NotificationQueue& NotificationQueue::defaultQueue() {
  // Never destroyed, like the default centre it posts on.
  static NotificationQueue& queue = *new NotificationQueue(NotificationCenter::defaultCenter());
  return queue;
}

// Posts what is waiting in one list, oldest first. Observers may enqueue
// again; those wait for the next turn. Stops when an observer destroyed the
// queue.
void NotificationQueue::postWaiting(const std::shared_ptr<State>& state, bool idle) {
  std::deque<Notification> now;
  (idle ? state->idleScheduled : state->asapScheduled) = false;
  now.swap(idle ? state->idle : state->asap);
  for (const Notification& notification : now) {
    if (state->closed) return;
    state->center.post(notification);
  }
}

void NotificationQueue::enqueue(Notification notification, PostingStyle style, unsigned coalesceMask) {
  if (!isMainThread()) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "NotificationQueue: \"" + notification.name + "\" enqueued off the main thread; not posted");
    return;
  }
  State& state = *state_;
  if (style == PostingStyle::Now) {
    dequeueMatching(notification, coalesceMask);
    state.center.post(notification);
    return;
  }
  const auto waiting = [&](const std::deque<Notification>& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const Notification& queued) { return matches(queued, notification, coalesceMask); });
  };
  if (waiting(state.asap) || waiting(state.idle)) return;
  const std::weak_ptr<State> weak = state_;
  if (style == PostingStyle::ASAP) {
    state.asap.push_back(std::move(notification));
    if (state.asapScheduled) return;
    state.asapScheduled = DispatchQueue::main().async([weak] {
      if (auto strong = weak.lock()) postWaiting(strong, false);
    });
    return;
  }
  state.idle.push_back(std::move(notification));
  if (state.idleScheduled) return;
  // Two hops: the first drain lets the work it finds run first.
  state.idleScheduled = DispatchQueue::main().async([weak] {
    DispatchQueue::main().async([weak] {
      if (auto strong = weak.lock()) postWaiting(strong, true);
    });
  });
}

void NotificationQueue::dequeueMatching(const Notification& notification, unsigned coalesceMask) {
  for (std::deque<Notification>* list : {&state_->asap, &state_->idle}) {
    std::erase_if(*list, [&](const Notification& queued) { return matches(queued, notification, coalesceMask); });
  }
}

std::size_t NotificationQueue::pendingCount() const { return state_->asap.size() + state_->idle.size(); }

}  // namespace platform
