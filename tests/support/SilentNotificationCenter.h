#pragma once
// A desktop notification centre that refuses everything at once: permission
// is denied and requests vanish. For log controllers built in tests and
// benchmarks, which must never reach a real session bus. Header only, so the
// support library itself stays free of the foundation layer. Any thread.

#include <functional>

#include "foundation/UserNotificationCenter.h"

namespace testing_support {

class SilentNotificationCenter : public foundation::UserNotificationCenter {
 public:
  void getNotificationSettings(std::function<void(foundation::UserNotificationAuthorizationStatus)> done) override {
    done(foundation::UserNotificationAuthorizationStatus::Denied);
  }
  void requestAuthorization(unsigned, std::function<void(bool)> done) override { done(false); }
  void addNotificationRequest(foundation::UserNotificationRequest) override {}
};

}  // namespace testing_support
