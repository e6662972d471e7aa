#include "telemetry/services/analytics/DRTLAnalyticsTransmissionTarget.h"

#include <vector>

#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLAnalytics.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"

namespace telemetry::analytics {

DRTLAnalyticsTransmissionTarget::DRTLAnalyticsTransmissionTarget(
    std::string token, std::shared_ptr<DRTLAnalyticsTransmissionTarget> parent,
    std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup)
    : token_(std::move(token)),
      isEnabledKey_(std::string(kDRTLAnalyticsGroupId) + "IsEnabled/" +
                    core::DRTLUtility::targetKeyFromTargetToken(token_).value_or("")),
      parent_(std::move(parent)),
      channelGroup_(std::move(channelGroup)) {}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalyticsTransmissionTarget::create(
    std::string token, std::shared_ptr<DRTLAnalyticsTransmissionTarget> parent,
    std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup) {
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> target(
      new DRTLAnalyticsTransmissionTarget(std::move(token), std::move(parent), std::move(channelGroup)));
  target->configurator_ = std::make_shared<DRTLPropertyConfigurator>(target);
  if (!target->isImmediateParent()) {
    core::DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(false), target->isEnabledKey_);
  }
  if (target->channelGroup_) {
    target->channelGroup_->addDelegate(target->configurator_);
    target->channelGroup_->addDelegate(target);
  }
  return target;
}

namespace {

std::mutex& providerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<DRTLAnalyticsAuthenticationProvider>& providerSlot() {
  static std::shared_ptr<DRTLAnalyticsAuthenticationProvider> provider;
  return provider;
}

}  // namespace

void DRTLAnalyticsTransmissionTarget::addAuthenticationProvider(
    std::shared_ptr<DRTLAnalyticsAuthenticationProvider> provider) {
  if (!provider) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("Authentication provider may not be null."));
    return;
  }
  setAuthenticationProvider(provider);
  provider->acquireTokenAsync();
}

std::shared_ptr<DRTLAnalyticsAuthenticationProvider> DRTLAnalyticsTransmissionTarget::authenticationProvider() {
  std::lock_guard lock(providerMutex());
  return providerSlot();
}

void DRTLAnalyticsTransmissionTarget::setAuthenticationProvider(
    std::shared_ptr<DRTLAnalyticsAuthenticationProvider> provider) {
  std::lock_guard lock(providerMutex());
  providerSlot() = std::move(provider);
}

void DRTLAnalyticsTransmissionTarget::channelPrepareLog(core::DRTLChannelProtocol*,
                                                        const std::shared_ptr<core::DRTLAbstractLog>& log) {
  auto* csLog = dynamic_cast<core::DRTLSharedSchemaLog*>(log.get());
  if (!csLog || !isEnabled()) return;
  const auto tokens = log->transmissionTargetTokens();
  if (!tokens || !tokens->count(token_)) return;
  auto provider = authenticationProvider();
  if (!provider || !provider->ticketKeyHash()) return;
  if (!csLog->ext) csLog->ext = std::make_shared<core::DRTLCSExtensions>();
  if (!csLog->ext->protocolExt) csLog->ext->protocolExt = std::make_shared<core::DRTLProtocolExtension>();
  csLog->ext->protocolExt->ticketKeys = std::vector<std::string>{*provider->ticketKeyHash()};
  provider->checkTokenExpiry();
}

std::shared_ptr<DRTLAnalyticsTransmissionTarget> DRTLAnalyticsTransmissionTarget::transmissionTargetForToken(
    const std::string& token) {
  {
    std::lock_guard lock(childrenMutex_);
    if (auto found = children_.find(token); found != children_.end()) return found->second;
  }
  auto child = create(token, shared_from_this(), channelGroup_);
  std::lock_guard lock(childrenMutex_);
  return children_.emplace(token, std::move(child)).first->second;
}

bool DRTLAnalyticsTransmissionTarget::isEnabled() const {
  return core::DRTLDirAradedUserDefaults::shared()->objectForKey(isEnabledKey_).booleanOr(true);
}

bool DRTLAnalyticsTransmissionTarget::isImmediateParent() const {
  auto parent = parentTarget();
  return parent ? parent->isEnabled() : DRTLAnalytics::isEnabledClass();
}

void DRTLAnalyticsTransmissionTarget::setEnabled(bool enabled) {
  auto analytics = DRTLAnalytics::sharedInstance();
  std::lock_guard lock(analytics->instanceLock());
  if (enabled != isEnabled()) {
    if (enabled && !isImmediateParent()) {
      DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag,
               std::string("Can't enable; parent transmission target and/or Analytics service is disabled."));
      return;
    }
    core::DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(enabled), isEnabledKey_);
    if (enabled) resume();
  }
  std::vector<std::shared_ptr<DRTLAnalyticsTransmissionTarget>> children;
  {
    std::lock_guard childrenLock(childrenMutex_);
    for (const auto& [token, child] : children_) children.push_back(child);
  }
  for (const auto& child : children) child->setEnabled(enabled);
}

void DRTLAnalyticsTransmissionTarget::pause() {
  if (!isEnabled()) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("This transmission target is disabled."));
    return;
  }
  DRTLAnalytics::pauseTransmissionTargetForToken(token_);
}

void DRTLAnalyticsTransmissionTarget::resume() {
  if (!isEnabled()) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("This transmission target is disabled."));
    return;
  }
  DRTLAnalytics::resumeTransmissionTargetForToken(token_);
}

void DRTLAnalyticsTransmissionTarget::trackEvent(const std::string& name,
                                                 const std::optional<std::map<std::string, std::string>>& properties,
                                                 std::uint64_t flags) {
  std::shared_ptr<DRTLEventProperties> typed;
  if (properties) {
    typed = std::make_shared<DRTLEventProperties>();
    for (const auto& [key, value] : *properties) typed->setString(value, key);
  }
  trackEventWithTypedProperties(name, typed, flags);
}

void DRTLAnalyticsTransmissionTarget::trackEventWithTypedProperties(
    const std::string& name, const std::shared_ptr<DRTLEventProperties>& properties, std::uint64_t flags) {
  auto merged = std::make_shared<DRTLEventProperties>();
  for (auto current = shared_from_this(); current; current = current->parentTarget()) {
    current->configurator_->mergeTypedPropertiesWith(*merged);
  }
  if (properties) merged->mergeEventProperties(*properties);
  DRTLAnalytics::trackEventWithTypedProperties(name, merged->isEmpty() ? nullptr : merged, shared_from_this(), flags);
}

}  // namespace telemetry::analytics
