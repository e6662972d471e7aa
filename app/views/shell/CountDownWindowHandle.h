#pragma once
// CountDownWindowHandle: a countdown window as the application delegate holds
// it: the Qt-free controller and its Qt window carrying the application's
// menus. makeCountDownFactory() gives the delegate the factory it calls for
// the menu's window and for each saved window it reopens.
//
// Owned by the application delegate (shared). Destroying it detaches the
// window from the controller first. GUI (main) thread; the delegate outlives it.

#include <functional>
#include <memory>
#include <optional>

#include "app/countdown/CountDownWindowController.h"
#include "app/shell/ApplicationDelegate.h"
#include "app/views/countdown/CountDownWindow.h"

namespace app::views {

class CountDownWindowHandle final : public CountDownWindowController {
 public:
  CountDownWindowHandle(countdown::CountDownWindowController::Services services,
                        const std::optional<platform::Dictionary>& record);
  ~CountDownWindowHandle() override;

  void loadAssignedWindowFrame() override { controller_.loadAssignedWindowFrame(); }
  void showWindow() override { controller_.showWindow(); }
  countdown::CountDownWindowController& controller() { return controller_; }
  CountDownWindow& window() { return *window_; }

 private:
  countdown::CountDownWindowController controller_;
  std::unique_ptr<CountDownWindow> window_;
};

// None while no delegate exists.
std::function<std::shared_ptr<CountDownWindowController>(const std::optional<platform::Dictionary>&)>
makeCountDownFactory(std::function<ApplicationDelegate*()> delegate);

}  // namespace app::views
