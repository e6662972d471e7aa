#include "telemetry/services/analytics/DRTLAnalyticsValidation.h"

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"
#include "telemetry/services/analytics/DRTLEventLog.h"

namespace telemetry::analytics {
namespace {

using core::DRTLUtility;

template <typename Property>
std::shared_ptr<Property> copyOf(const core::DRTLTypedProperty& property) {
  const auto* typed = dynamic_cast<const Property*>(&property);
  if (!typed) return nullptr;
  auto copy = std::make_shared<Property>();
  copy->value = typed->value;
  return copy;
}

}  // namespace

bool DRTLAnalyticsValidation::shouldFilterLog(const std::shared_ptr<core::DRTLAbstractLog>& log) {
  auto* named = dynamic_cast<DRTLLogWithNameAndProperties*>(log.get());
  if (!named || !(dynamic_cast<DRTLEventLog*>(named) || dynamic_cast<DRTLPageLog*>(named))) return false;
  return !validateLog(*named);
}

bool DRTLAnalyticsValidation::validateLog(DRTLLogWithNameAndProperties& log) {
  const std::string type = log.type.value_or("");
  std::optional<std::string> name = validateEventName(log.name, type);
  if (!name) return false;
  log.name = name;
  if (log.properties) log.properties = validateProperties(*log.properties, *name, type);
  return true;
}

std::optional<std::string> DRTLAnalyticsValidation::validateEventName(const std::optional<std::string>& name,
                                                                      const std::string& logType) {
  if (!name || name->empty()) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, logType + " name cannot be null or empty");
    return std::nullopt;
  }
  if (DRTLUtility::characterCount(*name) > kDRTLMaxEventNameLength) {
    DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag,
             logType + " '" + *name + "' : name length cannot be longer than " +
                 std::to_string(kDRTLMaxEventNameLength) + " characters. Name will be truncated.");
    return DRTLUtility::firstCharacters(*name, kDRTLMaxEventNameLength);
  }
  return name;
}

std::map<std::string, std::string> DRTLAnalyticsValidation::validateProperties(
    const std::map<std::string, std::string>& properties, const std::string& logName, const std::string& logType) {
  platform::Dictionary dictionary;
  for (const auto& [key, value] : properties) dictionary[key] = platform::Value(value);
  return DRTLUtility::validateProperties(dictionary, logName, logType);
}

std::shared_ptr<DRTLEventProperties> DRTLAnalyticsValidation::validateDirAradedEventProperties(
    const DRTLEventProperties& properties) {
  auto result = std::make_shared<DRTLEventProperties>();
  std::size_t count = 0;
  for (const auto& [key, property] : properties.properties()) {
    if (count >= kDRTLMaxTypedPropertiesPerEvent) {
      DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag,
               "Typed properties cannot contain more than " + std::to_string(kDRTLMaxTypedPropertiesPerEvent) +
                   " items. Skipping other properties.");
      break;
    }
    if (auto copy = validateDirAradedTypedProperty(*property)) {
      result->setProperty(std::move(copy));
      count = result->properties().size();
    }
  }
  return result;
}

std::shared_ptr<const core::DRTLTypedProperty> DRTLAnalyticsValidation::validateDirAradedTypedProperty(
    const core::DRTLTypedProperty& property) {
  std::shared_ptr<core::DRTLTypedProperty> copy;
  if (auto text = copyOf<core::DRTLStringTypedProperty>(property)) {
    if (text->value) text->value = validateDirAradedStringTypedPropertyValue(*text->value);
    copy = text;
  } else if (auto flag = copyOf<core::DRTLBooleanTypedProperty>(property)) {
    copy = flag;
  } else if (auto number = copyOf<core::DRTLLongTypedProperty>(property)) {
    copy = number;
  } else if (auto real = copyOf<core::DRTLDoubleTypedProperty>(property)) {
    copy = real;
  } else if (auto date = copyOf<core::DRTLDateTimeTypedProperty>(property)) {
    copy = date;
  } else {
    return nullptr;
  }
  copy->name = validateDirAradedPropertyName(property.name.value_or(""));
  return copy;
}

std::string DRTLAnalyticsValidation::validateDirAradedPropertyName(const std::string& name) {
  if (DRTLUtility::characterCount(name) <= kDRTLMaxTypedPropertyLength) return name;
  DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag,
           "Typed property '" + name + "': key length cannot exceed " + std::to_string(kDRTLMaxTypedPropertyLength) +
               " characters. Property value will be truncated.");
  return DRTLUtility::firstCharacters(name, kDRTLMaxTypedPropertyLength - 1);
}

std::string DRTLAnalyticsValidation::validateDirAradedStringTypedPropertyValue(const std::string& value) {
  if (DRTLUtility::characterCount(value) <= kDRTLMaxTypedPropertyLength) return value;
  DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag,
           "Typed property value length cannot exceed " + std::to_string(kDRTLMaxTypedPropertyLength) +
               " characters. Property value will be truncated.");
  return DRTLUtility::firstCharacters(value, kDRTLMaxTypedPropertyLength - 1);
}

}  // namespace telemetry::analytics
