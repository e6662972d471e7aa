#pragma once
// CriticalNotificationGate: the technical log's side of user notifications.
// It asks the notification centre whether notifications may be shown and
// posts them only when allowed. The log starts without waiting for the
// answer; notifications raised before it arrives are held (up to a limit)
// and posted once the answer allows them, so an early critical error is not
// lost to a slow or silent notification service.
//
// Shared by the log and the centre's completions (which may arrive after the
// log is gone), so it is held by shared_ptr. Any thread; the centre is called
// with no lock held. A refusal is said once on the console.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "foundation/UserNotificationCenter.h"

namespace foundation {

// Notifications held while the authorization answer is outstanding.
inline constexpr std::size_t kHeldNotificationLimit = 20;

class CriticalNotificationGate : public std::enable_shared_from_this<CriticalNotificationGate> {
 public:
  using Console = std::function<void(std::string_view)>;

  CriticalNotificationGate(std::weak_ptr<UserNotificationCenter> center, Console console);

  // Asks for the centre's settings: authorized or provisional allow; not
  // determined asks for authorization (badge, sound and alert) and follows
  // the grant; anything else refuses. Returns at once.
  void checkAuthorization();
  void answer(bool allowed);

  void display(UserNotificationRequest request);
  bool allowed() const;

 private:
  const std::weak_ptr<UserNotificationCenter> center_;
  const Console console_;
  mutable std::mutex mutex_;
  bool answered_ = false;                       // guarded by mutex_
  bool allowed_ = false;                        // guarded by mutex_
  bool refusalReported_ = false;                // guarded by mutex_
  std::vector<UserNotificationRequest> held_;  // guarded by mutex_
};

}  // namespace foundation
