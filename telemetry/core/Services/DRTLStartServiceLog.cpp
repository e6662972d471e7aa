#include "telemetry/core/Services/DRTLStartServiceLog.h"

namespace telemetry::core {

DRTLJSON DRTLStartServiceLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLAbstractLog::serializeToDictionary();
  if (services) dictionary["services"] = *services;
  return dictionary;
}

bool DRTLStartServiceLog::isEqual(const DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLStartServiceLog*>(other);
  return same && DRTLAbstractLog::isEqual(other) && services == same->services;
}

void DRTLStartServiceLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractLog::encode(encoder);
  if (!services) return;
  platform::Array array;
  for (const std::string& name : *services) array.emplace_back(name);
  encoder.encodeValue("services", platform::Value(std::move(array)));
}

void DRTLStartServiceLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractLog::decode(decoder);
  services.reset();
  if (const platform::Array* array = decoder.value("services").array()) {
    services.emplace();
    for (const platform::Value& name : *array) {
      if (name.isString()) services->push_back(*name.string());
    }
  }
}

}  // namespace telemetry::core
