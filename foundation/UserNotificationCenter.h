#pragma once
// The desktop's user-notification service as the technical log sees it: an
// authorization answer and fire-and-forget notification requests. The log
// owns one (the desktop one in production, a fake in tests).
//
// Any thread. Every operation returns at once; answers arrive later through
// the completion, on a thread of the centre's choosing, at most once (a
// centre that cannot reach its service answers Denied / not granted rather
// than not at all).

#include <functional>
#include <string>

namespace foundation {

enum class UserNotificationAuthorizationStatus { NotDetermined = 0, Denied = 1, Authorized = 2, Provisional = 3 };

// Authorization options; the log asks for all three together (7).
inline constexpr unsigned kUserNotificationOptionBadge = 1;
inline constexpr unsigned kUserNotificationOptionSound = 2;
inline constexpr unsigned kUserNotificationOptionAlert = 4;

struct UserNotificationRequest {
  std::string identifier;  // a new UUID string per request
  std::string title;
  std::string body;
};

class UserNotificationCenter {
 public:
  virtual ~UserNotificationCenter() = default;

  virtual void getNotificationSettings(std::function<void(UserNotificationAuthorizationStatus)> completion) = 0;
  virtual void requestAuthorization(unsigned options, std::function<void(bool granted)> completion) = 0;
  // Delivered at once (no trigger); the outcome is not reported.
  virtual void addNotificationRequest(UserNotificationRequest request) = 0;
};

}  // namespace foundation
