#include "app/playlist/AuthenticationAlert.h"

#include "foundation/CVNAlertUtilities.h"

namespace app {

bool operatorChoosesToAuthenticate() {
  return foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
             "Authentication Error !", "You must be authenticated to control a Node.", {"Authenticate", "Cancel"}) ==
         foundation::kAlertFirstButtonReturn;
}

}  // namespace app
