#pragma once
// What the GPI tests share: a manual clock, private defaults and technical
// log, the main run loop on the test thread, and a box's recorded calls.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/gpi/GPIDeviceController.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/control/gpi/FakeGPITransport.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {

struct LineChange {
  std::string kind;  // "input" or "output"
  std::int32_t index;
  bool state;
  bool operator==(const LineChange&) const = default;
};

inline void PrintTo(const LineChange& change, std::ostream* out) {
  *out << change.kind << " " << change.index << (change.state ? " on" : " off");
}

class RecordingGPIDelegate : public GPIDeviceController_Delegate {
 public:
  void GPIDeviceWithSerialNumberInputAtIndex(const std::string&, std::int32_t index, bool state) override {
    changes.push_back({"input", index, state});
  }
  void GPIDeviceWithSerialNumberOutputAtIndex(const std::string&, std::int32_t index, bool state) override {
    changes.push_back({"output", index, state});
  }
  void GPIDeviceDidFail(GPIDeviceController&) override { ++failures; }

  std::vector<LineChange> changes;
  int failures = 0;
};

class GpiTest : public ::testing::Test {
 protected:
  // Work left on the main queue by an earlier test is run before this one watches.
  GpiTest() {
    platform::RunLoop::main().attachCurrentThread();
    drainMain();
  }
  // Queued notifications hold boxes: let them go while the test's log and
  // defaults still exist.
  ~GpiTest() override { drainMain(); }

  // Runs what is ready on the main queue now.
  static void drainMain() {
    for (int i = 0; i < 5; ++i) platform::RunLoop::main().drainReadyTasks();
  }

  // Counts notifications of `name` on the default centre from now on.
  std::shared_ptr<std::vector<platform::Notification>> record(const std::string& name) {
    auto seen = std::make_shared<std::vector<platform::Notification>>();
    observers_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, nullptr, [seen](const platform::Notification& notification) { seen->push_back(notification); }));
    return seen;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::vector<platform::ObserverToken> observers_;
};

}  // namespace control
