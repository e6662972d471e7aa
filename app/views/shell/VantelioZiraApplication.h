#pragma once
// VantelioZiraApplication: the application object of the program, the Qt
// application with the application information of CorvaneApplication and the
// product's answers. It names the application after the main bundle, makes
// the Contact Support window at the end of launching and shows it on request,
// quits on request once the current event is handled, and tells whether a
// modal window is up. Every event it delivers runs inside the exception guard
// (EventExceptionGuard.h).
//
// One per process, created first in main() on the GUI thread and destroyed
// last.

#include <memory>

#include <QApplication>

#include "app/shell/CorvaneApplication.h"
#include "app/views/shell/ContactSupportWindowHandle.h"

namespace app::views {

class VantelioZiraApplication final : public QApplication, public VantelioZiraApplicationAnswers {
  Q_OBJECT

 public:
  // `argc` must outlive the application (Qt keeps the reference).
  VantelioZiraApplication(int& argc, char** argv);

  // The main bundle, as the base layer answers.
  std::shared_ptr<const platform::Bundle> applicationMainBundle() const override;
  void terminate() override;
  bool hasModalWindow() const override;
  bool notify(QObject* receiver, QEvent* event) override;

  // The end of launching: makes the Contact Support window once.
  void finishLaunching();
  void contactSupport() override;

 private:
  std::unique_ptr<ContactSupportWindowHandle> contactSupportWindowController_;
};

}  // namespace app::views
