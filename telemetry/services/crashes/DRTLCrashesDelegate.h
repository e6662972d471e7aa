#pragma once
// What the host may hear from the crash service; every call is optional (the
// defaults do nothing, and a report is processed unless the host says no).
// Called on the main queue.

#include <memory>
#include <optional>
#include <vector>

#include "platform/Error.h"

namespace telemetry::crashes {

class DRTLCrashes;
class DRTLErrorAttachmentLog;
class DRTLErrorReport;

class DRTLCrashesDelegate {
 public:
  virtual ~DRTLCrashesDelegate() = default;
  virtual bool crashesShouldProcessErrorReport(DRTLCrashes&, const DRTLErrorReport&) { return true; }
  // nullopt: not implemented.
  virtual std::optional<std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>> attachmentsWithCrashes(
      DRTLCrashes&, const DRTLErrorReport&) {
    return std::nullopt;
  }
  virtual void crashesWillSendErrorReport(DRTLCrashes&, const DRTLErrorReport&) {}
  virtual void crashesDidSucceedSendingErrorReport(DRTLCrashes&, const DRTLErrorReport&) {}
  virtual void crashesDidFailSendingErrorReport(DRTLCrashes&, const DRTLErrorReport&,
                                                const std::optional<platform::Error>&) {}
};

// The user's answer to "send the crash reports?".
enum DRTLUserConfirmation : unsigned { DRTLUserConfirmationDontSend = 0, DRTLUserConfirmationSend = 1,
                                       DRTLUserConfirmationAlways = 2 };

inline constexpr std::size_t kDRTLMaxAttachmentSize = 7340032;

}  // namespace telemetry::crashes
