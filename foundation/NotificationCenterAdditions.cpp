#include "foundation/NotificationCenterAdditions.h"

#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace foundation {

bool postNotificationOnMainThread(platform::NotificationCenter& center, platform::Notification notification,
                                  PostWait wait) {
  if (platform::isMainThread()) {
    center.post(notification);
    return true;
  }
  if (wait == PostWait::DontWait) return center.postOnMainThread(std::move(notification));
  // The caller blocks until the task has finished, so the centre and the
  // notification stay alive for it.
  return platform::DispatchQueue::main().sync([&center, &notification] { center.post(notification); },
                                              kMainThreadPostWaitLimit);
}

bool postNotificationOnMainThreadWithName(platform::NotificationCenter& center, std::string name,
                                          const void* sender, platform::Dictionary userInfo, PostWait wait) {
  platform::Notification notification;
  notification.name = std::move(name);
  notification.sender = sender;
  notification.userInfo = std::move(userInfo);
  return postNotificationOnMainThread(center, std::move(notification), wait);
}

bool enqueueNotificationOnMainThread(platform::NotificationQueue& queue, platform::Notification notification,
                                     platform::NotificationQueue::PostingStyle style, unsigned coalesceMask) {
  if (platform::isMainThread()) {
    queue.enqueue(std::move(notification), style, coalesceMask);
    return true;
  }
  return platform::DispatchQueue::main().async([notification = std::move(notification), style, coalesceMask] {
    platform::NotificationQueue::defaultQueue().enqueue(notification, style, coalesceMask);
  });
}

}  // namespace foundation
