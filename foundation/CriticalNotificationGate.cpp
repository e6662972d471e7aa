#include "foundation/CriticalNotificationGate.h"

#include <utility>

namespace foundation {
namespace {

constexpr unsigned kRequestedOptions =
    kUserNotificationOptionBadge | kUserNotificationOptionSound | kUserNotificationOptionAlert;

}  // namespace

CriticalNotificationGate::CriticalNotificationGate(std::weak_ptr<UserNotificationCenter> center, Console console)
    : center_(std::move(center)), console_(std::move(console)) {}

void CriticalNotificationGate::checkAuthorization() {
  auto center = center_.lock();
  if (!center) return answer(false);
  std::weak_ptr<UserNotificationCenter> weakCenter = center_;
  center->getNotificationSettings([self = shared_from_this(), weakCenter](UserNotificationAuthorizationStatus status) {
    switch (status) {
      case UserNotificationAuthorizationStatus::Authorized:
      case UserNotificationAuthorizationStatus::Provisional:
        self->answer(true);
        return;
      case UserNotificationAuthorizationStatus::NotDetermined:
        if (auto asked = weakCenter.lock()) {
          asked->requestAuthorization(kRequestedOptions, [self](bool granted) { self->answer(granted); });
          return;
        }
        break;
      case UserNotificationAuthorizationStatus::Denied:
        break;
    }
    self->answer(false);
  });
}

void CriticalNotificationGate::answer(bool allowed) {
  std::vector<UserNotificationRequest> release;
  bool reportRefusal = false;
  {
    std::lock_guard guard(mutex_);
    answered_ = true;
    allowed_ = allowed;
    if (allowed) {
      release.swap(held_);
    } else {
      held_.clear();
      reportRefusal = !std::exchange(refusalReported_, true);
    }
  }
  if (reportRefusal) console_("User notifications are not authorized: critical errors are not shown as notifications");
  if (auto center = center_.lock()) {
    for (auto& request : release) center->addNotificationRequest(std::move(request));
  }
}

void CriticalNotificationGate::display(UserNotificationRequest request) {
  {
    std::lock_guard guard(mutex_);
    if (!answered_) {
      if (held_.size() < kHeldNotificationLimit) held_.push_back(std::move(request));
      return;
    }
    if (!allowed_) return;
  }
  if (auto center = center_.lock()) center->addNotificationRequest(std::move(request));
}

bool CriticalNotificationGate::allowed() const {
  std::lock_guard guard(mutex_);
  return allowed_;
}

}  // namespace foundation
