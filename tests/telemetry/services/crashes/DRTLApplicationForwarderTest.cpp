// The application forwarder follows the bundle switch and the crash-on-exceptions
// default, and installs its forwarding once per process.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TelemetryTestSupport.h"
#include "platform/ApplicationExceptionForwarding.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "telemetry/services/crashes/exceptions/DRTLApplicationForwarder.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::crashes {
namespace {

using core::testing_support::LogCapture;

class DRTLApplicationForwarderTest : public ::testing::Test {
 protected:
  ~DRTLApplicationForwarderTest() override { platform::Bundle::setMainForTesting(nullptr); }

  void useBundleValue(const platform::Value& value) {
    platform::Dictionary info{{"CFBundleIdentifier", platform::Value("com.example.forwarder")}};
    if (!value.isNone()) info[kDRTLApplicationForwarderEnabledKey] = value;
    const std::filesystem::path bundle = folder_.path() / ("bundle" + std::to_string(++bundles_));
    std::filesystem::create_directories(bundle);
    ASSERT_TRUE(platform::writePropertyListFile(bundle / "Info.plist", platform::Value(info)).ok());
    platform::Bundle::setMainForTesting(std::make_shared<platform::Bundle>(bundle));
  }

  testing_support::TemporaryDirectory folder_;
  int bundles_ = 0;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride standard_{defaults_};
};

TEST_F(DRTLApplicationForwarderTest, TheSwitchesDecideAndTheForwardingIsInstalledOnce) {
  const std::string disabled =
      "Application forwarder for info.plist key 'DirAradedApplicationForwarderEnabled' disabled. It won't use swizzling.";
  const std::string enabled =
      "Application forwarder for info.plist key 'DirAradedApplicationForwarderEnabled' enabled. It may use swizzling.";
  const std::string advice = "Catching uncaught exceptions thrown on the main thread disabled.";
  const std::string swizzled = "Selector 'sendEvent:' of class 'NSApplication' is swizzled.";
  struct Case {
    const char* name;
    platform::Value bundleValue;
    bool crashOnExceptions;
    bool allowed;
    bool advised;
    bool installed;
    int swizzledLines;
  };
  // In this order: the last rows install, once for the process.
  const Case cases[] = {
      {"bundle NO wins over the default", platform::Value(false), true, false, false, false, 0},
      {"bundle string NO", platform::Value("NO"), true, false, false, false, 0},
      {"absent key, default not set", platform::Value(), false, true, true, false, 0},
      {"bundle YES, default set", platform::Value("YES"), true, true, false, true, 1},
      {"again: allowed, installed once", platform::Value(), true, true, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    core::DRTLLogger::setCurrentLogLevel(core::DRTLLogLevelVerbose);
    useBundleValue(c.bundleValue);
    defaults_.setObject(platform::Value(c.crashOnExceptions), kDRTLCrashOnExceptionsKey);
    DRTLApplicationForwarder::registerForwarding();
    EXPECT_EQ(capture.count(core::DRTLLogLevelDebug, disabled), c.allowed ? 0 : 1);
    EXPECT_EQ(capture.count(core::DRTLLogLevelDebug, enabled), c.allowed ? 1 : 0);
    EXPECT_EQ(capture.count(core::DRTLLogLevelInfo, advice), c.advised ? 1 : 0);
    EXPECT_EQ(static_cast<bool>(platform::applicationExceptionForwarder()), c.installed);
    EXPECT_EQ(capture.count(core::DRTLLogLevelDebug, swizzled), c.swizzledLines);
  }
}

}  // namespace
}  // namespace telemetry::crashes
