#pragma once
// DRTLSessionTracker: starts a new analytics session when the application
// comes back after more than the timeout with no log meanwhile, announces it
// with a start-session log, and stamps the current session id on every other
// log as it is prepared. Times run on platform::Clock.
//
// Threads: the notification handlers run on the posting thread (the main
// thread); channelPrepareLog on the enqueueing thread. The times and the
// session decision are guarded by one recursive lock; the delegate is called
// with it held.

#include <memory>
#include <mutex>
#include <optional>

#include "platform/ApplicationActivity.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "telemetry/core/Channel/DRTLChannelDelegate.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/services/analytics/DRTLLogWithNameAndProperties.h"

namespace telemetry::analytics {

class DRTLSessionTracker;

class DRTLSessionTrackerDelegate {
 public:
  virtual ~DRTLSessionTrackerDelegate() = default;
  virtual void sessionTrackerProcessLog(DRTLSessionTracker& tracker, const std::shared_ptr<DRTLStartSessionLog>& log) = 0;
};

// The application's activity notifications the window layer posts.
inline constexpr const char* kDRTLApplicationDidResignActiveNotification =
    platform::kApplicationDidResignActiveNotification;
inline constexpr const char* kDRTLApplicationWillBecomeActiveNotification =
    platform::kApplicationWillBecomeActiveNotification;

class DRTLSessionTracker : public core::DRTLChannelDelegate {
 public:
  using TimePoint = platform::Clock::TimePoint;

  // Removes the stored "PastSessions" key; not started.
  DRTLSessionTracker();
  ~DRTLSessionTracker() override;

  void start();
  void stop();
  bool started() const;
  void renewSessionId();
  bool hasSessionTimedOut() const;
  void applicationDidEnterBackground();
  void applicationWillEnterForeground();

  void channelPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) override;

  void setDelegate(std::shared_ptr<DRTLSessionTrackerDelegate> delegate);
  platform::Clock::Duration sessionTimeout() const;
  void setSessionTimeout(platform::Clock::Duration timeout);
  std::optional<TimePoint> lastCreatedLogTime() const;
  std::optional<TimePoint> lastEnteredForegroundTime() const;
  std::optional<TimePoint> lastEnteredBackgroundTime() const;
  const std::shared_ptr<core::DRTLSessionContext>& context() const { return context_; }

 private:
  static TimePoint now() { return platform::Clock::current().now(); }
  void stopObserving();

  mutable std::recursive_mutex mutex_;
  bool started_ = false;                                   // guarded by mutex_
  std::shared_ptr<DRTLSessionTrackerDelegate> delegate_;   // guarded by mutex_
  platform::Clock::Duration sessionTimeout_;               // guarded by mutex_
  std::optional<TimePoint> lastCreatedLogTime_;            // guarded by mutex_
  std::optional<TimePoint> lastEnteredForegroundTime_;     // guarded by mutex_
  std::optional<TimePoint> lastEnteredBackgroundTime_;     // guarded by mutex_
  platform::ObserverToken resignObserver_;                 // guarded by mutex_
  platform::ObserverToken activateObserver_;               // guarded by mutex_
  std::shared_ptr<core::DRTLSessionContext> context_;
};

}  // namespace telemetry::analytics
