#pragma once
// A fixture for the context tests: a fresh settings file under the temporary
// XDG_CONFIG_HOME, a manual clock, and fresh shared contexts.

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLSessionContext.h"

namespace telemetry::core::testing_support {

class ContextFixture : public ::testing::Test {
 protected:
  ContextFixture()
      : clock_(platform::Clock::WallTime(std::chrono::seconds(1'600'000'000))),
        useClock_(clock_),
        defaults_(platform::userConfigurationFolder() /
                  (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".plist")),
        useDefaults_(defaults_) {
    std::filesystem::remove(defaults_.persistentDomainFile());
    DRTLSessionContext::resetSharedInstance();
    DRTLUserIdContext::resetSharedInstance();
    DRTLDeviceTracker::resetSharedInstance();
  }
  ~ContextFixture() override {
    DRTLSessionContext::resetSharedInstance();
    DRTLUserIdContext::resetSharedInstance();
    DRTLDeviceTracker::resetSharedInstance();
  }

  platform::Date now() const {
    return std::chrono::time_point_cast<std::chrono::microseconds>(clock_.wallNow());
  }
  void advance(std::chrono::seconds by) { clock_.setWallTime(clock_.wallNow() + by); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride useClock_;
  platform::UserDefaults defaults_;
  platform::ScopedStandardUserDefaultsOverride useDefaults_;
};

}  // namespace telemetry::core::testing_support
