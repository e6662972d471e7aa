// Run-time settings of the telemetry client: enabled state, log URL, storage
// size, user id, custom properties, install id and log level.
#include <regex>

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/Services/DRTLDelegateForwarder.h"
#include "telemetry/core/Services/DRTLDirAraded.h"

namespace telemetry::core {
namespace {

constexpr const char* kEnabledKey = "DirAradedIsEnabled";
constexpr const char* kInstallIdKey = "InstallId";

bool isUuidText(const std::string& text) {
  static const std::regex uuid("^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$");
  return std::regex_match(text, uuid);
}

}  // namespace

void DRTLDirAraded::setEnabled(bool enabled) { sharedInstance()->setEnabledInstance(enabled); }

bool DRTLDirAraded::isEnabled() {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->mutex_);
  return instance->canBeUsed() && instance->isEnabledInstance();
}

void DRTLDirAraded::setLogUrl(const std::string& logUrl) { sharedInstance()->setLogUrlInstance(logUrl); }

std::optional<std::string> DRTLDirAraded::logUrl() { return sharedInstance()->logUrlInstance(); }

void DRTLDirAraded::setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
  sharedInstance()->setMaxStorageSizeInstance(sizeInBytes, std::move(completionHandler));
}

void DRTLDirAraded::setUserId(const std::optional<std::string>& userId) { sharedInstance()->setUserIdInstance(userId); }

std::optional<std::string> DRTLDirAraded::userId() { return DRTLUserIdContext::sharedInstance()->userId(); }

void DRTLDirAraded::setCustomProperties(const std::shared_ptr<DRTLCustomProperties>& properties) {
  sharedInstance()->setCustomPropertiesInstance(properties);
}

std::string DRTLDirAraded::installId() { return sharedInstance()->installIdInstance(); }

int DRTLDirAraded::logLevel() { return DRTLLogger::currentLogLevel(); }

void DRTLDirAraded::setLogLevel(int level) {
  DRTLLogger::setCurrentLogLevel(level);
  DRTLLogger::setIsUserDefinedLogLevel(true);
  DRTLDelegateForwarder::flushTraceBuffer();
}

DRTLLogHandler DRTLDirAraded::logHandler() { return DRTLLogger::logHandler(); }

void DRTLDirAraded::setLogHandler(DRTLLogHandler handler) { DRTLLogger::setLogHandler(std::move(handler)); }

void DRTLDirAraded::setCountryCode(const std::optional<std::string>& countryCode) {
  DRTLDeviceTracker::sharedInstance()->setCountryCode(countryCode);
}

std::optional<std::string> DRTLDirAraded::countryCode() { return DRTLDeviceTracker::sharedInstance()->countryCode(); }

void DRTLDirAraded::setWrapperSdk(std::shared_ptr<DRTLWrapperSdk> wrapperSdk) {
  DRTLDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::shared_ptr<DRTLWrapperSdk> DRTLDirAraded::wrapperSdk() { return DRTLDeviceTracker::sharedInstance()->wrapperSdk(); }

bool DRTLDirAraded::isAppDelegateForwarderEnabled() { return DRTLAppDelegateForwarder::sharedInstance()->isEnabled(); }

void DRTLDirAraded::setEnabledInstance(bool enabled) {
  std::lock_guard lock(mutex_);
  if (!canBeUsed()) return;
  enabledStateUpdating_ = true;
  if (isEnabledInstance() != enabled) {
    DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(enabled), kEnabledKey);
    applyPipelineEnabledState(enabled);
  }
  for (const auto& service : services_) DRTLServiceAbstract::classSetEnabled(*service, enabled);
  enabledStateUpdating_ = false;
  DRTL_LOG(DRTLLogLevelInfo, logTag(), std::string("Dir Araded SDK ") + (enabled ? "enabled" : "disabled") + ".");
}

bool DRTLDirAraded::isEnabledInstance() const {
  return DRTLDirAradedUserDefaults::shared()->objectForKey(kEnabledKey).booleanOr(true);
}

void DRTLDirAraded::applyPipelineEnabledState(bool enabled) {
  if (!enabled) {
    DRTLDeviceTracker::sharedInstance()->clearDevices();
    DRTLSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
    DRTLUserIdContext::sharedInstance()->clearUserIdHistory();
  }
  std::lock_guard lock(mutex_);
  if (channelGroup_) channelGroup_->setEnabled(enabled, true);
  if (enabled && startedServiceNames_) {
    const std::vector<std::string> names = std::move(*startedServiceNames_);
    startedServiceNames_.reset();
    sendStartServiceLog(names);
  }
}

void DRTLDirAraded::setLogUrlInstance(const std::string& logUrl) {
  std::lock_guard lock(mutex_);
  logUrl_ = logUrl;
  if (!channelGroup_) return;
  if (appSecret_) {
    DRTL_LOG(DRTLLogLevelInfo, logTag(), "The log url of Dir Araded endpoint was changed to " + logUrl);
    channelGroup_->setLogUrl(logUrl);
  } else {
    DRTL_LOG(DRTLLogLevelInfo, logTag(), "The log url of Riz Erazuzude endpoint was changed to " + logUrl);
    if (rizErazuzudeChannelDelegate_) rizErazuzudeChannelDelegate_->setLogUrl(logUrl);
  }
}

std::optional<std::string> DRTLDirAraded::logUrlInstance() const {
  std::lock_guard lock(mutex_);
  return logUrl_;
}

void DRTLDirAraded::setMaxStorageSizeInstance(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
  if (sizeInBytes < kDRTLMinimumStorageSizeInBytes) {
    if (completionHandler) completionHandler(false);
    DRTL_LOG(DRTLLogLevelWarning, logTag(),
             "Cannot set storage size to " + std::to_string(sizeInBytes) + " bytes, minimum value is " +
                 std::to_string(kDRTLMinimumStorageSizeInBytes) + " bytes");
    return;
  }
  bool failed = false;
  {
    std::lock_guard lock(mutex_);
    if (setMaxStorageSizeHasBeenCalled_) {
      DRTL_LOG(DRTLLogLevelWarning, logTag(),
               std::string("setMaxStorageSize:completionHandler: may only be called once per app launch"));
      failed = true;
    } else {
      setMaxStorageSizeHasBeenCalled_ = true;
      if (configuredFromApplication_) {
        DRTL_LOG(DRTLLogLevelWarning, logTag(),
                 std::string("Unable to set storage size after the application has configured Dir Araded"));
        failed = true;
      } else {
        requestedMaxStorageSizeInBytes_ = sizeInBytes;
        maxStorageSizeCompletionHandler_ = completionHandler;
        if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
      }
    }
  }
  if (failed && completionHandler) completionHandler(false);
}

void DRTLDirAraded::setUserIdInstance(const std::optional<std::string>& userId) {
  if (!isConfiguredFromApplication()) {
    DRTL_LOG(DRTLLogLevelError, logTag(),
             std::string("DirAraded must be configured from application, libraries cannot call setUserId."));
    return;
  }
  std::optional<std::string> secret;
  std::optional<std::string> token;
  {
    std::lock_guard lock(mutex_);
    secret = appSecret_;
    token = defaultTransmissionTargetToken_;
  }
  if (!secret && !token) {
    DRTL_LOG(DRTLLogLevelError, logTag(),
             std::string("DirAraded must be configured with a secret from application to call setUserId."));
    return;
  }
  if (userId) {
    if (secret && !DRTLUserIdContext::isUserIdValidForDirAraded(userId)) return;
    if (token && !DRTLUserIdContext::isUserIdValidForRizErazuzude(userId)) return;
  }
  DRTLUserIdContext::sharedInstance()->setUserId(userId);
}

void DRTLDirAraded::setCustomPropertiesInstance(const std::shared_ptr<DRTLCustomProperties>& properties) {
  const DRTLCustomPropertyMap copy = properties ? properties->propertiesImmutableCopy() : DRTLCustomPropertyMap{};
  if (copy.empty()) {
    DRTL_LOG(DRTLLogLevelError, logTag(), std::string("Custom properties may not be null or empty"));
    return;
  }
  sendCustomPropertiesLog(copy);
}

void DRTLDirAraded::sendCustomPropertiesLog(const DRTLCustomPropertyMap& properties) {
  auto log = std::make_shared<DRTLCustomPropertiesLog>();
  log->properties = properties;
  if (auto unit = channelUnit()) unit->enqueueItem(log, 1);
}

std::string DRTLDirAraded::installIdInstance() {
  std::lock_guard lock(mutex_);
  if (!installId_) {
    auto defaults = DRTLDirAradedUserDefaults::shared();
    const std::string stored = defaults->objectForKey(kInstallIdKey).stringOr("");
    if (isUuidText(stored)) {
      installId_ = stored;
    } else {
      installId_ = foundation::GenerateUniqueID::generateUniqueID();
      defaults->setObject(platform::Value(*installId_), kInstallIdKey);
    }
  }
  return *installId_;
}

}  // namespace telemetry::core
