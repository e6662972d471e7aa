#pragma once
// A media browser over a fake data source and a recording view, on a manual
// clock, with alerts recorded: what the headless browser tests share.

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/browser/MediaBrowserWindowController.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/app/browser/FakeMediaBrowserDataSource.h"
#include "tests/app/browser/RecordingMediaBrowserView.h"

namespace app_testing {

class MediaBrowserFixture : public ::testing::Test {
 protected:
  // Makes the window controller over the collection and shows it in the view.
  app::browser::MediaBrowserWindowController& open() {
    controller_ = std::make_unique<app::browser::MediaBrowserWindowController>(collection_, defaults_, center_);
    controller_->setView(&view_, &view_);
    return *controller_;
  }
  app::browser::MediaCollectionNodePtr leaf(const std::string& clipID) {
    return collection_.mediaCollectionNodeWithClip(*source_->clipWithUniqueID(clipID));
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  platform::UserDefaults defaults_{std::filesystem::path()};
  platform::NotificationCenter center_;
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter alertOverride_{alerts_};
  std::shared_ptr<FakeMediaBrowserDataSource> source_ = std::make_shared<FakeMediaBrowserDataSource>();
  app::browser::MediaCollectionNodeController collection_{source_, center_};
  RecordingMediaBrowserView view_;
  std::unique_ptr<app::browser::MediaBrowserWindowController> controller_;
};

}  // namespace app_testing
