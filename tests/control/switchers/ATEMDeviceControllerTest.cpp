// The ATEM controller against the fake switcher driver: connecting, the
// failure reasons and their retries, the model, control, tally triggers,
// a lost connection, and driver events racing with disconnects.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/ATEMSwitcherDriver.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/control/switchers/FakeSwitcherDriverLink.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

using testing_support::fakeSwitcher;

class RecordingATEMDelegate : public ATEMDeviceController_Delegate {
 public:
  void ATEMDeviceDidConnect(ATEMDeviceController&) override { ++connects; }
  void ATEMDeviceDidDisconnect(ATEMDeviceController&) override {}
  void ATEMLabelOfDownstreamKeyerAtIndex(std::int32_t, const std::string& label, ATEMDeviceController&) override {
    keyerLabels.push_back(label);
  }
  void ATEMLabelOfInputAtIndex(std::int32_t index, const std::string& label, ATEMDeviceController&) override {
    inputLabels.push_back(std::to_string(index) + " " + label);
  }
  void ATEMConfigurationDidChangeForDevice(ATEMDeviceController&) override {}
  void ATEMSelectedInput(std::int32_t input, std::int32_t output, ATEMDeviceController&) override {
    selections.emplace_back(input, output);
  }
  void ATEMExternalAudioInputDidChangeState(bool, ATEMDeviceController&) override {}
  void ATEMDownstreamKeyerAtIndex(std::int32_t, bool, ATEMDeviceController&) override {}
  void ATEMTriggeredPlaybackStartForDevice(ATEMDeviceController& device) override {
    ++starts;
    EXPECT_TRUE(device.isPlayingClip());
  }
  void ATEMTriggeredPlaybackStopForDevice(ATEMDeviceController&) override { ++stops; }

  int connects = 0;
  int starts = 0;
  int stops = 0;
  std::vector<std::string> inputLabels;
  std::vector<std::string> keyerLabels;
  std::vector<std::pair<std::int32_t, std::int32_t>> selections;
};

class ATEMDeviceControllerTest : public ::testing::Test {
 protected:
  ATEMDeviceControllerTest() {
    platform::RunLoop::main().attachCurrentThread();
    defaults_.setObject(platform::Value(std::string(VZ_FAKE_SWITCHER_DRIVER)), kATEMSwitcherSDKPathKey);
    fakeSwitcher().reset();
    // Camera 1 and the clip player, a source of another type, an aux bus and
    // an input without a name (watched, never listed).
    fakeSwitcher().addInput(1, "Camera 1", atem::kPortTypeExternal);
    fakeSwitcher().addInput(2, "Clip Player", atem::kPortTypeExternal);
    fakeSwitcher().addInput(1000, "Color Bars", atem::fourCharCode("blck"));
    fakeSwitcher().addInput(8001, "Aux 1", atem::kPortTypeAuxOutput);
    fakeSwitcher().addInput(99, "", atem::kPortTypeExternal);
    fakeSwitcher().setKeyerCount(2);
    fakeSwitcher().addMacro(4, "Intro");
    controller_ = std::make_unique<ATEMDeviceController>();
    controller_->setDelegate(&delegate_);
    controller_->setSwitcherIPAddress("127.0.0.1");
  }
  ~ATEMDeviceControllerTest() override {
    controller_.reset();
    fakeSwitcher().waitForEvents();
    drain();
  }

  static void drain() {
    for (int i = 0; i < 5; ++i) platform::RunLoop::main().drainReadyTasks();
  }
  bool runUntil(const std::function<bool()>& done) { return platform::RunLoop::main().runUntil(done); }
  void connectAndWait() {
    controller_->connect();
    ASSERT_TRUE(runUntil([&] { return controller_->isConnected().get(); }));
  }
  // Lets driver events reach the main thread and run there.
  void deliver() {
    fakeSwitcher().waitForEvents();
    drain();
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  testing_support::CapturedTechnicalLog log_{defaults_};
  RecordingATEMDelegate delegate_;
  std::unique_ptr<ATEMDeviceController> controller_;
};

TEST_F(ATEMDeviceControllerTest, WithoutADriverFailsOnceAndNeverRetries) {
  for (const char* path : {"/nonexistent/switcher-driver.so", "relative/driver.so"}) {
    defaults_.setObject(platform::Value(std::string(path)), kATEMSwitcherSDKPathKey);
    const std::size_t before = log_.linesWith("could not connect to ATEM switcher (ATEM Drivers not installed)");
    controller_->connect();
    ASSERT_TRUE(runUntil([&] {
      return log_.linesWith("could not connect to ATEM switcher (ATEM Drivers not installed)") == before + 1;
    }));
    clock_.advance(kATEMRetryDelay * 3);
    platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(200));
    EXPECT_EQ(log_.linesWith("ATEM Drivers not installed"), before + 1) << path;
    EXPECT_FALSE(controller_->isConnecting().get());
  }
  EXPECT_EQ(fakeSwitcher().connectAttempts(), 0);
}

TEST_F(ATEMDeviceControllerTest, ConnectionFailuresAreRetriedUnlessTheFirmwareDoesNotFit) {
  struct Case {
    atem::FourCharCode reason;
    const char* text;
    bool retried;
  };
  const Case cases[] = {
      {atem::kConnectFailureNoResponse, kATEMNoResponse, true},
      {atem::kConnectFailureIncompatibleFirmware, kATEMIncompatibleFirmware, false},
      {atem::fourCharCode("what"), kATEMUnknownFailure, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fakeSwitcher().reset();
    fakeSwitcher().setConnectFailure(c.reason);
    controller_ = std::make_unique<ATEMDeviceController>();
    controller_->connect();
    ASSERT_TRUE(runUntil([&] { return fakeSwitcher().connectAttempts() == 1 && log_.linesWith(c.text) > 0; }));
    for (int retry = 1; retry <= 2; ++retry) {
      drain();
      clock_.advance(kATEMRetryDelay);
      if (c.retried) {
        // The failure's log line comes with the next retry's scheduling.
        ASSERT_TRUE(runUntil([&] {
          return fakeSwitcher().connectAttempts() == 1 + retry && log_.linesWith(c.text) == 1u + retry;
        }));
      } else {
        platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(200));
        EXPECT_EQ(fakeSwitcher().connectAttempts(), 1);
      }
    }
    controller_->disconnect();
    ASSERT_TRUE(runUntil([&] { return !controller_->isConnecting().get(); }));
    clock_.advance(kATEMRetryDelay);
    drain();
    controller_.reset();
  }
  EXPECT_EQ(log_.linesWith(kATEMIncompatibleFirmware), 1u);
}

TEST_F(ATEMDeviceControllerTest, ConnectingReadsTheModel) {
  connectAndWait();
  EXPECT_FALSE(controller_->isConnecting().get());
  EXPECT_EQ(controller_->switcherName(), "Fake Switcher");
  EXPECT_EQ(delegate_.connects, 1);

  const std::vector<ATEMInput> inputs = controller_->availableInputs().get();
  ASSERT_EQ(inputs.size(), 4u);  // the input without a name is left out
  EXPECT_EQ(inputs[1], ATEMInput("Clip Player", atem::kPortTypeExternal, 2));
  EXPECT_TRUE(inputs[1].isExternal());
  EXPECT_FALSE(inputs[2].isExternal());
  EXPECT_EQ(delegate_.inputLabels,
            (std::vector<std::string>{"0 Camera 1", "1 Clip Player", "2 Color Bars", "3 Aux 1"}));

  const std::vector<ATEMOutput> outputs = controller_->availableOutputs();
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0].name, "Program Output");
  EXPECT_EQ(outputs[1].identifier, kATEMPreviewOutputIdentifier);
  EXPECT_TRUE(outputs[2].isAux);
  EXPECT_EQ(outputs[2].identifier, 8001);
  EXPECT_EQ(controller_->indexOfOutputWithName("Aux 1"), 2);
  EXPECT_EQ(controller_->nameOfOutputAtIndex(3), std::nullopt);
  EXPECT_EQ(delegate_.keyerLabels, (std::vector<std::string>{"Downstream Keyer 1", "Downstream Keyer 2"}));

  fakeSwitcher().renameInput(1, "Studio Camera");
  deliver();
  EXPECT_EQ(controller_->availableInputs().get()[0].name, "Studio Camera");
  EXPECT_EQ(delegate_.inputLabels.back(), "0 Studio Camera");

  fakeSwitcher().setProgramInput(2);
  deliver();
  EXPECT_EQ(controller_->programOutput()->selectedSource, 2);
  EXPECT_EQ(delegate_.selections.back(), std::make_pair(1, 0));
}

TEST_F(ATEMDeviceControllerTest, ControlOperations) {
  EXPECT_FALSE(controller_->selectInputAtIndex(0, 0));  // not connected
  EXPECT_FALSE(controller_->runMacroWithName("Intro"));
  connectAndWait();

  EXPECT_TRUE(controller_->selectInputAtIndex(1, 1));  // preview
  EXPECT_EQ(fakeSwitcher().previewInput(), 2);
  EXPECT_TRUE(controller_->selectInputAtIndex(0, 2));  // aux: accepted, nothing changes
  EXPECT_EQ(fakeSwitcher().auxSource(8001), 0);
  EXPECT_FALSE(controller_->selectInputAtIndex(4, 0));
  EXPECT_FALSE(controller_->selectInputAtIndex(0, 3));

  EXPECT_TRUE(controller_->setAuxOutputWithIdentifier(8001, 1));
  EXPECT_EQ(fakeSwitcher().auxSource(8001), 1);
  EXPECT_EQ(controller_->outputWithIdentifier(8001)->selectedSource, 1);
  EXPECT_EQ(delegate_.selections.back(), std::make_pair(0, 2));
  EXPECT_FALSE(controller_->setAuxOutputWithIdentifier(1, 2));  // not an aux bus

  EXPECT_TRUE(controller_->setKeyState(true, 1));
  EXPECT_TRUE(controller_->keyStateForDownstreamKeyerAtIndex(1));
  EXPECT_FALSE(controller_->keyStateForDownstreamKeyerAtIndex(0));
  EXPECT_FALSE(controller_->setKeyState(true, 2));

  EXPECT_TRUE(controller_->runMacroWithName("Intro"));
  EXPECT_EQ(fakeSwitcher().macroRuns(4), 1);
  EXPECT_FALSE(controller_->runMacroWithName("Outro"));
  EXPECT_TRUE(controller_->isBackgroundEnabledForTransitions());
}

TEST_F(ATEMDeviceControllerTest, ProgramTallyOfTheClipPlayerInputTriggersPlayback) {
  controller_->setIndexOfClipPlayerInput(1);  // "Clip Player", identifier 2
  connectAndWait();
  struct Step {
    std::int64_t identifier;
    bool onProgram;
    int starts;
    int stops;
  };
  const Step steps[] = {
      {2, true, 1, 0}, {2, false, 1, 1}, {1, true, 1, 1}, {1, false, 1, 1}, {2, true, 2, 1}, {2, true, 3, 1},
  };
  for (const Step& step : steps) {
    fakeSwitcher().setProgramTally(step.identifier, step.onProgram);
    deliver();
    EXPECT_EQ(delegate_.starts, step.starts) << step.identifier << " " << step.onProgram;
    EXPECT_EQ(delegate_.stops, step.stops) << step.identifier << " " << step.onProgram;
  }
}

TEST_F(ATEMDeviceControllerTest, AnUnsetClipPlayerInputIgnoresInputsOutsideTheList) {
  ASSERT_EQ(controller_->indexOfClipPlayerInput(), -1);
  connectAndWait();
  fakeSwitcher().setProgramTally(99, true);  // watched, but not in the list
  fakeSwitcher().setProgramTally(99, false);
  deliver();
  EXPECT_EQ(delegate_.starts, 0);
  EXPECT_EQ(delegate_.stops, 0);
}

TEST_F(ATEMDeviceControllerTest, ALostConnectionClearsTheNameBeforeTheRetry) {
  connectAndWait();
  fakeSwitcher().dropConnection();
  ASSERT_TRUE(runUntil([&] { return log_.linesWith("ATEMPlugin: lost connection to the ATEM switcher") == 1; }));
  drain();
  EXPECT_EQ(controller_->switcherName(), "");
  EXPECT_FALSE(controller_->isConnected().get());
  EXPECT_EQ(fakeSwitcher().connectAttempts(), 1);
  EXPECT_EQ(fakeSwitcher().registeredCallbacks(), 0);

  clock_.advance(kATEMRetryDelay);
  ASSERT_TRUE(runUntil([&] { return controller_->isConnected().get(); }));
  EXPECT_EQ(fakeSwitcher().connectAttempts(), 2);
  EXPECT_EQ(controller_->switcherName(), "Fake Switcher");
  EXPECT_EQ(delegate_.connects, 2);
}

TEST_F(ATEMDeviceControllerTest, AMonitoringThatCannotStartIsGivenUpAndRetried) {
  fakeSwitcher().setRefuseMacroPool(true);
  controller_->connect();
  ASSERT_TRUE(runUntil([&] { return log_.linesWith("Could not get the IID_IBMDSwitcherMacroPool") == 1; }));
  ASSERT_TRUE(runUntil([&] { return !controller_->isConnecting().get(); }));
  EXPECT_EQ(log_.linesWith(kATEMUnknownFailure), 1u);
  EXPECT_EQ(fakeSwitcher().registeredCallbacks(), 0);

  fakeSwitcher().setRefuseMacroPool(false);
  clock_.advance(kATEMRetryDelay);
  ASSERT_TRUE(runUntil([&] { return controller_->isConnected().get(); }));
  EXPECT_EQ(fakeSwitcher().connectAttempts(), 2);
}

TEST_F(ATEMDeviceControllerTest, DriverEventsDuringRepeatedDisconnectsEndInBoundedTime) {
  controller_->setIndexOfClipPlayerInput(1);
  connectAndWait();
  for (int round = 0; round < 20; ++round) {
    fakeSwitcher().setProgramTally(2, round % 2 == 0);
    fakeSwitcher().setProgramInput(round % 3);
    controller_->disconnect();
    controller_->connect();
  }
  controller_->disconnect();
  deliver();
  ASSERT_TRUE(runUntil([&] { return !controller_->isConnecting().get() && !controller_->isConnected().get(); }));
  controller_.reset();
  // The last disconnect's unregistrations may still be on their way from the driver's thread.
  EXPECT_TRUE(runUntil([&] {
    deliver();
    return fakeSwitcher().registeredCallbacks() == 0;
  }));
}

TEST(ATEMDeviceControllerHelpers, FourCharacterCodesAndAddresses) {
  EXPECT_EQ(ATEMDeviceController::stringWithOSType(atem::kPortTypeExternal), "extn");
  EXPECT_EQ(ATEMDeviceController::stringWithOSType(0x6F6E6143), "onaC");
  EXPECT_TRUE(ATEMDeviceController::validateIPAddress("10.0.0.1"));
  EXPECT_TRUE(ATEMDeviceController::validateIPAddress("fe80::1"));
  EXPECT_FALSE(ATEMDeviceController::validateIPAddress("::1"));  // under 7 characters
  EXPECT_FALSE(ATEMDeviceController::validateIPAddress("switcher.local"));
}

}  // namespace
}  // namespace control
