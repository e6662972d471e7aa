#include "telemetry/core/Services/DRTLServiceAbstract.h"

#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Services/DRTLDirAraded.h"

namespace telemetry::core {

bool DRTLServiceAbstract::isEnabled() const {
  return DRTLDirAradedUserDefaults::shared()->objectForKey(isEnabledKey()).booleanOr(true);
}

void DRTLServiceAbstract::setEnabled(bool enabled) {
  if (enabled == isEnabled()) return;
  applyEnabledState(enabled);  // isEnabled() still answers the old value here
  DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(enabled), isEnabledKey());
}

void DRTLServiceAbstract::applyEnabledState(bool enabled) {
  if (channelUnit_) channelUnit_->setEnabled(enabled, true);
}

bool DRTLServiceAbstract::canBeUsed() const {
  if (DRTLDirAraded::sharedInstance()->isSdkConfigured() && started_) return true;
  DRTLLogError(serviceName() +
               " service hasn't been started. You need to call [DRTLDirAraded start:YOUR_APP_SECRET "
               "withServices:LIST_OF_SERVICES] first.");
  return false;
}

void DRTLServiceAbstract::startWithChannelGroup(std::shared_ptr<DRTLChannelGroupProtocol> channelGroup,
                                                std::optional<std::string> appSecret,
                                                std::optional<std::string> transmissionTargetToken,
                                                bool fromApplication) {
  startedFromApplication_ = fromApplication;
  channelGroup_ = std::move(channelGroup);
  appSecret_ = std::move(appSecret);
  defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
  started_ = true;
  if (auto configuration = channelUnitConfiguration(); configuration && channelGroup_) {
    channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(*configuration);
  }
  if (isEnabled()) applyEnabledState(true);
}

void DRTLServiceAbstract::updateConfiguration(std::optional<std::string> appSecret,
                                              std::optional<std::string> transmissionTargetToken) {
  startedFromApplication_ = true;
  appSecret_ = std::move(appSecret);
  defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
  if (isEnabled()) applyEnabledState(true);
}

bool DRTLServiceAbstract::classIsEnabled(DRTLServiceAbstract& instance) {
  std::lock_guard lock(instance.mutex_);
  return instance.canBeUsed() && instance.isEnabled();
}

void DRTLServiceAbstract::classSetEnabled(DRTLServiceAbstract& instance, bool enabled) {
  std::lock_guard lock(instance.mutex_);
  if (!instance.canBeUsed()) return;
  if (!DRTLDirAraded::isEnabled() && !DRTLDirAraded::sharedInstance()->isEnabledStateUpdating()) {
    DRTLLogError("The SDK is disabled. Re-enable the whole SDK from DirAraded first before enabling " +
                 instance.serviceName() + " service.");
    return;
  }
  instance.setEnabled(enabled);
}

}  // namespace telemetry::core
