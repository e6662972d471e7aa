#include "app/shell/ContactSupportWindowController.h"

namespace app {

ContactSupportWindowController::ContactSupportWindowController(std::string windowNibName)
    : windowNibName_(std::move(windowNibName)) {}

void ContactSupportWindowController::showWindow() { notice_.note(); }

}  // namespace app
