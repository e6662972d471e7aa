#include "telemetry/services/analytics/DRTLLogWithNameAndProperties.h"

#include "telemetry/core/DRTLArchiveValues.h"

namespace telemetry::analytics {

core::DRTLJSON DRTLLogWithNameAndProperties::serializeToDictionary() const {
  core::DRTLJSON dictionary = DRTLLogWithProperties::serializeToDictionary();
  if (name) dictionary["name"] = *name;
  return dictionary;
}

bool DRTLLogWithNameAndProperties::isValid() const {
  if (!DRTLLogWithProperties::isValid()) return false;
  if (name) return true;
  core::logInvalidProperty(className(), "name");
  return false;
}

bool DRTLLogWithNameAndProperties::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLLogWithNameAndProperties*>(other);
  return same && DRTLLogWithProperties::isEqual(other) && name == same->name;
}

void DRTLLogWithNameAndProperties::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLLogWithProperties::encode(encoder);
  core::encodeString(encoder, "name", name);
}

void DRTLLogWithNameAndProperties::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLLogWithProperties::decode(decoder);
  name = core::decodeString(decoder, "name");
}

bool DRTLPageLog::isEqual(const core::DRTLAbstractLog* other) const {
  return dynamic_cast<const DRTLPageLog*>(other) && DRTLLogWithNameAndProperties::isEqual(other);
}

bool DRTLStartSessionLog::isEqual(const core::DRTLAbstractLog* other) const {
  return dynamic_cast<const DRTLStartSessionLog*>(other) && DRTLAbstractLog::isEqual(other);
}

}  // namespace telemetry::analytics
