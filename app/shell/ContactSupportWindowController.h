#pragma once
// ContactSupportWindowController: the Contact Support window (collect logs
// and system information, write to the help desk). This build has no support
// desk client: the controller shows nothing and says once in the technical
// log that it is not available.
//
// Owned by the application delegate, created at its start. Main thread.

#include <string>

#include "app/shell/NotAvailableNotice.h"

namespace app {

inline constexpr const char* kContactSupportWindowNibName = "ContactSupportWindowController";

class ContactSupportWindowController {
 public:
  // initWithWindowNibName:
  explicit ContactSupportWindowController(std::string windowNibName);
  ContactSupportWindowController(const ContactSupportWindowController&) = delete;
  ContactSupportWindowController& operator=(const ContactSupportWindowController&) = delete;

  const std::string& windowNibName() const { return windowNibName_; }
  void showWindow();

 private:
  const std::string windowNibName_;
  NotAvailableNotice notice_{"Contact Support"};
};

}  // namespace app
