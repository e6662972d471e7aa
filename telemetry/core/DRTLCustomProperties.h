#pragma once
// DRTLCustomProperties: application-wide custom properties, checked as they
// are set (keys "^[a-zA-Z][a-zA-Z0-9]*$" of at most 128 characters, at most 60
// keys, strings of at most 128 characters, no NaN or infinity). Any thread:
// each set, clear and copy holds the object's lock. Setters return the object.

#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/DRTLLogWithProperties.h"

namespace telemetry::core {

inline constexpr std::size_t kDRTLMaxCustomPropertiesCount = 60;
inline constexpr std::size_t kDRTLMaxCustomPropertyLength = 128;

class DRTLCustomProperties {
 public:
  DRTLCustomProperties& setString(const std::optional<std::string>& value, const std::string& key);
  DRTLCustomProperties& setNumber(double value, const std::string& key);
  DRTLCustomProperties& setNumber(std::int64_t value, const std::string& key);
  DRTLCustomProperties& setBool(bool value, const std::string& key);
  DRTLCustomProperties& setDate(platform::Date value, const std::string& key);
  DRTLCustomProperties& clearPropertyForKey(const std::string& key);

  DRTLCustomPropertyMap propertiesImmutableCopy() const;

 private:
  DRTLCustomProperties& setObject(const std::optional<DRTLCustomPropertyValue>& value, const std::string& key);
  bool isValidKey(const std::string& key) const;  // needs mutex_
  static bool isValidValue(const std::optional<DRTLCustomPropertyValue>& value);

  mutable std::mutex mutex_;
  DRTLCustomPropertyMap properties_;  // guarded by mutex_
};

}  // namespace telemetry::core
