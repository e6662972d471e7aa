#include "telemetry/services/crashes/exceptions/DRTLCrashesCXXExceptionWrapperException.h"

#include <cxxabi.h>

#include <cstdlib>

namespace telemetry::crashes {

DRTLCrashesCXXExceptionWrapperException::DRTLCrashesCXXExceptionWrapperException(
    const DRTLCrashesCXXExceptionInfo* info)
    : info_(info) {
  const char* typeName = info && info->typeName ? info->typeName : "";
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeName, nullptr, nullptr, &status);
  name_ = status == 0 && demangled ? demangled : typeName;
  std::free(demangled);
  reason_ = info && info->exceptionMessage ? info->exceptionMessage : "";
}

std::vector<std::uint64_t> DRTLCrashesCXXExceptionWrapperException::callStackReturnAddresses() const {
  if (!info_ || !info_->frameAddresses) return {};
  return std::vector<std::uint64_t>(info_->frameAddresses, info_->frameAddresses + info_->frameCount);
}

}  // namespace telemetry::crashes
