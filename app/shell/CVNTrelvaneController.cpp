#include "app/shell/CVNTrelvaneController.h"

namespace app {

CVNTrelvaneController& CVNTrelvaneController::sharedController() {
  static CVNTrelvaneController controller;
  return controller;
}

CVNTrelvaneController::CVNTrelvaneController() { notice_.note(); }

std::vector<std::shared_ptr<GPIDeviceController>> CVNTrelvaneController::devices() const {
  std::lock_guard guard(mutex_);
  return devices_;
}

std::shared_ptr<GPIDeviceController> CVNTrelvaneController::deviceWithSerialNumber(
    std::string_view serialNumber) const {
  std::lock_guard guard(mutex_);
  for (const auto& device : devices_) {
    if (device->serialNumber() == serialNumber) return device;
  }
  return nullptr;
}

}  // namespace app
