#pragma once
// DRTLAppleErrorLog ("appleError"): the crash log of the previous run, filled
// by the error log formatter: processor ids, application path, the signal,
// the uncaught exception, every thread with its frames, the binary images and
// the crashed thread's registers. Never takes the sending run's session id.

#include <map>
#include <memory>
#include <vector>

#include "telemetry/services/crashes/logs/DRTLAbstractErrorLog.h"
#include "telemetry/services/crashes/logs/DRTLCrashDetails.h"

namespace telemetry::crashes {

class DRTLAppleErrorLog : public DRTLAbstractErrorLog, public DRTLNoAutoAssignSessionIdLog {
 public:
  DRTLAppleErrorLog() { type = "appleError"; }

  std::optional<std::uint64_t> primaryArchitectureId;
  std::optional<std::uint64_t> architectureVariantId;
  std::optional<std::string> applicationPath;
  std::optional<std::string> osExceptionType;
  std::optional<std::string> osExceptionCode;
  std::optional<std::string> osExceptionAddress;
  std::optional<std::string> exceptionType;
  std::optional<std::string> exceptionReason;
  std::optional<std::string> selectorRegisterValue;
  std::optional<std::vector<std::shared_ptr<DRTLThread>>> threads;
  std::optional<std::vector<std::shared_ptr<DRTLBinary>>> binaries;
  std::optional<std::map<std::string, std::string>> registers;
  std::shared_ptr<DRTLException> exception;

  core::DRTLJSON serializeToDictionary() const override;
  // The error log's checks, then the processor, path and signal fields;
  // threads, binaries and the exception are not checked.
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLAppleErrorLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
