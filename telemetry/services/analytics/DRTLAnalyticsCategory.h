#pragma once
// Automatic page tracking: once activated, every view controller the window
// layer shows becomes a page named after its class (the last "::" part, less
// "ViewController"), while the analytics service has automatic tracking on.
// A page seen while the service is not available is remembered and replayed
// when the service is enabled. Runs on the main thread.

#include <optional>
#include <string>

namespace telemetry::analytics {

struct DRTLAnalyticsCategory {
  // Installs the appearance handler once.
  static void activateCategory();
  static std::optional<std::string> missedPageViewName();
  // The page name of a controller class; none for the skipped containers.
  static std::optional<std::string> pageNameForClassName(const std::string& className);
  static void viewControllerWillAppear(const std::string& className);
};

}  // namespace telemetry::analytics
