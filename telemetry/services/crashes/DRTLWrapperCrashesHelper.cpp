#include "telemetry/services/crashes/DRTLWrapperCrashesHelper.h"

#include <mutex>

#include "telemetry/services/crashes/DRTLCrashes.h"

namespace telemetry::crashes {
namespace {

std::mutex delegateMutex;
std::weak_ptr<DRTLCrashHandlerSetupDelegate> setupDelegate;  // guarded by delegateMutex

}  // namespace

void DRTLWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<DRTLCrashHandlerSetupDelegate>& delegate) {
  std::lock_guard lock(delegateMutex);
  setupDelegate = delegate;
}

std::shared_ptr<DRTLCrashHandlerSetupDelegate> DRTLWrapperCrashesHelper::crashHandlerSetupDelegate() {
  std::lock_guard lock(delegateMutex);
  return setupDelegate.lock();
}

void DRTLWrapperCrashesHelper::setAutomaticProcessing(bool enabled) {
  DRTLCrashes::sharedInstance()->setAutomaticProcessingEnabled(enabled);
}

bool DRTLWrapperCrashesHelper::automaticProcessing() {
  return DRTLCrashes::sharedInstance()->isAutomaticProcessingEnabled();
}

std::vector<std::shared_ptr<DRTLErrorReport>> DRTLWrapperCrashesHelper::unprocessedCrashReports() {
  return DRTLCrashes::sharedInstance()->unprocessedCrashReports();
}

bool DRTLWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::set<std::string>& incidentIds) {
  return DRTLCrashes::sharedInstance()->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(incidentIds);
}

void DRTLWrapperCrashesHelper::sendErrorAttachments(
    const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>& attachments, const std::string& incidentIdentifier) {
  DRTLCrashes::sharedInstance()->sendErrorAttachments(attachments, incidentIdentifier);
}

std::optional<std::string> DRTLWrapperCrashesHelper::trackModelException(
    const std::shared_ptr<DRTLException>& exception, const std::optional<std::map<std::string, std::string>>& properties,
    const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>* attachments) {
  return DRTLCrashes::sharedInstance()->trackModelException(exception, properties, attachments);
}

std::shared_ptr<DRTLErrorReport> DRTLWrapperCrashesHelper::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
  return DRTLCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(errorId);
}

}  // namespace telemetry::crashes
