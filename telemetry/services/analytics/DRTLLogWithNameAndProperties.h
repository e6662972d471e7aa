#pragma once
// The analytics service's small logs: the named log that events and pages
// share, the page log ("page") and the start-session log ("startSession"),
// which keeps the session id it was given. Built on the caller's thread, then
// handed to a channel.

#include <optional>
#include <string>

#include "telemetry/core/DRTLLogWithProperties.h"

namespace telemetry::analytics {

class DRTLLogWithNameAndProperties : public core::DRTLLogWithProperties {
 public:
  std::optional<std::string> name;

  core::DRTLJSON serializeToDictionary() const override;
  // A missing name is invalid; an empty one is left to the analytics filter.
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLLogWithNameAndProperties"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLPageLog : public DRTLLogWithNameAndProperties {
 public:
  DRTLPageLog() { type = "page"; }
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLPageLog"; }
};

class DRTLStartSessionLog : public core::DRTLAbstractLog, public core::DRTLNoAutoAssignSessionIdLog {
 public:
  DRTLStartSessionLog() { type = "startSession"; }
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLStartSessionLog"; }
};

}  // namespace telemetry::analytics
