#include "app/shell/ATEMDeviceController.h"

namespace app {

ATEMDeviceController::ATEMDeviceController() = default;

void ATEMDeviceController::connect() { notice_.note(); }

void ATEMDeviceController::disconnect() {}

}  // namespace app
