#pragma once
// What tests of the shipped plug-ins share: a ManualClock as the process
// clock (the plug-ins pace themselves on it), the technical log captured, and
// a device controller whose notifications go to a private centre and queue.
// Header only; owned by one test fixture.

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "pluginframework/CVNDeviceController.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace testing_support {

struct ClockedDeviceController {
  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride{clock};
  TemporaryDirectory folder;
  platform::UserDefaults defaults{folder.path() / "defaults.plist"};
  CapturedTechnicalLog log{defaults};
  platform::NotificationCenter center;
  platform::SerialQueue mainQueue{"test.main"};
  pluginframework::CVNDeviceController controller{
      pluginframework::CVNDeviceController::Environment{&center, &mainQueue}};
};

}  // namespace testing_support
