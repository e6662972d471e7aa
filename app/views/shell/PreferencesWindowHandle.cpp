#include "app/views/shell/PreferencesWindowHandle.h"

#include <QMenuBar>

#include "app/views/shell/ApplicationMenus.h"
#include "control/gpi/CVNTrelvaneController.h"

namespace app::views {

PreferencesWindowHandle::PreferencesWindowHandle(preferences::PreferencesWindowController::Services services,
                                                 std::unique_ptr<preferences::PreferencesNodeSource> nodeSource,
                                                 TriggersPaneFactory makeTriggersPane)
    : nodeSource_(std::move(nodeSource)), makeTriggersPane_(std::move(makeTriggersPane)) {
  controller_ = std::make_unique<preferences::PreferencesWindowController>(services);
  window_ = std::make_unique<PreferencesWindow>(*controller_, [this]() -> QWidget* {
    if (!triggersPane_ && makeTriggersPane_) triggersPane_ = makeTriggersPane_();
    return triggersPane_ ? triggersPane_->view() : nullptr;
  });
  window_->windowDidLoad();
}

// The window holds the Triggers pane's view as a child: it goes before the
// pane's controller.
PreferencesWindowHandle::~PreferencesWindowHandle() { window_.reset(); }

void PreferencesWindowHandle::showWindow() {
  window_->show();
  window_->raise();
  window_->activateWindow();
}

std::function<std::shared_ptr<WindowController>()> makePreferencesFactory(
    std::function<ApplicationDelegate*()> delegate) {
  return [delegate = std::move(delegate)]() -> std::shared_ptr<WindowController> {
    ApplicationDelegate* current = delegate();
    if (!current) return nullptr;
    auto nodeSource = std::make_unique<preferences::DataSourcePreferencesNodeSource>(current->dataSource());
    preferences::PreferencesWindowController::Services services{
        current->defaults(), platform::NotificationCenter::defaultCenter(), *nodeSource,
        [] {
          std::vector<std::string> serials;
          for (const auto& box : control::CVNTrelvaneController::sharedController().devices()) {
            serials.push_back(box->serialNumber());
          }
          return serials;
        },
        preferences::MetadataTables::fromMainBundle()};
    auto handle = std::make_shared<PreferencesWindowHandle>(
        std::move(services), std::move(nodeSource), [current] {
          return std::make_unique<control::ExternalMixerPreferencesViewController>(
              current->defaults(), control::ExternalMixerSwitchers::of(current->atemDeviceController(),
                                                                       current->triCasterController()));
        });
    // The window carries the application's menus, so their shortcuts work while it has the focus.
    ApplicationMenus::populate(*handle->window().menuBar(), *current, MenuOwner{&handle->window(), nullptr, {}});
    return handle;
  };
}

}  // namespace app::views
