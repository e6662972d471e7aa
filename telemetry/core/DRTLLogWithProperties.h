#pragma once
// Logs with properties: DRTLLogWithProperties (string to string, the base of
// the analytics logs) and DRTLCustomPropertiesLog (the application-wide custom
// properties of DRTLCustomProperties). Plain values built on the caller's
// thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "telemetry/core/DRTLAbstractLog.h"

namespace telemetry::core {

class DRTLLogWithProperties : public DRTLAbstractLog {
 public:
  std::optional<std::map<std::string, std::string>> properties;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLLogWithProperties"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

// The marker of a cleared custom property.
struct DRTLCustomPropertyClear {
  friend bool operator==(const DRTLCustomPropertyClear&, const DRTLCustomPropertyClear&) = default;
};
// A boolean is its own alternative, so it is told from a number by its type.
using DRTLCustomPropertyValue =
    std::variant<DRTLCustomPropertyClear, std::string, bool, std::int64_t, double, platform::Date>;
using DRTLCustomPropertyMap = std::map<std::string, DRTLCustomPropertyValue>;

class DRTLCustomPropertiesLog : public DRTLAbstractLog {
 public:
  DRTLCustomPropertiesLog() { type = "customProperties"; }
  std::optional<DRTLCustomPropertyMap> properties;

  // {"type": …, "value": …} of one value (no "value" for a cleared one).
  static DRTLJSON serializeProperty(const DRTLCustomPropertyValue& value);

  DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLCustomPropertiesLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::core
