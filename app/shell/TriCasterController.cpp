#include "app/shell/TriCasterController.h"

namespace app {

TriCasterController::TriCasterController() = default;

void TriCasterController::connect() { notice_.note(); }

void TriCasterController::disconnect() {}

}  // namespace app
