#include "telemetry/services/crashes/DRTLCrashes.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "platform/ApplicationActivity.h"
#include "platform/Bundle.h"
#include "platform/UncaughtException.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/exceptions/DRTLCrashesCXXExceptionWrapperException.h"
#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"
#include "telemetry/services/crashes/DRTLCrashesSupport.h"
#include "telemetry/services/crashes/DRTLCrashesUtil.h"
#include "telemetry/services/crashes/DRTLWrapperCrashesHelper.h"
#include "telemetry/services/crashes/exceptions/DRTLApplicationForwarder.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperExceptionManager.h"

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

// An uncaught C++ exception goes to the crash reporter's uncaught-exception
// hook with the stack of its throw; the abort then writes the report.
void forwardCXXExceptionToCrashReporter(const DRTLCrashesCXXExceptionInfo* info) {
  const DRTLCrashesCXXExceptionWrapperException wrapper(info);
  if (const platform::UncaughtExceptionHandler handler = platform::uncaughtExceptionHandler()) {
    const std::vector<std::uint64_t> frames = wrapper.callStackReturnAddresses();
    handler(wrapper.name().c_str(), wrapper.reason().c_str(), frames.data(), frames.size());
  }
  std::abort();
}

// An exception the application object caught: its type, its text and the
// stack of its throw when this thread's throw record holds one, else the
// stack now (without the first frame, the hook's or this function's own).
void forwardCaughtExceptionToCrashReporter(const std::exception_ptr& exception,
                                           platform::UncaughtExceptionHandler handler) {
  DRTLCrashesCXXExceptionInfo info;
  std::string message;
  try {
    std::rethrow_exception(exception);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    info.typeName = type ? type->name() : nullptr;
    try {
      throw;
    } catch (const std::exception& error) {
      message = error.what();
      info.exceptionMessage = message.c_str();
    } catch (...) {
    }
  }
  void* now[detail::kThrowRecordFrames];
  void* const* source = now;
  int count = 0;
  const auto* record = detail::throwCaptureOn()
                           ? static_cast<const detail::ThrowRecord*>(pthread_getspecific(detail::throwRecordKey()))
                           : nullptr;
  if (record && record->frameCount > 0) {
    source = record->frames;
    count = record->frameCount;
  } else {
    count = backtrace(now, detail::kThrowRecordFrames);
  }
  std::vector<std::uint64_t> frames;
  for (int i = 1; i < count; ++i) frames.push_back(reinterpret_cast<std::uint64_t>(source[i]));
  info.frameCount = static_cast<std::uint32_t>(frames.size());
  info.frameAddresses = frames.data();
  const DRTLCrashesCXXExceptionWrapperException wrapper(&info);
  handler(wrapper.name().c_str(), wrapper.reason().c_str(), frames.data(), frames.size());
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

void DRTLCrashes::applicationDidReportException(const std::exception_ptr& exception) {
  if (!exception || core::DRTLDirAraded::isDebuggerAttached()) return;
  std::shared_ptr<DRTLCrashes> instance;
  {
    std::lock_guard lock(singletonMutex());
    instance = singleton();
  }
  if (!instance || !instance->exceptionHandlerInstalled_) return;
  if (const platform::UncaughtExceptionHandler handler = platform::uncaughtExceptionHandler()) {
    forwardCaughtExceptionToCrashReporter(exception, handler);
  }
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
    // A wrapper layer may keep the uncaught-exception handler for its own runtime.
    const auto setupDelegate = DRTLWrapperCrashesHelper::crashHandlerSetupDelegate();
    const bool uncaughtHandler =
        setupDelegate ? setupDelegate->shouldEnableUncaughtExceptionHandler().value_or(true) : true;
    if (setupDelegate) setupDelegate->willSetUpCrashHandlers();
    configureCrashReporter(uncaughtHandler);
    if (setupDelegate) setupDelegate->didSetUpCrashHandlers();
    watchMemoryPressure(true);
    observeForeground(true);
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
      // A report still pending needs the session and user of its crash time at the next launch.
      // The history is settled before processing counts as done, so a host that waits for it
      // and then sets a user id keeps it.
      if (!crashReporter_ || !crashReporter_->hasPendingCrashReport()) clearContextHistoryAndKeepCurrentSession();
      markProcessingDone();
    } else {
      startDelayedCrashProcessing();
    }
    DRTLLogInfo(core::DRTLDirAraded::isDebuggerAttached()
                    ? "Crashes service has been enabled but the service cannot detect crashes due to running the "
                      "application with a debugger attached."
                    : "Crashes service has been enabled.");
    return;
  }
  watchMemoryPressure(false);
  observeForeground(false);
  DRTLLogDebug("Cleaning up all crash files.");
  DRTLWrapperExceptionManager::deleteAllWrapperExceptions();
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
    DRTLCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(forwardCXXExceptionToCrashReporter);
    DRTLLogDebug("Exception handler successfully initialized.");
  } else {
    DRTLLogError("Exception handler could not be set. Make sure there is no other exception handler set up!");
  }
  DRTLApplicationForwarder::registerForwarding();
}

void DRTLCrashes::watchMemoryPressure(bool enabled) {
  if (!enabled) {
    memoryPressureSource_.reset();  // cancels
    return;
  }
  if (memoryPressureSource_) return;
  memoryPressureSource_ = DRTLCrashesMemoryPressureSource::make();
  std::weak_ptr<DRTLCrashes> weak = shared_from_this();
  memoryPressureSource_->resume([weak] {
    if (auto self = weak.lock()) self->didReceiveMemoryWarning();
  });
}

void DRTLCrashes::observeForeground(bool enabled) {
  if (!enabled) {
    foregroundObserver_.reset();
    return;
  }
  if (foregroundObserver_.isActive()) return;
  std::weak_ptr<DRTLCrashes> weak = shared_from_this();
  foregroundObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::kApplicationWillBecomeActiveNotification, nullptr, [weak](const platform::Notification&) {
        if (auto self = weak.lock()) self->applicationWillEnterForeground();
      });
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
