#pragma once
// DRTLStartServiceLog: the log that announces the services just started
// ("startService", key "services").

#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/DRTLAbstractLog.h"

namespace telemetry::core {

class DRTLStartServiceLog : public DRTLAbstractLog {
 public:
  DRTLStartServiceLog() { type = "startService"; }

  std::optional<std::vector<std::string>> services;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLStartServiceLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::core
