// Offline and live clips made from the media browser: the sheet's fields and
// rules, the clip written to the catalogue, and the name clashes.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/browser/MediaBrowserWindowController.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/app/browser/MediaBrowserFixture.h"

namespace {

using app::browser::OfflineClipSheet;
using app_testing::makeClip;

class OfflineClipCreationTest : public app_testing::MediaBrowserFixture {
 protected:
  void SetUp() override {
    source_->nodeList = {{"N", "Node One", "10.0.0.1", "7000", true, true}};
    source_->catalogue = {makeClip("1", "N", "F", "/srv/Media", "Sub/online.mov"),
                          makeClip("2", "N", "F", "/srv/Media", "Sub/offline.mov", false)};
    defaults_.setObject(30.0, app::browser::kOfflineClipDefaultDurationKey);
    open();
  }
  // Opens the sheet over `clicked`, types `name` and presses OK.
  void makeOffline(const app::browser::MediaCollectionNodePtr& clicked, const std::string& name) {
    controller_->contextMenuWillOpen(clicked);
    controller_->makeOfflineClipAction();
    controller_->offlineClipSheet().nameDidChange(name);
    controller_->offlineClipSheetEnded(1);
  }
};

TEST(OfflineClipSheetTest, RatesDecideDropFrameAndNamesLoseForbiddenCharacters) {
  OfflineClipSheet sheet;
  sheet.open("/srv/Media", 30.0);
  const auto state = sheet.state();
  EXPECT_EQ(state.fileName, "Untitled.mov");
  EXPECT_EQ(state.selectedCharacters, 8u);
  EXPECT_EQ(state.frameRateTitles,
            (std::vector<std::string>{"23.976", "24", "25", "29.97", "30", "50", "59.94", "60"}));
  sheet.frameRateChanged(3);  // 29.97
  EXPECT_TRUE(sheet.dropFrameEnabled());
  sheet.dropFrameChanged(true);
  EXPECT_TRUE(sheet.formatter().dropFrame());
  sheet.frameRateChanged(2);  // 25
  EXPECT_FALSE(sheet.dropFrameEnabled());
  EXPECT_FALSE(sheet.dropFrame());
  EXPECT_FALSE(sheet.formatter().dropFrame());
  EXPECT_EQ(sheet.formatter().framesPerSeconds(), 25.0);

  struct Case {
    std::string typed;
    std::string shown;
    bool beep;
  };
  const std::vector<Case> cases = {
      {"Promo.mov", "Promo.mov", false},
      {"a/b:c\\d.mov", "abcd.mov", true},
      {std::string("nul\0.mov", 8), "nul.mov", true},
      {std::string(121, 'x'), std::string(121, 'x'), true},
  };
  for (const auto& c : cases) {
    const auto change = sheet.nameDidChange(c.typed);
    EXPECT_EQ(change.text, c.shown);
    EXPECT_EQ(change.beep, c.beep);
  }
  sheet.setDurationText("00:01:30");
  EXPECT_EQ(sheet.durationInSeconds(), 90.0);
  sheet.setDurationText("not a time");
  EXPECT_EQ(sheet.durationInSeconds(), 90.0);
}

TEST_F(OfflineClipCreationTest, SheetOpensOnTheClickedFolderWithTheDefaultDuration) {
  const auto sub = leaf("1")->parent();
  controller_->contextMenuWillOpen(sub);
  controller_->makeOfflineClipAction();
  ASSERT_EQ(view_.offlineSheets.size(), 1u);
  EXPECT_EQ(view_.offlineSheets[0].folder, "/srv/Media/Sub");
  EXPECT_EQ(view_.offlineSheets[0].durationInSeconds, 30.0);
}

TEST_F(OfflineClipCreationTest, AnOfflineClipIsWrittenWithItsPlaceAndRate) {
  controller_->contextMenuWillOpen(leaf("1")->parent());
  controller_->makeOfflineClipAction();
  controller_->offlineClipSheet().nameDidChange("Promo.mov");
  controller_->offlineClipSheet().frameRateChanged(3);
  controller_->offlineClipSheet().dropFrameChanged(true);
  controller_->offlineClipSheetEnded(0);
  EXPECT_TRUE(source_->stored.empty()) << "Cancel";
  controller_->offlineClipSheetEnded(1);
  ASSERT_EQ(source_->stored.size(), 1u);
  const auto& clip = source_->stored[0][0];
  EXPECT_EQ(clip->displayName(), "Promo.mov");
  EXPECT_EQ(clip->absolutePathToMediaItem(), "/srv/Media/Sub/Promo.mov");
  // Only the leading media folder path goes, even where it repeats below.
  EXPECT_EQ(clip->relativePathToMediaItem(), "Sub/Promo.mov");
  EXPECT_EQ(clip->mediaFolderUniqueID(), "F");
  EXPECT_EQ(clip->nodeName(), "Node One");
  EXPECT_FALSE(clip->online());
  EXPECT_EQ(clip->validationStatus(), 2);
  EXPECT_EQ(clip->videoCodecDescription(), "<Unknown Format>");
  EXPECT_EQ(clip->framesPerSecond(), 29.97);
  EXPECT_TRUE(clip->dropFrame());
  EXPECT_EQ(clip->mediaItemDurationInSeconds(), 30.0);
  EXPECT_TRUE(clip->uniqueID() && !clip->uniqueID()->empty());
}

TEST_F(OfflineClipCreationTest, RelativePathStripsOnlyTheLeadingFolder) {
  auto nested = makeClip("3", "N", "F", "/m", "x/m/y.mov");
  source_->catalogue.push_back(nested);
  collection_.addCollectionNodeWithClip(nested, "N");
  makeOffline(collection_.mediaCollectionNodeWithClip(*nested), "z.mov");
  ASSERT_EQ(source_->stored.size(), 1u);
  EXPECT_EQ(source_->stored[0][0]->relativePathToMediaItem(), "x/m/z.mov");
}

TEST_F(OfflineClipCreationTest, NameClashesAreRefusedOrReplaceKeepingTheUniqueID) {
  makeOffline(leaf("1")->parent(), "online.mov");
  EXPECT_TRUE(source_->stored.empty());
  ASSERT_EQ(alerts_->alerts().size(), 1u);
  EXPECT_EQ(alerts_->alerts()[0].title, "online.mov already exists.");
  EXPECT_EQ(alerts_->alerts()[0].buttonTitles, (std::vector<std::string>{"OK"}));

  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // Cancel
  makeOffline(leaf("1")->parent(), "OFFLINE.mov");
  EXPECT_TRUE(source_->stored.empty());
  EXPECT_EQ(alerts_->alerts()[1].title, "OFFLINE.mov already exists. Do you want to replace it ?");
  EXPECT_EQ(alerts_->alerts()[1].buttonTitles, (std::vector<std::string>{"Cancel", "Replace"}));

  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);  // Replace
  makeOffline(leaf("1")->parent(), "offline.mov");
  ASSERT_EQ(source_->stored.size(), 1u);
  EXPECT_EQ(source_->stored[0][0]->uniqueID(), "2");

  makeOffline(leaf("1")->parent(), "");
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_EQ(source_->stored.size(), 1u);
}

TEST_F(OfflineClipCreationTest, DeletedOfflineClipNoLongerClashes) {
  collection_.deleteCollectionNodes({leaf("2")});
  makeOffline(leaf("1")->parent(), "offline.mov");
  EXPECT_TRUE(alerts_->alerts().empty());
  EXPECT_EQ(source_->stored.size(), 1u);
}

TEST_F(OfflineClipCreationTest, LiveClipsAreMadeOnceByName) {
  controller_->makeZiraClipAction();
  EXPECT_TRUE(view_.livePanelOpen);
  EXPECT_FALSE(controller_->okMakeZiraClip("", 60.0));
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_TRUE(controller_->okMakeZiraClip("Studio", 60.0));
  EXPECT_FALSE(view_.livePanelOpen);
  ASSERT_EQ(source_->stored.size(), 1u);
  const auto live = source_->stored[0][0];
  EXPECT_TRUE(live->online());
  EXPECT_EQ(live->relativePathToMediaItem(), "Studio");
  EXPECT_EQ(live->mediaFolderUniqueID(), "");
  EXPECT_EQ(live->mediaItemDurationInSeconds(), 60.0);

  // Once stored (the catalogue's "clipsAdded"), a second "Studio" clashes.
  source_->catalogue.push_back(live);
  center_.post(platform::Notification{"clipsAdded", nullptr, platform::Value(platform::Array{*live->uniqueID()}), {}});
  controller_->makeZiraClipAction();
  EXPECT_FALSE(controller_->okMakeZiraClip("Studio", 10.0));
  EXPECT_TRUE(view_.livePanelOpen);
  ASSERT_EQ(alerts_->alerts().size(), 1u);
  EXPECT_EQ(alerts_->alerts()[0].title, "Studio already exists.");
  EXPECT_EQ(alerts_->alerts()[0].message, "A file or folder with the same name already exists.");
  EXPECT_EQ(alerts_->alerts()[0].buttonTitles, (std::vector<std::string>{"Cancel"}));
}

}  // namespace
