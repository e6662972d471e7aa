#pragma once
// DRTLApplicationForwarder: hands exceptions that the application object
// catches around an event handler to the crash service before the
// application's own reporting, through the platform's forwarding hook (the
// window layer's application object calls it; telemetry links no window
// system). Allowed unless the main bundle's "DirAradedApplicationForwarderEnabled"
// says NO, and installed only while the default
// "NSApplicationCrashOnExceptions" is YES. Installed at most once per process.

namespace telemetry::crashes {

inline constexpr const char* kDRTLApplicationForwarderEnabledKey = "DirAradedApplicationForwarderEnabled";
inline constexpr const char* kDRTLCrashOnExceptionsKey = "NSApplicationCrashOnExceptions";

class DRTLApplicationForwarder {
 public:
  static void registerForwarding();
};

}  // namespace telemetry::crashes
