#include "telemetry/services/crashes/exceptions/DRTLApplicationForwarder.h"

#include <mutex>
#include <string>

#include "platform/ApplicationExceptionForwarding.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/services/crashes/DRTLCrashes.h"

namespace telemetry::crashes {
namespace {

constexpr const char* kCrashesLogTag = "DirAradedCrashes";

bool forwardingAllowed() {
  const platform::Value value =
      platform::Bundle::main()->objectForInfoDictionaryKey(kDRTLApplicationForwarderEnabledKey);
  if (value.isNone()) return true;
  if (const std::string* text = value.string()) {
    // A string's boolean: "YES", "true" or a number other than 0.
    const char first = text->empty() ? '\0' : (*text)[0];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't' || (first >= '1' && first <= '9');
  }
  return value.booleanOr(true);
}

}  // namespace

void DRTLApplicationForwarder::registerForwarding() {
  const std::string key = kDRTLApplicationForwarderEnabledKey;
  if (!forwardingAllowed()) {
    DRTL_LOG(core::DRTLLogLevelDebug, kCrashesLogTag,
             "Application forwarder for info.plist key '" + key + "' disabled. It won't use swizzling.");
    return;
  }
  DRTL_LOG(core::DRTLLogLevelDebug, kCrashesLogTag,
           "Application forwarder for info.plist key '" + key + "' enabled. It may use swizzling.");
  if (!platform::UserDefaults::standard().boolForKey(kDRTLCrashOnExceptionsKey)) {
    DRTL_LOG(core::DRTLLogLevelInfo, kCrashesLogTag,
             std::string("Catching uncaught exceptions thrown on the main thread disabled. Set `") +
                 kDRTLCrashOnExceptionsKey +
                 "` flag before SDK initialization, to allow crash on uncaught exceptions and the SDK can report them.");
    return;
  }
  // The application object's reporting and its event guard are one hook here.
  static std::once_flag installed;
  std::call_once(installed, [] {
    platform::setApplicationExceptionForwarder(
        [](const std::exception_ptr& exception) { DRTLCrashes::applicationDidReportException(exception); });
    DRTL_LOG(core::DRTLLogLevelDebug, kCrashesLogTag, "Selector 'reportException:' of class 'NSApplication' is swizzled.");
    DRTL_LOG(core::DRTLLogLevelDebug, kCrashesLogTag, "Selector 'sendEvent:' of class 'NSApplication' is swizzled.");
  });
}

}  // namespace telemetry::crashes
