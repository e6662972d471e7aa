#include "app/views/browser/MediaBrowserWindowHandle.h"

#include "app/views/browser/MediaBrowserWindow.h"

namespace app::views {

MediaBrowserWindowHandle::MediaBrowserWindowHandle(browser::MediaCollectionNodeController& collection,
                                                   platform::UserDefaults& defaults,
                                                   platform::NotificationCenter& center)
    : controller_(std::make_unique<browser::MediaBrowserWindowController>(collection, defaults, center)),
      window_(std::make_unique<MediaBrowserWindow>(*controller_, defaults)) {
  controller_->setView(window_.get(), &revealer_);
}

MediaBrowserWindowHandle::~MediaBrowserWindowHandle() {
  controller_->setView(nullptr, nullptr);
  window_.reset();
}

void MediaBrowserWindowHandle::showWindow() { controller_->showWindow(); }

std::function<std::shared_ptr<MediaBrowserWindowController>()> makeMediaBrowserFactory(
    std::function<browser::MediaCollectionNodeController*()> collection) {
  return [collection = std::move(collection)]() -> std::shared_ptr<MediaBrowserWindowController> {
    browser::MediaCollectionNodeController* trees = collection();
    if (!trees) return nullptr;
    return std::make_shared<MediaBrowserWindowHandle>(*trees, platform::UserDefaults::standard(),
                                                      platform::NotificationCenter::defaultCenter());
  };
}

}  // namespace app::views
