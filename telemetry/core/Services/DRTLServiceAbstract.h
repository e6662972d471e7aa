#pragma once
// DRTLServiceAbstract: the base of the telemetry services. A service keeps
// its enabled state in the settings store ("<groupId>IsEnabled", enabled when
// absent), gets its own channel unit at start, and refuses use before the SDK
// is configured and the service started. Messages name the service by its
// serviceName().
//
// A "service class" is its sharedInstance accessor (DRTLServiceClass). The
// class-level isEnabled/setEnabled (classIsEnabled, classSetEnabled) hold the
// instance's lock; instance operations hold none (the SDK core calls start
// and reconfiguration under its own lock).

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"

namespace telemetry::core {

class DRTLServiceAbstract {
 public:
  virtual ~DRTLServiceAbstract() = default;

  // What a concrete service answers.
  virtual std::string groupId() const = 0;
  virtual std::string serviceName() const = 0;
  virtual std::string logTag() const { return serviceName(); }
  virtual std::optional<DRTLChannelUnitConfiguration> channelUnitConfiguration() const { return std::nullopt; }
  virtual bool isAppSecretRequired() const { return true; }
  virtual int initializationPriority() const { return 500; }

  std::string isEnabledKey() const { return groupId() + "IsEnabled"; }
  bool isEnabled() const;
  // Applies the new state first, then stores it; an unchanged value does nothing.
  void setEnabled(bool enabled);
  // The service's unit, deleting its logs when disabled.
  virtual void applyEnabledState(bool enabled);
  bool canBeUsed() const;
  bool isAvailable() const { return isEnabled() && started_; }
  bool isStarted() const { return started_; }
  bool isStartedFromApplication() const { return startedFromApplication_; }

  virtual void startWithChannelGroup(std::shared_ptr<DRTLChannelGroupProtocol> channelGroup,
                                     std::optional<std::string> appSecret,
                                     std::optional<std::string> transmissionTargetToken, bool fromApplication);
  virtual void updateConfiguration(std::optional<std::string> appSecret,
                                   std::optional<std::string> transmissionTargetToken);

  const std::shared_ptr<DRTLChannelGroupProtocol>& channelGroup() const { return channelGroup_; }
  const std::shared_ptr<DRTLChannelUnitProtocol>& channelUnit() const { return channelUnit_; }
  const std::optional<std::string>& appSecret() const { return appSecret_; }
  const std::optional<std::string>& defaultTransmissionTargetToken() const { return defaultTransmissionTargetToken_; }

  // The class operations, on the service's shared instance.
  static bool classIsEnabled(DRTLServiceAbstract& instance);
  static void classSetEnabled(DRTLServiceAbstract& instance, bool enabled);

  std::recursive_mutex& instanceLock() { return mutex_; }

 private:
  std::recursive_mutex mutex_;
  bool startedFromApplication_ = false;
  bool started_ = false;
  std::shared_ptr<DRTLChannelGroupProtocol> channelGroup_;
  std::shared_ptr<DRTLChannelUnitProtocol> channelUnit_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
};

// The shared instance of a service class; null stands for an invalid class.
using DRTLServiceClass = std::shared_ptr<DRTLServiceAbstract> (*)();

}  // namespace telemetry::core
