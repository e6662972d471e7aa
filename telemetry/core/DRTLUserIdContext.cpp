#include <unicode/unistr.h>

#include "platform/Clock.h"
#include "telemetry/core/DRTLSessionContext.h"

namespace telemetry::core {
namespace {

constexpr const char* kUserIdHistoryKey = "UserIdHistory";
constexpr const char* kCustomUserIdPrefix = "c";

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

std::mutex sharedMutex;
std::shared_ptr<DRTLUserIdContext> sharedContext;  // guarded by sharedMutex

}  // namespace

std::shared_ptr<DRTLUserIdContext> DRTLUserIdContext::sharedInstance() {
  std::lock_guard lock(sharedMutex);
  if (!sharedContext) sharedContext = std::make_shared<DRTLUserIdContext>();
  return sharedContext;
}

void DRTLUserIdContext::resetSharedInstance() {
  std::lock_guard lock(sharedMutex);
  sharedContext.reset();
}

DRTLUserIdContext::DRTLUserIdContext() : userIdHistory_(loadHistory<DRTLUserIdHistoryInfo>(kUserIdHistoryKey)) {
  DRTLLogDebug(std::to_string(userIdHistory_.size()) + " userId(s) in the history.");
  currentUserIdInfo_ = std::make_shared<DRTLUserIdHistoryInfo>(now(), std::nullopt);
  userIdHistory_.push_back(currentUserIdInfo_);
  saveHistory(userIdHistory_, kUserIdHistoryKey);
}

std::optional<std::string> DRTLUserIdContext::userId() const {
  std::lock_guard lock(mutex_);
  return currentUserIdInfo_->userId;
}

void DRTLUserIdContext::setUserId(const std::optional<std::string>& userId) {
  std::vector<std::shared_ptr<DRTLUserIdContextDelegate>> delegates;
  {
    std::lock_guard lock(mutex_);
    if (userId == currentUserIdInfo_->userId) return;
    currentUserIdInfo_->timestamp = now();
    currentUserIdInfo_->userId = userId;
    if (!userIdHistory_.empty()) userIdHistory_.pop_back();
    userIdHistory_.push_back(currentUserIdInfo_);
    saveHistory(userIdHistory_, kUserIdHistoryKey);
    DRTLLogVerbose("Stored new userId:" + userId.value_or("(null)") + " and timestamp: " +
                   DRTLUtility::dateToISO8601(*currentUserIdInfo_->timestamp) + ".");
    for (const auto& weak : delegates_) {
      if (auto delegate = weak.lock()) delegates.push_back(std::move(delegate));
    }
  }
  for (const auto& delegate : delegates) delegate->userIdContextDidUpdateUserId(*this, userId);
}

std::optional<std::string> DRTLUserIdContext::userIdAt(platform::Date date) const {
  std::lock_guard lock(mutex_);
  auto entry = newestEntryNotLaterThan(userIdHistory_, date);
  return entry ? entry->userId : std::nullopt;
}

void DRTLUserIdContext::clearUserIdHistory() {
  std::lock_guard lock(mutex_);
  userIdHistory_.clear();
  userIdHistory_.push_back(currentUserIdInfo_);
  saveHistory(userIdHistory_, kUserIdHistoryKey);
  DRTLLogVerbose(std::string("Cleared old userIds while keeping current userId."));
}

void DRTLUserIdContext::addDelegate(const std::shared_ptr<DRTLUserIdContextDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegates_.push_back(delegate);
}

void DRTLUserIdContext::removeDelegate(const std::shared_ptr<DRTLUserIdContextDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [&](const auto& weak) { return weak.expired() || weak.lock() == delegate; });
}

std::vector<std::shared_ptr<DRTLUserIdHistoryInfo>> DRTLUserIdContext::userIdHistory() const {
  std::lock_guard lock(mutex_);
  return userIdHistory_;
}

bool DRTLUserIdContext::isUserIdValidForDirAraded(const std::optional<std::string>& userId) {
  if (!userId) return true;
  if (static_cast<std::size_t>(icu::UnicodeString::fromUTF8(*userId).length()) > kDRTLUserIdMaxLength) {
    DRTLLogError("userId is limited to " + std::to_string(kDRTLUserIdMaxLength) + " characters.");
    return false;
  }
  return true;
}

bool DRTLUserIdContext::isUserIdValidForRizErazuzude(const std::optional<std::string>& userId) {
  if (!userId) return true;
  if (userId->empty()) {
    DRTLLogError(std::string("userId must not be empty."));
    return false;
  }
  const std::size_t colon = userId->find(':');
  if (colon == std::string::npos) return true;
  const std::string prefix = userId->substr(0, colon);
  if (prefix != kCustomUserIdPrefix) {
    DRTLLogError(std::string("userId prefix must be '") + kCustomUserIdPrefix + "', '" + prefix + "' is not supported.");
    return false;
  }
  if (colon + 1 == userId->size()) {
    DRTLLogError(std::string("userId must not be empty."));
    return false;
  }
  return true;
}

std::optional<std::string> DRTLUserIdContext::prefixedUserIdFromUserId(const std::optional<std::string>& userId) {
  if (!userId || userId->find(':') != std::string::npos) return userId;
  return std::string(kCustomUserIdPrefix) + ":" + *userId;
}

}  // namespace telemetry::core
