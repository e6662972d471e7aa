#pragma once
// DRTLHandledErrorLog ("handledError"): an exception the host caught and
// handed over, with the id of the error it reports. Built on the caller's
// thread, then handed to a channel.

#include <memory>

#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/services/crashes/logs/DRTLCrashDetails.h"

namespace telemetry::crashes {

class DRTLHandledErrorLog : public core::DRTLLogWithProperties {
 public:
  DRTLHandledErrorLog() { type = "handledError"; }

  std::optional<std::string> errorId;
  std::shared_ptr<DRTLException> exception;

  core::DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLHandledErrorLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
