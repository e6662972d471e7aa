#pragma once
// DRTLAbstractErrorLog: the fields every error log carries (error id, process
// and parent, failed thread, fatal flag, launch time, architecture) on top of
// a log with properties; and the marker of logs the session tracker leaves
// without a session id. Built on the caller's thread, then handed to a channel.

#include <cstdint>
#include <optional>
#include <string>

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLLogWithProperties.h"

namespace telemetry::crashes {

// Crash logs keep the session id of the run that crashed.
using DRTLNoAutoAssignSessionIdLog = core::DRTLNoAutoAssignSessionIdLog;

class DRTLAbstractErrorLog : public core::DRTLLogWithProperties {
 public:
  std::optional<std::string> errorId;
  std::optional<std::int64_t> processId;
  std::optional<std::string> processName;
  std::optional<std::int64_t> parentProcessId;
  std::optional<std::string> parentProcessName;
  std::optional<std::int64_t> errorThreadId;
  std::optional<std::string> errorThreadName;
  bool fatal = false;
  std::optional<platform::Date> appLaunchTimestamp;
  std::optional<std::string> architecture;

  bool isFatal() const { return fatal; }

  core::DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLAbstractErrorLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
