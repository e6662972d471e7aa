#pragma once
// An uncaught C++ exception as the crash reporter's uncaught-exception hook
// takes it: the demangled type name, the text and the stack of the throw.

#include <cstdint>
#include <string>
#include <vector>

#include "telemetry/services/crashes/exceptions/DRTLCrashesUncaughtCXXExceptionHandlerManager.h"

namespace telemetry::crashes {

class DRTLCrashesCXXExceptionWrapperException {
 public:
  explicit DRTLCrashesCXXExceptionWrapperException(const DRTLCrashesCXXExceptionInfo* info);

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  std::vector<std::uint64_t> callStackReturnAddresses() const;
  const DRTLCrashesCXXExceptionInfo* info() const { return info_; }

 private:
  const DRTLCrashesCXXExceptionInfo* info_;
  std::string name_;
  std::string reason_;
};

}  // namespace telemetry::crashes
