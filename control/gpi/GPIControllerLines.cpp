#include "control/gpi/GPIControllerLines.h"

#include "control/gpi/GPIDeviceController.h"
#include "foundation/CVNLogController.h"

namespace control {

GPIControllerInput::GPIControllerInput(GPIDeviceController* controller, std::int32_t index)
    : controller_(controller), index_(index) {}

platform::Value GPIControllerInput::state() const { return platform::Value(controller_->getInputStateAtIndex(index_)); }

std::optional<platform::Clock::TimePoint> GPIControllerInput::lastChangeToOnTimestamp() const {
  std::lock_guard guard(mutex_);
  return lastChangeToOn_;
}

void GPIControllerInput::setLastChangeToOnTimestamp(std::optional<platform::Clock::TimePoint> timestamp) {
  std::lock_guard guard(mutex_);
  lastChangeToOn_ = timestamp;
}

std::optional<platform::Clock::TimePoint> GPIControllerInput::lastChangeToOffTimestamp() const {
  std::lock_guard guard(mutex_);
  return lastChangeToOff_;
}

void GPIControllerInput::setLastChangeToOffTimestamp(std::optional<platform::Clock::TimePoint> timestamp) {
  std::lock_guard guard(mutex_);
  lastChangeToOff_ = timestamp;
}

GPIControllerOutput::GPIControllerOutput(GPIDeviceController* controller, std::int32_t index)
    : controller_(controller), index_(index) {}

platform::Value GPIControllerOutput::state() const {
  return platform::Value(controller_->getOutputStateAtIndex(index_));
}

void GPIControllerOutput::setState(const platform::Value& state) {
  const bool on = state.booleanOr(false);
  controller_->logMessageWithLevel(2, false, "Trelvane: AppleScript Request: Set output %d to %d", index_ + 1,
                                   on ? 1 : 0);
  controller_->setOutputState(on, index_);
}

void GPIControllerOutput::handlePulseCommand() {
  controller_->logMessageWithLevel(2, false, "Trelvane: AppleScript Request: Pulse output %d", index_ + 1);
  controller_->pulseOutputAtIndex(index_);
}

}  // namespace control
