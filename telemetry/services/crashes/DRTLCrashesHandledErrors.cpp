// Memory warnings across one restart, and errors a wrapper layer caught itself.

#include "foundation/GenerateUniqueID.h"

#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "telemetry/services/crashes/DRTLCrashesSupport.h"

namespace telemetry::crashes {

void DRTLCrashes::didReceiveMemoryWarning() {
  core::DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(true), kDRTLAppDidReceiveMemoryWarningKey);
}

void DRTLCrashes::processMemoryWarningInLastSession() {
  if (!isEnabled()) return;
  auto defaults = core::DRTLDirAradedUserDefaults::shared();
  didReceiveMemoryWarningInLastSession_ = defaults->objectForKey(kDRTLAppDidReceiveMemoryWarningKey).booleanOr(false);
  if (didReceiveMemoryWarningInLastSession_) {
    DRTLLogDebug("The application received a low memory warning in the last session.");
  }
  defaults->removeObjectForKey(kDRTLAppDidReceiveMemoryWarningKey);
}

std::optional<std::string> DRTLCrashes::trackModelException(
    const std::shared_ptr<DRTLException>& exception, const std::optional<std::map<std::string, std::string>>& properties,
    const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>* attachments) {
  std::lock_guard lock(instanceLock());
  if (!canBeUsed() || !isEnabled()) return std::nullopt;
  auto log = std::make_shared<DRTLHandledErrorLog>();
  log->userId = core::DRTLUserIdContext::sharedInstance()->userId();
  const std::string errorId = foundation::GenerateUniqueID::generateUniqueID();
  log->errorId = errorId;
  log->exception = exception;
  if (properties && !properties->empty()) {
    platform::Dictionary given;
    for (const auto& [key, value] : *properties) given[key] = platform::Value(value);
    log->properties = core::DRTLUtility::validateProperties(given, "ErrorLog: " + errorId, log->type.value_or(""));
  }
  if (channelUnit()) channelUnit()->enqueueItem(log, 1);
  if (attachments) sendErrorAttachments(*attachments, errorId);
  return errorId;
}

std::shared_ptr<DRTLErrorReport> DRTLCrashes::buildHandledErrorReportWithErrorID(const std::string& errorId) const {
  return std::make_shared<DRTLErrorReport>(errorId, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           appStartTime_, detail::wallDate(),
                                           core::DRTLDeviceTracker::sharedInstance()->device(), 0);
}

}  // namespace telemetry::crashes
