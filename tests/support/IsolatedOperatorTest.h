#pragma once
// A test with the process-wide state an operator's session touches replaced:
// a manual clock, user defaults in a private folder and recorded alerts, so
// that nothing reads the real time, the user's settings or shows a dialog.
// Members are declared first, so they outlive what the derived test builds.
// Tests using it link `foundation`.

#include <gtest/gtest.h>

#include <memory>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace testing_support {

class IsolatedOperatorTest : public ::testing::Test {
 protected:
  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ =
      std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter alertPresenter_{alerts_};
};

}  // namespace testing_support
