#include "telemetry/services/analytics/DRTLSessionTracker.h"

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLStartServiceLog.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"

namespace telemetry::analytics {

DRTLSessionTracker::DRTLSessionTracker()
    : sessionTimeout_(std::chrono::seconds(20)), context_(core::DRTLSessionContext::sharedInstance()) {
  core::DRTLDirAradedUserDefaults::shared()->removeObjectForKey("PastSessions");
}

DRTLSessionTracker::~DRTLSessionTracker() { stopObserving(); }

void DRTLSessionTracker::stopObserving() {
  platform::ObserverToken resign;
  platform::ObserverToken activate;
  {
    std::lock_guard lock(mutex_);
    resign = std::move(resignObserver_);
    activate = std::move(activateObserver_);
  }
}

void DRTLSessionTracker::start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  if (core::DRTLUtility::applicationState() < core::DRTLApplicationStateBackground) renewSessionId();
  auto& center = platform::NotificationCenter::defaultCenter();
  resignObserver_ = center.addObserver(kDRTLApplicationDidResignActiveNotification, nullptr,
                                       [this](const platform::Notification&) { applicationDidEnterBackground(); });
  activateObserver_ = center.addObserver(kDRTLApplicationWillBecomeActiveNotification, nullptr,
                                         [this](const platform::Notification&) { applicationWillEnterForeground(); });
}

void DRTLSessionTracker::stop() {
  platform::ObserverToken resign;
  platform::ObserverToken activate;
  std::lock_guard lock(mutex_);
  if (!started_) return;
  started_ = false;
  context_->setSessionId(std::nullopt);
  resign = std::move(resignObserver_);
  activate = std::move(activateObserver_);
  // The tokens are let go after the lock (declared before it): removal waits
  // for a running callback, which may be waiting for the lock.
}

bool DRTLSessionTracker::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

void DRTLSessionTracker::applicationDidEnterBackground() {
  std::lock_guard lock(mutex_);
  lastEnteredBackgroundTime_ = now();
}

void DRTLSessionTracker::applicationWillEnterForeground() {
  std::lock_guard lock(mutex_);
  lastEnteredForegroundTime_ = now();
  renewSessionId();
}

void DRTLSessionTracker::renewSessionId() {
  std::lock_guard lock(mutex_);
  if (!started_) return;
  if (context_->sessionId() && !hasSessionTimedOut()) return;
  const std::string sessionId = foundation::GenerateUniqueID::generateUniqueID();
  context_->setSessionId(sessionId);
  DRTL_LOG(core::DRTLLogLevelInfo, kDRTLAnalyticsLogTag, "New session ID: " + sessionId);
  auto log = std::make_shared<DRTLStartSessionLog>();
  log->sid = sessionId;
  if (delegate_) delegate_->sessionTrackerProcessLog(*this, log);
}

bool DRTLSessionTracker::hasSessionTimedOut() const {
  std::lock_guard lock(mutex_);
  const TimePoint current = now();
  const bool noLogSentForLong = !lastCreatedLogTime_ || current - *lastCreatedLogTime_ >= sessionTimeout_;
  const bool isBackgroundForLong = lastEnteredBackgroundTime_ && lastEnteredForegroundTime_ &&
                                   *lastEnteredBackgroundTime_ > *lastEnteredForegroundTime_ &&
                                   current - *lastEnteredBackgroundTime_ >= sessionTimeout_;
  const bool wasBackgroundForLong =
      lastEnteredBackgroundTime_ &&
      lastEnteredForegroundTime_.value_or(*lastEnteredBackgroundTime_) - *lastEnteredBackgroundTime_ >= sessionTimeout_;
  return noLogSentForLong && (isBackgroundForLong || wasBackgroundForLong);
}

void DRTLSessionTracker::channelPrepareLog(core::DRTLChannelProtocol*,
                                           const std::shared_ptr<core::DRTLAbstractLog>& log) {
  if (!log || dynamic_cast<DRTLStartSessionLog*>(log.get()) ||
      dynamic_cast<core::DRTLStartServiceLog*>(log.get())) {
    return;
  }
  if (!dynamic_cast<core::DRTLNoAutoAssignSessionIdLog*>(log.get())) log->sid = context_->sessionId();
  std::lock_guard lock(mutex_);
  lastCreatedLogTime_ = now();
}

void DRTLSessionTracker::setDelegate(std::shared_ptr<DRTLSessionTrackerDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

platform::Clock::Duration DRTLSessionTracker::sessionTimeout() const {
  std::lock_guard lock(mutex_);
  return sessionTimeout_;
}

void DRTLSessionTracker::setSessionTimeout(platform::Clock::Duration timeout) {
  std::lock_guard lock(mutex_);
  sessionTimeout_ = timeout;
}

std::optional<DRTLSessionTracker::TimePoint> DRTLSessionTracker::lastCreatedLogTime() const {
  std::lock_guard lock(mutex_);
  return lastCreatedLogTime_;
}

std::optional<DRTLSessionTracker::TimePoint> DRTLSessionTracker::lastEnteredForegroundTime() const {
  std::lock_guard lock(mutex_);
  return lastEnteredForegroundTime_;
}

std::optional<DRTLSessionTracker::TimePoint> DRTLSessionTracker::lastEnteredBackgroundTime() const {
  std::lock_guard lock(mutex_);
  return lastEnteredBackgroundTime_;
}

}  // namespace telemetry::analytics
