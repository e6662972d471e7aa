#pragma once
// Posting notifications so that their observers run on the main thread: the
// system's way of handing work from any thread to the windows and models that
// live there. The usual form is postNotificationOnMainThreadWithName, which
// never waits.
//
// Free functions, safe from any thread:
// - on the main thread the notification is posted at once, and its observers
//   have run when the call returns;
// - on any other thread it is handed to the main queue and posted on the
//   centre given (which must outlive the post; the default centre does);
//   with PostWait::UntilDone the caller waits, at most
//   kMainThreadPostWaitLimit on Clock::current(), until the observers have
//   run. A caller that waits must not hold anything the main thread waits
//   for; if the main thread does not take the post in time, it never runs.

#include <chrono>
#include <string>

#include "platform/NotificationCenter.h"
#include "platform/NotificationQueue.h"
#include "platform/Value.h"

namespace foundation {

enum class PostWait { DontWait = 1, UntilDone = 2 };

inline constexpr std::chrono::seconds kMainThreadPostWaitLimit{10};

// True when the notification was posted (or, from another thread without
// waiting, queued); false when the main queue refused it or the wait ran out
// (both reported by the main queue).
bool postNotificationOnMainThread(platform::NotificationCenter& center, platform::Notification notification,
                                  PostWait wait = PostWait::DontWait);

// The same for a notification made of a name, a sender (identity only, may be
// null) and user info.
bool postNotificationOnMainThreadWithName(platform::NotificationCenter& center, std::string name,
                                          const void* sender, platform::Dictionary userInfo = {},
                                          PostWait wait = PostWait::DontWait);

// Holds the notification back and posts it on the main thread as the posting
// style says, coalesced with like ones already waiting (by default on name
// and sender). On the main thread it goes on `queue`; from any other thread
// it is handed to the main thread, without waiting, and goes on the default
// queue, whatever queue was given. False when the main queue refused it.
bool enqueueNotificationOnMainThread(
    platform::NotificationQueue& queue, platform::Notification notification,
    platform::NotificationQueue::PostingStyle style,
    unsigned coalesceMask = platform::NotificationQueue::kCoalescingOnName |
                            platform::NotificationQueue::kCoalescingOnSender);

}  // namespace foundation
