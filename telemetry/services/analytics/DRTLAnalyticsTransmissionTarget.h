#pragma once
// DRTLAnalyticsTransmissionTarget: a destination of events on the Shared
// Schema ingestion, named by its token. Targets form a tree; each keeps its
// enabled switch in the settings store under "AnalyticsIsEnabled/<target
// key>" (on when absent), can be switched on only while its parent (or the
// Analytics service) is on, and passes its switch down to its children. Its
// property configurator fills the Shared Schema fields of its events.
//
// Threads: any. The switch and the configured event properties are changed
// under the Analytics instance lock; the child table has a lock of its own.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/services/analytics/DRTLAnalyticsAuthenticationProvider.h"
#include "telemetry/services/analytics/DRTLEventProperties.h"
#include "telemetry/services/analytics/DRTLPropertyConfigurator.h"

namespace telemetry::analytics {

class DRTLAnalyticsTransmissionTarget : public core::DRTLChannelDelegate,
                                        public std::enable_shared_from_this<DRTLAnalyticsTransmissionTarget> {
 public:
  // Registers the configurator and the target with the channel group. A target made while
  // its parent (or the service) is off is stored as off.
  static std::shared_ptr<DRTLAnalyticsTransmissionTarget> create(
      std::string token, std::shared_ptr<DRTLAnalyticsTransmissionTarget> parent,
      std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup);

  const std::string& transmissionTargetToken() const { return token_; }
  const std::string& isEnabledKey() const { return isEnabledKey_; }
  std::shared_ptr<DRTLAnalyticsTransmissionTarget> parentTarget() const { return parent_.lock(); }
  DRTLPropertyConfigurator& propertyConfigurator() { return *configurator_; }

  std::shared_ptr<DRTLAnalyticsTransmissionTarget> transmissionTargetForToken(const std::string& token);
  bool isEnabled() const;
  void setEnabled(bool enabled);
  bool isImmediateParent() const;
  void pause();
  void resume();

  // One provider for all targets; installing one asks it for a token.
  static void addAuthenticationProvider(std::shared_ptr<DRTLAnalyticsAuthenticationProvider> provider);
  static std::shared_ptr<DRTLAnalyticsAuthenticationProvider> authenticationProvider();
  static void setAuthenticationProvider(std::shared_ptr<DRTLAnalyticsAuthenticationProvider> provider);

  // Names the provider's ticket key on this target's Shared Schema logs.
  void channelPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) override;

  void trackEvent(const std::string& name, const std::optional<std::map<std::string, std::string>>& properties = {},
                  std::uint64_t flags = 1);
  void trackEventWithTypedProperties(const std::string& name, const std::shared_ptr<DRTLEventProperties>& properties,
                                     std::uint64_t flags = 1);

 private:
  DRTLAnalyticsTransmissionTarget(std::string token, std::shared_ptr<DRTLAnalyticsTransmissionTarget> parent,
                                  std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup);

  const std::string token_;
  const std::string isEnabledKey_;
  // Weak: the parent holds its children, and the service its top-level targets.
  const std::weak_ptr<DRTLAnalyticsTransmissionTarget> parent_;
  const std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup_;
  std::shared_ptr<DRTLPropertyConfigurator> configurator_;
  mutable std::mutex childrenMutex_;
  std::map<std::string, std::shared_ptr<DRTLAnalyticsTransmissionTarget>> children_;  // guarded by childrenMutex_
};

}  // namespace telemetry::analytics
