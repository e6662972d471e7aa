#pragma once
// The application's Contact Support window: the window controller over the
// real help-desk client, cloud upload and collector, and its Qt window.
// Settings come from the user defaults, secrets from the environment or the
// keychain file. Made once at the end of launching; main thread.
#include <memory>

#include "support/views/ContactSupportWindow.h"
#include "support/window/ContactSupportWindowController.h"

namespace app::views {

class ContactSupportWindowHandle {
 public:
  // delegate: the application object, which outlives the handle.
  ContactSupportWindowHandle(platform::Dictionary applicationInfo,
                             support::window::ContactSupportWindowController_Delegate& delegate);
  ~ContactSupportWindowHandle();
  void showWindow() { controller_->showWindow(); }

 private:
  std::unique_ptr<support::window::ContactSupportWindowController> controller_;
  std::unique_ptr<support::views::ContactSupportWindow> window_;
};

}  // namespace app::views
