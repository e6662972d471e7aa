#pragma once
// DesktopNotificationCenter: user notifications through the desktop's
// notification service on the session bus ("org.freedesktop.Notifications").
// That service has no authorization of its own: notifications count as
// authorized when the service answers, and as denied when there is no session
// bus or nothing answers.
//
// Owned by the technical log. Any thread; all bus traffic runs on the centre's
// own serial queue, so no caller ever waits for the bus. Every bus operation
// has a time limit (connecting included). Destruction cancels what is in
// progress and drops notifications not yet sent (questions still waiting are
// answered Denied), then joins the queue.

#include <chrono>
#include <memory>
#include <string>

#include "foundation/UserNotificationCenter.h"

namespace foundation {

class DesktopNotificationCenter final : public UserNotificationCenter {
 public:
  struct Options {
    std::string applicationName;                  // shown by the desktop as the sender
    std::chrono::milliseconds busTimeout{1000};   // per connection attempt and per call
  };

  explicit DesktopNotificationCenter(Options options);
  ~DesktopNotificationCenter() override;
  DesktopNotificationCenter(const DesktopNotificationCenter&) = delete;
  DesktopNotificationCenter& operator=(const DesktopNotificationCenter&) = delete;

  // Authorized when the service answers within the time limit, else Denied.
  void getNotificationSettings(std::function<void(UserNotificationAuthorizationStatus)> completion) override;
  // Granted when the service answers within the time limit.
  void requestAuthorization(unsigned options, std::function<void(bool granted)> completion) override;
  void addNotificationRequest(UserNotificationRequest request) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
