#include "app/views/shell/CountDownWindowHandle.h"

#include <QMenuBar>

#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

CountDownWindowHandle::CountDownWindowHandle(countdown::CountDownWindowController::Services services,
                                             const std::optional<platform::Dictionary>& record)
    : controller_(std::move(services), record), window_(std::make_unique<CountDownWindow>(controller_)) {
  controller_.setView(window_.get());
  controller_.awakeFromNib();
}

CountDownWindowHandle::~CountDownWindowHandle() {
  controller_.setView(nullptr);
  window_.reset();
}

std::function<std::shared_ptr<CountDownWindowController>(const std::optional<platform::Dictionary>&)>
makeCountDownFactory(std::function<ApplicationDelegate*()> delegate) {
  return [delegate = std::move(delegate)](
             const std::optional<platform::Dictionary>& record) -> std::shared_ptr<CountDownWindowController> {
    ApplicationDelegate* current = delegate();
    if (!current) return nullptr;
    countdown::CountDownWindowController::Services services{
        current->defaults(), platform::NotificationCenter::defaultCenter(),
        [current] { return current->dataSource(); }, [current] { return current->applicationWillTerminate(); }};
    auto handle = std::make_shared<CountDownWindowHandle>(std::move(services), record);
    // The window carries the application's menus, so their shortcuts work while it has the focus.
    ApplicationMenus::populate(*handle->window().menuBar(), *current, MenuOwner{&handle->window(), nullptr, {}});
    return handle;
  };
}

}  // namespace app::views
