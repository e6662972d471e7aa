#pragma once
// What an application delegate needs around it in a headless test: an
// application object that never quits nor shows a modal window, and a GPI box
// watcher that finds no boxes.

#include "app/shell/CorvaneApplication.h"
#include "control/gpi/CVNTrelvaneController.h"

namespace app_testing {

class HeadlessApplication : public app::CorvaneApplication {
 public:
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
};

class NoBoxes : public control::GPIBoxWatcher {
 public:
  void start(Events) override {}
};

}  // namespace app_testing
