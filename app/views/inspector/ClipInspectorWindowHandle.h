#pragma once
// ClipInspectorWindowHandle: the clip inspector as the application delegate
// holds it. Its controller is made with the handle, at the delegate's init,
// and follows the playlist windows and the media browser from then on; the
// panel (with the application menus, and Undo and Redo on the inspected
// playlist) is made the first time the operator opens it.
//
// Owned by the application delegate. GUI thread.

#include <functional>
#include <memory>

#include "app/inspector/ClipInspectorWindowController.h"
#include "app/inspector/DelegateClipInspectorContext.h"
#include "app/shell/WindowControllers.h"

namespace app {
class ApplicationDelegate;
}

namespace app::views {

class ClipInspectorPanel;

class ClipInspectorWindowHandle final : public WindowController {
 public:
  explicit ClipInspectorWindowHandle(std::function<ApplicationDelegate*()> delegate);
  ~ClipInspectorWindowHandle() override;

  void showWindow() override;
  inspector::ClipInspectorWindowController& controller() { return *controller_; }
  // Nullptr until first shown.
  ClipInspectorPanel* panel() const { return panel_.get(); }

 private:
  std::function<ApplicationDelegate*()> delegate_;
  inspector::DelegateClipInspectorContext context_;
  std::unique_ptr<inspector::ClipInspectorWindowController> controller_;
  std::unique_ptr<ClipInspectorPanel> panel_;  // goes first, detaching from the controller
};

std::function<std::shared_ptr<WindowController>()> makeClipInspectorFactory(
    std::function<ApplicationDelegate*()> delegate);

}  // namespace app::views
