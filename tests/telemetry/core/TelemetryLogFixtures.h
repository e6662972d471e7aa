#pragma once
// Logs for the pipeline tests: valid, with a device, optionally padded so a
// few of them fill a small store.

#include <chrono>
#include <memory>
#include <string>

#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"

namespace telemetry::core::testing_support {

inline std::shared_ptr<DRTLDevice> pipelineDevice() {
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = "diraraded.linux";
  device->sdkVersion = "4.0.0";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12.0.0";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  return device;
}

// A valid log; `name` goes into the properties, `padding` characters make it big.
inline std::shared_ptr<DRTLLogWithProperties> pipelineLog(const std::string& name, std::size_t padding = 0) {
  auto log = std::make_shared<DRTLLogWithProperties>();
  log->type = "event";
  log->timestamp = platform::Date(std::chrono::milliseconds(1700000000000));
  log->device = pipelineDevice();
  log->properties = std::map<std::string, std::string>{{"name", name}};
  if (padding) (*log->properties)["padding"] = std::string(padding, 'x');
  return log;
}

// A log whose Shared Schema form carries a name, as the services' event logs do.
class NamedEventLog : public DRTLLogWithProperties {
 public:
  std::shared_ptr<DRTLSharedSchemaLog> toSharedSchemaLogForTargetToken(const std::string& token,
                                                                       std::int64_t flags) const override {
    auto converted = DRTLLogWithProperties::toSharedSchemaLogForTargetToken(token, flags);
    converted->name = "clip.played";
    return converted;
  }
};

inline std::shared_ptr<NamedEventLog> namedEventLog(const std::string& name) {
  auto log = std::make_shared<NamedEventLog>();
  auto base = pipelineLog(name);
  log->type = base->type;
  log->timestamp = base->timestamp;
  log->device = base->device;
  log->properties = base->properties;
  return log;
}

inline std::string logName(const std::shared_ptr<DRTLAbstractLog>& log) {
  auto* withProperties = dynamic_cast<DRTLLogWithProperties*>(log.get());
  return withProperties && withProperties->properties ? withProperties->properties->at("name") : std::string();
}

inline std::shared_ptr<DRTLSharedSchemaLog> targetedLog(const std::string& token) {
  auto log = std::make_shared<DRTLSharedSchemaLog>();
  log->type = "common-schema";
  log->ver = "3.0";
  log->name = token;
  log->timestamp = platform::Date(std::chrono::milliseconds(1700000000000));
  log->device = pipelineDevice();
  log->addTransmissionTargetToken(token);
  return log;
}

}  // namespace telemetry::core::testing_support
