#pragma once
// MediaBrowserWindowHandle: the media browser as the application shell holds
// it: the Qt-free controller, the Qt window and the file revealer.
// makeMediaBrowserFactory() gives the shell the factory that makes it once,
// on first show.
//
// Owned by the application delegate (shared). Destroying it detaches the
// window from the controller first. GUI (main) thread.

#include <functional>
#include <memory>

#include "app/browser/MediaBrowserWindowController.h"
#include "app/shell/WindowControllers.h"
#include "app/views/browser/QtFileRevealer.h"

namespace app::views {

class MediaBrowserWindow;

class MediaBrowserWindowHandle final : public MediaBrowserWindowController {
 public:
  // `collection`, `defaults` and `center` are not owned and outlive this.
  MediaBrowserWindowHandle(browser::MediaCollectionNodeController& collection, platform::UserDefaults& defaults,
                           platform::NotificationCenter& center);
  ~MediaBrowserWindowHandle() override;

  browser::MediaBrowserWindowController& controller() { return *controller_; }
  MediaBrowserWindow& window() { return *window_; }

  void showWindow() override;
  void nodeListChanged() override { controller_->nodeListChanged(); }
  std::vector<std::shared_ptr<nodes::PlaylistItem>> selectedPlaylistItems() const override {
    return controller_->selectedPlaylistItems();
  }
  void showClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) override {
    controller_->showClipsWithUniqueIDs(clipUniqueIDs);
  }

 private:
  std::unique_ptr<browser::MediaBrowserWindowController> controller_;
  QtFileRevealer revealer_;
  std::unique_ptr<MediaBrowserWindow> window_;
};

// The browser over the collection controller the shell made with the data
// source (none yet: no browser).
std::function<std::shared_ptr<MediaBrowserWindowController>()> makeMediaBrowserFactory(
    std::function<browser::MediaCollectionNodeController*()> collection);

}  // namespace app::views
