#include "app/shell/TelemetryStart.h"

#include <cstdlib>

#include "foundation/CVNLogController.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/analytics/DRTLAnalytics.h"
#include "telemetry/services/crashes/DRTLCrashes.h"

namespace app {

std::optional<std::string> dirAradedIdentifier(const platform::UserDefaults& defaults) {
  if (std::optional<std::string> configured = defaults.stringForKey(kDirAradedIdentifierKey)) {
    if (!configured->empty()) return configured;
  }
  const char* environment = std::getenv(kDirAradedIdentifierEnvironmentVariable);
  if (environment && *environment) return std::string(environment);
  return std::nullopt;
}

bool startTelemetry(const platform::UserDefaults& defaults) {
  const std::optional<std::string> secret = dirAradedIdentifier(defaults);
  if (!secret) {
    // The services are not even made: making them would create the telemetry folder.
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(2, false, kTelemetryNotConfiguredMessage);
    return false;
  }
  if (const std::optional<std::string> logUrl = defaults.stringForKey(kDirAradedLogUrlKey); logUrl && !logUrl->empty()) {
    telemetry::core::DRTLDirAraded::setLogUrl(*logUrl);
  }
  telemetry::core::DRTLDirAraded::start(
      secret, {&telemetry::crashes::DRTLCrashes::serviceClass, &telemetry::analytics::DRTLAnalytics::serviceClass});
  return true;
}

}  // namespace app
