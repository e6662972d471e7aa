#pragma once
// NotificationQueue: notifications held back and posted later on the main
// thread through a NotificationCenter, with like notifications coalesced, so
// that a burst of changes (a status that moves a hundred times in one task)
// reaches its observers once.
//
// Posting styles:
// - Now: the queued notifications it coalesces with are dropped and it is
//   posted at once, inside the call;
// - ASAP: posted on the next drain of the main queue;
// - WhenIdle: posted once the work the next drain finds has had its turn:
//   the main loop has no idle moment of its own, so idle means one drain
//   after the ASAP notifications.
// Coalescing (a mask of the two flags): a notification that matches one
// already waiting (same name, same sender, or both, as the mask says) is not
// queued a second time; the waiting one keeps its place and posting style.
// With no flag every notification is posted.
//
// Main thread only (a queue belongs to the thread that drains it; other
// threads go through foundation's enqueueNotificationOnMainThread). The
// centre must outlive the queue. A queue destroyed with notifications still
// waiting drops them. defaultQueue() posts on the default centre and is never
// destroyed.

#include <memory>

#include "platform/NotificationCenter.h"

namespace platform {

class NotificationQueue {
 public:
  enum class PostingStyle : unsigned { WhenIdle = 1, ASAP = 2, Now = 3 };
  static constexpr unsigned kNoCoalescing = 0;
  static constexpr unsigned kCoalescingOnName = 1;
  static constexpr unsigned kCoalescingOnSender = 2;

  explicit NotificationQueue(NotificationCenter& center);
  ~NotificationQueue();
  NotificationQueue(const NotificationQueue&) = delete;
  NotificationQueue& operator=(const NotificationQueue&) = delete;

  // The main thread's queue on NotificationCenter::defaultCenter().
  static NotificationQueue& defaultQueue();

  void enqueue(Notification notification, PostingStyle style,
               unsigned coalesceMask = kCoalescingOnName | kCoalescingOnSender);
  // Drops the waiting notifications that match `notification` under the mask.
  void dequeueMatching(const Notification& notification, unsigned coalesceMask);
  // Notifications waiting to be posted.
  std::size_t pendingCount() const;

 private:
  struct State;
  static void postWaiting(const std::shared_ptr<State>& state, bool idle);
  std::shared_ptr<State> state_;
};

}  // namespace platform
