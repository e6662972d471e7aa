#pragma once
// The application's Contact Support window: the window controller over the
// real help-desk client, cloud upload and collector, and its Qt window.
// Settings come from the user defaults, secrets from the environment or the
// keychain file. Made once at the end of launching; main thread.
#include <memory>

#include "support/views/ContactSupportWindow.h"
#include "support/window/ContactSupportWindowController.h"

namespace app {
class ApplicationDelegate;
}

namespace app::views {

class ContactSupportWindowHandle {
 public:
  // delegate: the application object, which outlives the handle. With
  // `menus`, the window carries the application's menus, so their shortcuts
  // work while it has the focus.
  ContactSupportWindowHandle(platform::Dictionary applicationInfo,
                             support::window::ContactSupportWindowController_Delegate& delegate,
                             ApplicationDelegate* menus);
  ~ContactSupportWindowHandle();
  void showWindow() { controller_->showWindow(); }
  support::views::ContactSupportWindow& window() { return *window_; }

 private:
  std::unique_ptr<support::window::ContactSupportWindowController> controller_;
  std::unique_ptr<support::views::ContactSupportWindow> window_;
};

}  // namespace app::views
