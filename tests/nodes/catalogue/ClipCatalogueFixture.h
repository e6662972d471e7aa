#pragma once
// A clip catalogue in a temporary folder for one test: its own notification
// centre (whose posts are recorded), a manual clock, a recording alert
// presenter, and makers of media items and clips.

#include <gtest/gtest.h>

#include <any>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/media/ClipInfoKeys.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes::catalogue_testing {

struct Posted {
  std::string name;
  platform::Value object;
};

// A media item unique ID whose first 24 characters (the identity) are made
// from `n`, followed by `suffix`.
inline std::string mediaItemID(int n, const std::string& suffix = "-A") {
  char identity[32];
  std::snprintf(identity, sizeof identity, "ITEM-0000-0000-0000-%04d", n);
  return identity + suffix;
}

struct MediaItemSample {
  std::string path;
  std::string mediaItemUniqueID = mediaItemID(1);
  std::string nodeUniqueID = "node-1";
  std::string folderUniqueID = "folder-1";
  double durationInSeconds = 10.0;
};

inline std::shared_ptr<MediaItem> makeMediaItem(const MediaItemSample& sample) {
  MediaItemInfo info;
  info.uniqueID = sample.mediaItemUniqueID;
  info.absolutePath = sample.path;
  info.relativePath = sample.path.substr(sample.path.find('/', 1));
  info.mediaFolderUniqueID = sample.folderUniqueID;
  info.mediaFolderPath = sample.path.substr(0, sample.path.find('/', 1));
  info.nodeUniqueID = sample.nodeUniqueID;
  info.nodeName = "Studio " + sample.nodeUniqueID;
  info.displayName = sample.path.substr(sample.path.rfind('/') + 1);
  info.durationInSeconds = sample.durationInSeconds;
  info.framesPerSecond = 25.0;
  info.lastModificationDate = platform::Date(std::chrono::seconds(1'700'000'000));
  info.initialized = true;
  return std::make_shared<MediaItem>(std::move(info));
}

struct ClipSample {
  std::string uniqueID;
  std::string path;
  std::string mediaItemUniqueID = mediaItemID(1);
  std::string nodeUniqueID = "node-1";
  std::string folderUniqueID = "folder-1";
  bool online = true;
  std::string displayName = "Clip";
};

inline std::shared_ptr<PlaylistItem> makeClip(const ClipSample& sample) {
  auto clip = std::make_shared<PlaylistItem>();
  clip->update([&](PlaylistItemFields& f) {
    f.uniqueID = sample.uniqueID;
    f.absolutePathToMediaItem = sample.path;
    f.mediaItemUniqueID = sample.mediaItemUniqueID;
    f.nodeUniqueID = sample.nodeUniqueID;
    f.nodeName = "Studio " + sample.nodeUniqueID;
    f.mediaFolderUniqueID = sample.folderUniqueID;
    f.online = sample.online;
    f.displayName = sample.displayName;
    f.mediaItemDurationInSeconds = 10.0;
  });
  return clip;
}

inline std::vector<std::string> strings(const platform::Value& value) {
  std::vector<std::string> result;
  if (const platform::Array* array = value.array()) {
    for (const platform::Value& entry : *array) result.push_back(entry.stringOr(""));
  }
  return result;
}

class ClipCatalogueFixture : public ::testing::Test {
 protected:
  ClipCatalogueFixture() {
    token_ = center_.addObserver("", nullptr, [this](const platform::Notification& n) {
      const auto* object = std::any_cast<platform::Value>(&n.object);
      posted_.push_back({n.name, object ? *object : platform::Value()});
    });
  }

  virtual ClipCatalogue::Options options() {
    ClipCatalogue::Options options;
    options.notificationCenter = &center_;
    options.bundleName = "Test";
    return options;
  }

  std::unique_ptr<ClipCatalogue> open() { return ClipCatalogue::create(folder_.path(), options()); }
  std::filesystem::path root() const { return folder_ / "Test Local DataSource"; }

  // Runs one write and the main loop until the queue has run empty again.
  void perform(const std::function<void()>& write) {
    const std::size_t before = count(catalogue::kFinishedCataloggingMediaItemsNotification);
    write();
    testing_support::runMainLoopUntil(
        [&] { return count(catalogue::kFinishedCataloggingMediaItemsNotification) > before; },
        "the catalogue's queue to run empty");
  }

  // Stores clips directly, in one transaction.
  static void storeClips(ClipCatalogue& catalogue, const std::vector<std::shared_ptr<PlaylistItem>>& clips) {
    platform::Status stored = catalogue.store()->performTransaction([&]() -> platform::Status {
      for (const auto& clip : clips) {
        CatalogueRow row;
        clip->fillCoreDataClipEntity(row);
        if (platform::Status inserted = catalogue.store()->insertClip(row); !inserted.ok()) return inserted;
      }
      return {};
    });
    ASSERT_TRUE(stored.ok()) << stored.error().describe();
  }

  std::size_t count(const std::string& name) const {
    std::size_t n = 0;
    for (const Posted& p : posted_) n += p.name == name;
    return n;
  }
  std::vector<Posted> postedNamed(const std::string& name) const {
    std::vector<Posted> found;
    for (const Posted& p : posted_) {
      if (p.name == name) found.push_back(p);
    }
    return found;
  }
  // The names posted, leaving out the start and end of each operation.
  std::vector<std::string> changeNames() const {
    std::vector<std::string> names;
    for (const Posted& p : posted_) {
      if (p.name != catalogue::kStartedCoreDataOperationNotification &&
          p.name != catalogue::kFinishedCataloggingMediaItemsNotification) {
        names.push_back(p.name);
      }
    }
    return names;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::CapturedDiagnostics diagnostics_;
  testing_support::TemporaryDirectory folder_;
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ =
      std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter scopedAlerts_{alerts_};
  platform::NotificationCenter center_;
  std::vector<Posted> posted_;
  platform::ObserverToken token_;
};

}  // namespace nodes::catalogue_testing
