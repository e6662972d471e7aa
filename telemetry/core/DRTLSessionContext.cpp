#include "telemetry/core/DRTLSessionContext.h"

#include "platform/Clock.h"

namespace telemetry::core {
namespace {

constexpr const char* kSessionHistoryKey = "SessionIdHistory";

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

std::mutex sharedMutex;
std::shared_ptr<DRTLSessionContext> sharedContext;  // guarded by sharedMutex

}  // namespace

std::shared_ptr<DRTLSessionContext> DRTLSessionContext::sharedInstance() {
  std::lock_guard lock(sharedMutex);
  if (!sharedContext) sharedContext = std::make_shared<DRTLSessionContext>();
  return sharedContext;
}

void DRTLSessionContext::resetSharedInstance() {
  std::lock_guard lock(sharedMutex);
  sharedContext.reset();
}

DRTLSessionContext::DRTLSessionContext() : sessionHistory_(loadHistory<DRTLSessionHistoryInfo>(kSessionHistoryKey)) {
  DRTLLogDebug(std::to_string(sessionHistory_.size()) + " session(s) in the history.");
  currentSessionInfo_ = std::make_shared<DRTLSessionHistoryInfo>(now(), std::nullopt);
  sessionHistory_.push_back(currentSessionInfo_);
}

std::optional<std::string> DRTLSessionContext::sessionId() const {
  std::lock_guard lock(mutex_);
  return currentSessionInfo_->sessionId;
}

void DRTLSessionContext::setSessionId(const std::optional<std::string>& sessionId) {
  std::lock_guard lock(mutex_);
  if (!sessionHistory_.empty()) sessionHistory_.pop_back();
  currentSessionInfo_->sessionId = sessionId;
  currentSessionInfo_->timestamp = now();
  sessionHistory_.push_back(currentSessionInfo_);
  saveHistory(sessionHistory_, kSessionHistoryKey);
  DRTLLogVerbose("Stored new session with id:" + sessionId.value_or("(null)") + " and timestamp: " +
                 DRTLUtility::dateToISO8601(*currentSessionInfo_->timestamp) + ".");
}

std::optional<std::string> DRTLSessionContext::sessionIdAt(platform::Date date) const {
  std::lock_guard lock(mutex_);
  // Not later than the time: a log stamped at the instant an id was set keeps it.
  auto entry = newestEntryNotLaterThan(sessionHistory_, date);
  return entry ? entry->sessionId : std::nullopt;
}

void DRTLSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
  std::lock_guard lock(mutex_);
  sessionHistory_.clear();
  if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
  saveHistory(sessionHistory_, kSessionHistoryKey);
  DRTLLogVerbose(std::string("Cleared old sessions."));
}

std::vector<std::shared_ptr<DRTLSessionHistoryInfo>> DRTLSessionContext::sessionHistory() const {
  std::lock_guard lock(mutex_);
  return sessionHistory_;
}

}  // namespace telemetry::core
