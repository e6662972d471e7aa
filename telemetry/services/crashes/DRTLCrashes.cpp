#include "telemetry/services/crashes/DRTLCrashes.h"

#include "platform/Bundle.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/crashes/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"
#include "telemetry/services/crashes/DRTLCrashesSupport.h"
#include "telemetry/services/crashes/DRTLCrashesUtil.h"

namespace telemetry::crashes {
namespace {

std::mutex& singletonMutex() {
  static std::mutex mutex;
  return mutex;
}
std::shared_ptr<DRTLCrashes>& singleton() {
  static std::shared_ptr<DRTLCrashes> instance;
  return instance;
}

void migrateSettings() {
  core::DRTLDirAradedUserDefaults::shared()->migrateKeys(
      {{"DRDirAradedCrashesIsEnabled", std::string("kDRCrashesIsEnabledKey")},
       {"DRDirAradedAppDidReceiveMemoryWarning", std::string("DRAppDidReceiveMemoryWarning")},
       {"DRDirAradedCrashesUserConfirmation", std::string("DRUserConfirmation")}},
      "Crashes");
}

void registerLegacyClassNames() {
  registerCrashesArchiveClasses();
  core::DRTLUtility::addMigrationClasses({{"DRAppleErrorLog", "DRTLAppleErrorLog"},
                                          {"DRThread", "DRTLThread"},
                                          {"DRWrapperException", "DRTLWrapperException"},
                                          {"DRAbstractErrorLog", "DRTLAbstractErrorLog"},
                                          {"DRHandledErrorLog", "DRTLHandledErrorLog"},
                                          {"DRException", "DRTLException"},
                                          {"DRStackFrame", "DRTLStackFrame"},
                                          {"DRBinary", "DRTLBinary"},
                                          {"DRErrorAttachmentLog", "DRTLErrorAttachmentLog"},
                                          {"DRErrorReport", "DRTLErrorReport"}});
}

}  // namespace

DRTLCrashes::DRTLCrashes()
    : appStartTime_((migrateSettings(), registerLegacyClassNames(), detail::wallDate())),
      crashesPathComponent_(DRTLCrashesUtil::crashesDir()),
      logBufferPathComponent_(DRTLCrashesUtil::logBufferDir()),
      analyzerFilePathComponent_(crashesPathComponent_ + "/" + kDRTLAnalyzerFileName) {
  setupLogBuffer();
}

DRTLCrashes::~DRTLCrashes() = default;

std::shared_ptr<DRTLCrashes> DRTLCrashes::sharedInstance() {
  std::lock_guard lock(singletonMutex());
  if (!singleton()) singleton() = std::make_shared<DRTLCrashes>();
  return singleton();
}

void DRTLCrashes::resetSharedInstance() {
  std::lock_guard lock(singletonMutex());
  singleton().reset();
}

std::optional<core::DRTLChannelUnitConfiguration> DRTLCrashes::channelUnitConfiguration() const {
  return core::DRTLChannelUnitConfiguration(kDRTLCrashesGroupId, 2, 1, 1, 3);
}

void DRTLCrashes::startWithChannelGroup(std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup,
                                        std::optional<std::string> appSecret,
                                        std::optional<std::string> transmissionTargetToken, bool fromApplication) {
  DRTLServiceAbstract::startWithChannelGroup(channelGroup, std::move(appSecret), std::move(transmissionTargetToken),
                                             fromApplication);
  if (channelGroup) channelGroup->addDelegate(shared_from_this());
  processLogBufferAfterCrash();
  processMemoryWarningInLastSession();
  DRTLLogVerbose("Started crash service.");
}

void DRTLCrashes::updateConfiguration(std::optional<std::string> appSecret,
                                      std::optional<std::string> transmissionTargetToken) {
  processLogBufferAfterCrash();
  DRTLServiceAbstract::updateConfiguration(std::move(appSecret), std::move(transmissionTargetToken));
}

void DRTLCrashes::applyEnabledState(bool enabled) {
  DRTLServiceAbstract::applyEnabledState(enabled);
  if (enabled) {
    configureCrashReporter(true);
    if (!isEnabled() && crashReporter_) (void)crashReporter_->purgePendingCrashReport();
    if (crashReporter_ && crashReporter_->hasPendingCrashReport()) {
      didCrashInLastSession_ = true;
      DRTLLogDebug("The application crashed in the last session.");
      handleLatestCrashReport();
    }
    bool empty = false;
    {
      std::lock_guard lock(instanceLock());
      crashFiles_ = persistedCrashReports();
      empty = crashFiles_.empty();
    }
    if (empty) {
      markProcessingDone();
      clearContextHistoryAndKeepCurrentSession();
    } else {
      startDelayedCrashProcessing();
    }
    DRTLLogInfo(core::DRTLDirAraded::isDebuggerAttached()
                    ? "Crashes service has been enabled but the service cannot detect crashes due to running the "
                      "application with a debugger attached."
                    : "Crashes service has been enabled.");
    return;
  }
  DRTLLogDebug("Cleaning up all crash files.");
  deleteAllFromCrashesDirectory();
  emptyLogBufferFiles();
  core::DRTLUtility::deleteItemForPathComponent(analyzerFilePathComponent_);
  if (crashReporter_) (void)crashReporter_->purgePendingCrashReport();
  clearUnprocessedReports();
  clearContextHistoryAndKeepCurrentSession();
  core::DRTLDirAradedUserDefaults::shared()->removeObjectForKey(kDRTLAppDidReceiveMemoryWarningKey);
  DRTLLogInfo("Crashes service has been disabled.");
}

void DRTLCrashes::configureCrashReporter(bool uncaughtExceptionHandlerEnabled) {
  if (crashReporter_) {
    DRTLLogDebug("Already configured DCRCrashReporter.");
    return;
  }
  DRTLLogDebug(uncaughtExceptionHandlerEnabled
                   ? "EnableUncaughtExceptionHandler is set to YES"
                   : "EnableUncaughtExceptionHandler is set to NO, we're running in a managed wrapper runtime.");
  // No Mach exception server here: both modes are the signal handlers.
  if (enableMachExceptionHandler_) DRTLLogVerbose("Enabled Mach exception handler.");
  const crashreporter::DCRCrashReporterConfig config(0, 0, uncaughtExceptionHandlerEnabled);
  crashReporter_ = std::make_unique<crashreporter::DCRCrashReporter>(
      crashreporter::DCRCrashReporter::initWithBundle(*platform::Bundle::main(), config));
  if (core::DRTLDirAraded::isDebuggerAttached()) {
    DRTLLogWarning("Detecting crashes is NOT enabled due to running the app with a debugger attached.");
    return;
  }
  crashreporter::DCRCrashReporterCallbacks callbacks;
  callbacks.handleSignal = DRTLCrashesLogBuffer::writeAtCrashTime;
  crashReporter_->setCrashCallbacks(callbacks);
  if (const platform::Status status = crashReporter_->enableCrashReporter(); !status.ok()) {
    DRTLLogError("Could not enable crash reporter: " + status.error().localizedDescription);
  }
  exceptionHandlerInstalled_ = uncaughtExceptionHandlerEnabled;
  if (exceptionHandlerInstalled_) {
    DRTLLogDebug("Exception handler successfully initialized.");
  } else {
    DRTLLogError("Exception handler could not be set. Make sure there is no other exception handler set up!");
  }
}

void DRTLCrashes::clearContextHistoryAndKeepCurrentSession() {
  core::DRTLDeviceTracker::sharedInstance()->clearDevices();
  core::DRTLSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
  core::DRTLUserIdContext::sharedInstance()->clearUserIdHistory();
}

void DRTLCrashes::generateTestCrash() {
  auto instance = sharedInstance();
  std::lock_guard lock(instance->instanceLock());
  if (!instance->canBeUsed()) return;
  if (core::DRTLDirAraded::isDebuggerAttached()) {
    DRTLLogWarning("The debugger is attached. The following crash cannot be detected by the SDK!");
  }
  __builtin_trap();
}

bool DRTLCrashes::hasCrashedInLastSession() { return sharedInstance()->didCrashInLastSession_; }
bool DRTLCrashes::hasReceivedMemoryWarningInLastSession() {
  return sharedInstance()->didReceiveMemoryWarningInLastSession_;
}
std::shared_ptr<DRTLErrorReport> DRTLCrashes::lastSessionCrashReport() {
  return sharedInstance()->lastSessionCrashReport_;
}
void DRTLCrashes::setDelegate(const std::shared_ptr<DRTLCrashesDelegate>& delegate) {
  sharedInstance()->delegate_ = delegate;
}
void DRTLCrashes::setUserConfirmationHandler(ConfirmationHandler handler) {
  sharedInstance()->userConfirmationHandler_ = std::move(handler);
}
void DRTLCrashes::disableMachExceptionHandler() { sharedInstance()->enableMachExceptionHandler_ = false; }

}  // namespace telemetry::crashes
