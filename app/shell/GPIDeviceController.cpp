#include "app/shell/GPIDeviceController.h"

namespace app {

GPIDeviceController::GPIDeviceController(std::string serialNumber)
    : serialNumber_(std::move(serialNumber)), notice_("Output control of GPI box " + serialNumber_) {}

void GPIDeviceController::setOutputState(bool state, std::int64_t index) {
  outputStates_[index] = state;
  notice_.note();
}

bool GPIDeviceController::outputState(std::int64_t index) const {
  auto found = outputStates_.find(index);
  return found != outputStates_.end() && found->second;
}

}  // namespace app
