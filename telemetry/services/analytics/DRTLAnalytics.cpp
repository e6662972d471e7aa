#include "telemetry/services/analytics/DRTLAnalytics.h"

#include "foundation/GenerateUniqueID.h"
#include "platform/DispatchQueue.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLAnalyticsArchiveClasses.h"
#include "telemetry/services/analytics/DRTLAnalyticsCategory.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"
#include "telemetry/services/analytics/DRTLAnalyticsValidation.h"

namespace telemetry::analytics {
namespace {

#define ANALYTICS_LOG(level, expression) DRTL_LOG(level, kDRTLAnalyticsLogTag, expression)

std::mutex& singletonMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<DRTLAnalytics>& singleton() {
  static std::shared_ptr<DRTLAnalytics> instance;
  return instance;
}

void migrateSettingsAndClassNames() {
  core::DRTLDirAradedUserDefaults::shared()->migrateKeys(
      {{"DRDirAradedAnalyticsIsEnabled", core::DRTLUserDefaultsPrefixKey("kDRAnalyticsIsEnabledKey")},
       {"DRDirAradedPastSessions", std::string("pastSessionsKey")}},
      "Analytics");
  registerAnalyticsArchiveClasses();
  core::DRTLUtility::addMigrationClasses({{"DRSessionHistoryInfo", "DRTLSessionHistoryInfo"},
                                          {"DRAbstractLog", "DRTLAbstractLog"},
                                          {"DREventLog", "DRTLEventLog"},
                                          {"DRPageLog", "DRTLPageLog"},
                                          {"DREventProperties", "DRTLEventProperties"},
                                          {"DRLogWithNameAndProperties", "DRTLLogWithNameAndProperties"},
                                          {"DRBooleanTypedProperty", "DRTLBooleanTypedProperty"},
                                          {"DRDateTimeTypedProperty", "DRTLDateTimeTypedProperty"},
                                          {"DRDoubleTypedProperty", "DRTLDoubleTypedProperty"},
                                          {"DRLongTypedProperty", "DRTLLongTypedProperty"},
                                          {"DRStringTypedProperty", "DRTLStringTypedProperty"},
                                          {"DRTypedProperty", "DRTLTypedProperty"},
                                          {"DRStartSessionLog", "DRTLStartSessionLog"}});
}

// Runs migrations before the tracker is made, which clears the migrated sessions.
std::shared_ptr<DRTLSessionTracker> migratedSessionTracker() {
  migrateSettingsAndClassNames();
  return std::make_shared<DRTLSessionTracker>();
}

}  // namespace

DRTLAnalytics::DRTLAnalytics() : sessionTracker_(migratedSessionTracker()) {}

std::shared_ptr<DRTLAnalytics> DRTLAnalytics::sharedInstance() {
  std::lock_guard lock(singletonMutex());
  if (!singleton()) {
    singleton() = std::make_shared<DRTLAnalytics>();
    singleton()->sessionTracker_->setDelegate(singleton());
  }
  return singleton();
}

void DRTLAnalytics::resetSharedInstance() {
  std::shared_ptr<DRTLAnalytics> instance;
  {
    std::lock_guard lock(singletonMutex());
    instance = std::move(singleton());
  }
  if (!instance) return;
  instance->sessionTracker_->stop();
  instance->sessionTracker_->setDelegate(nullptr);  // the tracker held the service
}

std::optional<core::DRTLChannelUnitConfiguration> DRTLAnalytics::channelUnitConfiguration() const {
  std::lock_guard lock(stateMutex_);
  return core::DRTLChannelUnitConfiguration::defaultConfiguration(kDRTLAnalyticsGroupId, flushInterval_);
}

void DRTLAnalytics::startWithChannelGroup(std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup,
                                          std::optional<std::string> appSecret,
                                          std::optional<std::string> transmissionTargetToken, bool fromApplication) {
  DRTLServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret), transmissionTargetToken,
                                             fromApplication);
  if (transmissionTargetToken) {
    auto target = createTransmissionTargetForToken(*transmissionTargetToken);
    std::lock_guard lock(stateMutex_);
    defaultTransmissionTarget_ = std::move(target);
  }
  criticalChannelUnit_ = channelGroup->addChannelUnitWithConfiguration(
      core::DRTLChannelUnitConfiguration::defaultConfiguration(kDRTLAnalyticsCriticalGroupId));
  ANALYTICS_LOG(core::DRTLLogLevelVerbose, std::string("Started Analytics service."));
}

void DRTLAnalytics::updateConfiguration(std::optional<std::string> appSecret,
                                        std::optional<std::string> transmissionTargetToken) {
  DRTLServiceAbstract::updateConfiguration(std::move(appSecret), transmissionTargetToken);
  if (!transmissionTargetToken || defaultTransmissionTarget()) return;
  auto target = createTransmissionTargetForToken(*transmissionTargetToken);
  std::lock_guard lock(stateMutex_);
  if (!defaultTransmissionTarget_) defaultTransmissionTarget_ = std::move(target);
}

void DRTLAnalytics::applyEnabledState(bool enabled) {
  DRTLServiceAbstract::applyEnabledState(enabled);
  if (criticalChannelUnit_) criticalChannelUnit_->setEnabled(enabled, true);
  const auto& group = channelGroup();
  if (enabled) {
    if (isStartedFromApplication()) {
      resume();
      sessionTracker_->start();
      if (group) {
        group->addDelegate(sessionTracker_);
        group->addDelegate(shared_from_this());
      }
      if (isAutoPageTrackingEnabled()) {
        platform::DispatchQueue::main().async([] {
          const std::optional<std::string> missed = DRTLAnalyticsCategory::missedPageViewName();
          if (missed && !missed->empty()) trackPage(*missed);
        });
      }
    }
    ANALYTICS_LOG(core::DRTLLogLevelInfo, std::string("Analytics service has been enabled."));
  } else {
    if (isStartedFromApplication()) {
      if (group) {
        group->removeDelegate(sessionTracker_);
        group->removeDelegate(shared_from_this());
      }
      sessionTracker_->stop();
      core::DRTLSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
    }
    ANALYTICS_LOG(core::DRTLLogLevelInfo, std::string("Analytics service has been disabled."));
  }
}

void DRTLAnalytics::setEnabledClass(bool enabled) { sharedInstance()->setEnabledWithTargets(enabled); }

void DRTLAnalytics::setEnabledWithTargets(bool enabled) {
  classSetEnabled(*this, enabled);
  std::vector<std::shared_ptr<DRTLAnalyticsTransmissionTarget>> targets;
  {
    std::lock_guard lock(stateMutex_);
    for (const auto& [token, target] : transmissionTargets_) targets.push_back(target);
    if (defaultTransmissionTarget_) targets.push_back(defaultTransmissionTarget_);
  }
  for (const auto& target : targets) target->setEnabled(enabled);
}

void DRTLAnalytics::trackEvent(const std::string& name, const DRTLStringProperties& properties, std::uint64_t flags,
                               const std::shared_ptr<DRTLAnalyticsTransmissionTarget>& target) {
  auto typed = std::make_shared<DRTLEventProperties>(removeInvalidProperties(properties));
  sharedInstance()->trackEventInstance(name, std::move(typed), target, flags);
}

void DRTLAnalytics::trackEventWithTypedProperties(const std::string& name,
                                                  std::shared_ptr<DRTLEventProperties> properties,
                                                  const std::shared_ptr<DRTLAnalyticsTransmissionTarget>& target,
                                                  std::uint64_t flags) {
  sharedInstance()->trackEventInstance(name, std::move(properties), target, flags);
}

void DRTLAnalytics::trackPage(const std::string& name, const DRTLStringProperties& properties) {
  sharedInstance()->trackPageInstance(name, properties);
}

void DRTLAnalytics::trackEventInstance(const std::string& name, std::shared_ptr<DRTLEventProperties> properties,
                                       std::shared_ptr<DRTLAnalyticsTransmissionTarget> target, std::uint64_t flags) {
  std::lock_guard lock(instanceLock());
  if (!canBeUsed() || !isEnabled()) return;
  if (!target) target = defaultTransmissionTarget();
  std::uint64_t persistence = flags & 0xFF;
  if (persistence != kDRTLFlagsNormal && persistence != kDRTLFlagsCritical) {
    ANALYTICS_LOG(core::DRTLLogLevelWarning,
                  "Invalid flags (" + std::to_string(persistence) + ") received, using normal as a default.");
    persistence = kDRTLFlagsNormal;
  }
  auto log = std::make_shared<DRTLEventLog>();
  if (target) {
    if (!target->isEnabled()) {
      ANALYTICS_LOG(core::DRTLLogLevelError, std::string("This transmission target is disabled."));
      return;
    }
    log->addTransmissionTargetToken(target->transmissionTargetToken());
    log->tag = target;
    if (target == defaultTransmissionTarget()) log->userId = core::DRTLUserIdContext::sharedInstance()->userId();
  } else if (properties) {
    properties = DRTLAnalyticsValidation::validateDirAradedEventProperties(*properties);
  }
  log->name = name;
  log->eventId = foundation::GenerateUniqueID::generateUniqueID();
  if (properties && !properties->isEmpty()) log->typedProperties = std::move(properties);
  sendLog(log, persistence);
}

void DRTLAnalytics::trackPageInstance(const std::string& name, const DRTLStringProperties& properties) {
  std::lock_guard lock(instanceLock());
  if (!canBeUsed() || !isEnabled()) return;
  auto log = std::make_shared<DRTLPageLog>();
  log->name = name;
  if (properties && !properties->empty()) log->properties = removeInvalidProperties(properties);
  sendLog(log, kDRTLFlagsNormal);
}

std::map<std::string, std::string> DRTLAnalytics::removeInvalidProperties(const DRTLStringProperties& properties) {
  // Keys and values are strings by type here, so every pair is kept.
  return properties.value_or(std::map<std::string, std::string>());
}

void DRTLAnalytics::sendLog(const std::shared_ptr<core::DRTLAbstractLog>& log, std::uint64_t flags) {
  const auto& unit = (flags & kDRTLFlagsCritical) ? criticalChannelUnit_ : channelUnit();
  if (unit) unit->enqueueItem(log, flags);
}

void DRTLAnalytics::sessionTrackerProcessLog(DRTLSessionTracker&, const std::shared_ptr<DRTLStartSessionLog>& log) {
  sendLog(log, kDRTLFlagsNormal);
}

void DRTLAnalytics::pause() { sharedInstance()->pauseOrResume(true); }
void DRTLAnalytics::resume() { sharedInstance()->pauseOrResume(false); }

void DRTLAnalytics::pauseOrResume(bool pause) {
  std::lock_guard lock(instanceLock());
  if (!canBeUsed()) return;
  std::shared_ptr<void> identity = shared_from_this();
  for (const auto& unit : {channelUnit(), criticalChannelUnit_}) {
    if (!unit) continue;
    if (pause) {
      unit->pauseWithIdentifyingObject(identity);
    } else {
      unit->resumeWithIdentifyingObject(identity);
    }
  }
}

void DRTLAnalytics::setAutoPageTrackingEnabled(bool enabled) {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->stateMutex_);
  instance->autoPageTrackingEnabled_ = enabled;
}

bool DRTLAnalytics::isAutoPageTrackingEnabled() {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->stateMutex_);
  return instance->autoPageTrackingEnabled_;
}

std::uint64_t DRTLAnalytics::transmissionInterval() {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->stateMutex_);
  return instance->flushInterval_;
}

void DRTLAnalytics::setTransmissionInterval(std::uint64_t seconds) {
  sharedInstance()->setTransmissionIntervalInstance(seconds);
}

void DRTLAnalytics::setTransmissionIntervalInstance(std::uint64_t seconds) {
  if (isStarted()) {
    ANALYTICS_LOG(core::DRTLLogLevelError,
                  std::string("The transmission interval should be set before the DRTLAnalytics service is started."));
    return;
  }
  if (seconds < kDRTLMinTransmissionInterval || seconds > kDRTLMaxTransmissionInterval) {
    ANALYTICS_LOG(core::DRTLLogLevelError, "The transmission interval is not valid, it should be between " +
                                               std::to_string(kDRTLMinTransmissionInterval) + " second(s) and " +
                                               std::to_string(kDRTLMaxTransmissionInterval) +
                                               " second(s) (1 day).");
    return;
  }
  {
    std::lock_guard lock(stateMutex_);
    flushInterval_ = seconds;
  }
  ANALYTICS_LOG(core::DRTLLogLevelDebug, "Transmission interval set to " + std::to_string(seconds) + " second(s)");
}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalytics::transmissionTargetForToken(const std::string& token) {
  return sharedInstance()->transmissionTargetForTokenInstance(token);
}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalytics::transmissionTargetForTokenInstance(
    const std::string& token) {
  {
    std::lock_guard lock(stateMutex_);
    auto found = transmissionTargets_.find(token);
    if (found != transmissionTargets_.end()) {
      ANALYTICS_LOG(core::DRTLLogLevelDebug, "Returning transmission target found with id " +
                                                 core::DRTLUtility::targetKeyFromTargetToken(token).value_or("") + ".");
      return found->second;
    }
  }
  // Made outside the lock: the target asks the service whether it is enabled.
  auto target = createTransmissionTargetForToken(token);
  std::lock_guard lock(stateMutex_);
  return transmissionTargets_.emplace(token, std::move(target)).first->second;
}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalytics::createTransmissionTargetForToken(
    const std::string& token) const {
  auto target = DRTLAnalyticsTransmissionTarget::create(token, nullptr, channelGroup());
  ANALYTICS_LOG(core::DRTLLogLevelDebug, "Created transmission target with target key " +
                                             core::DRTLUtility::targetKeyFromTargetToken(token).value_or("") + ".");
  return target;
}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalytics::defaultTransmissionTarget() const {
  std::lock_guard lock(stateMutex_);
  return defaultTransmissionTarget_;
}

void DRTLAnalytics::pauseTransmissionTargetForToken(const std::string& token) {
  auto instance = sharedInstance();
  for (const auto& unit : {instance->rizErazuzudeChannelUnit(), instance->rizErazuzudeCriticalChannelUnit()}) {
    if (unit) unit->pauseSendingLogsWithToken(token);
  }
}

void DRTLAnalytics::resumeTransmissionTargetForToken(const std::string& token) {
  auto instance = sharedInstance();
  for (const auto& unit : {instance->rizErazuzudeChannelUnit(), instance->rizErazuzudeCriticalChannelUnit()}) {
    if (unit) unit->resumeSendingLogsWithToken(token);
  }
}

std::shared_ptr<core::DRTLChannelUnitProtocol> DRTLAnalytics::rizErazuzudeChannelUnit() {
  std::lock_guard lock(stateMutex_);
  if (!rizErazuzudeChannelUnit_ && channelGroup()) {
    rizErazuzudeChannelUnit_ = channelGroup()->channelUnitForGroupId(kDRTLAnalyticsRizErazuzudeGroupId);
  }
  return rizErazuzudeChannelUnit_;
}

std::shared_ptr<core::DRTLChannelUnitProtocol> DRTLAnalytics::rizErazuzudeCriticalChannelUnit() {
  std::lock_guard lock(stateMutex_);
  if (!rizErazuzudeCriticalChannelUnit_ && channelGroup()) {
    rizErazuzudeCriticalChannelUnit_ = channelGroup()->channelUnitForGroupId(kDRTLAnalyticsRizErazuzudeCriticalGroupId);
  }
  return rizErazuzudeCriticalChannelUnit_;
}

void DRTLAnalytics::setDelegate(std::shared_ptr<DRTLAnalyticsDelegate> delegate) {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->stateMutex_);
  instance->delegate_ = std::move(delegate);
}

void DRTLAnalytics::notifyDelegate(
    const std::shared_ptr<core::DRTLAbstractLog>& log,
    const std::function<void(DRTLAnalyticsDelegate&, const std::shared_ptr<DRTLEventLog>&)>& event,
    const std::function<void(DRTLAnalyticsDelegate&, const std::shared_ptr<DRTLPageLog>&)>& page) {
  std::shared_ptr<DRTLAnalyticsDelegate> delegate;
  {
    std::lock_guard lock(stateMutex_);
    delegate = delegate_;
  }
  if (!delegate) return;
  if (auto eventLog = std::dynamic_pointer_cast<DRTLEventLog>(log)) {
    event(*delegate, eventLog);
  } else if (auto pageLog = std::dynamic_pointer_cast<DRTLPageLog>(log)) {
    page(*delegate, pageLog);
  }
}

void DRTLAnalytics::channelWillSendLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) {
  notifyDelegate(
      log, [this](auto& delegate, const auto& event) { delegate.willSendEventLog(*this, event); },
      [this](auto& delegate, const auto& page) { delegate.willSendPageLog(*this, page); });
}

void DRTLAnalytics::channelDidSucceedSendingLog(core::DRTLChannelProtocol*,
                                                const std::shared_ptr<core::DRTLAbstractLog>& log) {
  notifyDelegate(
      log, [this](auto& delegate, const auto& event) { delegate.didSucceedSendingEventLog(*this, event); },
      [this](auto& delegate, const auto& page) { delegate.didSucceedSendingPageLog(*this, page); });
}

void DRTLAnalytics::channelDidFailSendingLog(core::DRTLChannelProtocol*,
                                             const std::shared_ptr<core::DRTLAbstractLog>& log,
                                             const std::optional<platform::Error>& error) {
  notifyDelegate(
      log, [&](auto& delegate, const auto& event) { delegate.didFailSendingEventLog(*this, event, error); },
      [&](auto& delegate, const auto& page) { delegate.didFailSendingPageLog(*this, page, error); });
}

bool DRTLAnalytics::channelUnitShouldFilterLog(core::DRTLChannelUnitProtocol*,
                                               const std::shared_ptr<core::DRTLAbstractLog>& log) {
  return DRTLAnalyticsValidation::shouldFilterLog(log);
}

}  // namespace telemetry::analytics
