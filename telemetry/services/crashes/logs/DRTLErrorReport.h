#pragma once
// DRTLErrorReport: the summary of one crash or handled error that the host
// application is shown. A plain value, never serialised or archived; only the
// signal may change after it is made.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Value.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::crashes {

class DRTLErrorReport {
 public:
  DRTLErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                  std::optional<std::string> signal, std::optional<std::string> exceptionName,
                  std::optional<std::string> exceptionReason, std::optional<platform::Date> appStartTime,
                  std::optional<platform::Date> appErrorTime, std::shared_ptr<core::DRTLDevice> device,
                  std::uint64_t appProcessIdentifier);

  const std::optional<std::string>& incidentIdentifier() const { return incidentIdentifier_; }
  const std::optional<std::string>& reporterKey() const { return reporterKey_; }
  const std::optional<std::string>& signal() const { return signal_; }
  void setSignal(std::optional<std::string> signal) { signal_ = std::move(signal); }
  const std::optional<std::string>& exceptionName() const { return exceptionName_; }
  const std::optional<std::string>& exceptionReason() const { return exceptionReason_; }
  const std::optional<platform::Date>& appStartTime() const { return appStartTime_; }
  const std::optional<platform::Date>& appErrorTime() const { return appErrorTime_; }
  const std::shared_ptr<core::DRTLDevice>& device() const { return device_; }
  std::uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }

  // The signal is SIGKILL, in any letter case.
  bool isAppKill() const;

 private:
  std::optional<std::string> incidentIdentifier_;
  std::optional<std::string> reporterKey_;
  std::optional<std::string> signal_;
  std::optional<std::string> exceptionName_;
  std::optional<std::string> exceptionReason_;
  std::optional<platform::Date> appStartTime_;
  std::optional<platform::Date> appErrorTime_;
  std::shared_ptr<core::DRTLDevice> device_;
  std::uint64_t appProcessIdentifier_ = 0;
};

}  // namespace telemetry::crashes
