#include "telemetry/services/crashes/logs/DRTLErrorReport.h"

#include <algorithm>
#include <cctype>

namespace telemetry::crashes {

DRTLErrorReport::DRTLErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                                 std::optional<std::string> signal, std::optional<std::string> exceptionName,
                                 std::optional<std::string> exceptionReason, std::optional<platform::Date> appStartTime,
                                 std::optional<platform::Date> appErrorTime, std::shared_ptr<core::DRTLDevice> device,
                                 std::uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signal)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool DRTLErrorReport::isAppKill() const {
  if (!signal_) return false;
  std::string upper = *signal_;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper == "SIGKILL";
}

}  // namespace telemetry::crashes
