#pragma once
// A wrapper layer's door into the crash service: a crash-handler set-up
// delegate the service asks when it sets up its handlers, and pass-through
// class operations on the shared service.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "telemetry/services/crashes/logs/DRTLCrashDetails.h"
#include "telemetry/services/crashes/logs/DRTLErrorAttachmentLog.h"
#include "telemetry/services/crashes/logs/DRTLErrorReport.h"

namespace telemetry::crashes {

// Every call optional: the defaults say "not implemented".
class DRTLCrashHandlerSetupDelegate {
 public:
  virtual ~DRTLCrashHandlerSetupDelegate() = default;
  virtual std::optional<bool> shouldEnableUncaughtExceptionHandler() { return std::nullopt; }
  virtual void willSetUpCrashHandlers() {}
  virtual void didSetUpCrashHandlers() {}
};

class DRTLWrapperCrashesHelper {
 public:
  // Held weakly.
  static void setCrashHandlerSetupDelegate(const std::shared_ptr<DRTLCrashHandlerSetupDelegate>& delegate);
  static std::shared_ptr<DRTLCrashHandlerSetupDelegate> crashHandlerSetupDelegate();
  static std::shared_ptr<DRTLCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate() {
    return crashHandlerSetupDelegate();
  }

  static void setAutomaticProcessing(bool enabled);
  static bool automaticProcessing();
  static std::vector<std::shared_ptr<DRTLErrorReport>> unprocessedCrashReports();
  static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::set<std::string>& incidentIds);
  static void sendErrorAttachments(const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>& attachments,
                                   const std::string& incidentIdentifier);
  static std::optional<std::string> trackModelException(
      const std::shared_ptr<DRTLException>& exception,
      const std::optional<std::map<std::string, std::string>>& properties,
      const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>* attachments);
  static std::shared_ptr<DRTLErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);
};

}  // namespace telemetry::crashes
