#pragma once
// VantelioZiraApplication: the application object of the program, the Qt
// application with the application information of CorvaneApplication. It
// names the application after the main bundle, quits on request once the
// current event is handled, and tells whether a modal window is up.
//
// One per process, created first in main() on the GUI thread and destroyed
// last.

#include <memory>

#include <QApplication>

#include "app/shell/CorvaneApplication.h"

namespace app::views {

class VantelioZiraApplication final : public QApplication, public CorvaneApplication {
  Q_OBJECT

 public:
  // `argc` must outlive the application (Qt keeps the reference).
  VantelioZiraApplication(int& argc, char** argv);

  // The main bundle, as the base layer answers.
  std::shared_ptr<const platform::Bundle> applicationMainBundle() const override;
  void terminate() override;
  bool hasModalWindow() const override;
};

}  // namespace app::views
