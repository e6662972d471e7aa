#include "telemetry/services/analytics/DRTLPropertyConfigurator.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdio>
#include <fstream>

#include "platform/Bundle.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"
#include "telemetry/services/analytics/DRTLAnalyticsTransmissionTarget.h"

namespace telemetry::analytics {
namespace {

using Field = std::optional<std::string> (DRTLPropertyConfigurator::*)() const;

// The first value of `field` from the target up through its parents.
std::optional<std::string> inherited(const std::shared_ptr<DRTLAnalyticsTransmissionTarget>& target, Field field) {
  for (auto current = target; current; current = current->parentTarget()) {
    if (auto value = (current->propertyConfigurator().*field)()) return value;
  }
  return std::nullopt;
}

std::string machineId() {
  std::ifstream file("/etc/machine-id");
  std::string id;
  std::getline(file, id);
  return id;
}

}  // namespace

DRTLPropertyConfigurator::DRTLPropertyConfigurator(std::weak_ptr<DRTLAnalyticsTransmissionTarget> target)
    : target_(std::move(target)) {}

void DRTLPropertyConfigurator::setAppVersion(std::optional<std::string> version) {
  std::lock_guard lock(mutex_);
  appVersion_ = std::move(version);
}
void DRTLPropertyConfigurator::setAppName(std::optional<std::string> name) {
  std::lock_guard lock(mutex_);
  appName_ = std::move(name);
}
void DRTLPropertyConfigurator::setAppLocale(std::optional<std::string> locale) {
  std::lock_guard lock(mutex_);
  appLocale_ = std::move(locale);
}
void DRTLPropertyConfigurator::setUserId(const std::optional<std::string>& userId) {
  if (!core::DRTLUserIdContext::isUserIdValidForRizErazuzude(userId)) return;
  std::lock_guard lock(mutex_);
  userId_ = core::DRTLUserIdContext::prefixedUserIdFromUserId(userId);
}
std::optional<std::string> DRTLPropertyConfigurator::appVersion() const {
  std::lock_guard lock(mutex_);
  return appVersion_;
}
std::optional<std::string> DRTLPropertyConfigurator::appName() const {
  std::lock_guard lock(mutex_);
  return appName_;
}
std::optional<std::string> DRTLPropertyConfigurator::appLocale() const {
  std::lock_guard lock(mutex_);
  return appLocale_;
}
std::optional<std::string> DRTLPropertyConfigurator::userId() const {
  std::lock_guard lock(mutex_);
  return userId_;
}
std::optional<std::string> DRTLPropertyConfigurator::deviceId() const {
  std::lock_guard lock(mutex_);
  return deviceId_;
}

void DRTLPropertyConfigurator::removeEventPropertyForKey(const std::optional<std::string>& key) {
  if (!key) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("Event property key to remove cannot be nil."));
    return;
  }
  eventProperties_.removeProperty(*key);
}

void DRTLPropertyConfigurator::mergeTypedPropertiesWith(DRTLEventProperties& properties) const {
  const DRTLTypedPropertyMap present = properties.properties();
  for (auto& [key, property] : eventProperties_.properties()) {
    if (!present.count(key)) properties.setProperty(property);
  }
}

void DRTLPropertyConfigurator::collectDeviceId() {
  std::string id = getDeviceIdentifier();
  std::lock_guard lock(mutex_);
  deviceId_ = std::move(id);
}

std::string DRTLPropertyConfigurator::getDeviceIdentifier() {
  const std::string machine = machineId();
  if (machine.empty()) return "u:";
  auto bundle = platform::Bundle::main();
  const std::string key = bundle ? bundle->bundleIdentifier() : std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(machine.data()),
       machine.size(), digest, &length);
  char text[37];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", digest[0],
                digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7], digest[8], digest[9],
                digest[10], digest[11], digest[12], digest[13], digest[14], digest[15]);
  return std::string("u:") + text;
}

void DRTLPropertyConfigurator::channelPrepareLog(core::DRTLChannelProtocol*,
                                                 const std::shared_ptr<core::DRTLAbstractLog>& log) {
  auto target = target_.lock();
  auto* csLog = dynamic_cast<core::DRTLSharedSchemaLog*>(log.get());
  if (!target || !csLog || !target->isEnabled() || csLog->tag != target) return;
  if (!csLog->ext) csLog->ext = std::make_shared<core::DRTLCSExtensions>();
  auto& ext = *csLog->ext;
  const auto version = inherited(target, &DRTLPropertyConfigurator::appVersion);
  const auto name = inherited(target, &DRTLPropertyConfigurator::appName);
  const auto locale = inherited(target, &DRTLPropertyConfigurator::appLocale);
  if (version || name || locale) {
    if (!ext.appExt) ext.appExt = std::make_shared<core::DRTLAppExtension>();
    if (version) ext.appExt->ver = version;
    if (name) ext.appExt->name = name;
    if (locale) ext.appExt->locale = locale;
  }
  if (auto user = inherited(target, &DRTLPropertyConfigurator::userId)) {
    if (!ext.userExt) ext.userExt = std::make_shared<core::DRTLUserExtension>();
    ext.userExt->localId = user;
  }
  if (!ext.deviceExt) ext.deviceExt = std::make_shared<core::DRTLDeviceExtension>();
  ext.deviceExt->localId = deviceId();
}

}  // namespace telemetry::analytics
