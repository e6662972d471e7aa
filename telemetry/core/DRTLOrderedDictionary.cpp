#include "telemetry/core/DRTLOrderedDictionary.h"

namespace telemetry::core {

const DRTLJSON& DRTLOrderedDictionary::objectForKey(const std::string& key) const {
  static const DRTLJSON kNull;
  auto it = json_.find(key);
  return it == json_.end() ? kNull : *it;
}

}  // namespace telemetry::core
