#pragma once
// PreferencesWindowHandle: the preferences window with its Qt-free
// controller, its node list over the application's data source and, once
// its pane is first shown, the external mixer ("Triggers") pane over the
// application delegate's two switcher controllers. Made by the factory the
// delegate calls the first time the operator asks for preferences; the
// delegate keeps it for the application's life.
//
// Main thread; the delegate and the defaults outlive it.

#include <functional>
#include <memory>

#include "app/preferences/DataSourcePreferencesNodeSource.h"
#include "app/preferences/PreferencesWindowController.h"
#include "app/shell/ApplicationDelegate.h"
#include "app/views/preferences/PreferencesWindow.h"
#include "control/views/ExternalMixerPreferencesViewController.h"

namespace app::views {

class PreferencesWindowHandle final : public WindowController {
 public:
  // `makeTriggersPane` makes the Triggers pane's controller on first use.
  using TriggersPaneFactory = std::function<std::unique_ptr<control::ExternalMixerPreferencesViewController>()>;
  PreferencesWindowHandle(preferences::PreferencesWindowController::Services services,
                          std::unique_ptr<preferences::PreferencesNodeSource> nodeSource,
                          TriggersPaneFactory makeTriggersPane);
  ~PreferencesWindowHandle() override;
  void showWindow() override;
  PreferencesWindow& window() { return *window_; }
  preferences::PreferencesWindowController& controller() { return *controller_; }

 private:
  std::unique_ptr<preferences::PreferencesNodeSource> nodeSource_;
  std::unique_ptr<preferences::PreferencesWindowController> controller_;
  TriggersPaneFactory makeTriggersPane_;
  std::unique_ptr<control::ExternalMixerPreferencesViewController> triggersPane_;  // after the window is made
  std::unique_ptr<PreferencesWindow> window_;  // goes first, with the panes it holds
};

// None while no delegate exists.
std::function<std::shared_ptr<WindowController>()> makePreferencesFactory(
    std::function<ApplicationDelegate*()> delegate);

}  // namespace app::views
