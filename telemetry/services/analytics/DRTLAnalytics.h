#pragma once
// DRTLAnalytics: the analytics service. The host tracks events and pages
// through the class operations; each becomes a log on the "Analytics" unit,
// or on "Analytics_critical" when its flags ask for critical persistence.
// The service owns the session tracker, the transmission targets and the
// host's delegate, and checks events and pages at the channel.
//
// Threads: track, page, pause and resume hold the instance lock for their
// whole run (the enqueue included); the target table and the interval have
// locks of their own; delegate calls come on the channel's threads.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/Channel/DRTLChannelDelegate.h"
#include "telemetry/core/Services/DRTLServiceAbstract.h"
#include "telemetry/services/analytics/DRTLAnalyticsDelegate.h"
#include "telemetry/services/analytics/DRTLAnalyticsTransmissionTarget.h"
#include "telemetry/services/analytics/DRTLEventLog.h"
#include "telemetry/services/analytics/DRTLSessionTracker.h"

namespace telemetry::analytics {

inline constexpr const char* kDRTLAnalyticsGroupId = "Analytics";
inline constexpr const char* kDRTLAnalyticsCriticalGroupId = "Analytics_critical";
inline constexpr const char* kDRTLAnalyticsRizErazuzudeGroupId = "Analytics/one";
inline constexpr const char* kDRTLAnalyticsRizErazuzudeCriticalGroupId = "Analytics_critical/one";
inline constexpr std::uint64_t kDRTLFlagsNormal = 1;
inline constexpr std::uint64_t kDRTLFlagsCritical = 2;
inline constexpr std::uint64_t kDRTLMinTransmissionInterval = 3;
inline constexpr std::uint64_t kDRTLMaxTransmissionInterval = 86400;

using DRTLStringProperties = std::optional<std::map<std::string, std::string>>;

class DRTLAnalytics : public core::DRTLServiceAbstract,
                      public core::DRTLChannelDelegate,
                      public DRTLSessionTrackerDelegate,
                      public std::enable_shared_from_this<DRTLAnalytics> {
 public:
  DRTLAnalytics();

  // The service class (for DRTLDirAraded::start) and the singleton.
  static std::shared_ptr<core::DRTLServiceAbstract> serviceClass() { return sharedInstance(); }
  static std::shared_ptr<DRTLAnalytics> sharedInstance();
  // Stops the current instance's session tracker and forgets the instance.
  static void resetSharedInstance();

  // Class operations for the host.
  static void trackEvent(const std::string& name, const DRTLStringProperties& properties = std::nullopt,
                         std::uint64_t flags = kDRTLFlagsNormal,
                         const std::shared_ptr<DRTLAnalyticsTransmissionTarget>& target = nullptr);
  static void trackEventWithTypedProperties(const std::string& name, std::shared_ptr<DRTLEventProperties> properties,
                                            const std::shared_ptr<DRTLAnalyticsTransmissionTarget>& target = nullptr,
                                            std::uint64_t flags = kDRTLFlagsNormal);
  static void trackPage(const std::string& name, const DRTLStringProperties& properties = std::nullopt);
  static void pause();
  static void resume();
  static void setAutoPageTrackingEnabled(bool enabled);
  static bool isAutoPageTrackingEnabled();
  static std::uint64_t transmissionInterval();
  static void setTransmissionInterval(std::uint64_t seconds);
  static std::shared_ptr<DRTLAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);
  static void pauseTransmissionTargetForToken(const std::string& token);
  static void resumeTransmissionTargetForToken(const std::string& token);
  static void setDelegate(std::shared_ptr<DRTLAnalyticsDelegate> delegate);
  static bool isEnabledClass() { return classIsEnabled(*sharedInstance()); }
  static void setEnabledClass(bool enabled);

  // The service.
  std::string groupId() const override { return kDRTLAnalyticsGroupId; }
  std::string serviceName() const override { return "Analytics"; }
  std::string logTag() const override { return "DirAradedAnalytics"; }
  bool isAppSecretRequired() const override { return false; }
  std::optional<core::DRTLChannelUnitConfiguration> channelUnitConfiguration() const override;
  void startWithChannelGroup(std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken,
                             bool fromApplication) override;
  void updateConfiguration(std::optional<std::string> appSecret,
                           std::optional<std::string> transmissionTargetToken) override;
  void applyEnabledState(bool enabled) override;

  // Instance operations behind the class ones.
  void trackEventInstance(const std::string& name, std::shared_ptr<DRTLEventProperties> properties,
                          std::shared_ptr<DRTLAnalyticsTransmissionTarget> target, std::uint64_t flags);
  void trackPageInstance(const std::string& name, const DRTLStringProperties& properties);
  void setTransmissionIntervalInstance(std::uint64_t seconds);
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> transmissionTargetForTokenInstance(const std::string& token);
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> createTransmissionTargetForToken(const std::string& token) const;
  void setEnabledWithTargets(bool enabled);
  void sendLog(const std::shared_ptr<core::DRTLAbstractLog>& log, std::uint64_t flags);
  static std::map<std::string, std::string> removeInvalidProperties(const DRTLStringProperties& properties);

  // Channel callbacks.
  void channelWillSendLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) override;
  void channelDidSucceedSendingLog(core::DRTLChannelProtocol*,
                                   const std::shared_ptr<core::DRTLAbstractLog>& log) override;
  void channelDidFailSendingLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                                const std::optional<platform::Error>& error) override;
  bool channelUnitShouldFilterLog(core::DRTLChannelUnitProtocol*,
                                  const std::shared_ptr<core::DRTLAbstractLog>& log) override;
  void sessionTrackerProcessLog(DRTLSessionTracker&, const std::shared_ptr<DRTLStartSessionLog>& log) override;

  const std::shared_ptr<DRTLSessionTracker>& sessionTracker() const { return sessionTracker_; }
  const std::shared_ptr<core::DRTLChannelUnitProtocol>& criticalChannelUnit() const { return criticalChannelUnit_; }
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> defaultTransmissionTarget() const;
  std::shared_ptr<core::DRTLChannelUnitProtocol> rizErazuzudeChannelUnit();
  std::shared_ptr<core::DRTLChannelUnitProtocol> rizErazuzudeCriticalChannelUnit();

 private:
  void pauseOrResume(bool pause);
  void notifyDelegate(const std::shared_ptr<core::DRTLAbstractLog>& log,
                      const std::function<void(DRTLAnalyticsDelegate&, const std::shared_ptr<DRTLEventLog>&)>& event,
                      const std::function<void(DRTLAnalyticsDelegate&, const std::shared_ptr<DRTLPageLog>&)>& page);

  const std::shared_ptr<DRTLSessionTracker> sessionTracker_;
  std::shared_ptr<core::DRTLChannelUnitProtocol> criticalChannelUnit_;

  mutable std::mutex stateMutex_;
  bool autoPageTrackingEnabled_ = false;                                                  // guarded by stateMutex_
  std::uint64_t flushInterval_ = core::kDRTLFlushIntervalDefault;                         // guarded by stateMutex_
  std::shared_ptr<DRTLAnalyticsDelegate> delegate_;                                       // guarded by stateMutex_
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> defaultTransmissionTarget_;            // guarded by stateMutex_
  std::map<std::string, std::shared_ptr<DRTLAnalyticsTransmissionTarget>> transmissionTargets_;  // guarded by stateMutex_
  std::shared_ptr<core::DRTLChannelUnitProtocol> rizErazuzudeChannelUnit_;                // guarded by stateMutex_
  std::shared_ptr<core::DRTLChannelUnitProtocol> rizErazuzudeCriticalChannelUnit_;        // guarded by stateMutex_
};

}  // namespace telemetry::analytics
