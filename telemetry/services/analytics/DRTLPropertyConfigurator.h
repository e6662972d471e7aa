#pragma once
// DRTLPropertyConfigurator: the Shared Schema fields and common event
// properties of one transmission target. When a Shared Schema log of its
// target is prepared, each application field and the user id come from the
// nearest target up the tree that has a value; the device id only from this
// configurator. Fields are read on enqueueing threads and set by the host,
// under the configurator's own lock.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/Channel/DRTLChannelDelegate.h"
#include "telemetry/services/analytics/DRTLEventProperties.h"

namespace telemetry::analytics {

class DRTLAnalyticsTransmissionTarget;

class DRTLPropertyConfigurator : public core::DRTLChannelDelegate {
 public:
  explicit DRTLPropertyConfigurator(std::weak_ptr<DRTLAnalyticsTransmissionTarget> target);

  void setAppVersion(std::optional<std::string> version);
  void setAppName(std::optional<std::string> name);
  void setAppLocale(std::optional<std::string> locale);
  // Kept prefixed ("c:" when the id has no colon); an id the user-id context
  // refuses leaves the old one.
  void setUserId(const std::optional<std::string>& userId);
  std::optional<std::string> appVersion() const;
  std::optional<std::string> appName() const;
  std::optional<std::string> appLocale() const;
  std::optional<std::string> userId() const;
  std::optional<std::string> deviceId() const;

  DRTLEventProperties& eventProperties() { return eventProperties_; }
  void removeEventPropertyForKey(const std::optional<std::string>& key);
  // Copies the entries whose keys `properties` does not hold yet.
  void mergeTypedPropertiesWith(DRTLEventProperties& properties) const;

  void collectDeviceId();
  // "u:" and a UUID derived from the machine id and the application's bundle
  // identifier, so the machine id itself never leaves the machine.
  static std::string getDeviceIdentifier();

  void channelPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) override;

 private:
  const std::weak_ptr<DRTLAnalyticsTransmissionTarget> target_;
  DRTLEventProperties eventProperties_;
  mutable std::mutex mutex_;
  std::optional<std::string> appVersion_;  // guarded by mutex_
  std::optional<std::string> appName_;     // guarded by mutex_
  std::optional<std::string> appLocale_;   // guarded by mutex_
  std::optional<std::string> userId_;      // guarded by mutex_
  std::optional<std::string> deviceId_;    // guarded by mutex_
};

}  // namespace telemetry::analytics
