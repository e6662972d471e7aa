#pragma once
// The window layer reports each view or window controller it is about to
// show, by its class name, so code without a window system (telemetry) can
// follow what the operator sees. One handler at a time; reports run it on
// the reporting thread (the main thread), outside the hook's lock.

#include <functional>
#include <string>

namespace platform {

using ViewControllerAppearanceHandler = std::function<void(const std::string& className)>;

// An empty handler removes it.
void setViewControllerAppearanceHandler(ViewControllerAppearanceHandler handler);
void reportViewControllerWillAppear(const std::string& className);

}  // namespace platform
