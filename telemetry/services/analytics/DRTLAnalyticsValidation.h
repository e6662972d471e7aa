#pragma once
// The analytics rules for event and page logs: names and typed properties are
// cut to their limits; only a missing or empty name refuses a log. Stateless;
// the filter runs on the channel group queue, the typed-property check inside
// the analytics service's lock.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/services/analytics/DRTLEventProperties.h"
#include "telemetry/services/analytics/DRTLLogWithNameAndProperties.h"

namespace telemetry::analytics {

struct DRTLAnalyticsValidation {
  // True to drop: an event or page log that validateLog refuses.
  static bool shouldFilterLog(const std::shared_ptr<core::DRTLAbstractLog>& log);
  // Mends the log's name and string properties in place; false to refuse it.
  static bool validateLog(DRTLLogWithNameAndProperties& log);
  static std::optional<std::string> validateEventName(const std::optional<std::string>& name,
                                                      const std::string& logType);
  static std::map<std::string, std::string> validateProperties(const std::map<std::string, std::string>& properties,
                                                               const std::string& logName, const std::string& logType);
  static std::shared_ptr<DRTLEventProperties> validateDirAradedEventProperties(const DRTLEventProperties& properties);
  static std::shared_ptr<const core::DRTLTypedProperty> validateDirAradedTypedProperty(
      const core::DRTLTypedProperty& property);
  static std::string validateDirAradedPropertyName(const std::string& name);
  static std::string validateDirAradedStringTypedPropertyValue(const std::string& value);
};

}  // namespace telemetry::analytics
