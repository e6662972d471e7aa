// The media browser's decisions, headless: the node chooser, showing a node,
// selection, menus, drags, tool tips, reveal, and the catalogue's changes
// reaching the outline.

#include <any>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/browser/MediaBrowserRowAppearance.h"
#include "app/browser/MediaBrowserWindowController.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/playlist/PlaylistItemPasteboard.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/app/browser/MediaBrowserFixture.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using app::browser::ContextMenuItem;
using app::browser::MediaCollectionNodePtr;
using app_testing::makeClip;
using app_testing::makeLiveClip;

class MediaBrowserWindowControllerTest : public app_testing::MediaBrowserFixture {
 protected:
  void SetUp() override {
    source_->nodeList = {{"N", "Node One", "10.0.0.1", "7000", true, true},
                         {"M", "", "10.0.0.2", "7001", false, false}};
    source_->catalogue = {makeClip("1", "N", "F", "/srv/Media", "a.mov"),
                          makeClip("2", "N", "F", "/srv/Media", "Sub/b.mov", false),
                          makeLiveClip("3", "N", "Camera"), makeClip("4", "M", "G", "/data/Other", "c.mov")};
  }
  std::vector<std::string> rootNames() const {
    std::vector<std::string> names;
    for (const auto& root : view_.roots) names.push_back(root->name());
    return names;
  }
  std::vector<std::string> alertTitles() const {
    std::vector<std::string> titles;
    for (const auto& alert : alerts_->alerts()) titles.push_back(alert.title);
    return titles;
  }
};

TEST_F(MediaBrowserWindowControllerTest, ChooserWithNoNodesHoldsOnlyNoneAndShowsNothing) {
  source_->nodeList.clear();
  open();
  ASSERT_EQ(view_.chooser.items.size(), 1u);
  EXPECT_EQ(view_.chooser.items[0].title, "<none>");
  EXPECT_FALSE(view_.chooser.items[0].enabled);
  EXPECT_TRUE(view_.roots.empty());
  EXPECT_EQ(view_.clipCount, "Selection: 0 clip(s)");
}

TEST_F(MediaBrowserWindowControllerTest, ChooserListsNodesAndPicksRememberedDefaultOrFirst) {
  open();
  ASSERT_EQ(view_.chooser.items.size(), 4u);
  EXPECT_TRUE(view_.chooser.items[1].separator);
  EXPECT_EQ(view_.chooser.items[2].title, "Node One");
  EXPECT_EQ(view_.chooser.items[3].title, "10.0.0.2:7001");
  EXPECT_TRUE(view_.chooser.items[2].enabled);
  EXPECT_FALSE(view_.chooser.items[3].enabled) << "a node that is not running";
  EXPECT_EQ(view_.chooser.selectedIndex, 2u);
  // The one top folder opens; the live clip sits beside it.
  EXPECT_EQ(rootNames(), (std::vector<std::string>{"Media", "Camera"}));
  EXPECT_EQ(view_.clipCount, "Selection: 3 clip(s)");

  defaults_.setObject("M", "defaultNodeAUniqueID");
  controller_.reset();
  open();
  EXPECT_EQ(view_.chooser.selectedIndex, 3u);
  // Remembered wins over the default on a rebuild.
  controller_->selectNodeWithUniqueID("N");
  center_.post("nodeListDidChange");
  EXPECT_EQ(view_.chooser.selectedIndex, 2u);
  EXPECT_EQ(controller_->selectedNodeUniqueID(), "N");
}

TEST_F(MediaBrowserWindowControllerTest, ANodeEnteredByAddressIsShownOnceItTellsItsID) {
  source_->nodeList = {{"", "", "10.0.0.1", "7000", false, false}};
  open();
  EXPECT_FALSE(controller_->selectedNodeUniqueID() && !controller_->selectedNodeUniqueID()->empty());
  source_->nodeList = {{"N", "Node One", "10.0.0.1", "7000", true, true}};
  center_.post("nodeListDidChange");
  EXPECT_EQ(view_.chooser.selectedIndex, 2u);
  EXPECT_EQ(controller_->selectedNodeUniqueID(), "N");
  EXPECT_EQ(rootNames(), (std::vector<std::string>{"Media", "Camera"}));
}

TEST_F(MediaBrowserWindowControllerTest, SelectNodeNotificationShowsThatNodesTree) {
  open();
  center_.post(platform::Notification{"selectNodeWithUniqueID", nullptr, platform::Value("M"), {}});
  EXPECT_EQ(view_.chooser.selectedIndex, 3u);
  EXPECT_EQ(rootNames(), (std::vector<std::string>{"Other"}));
  EXPECT_TRUE(view_.roots[0]->expanded()) << "a tree with one top node shows it opened";
}

TEST_F(MediaBrowserWindowControllerTest, ATreeThatArrivesWhileItsNodeIsShownOpensItsOneTopFolder) {
  source_->catalogue.clear();
  open();
  EXPECT_TRUE(view_.roots.empty());
  source_->catalogue.push_back(makeClip("1", "N", "F", "/srv/Media", "a.mov"));
  center_.post(platform::Notification{"clipsAdded", nullptr, platform::Value(platform::Array{"1"}), {}});
  ASSERT_EQ(rootNames(), (std::vector<std::string>{"Media"}));
  EXPECT_TRUE(view_.roots[0]->expanded());
  EXPECT_EQ(view_.clipCount, "Selection: 1 clip(s)");
}

TEST_F(MediaBrowserWindowControllerTest, SelectionAsksForAThumbnailCountsAndPosts) {
  open();
  std::vector<std::shared_ptr<nodes::PlaylistItem>> posted;
  auto token = center_.addObserver("mediaBrowserSelectionDidChanged", nullptr, [&](const platform::Notification& n) {
    posted = std::any_cast<std::vector<std::shared_ptr<nodes::PlaylistItem>>>(n.object);
  });
  auto clip = source_->clipWithUniqueID("1");
  clip->setInPointInSeconds(2.0);
  clip->setHasInPoint(true);
  controller_->outlineSelectionDidChange({leaf("1")});
  ASSERT_EQ(source_->thumbnails.size(), 1u);
  EXPECT_EQ(source_->thumbnails[0], (app_testing::ThumbnailRequest{"item-1", "F", "N", 2.0 + 8.0 / 2.0}));
  EXPECT_EQ(view_.clipCount, "Selection: 1 clip(s)");
  EXPECT_EQ(posted, (std::vector<std::shared_ptr<nodes::PlaylistItem>>{clip}));

  const auto image = std::make_shared<const nodes::RGBAImage>();
  const auto thumbnail = [&](const char* item) {
    center_.post(platform::Notification{"newThumbnailIsAvailable", nullptr, image,
                                        {{"mediaItemUniqueID", item}, {"mediaFolderUniqueID", "F"}}});
  };
  thumbnail("item-9");
  EXPECT_FALSE(view_.thumbnail) << "a thumbnail of another clip is ignored";
  thumbnail("item-1");
  EXPECT_EQ(view_.thumbnail, image);

  controller_->outlineSelectionDidChange({view_.roots[0], leaf("3")});
  EXPECT_EQ(view_.clipCount, "Selection: 3 clip(s)");
  EXPECT_FALSE(view_.thumbnail);
  EXPECT_EQ(controller_->selectedPlaylistItems().size(), 1u) << "folders are skipped";
  EXPECT_EQ(controller_->selectedPlaylistItem(), nullptr) << "the first selected row is a folder";
}

TEST_F(MediaBrowserWindowControllerTest, ContextMenuEnablingFollowsTheClickedRow) {
  open();
  using E = app::browser::ContextMenuEnabling;
  const std::optional<bool> on = true, off = false, keep = std::nullopt;
  struct Case {
    const char* what;
    MediaCollectionNodePtr clicked;
    E expected;
  };
  const std::vector<Case> cases = {
      {"empty space", nullptr, E{off, off, off, off, on, off, keep, keep}},
      {"folder on a connected node", view_.roots[0], E{on, on, on, off, on, off, off, off}},
      {"live clip", leaf("3"), E{off, off, off, off, off, on, on, on}},
      {"offline clip", leaf("2"), E{on, off, off, on, off, off, on, on}},
      {"online clip", leaf("1"), E{on, off, on, off, on, off, on, on}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(controller_->contextMenuWillOpen(c.clicked), c.expected);
  }
  controller_->outlineSelectionDidChange({leaf("1"), leaf("2")});
  EXPECT_EQ(controller_->contextMenuWillOpen(leaf("1"))[static_cast<std::size_t>(ContextMenuItem::RemoveOffline)], on)
      << "a multi-selection holding an offline clip";
  controller_->setRestrictedMode(true);
  EXPECT_EQ(controller_->contextMenuWillOpen(leaf("1")), (E{off, off, off, off, off, off, off, off}));
  EXPECT_FALSE(controller_->dragDataForRows({leaf("1")}));
}

TEST_F(MediaBrowserWindowControllerTest, DragsCarryValidAndOfflineClipsOnly) {
  open();
  auto invalid = makeClip("5", "N", "F", "/srv/Media", "bad.mov");
  invalid->setValidationStatus(1);
  collection_.addCollectionNodeWithClip(invalid, "N");
  const auto badLeaf = collection_.mediaCollectionNodeWithClip(*invalid);
  EXPECT_FALSE(controller_->dragDataForRows({view_.roots[0], leaf("1")})) << "a folder refuses the drag";
  EXPECT_FALSE(controller_->dragDataForRows({badLeaf})) << "only an invalid online clip";
  const auto data = controller_->dragDataForRows({leaf("1"), badLeaf, leaf("2")});
  ASSERT_TRUE(data);
  const auto items = nodes::unarchivePlaylistItems(*data);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[0]->uniqueID(), "1");
  EXPECT_EQ((*items)[1]->uniqueID(), "2") << "offline clips may be dragged";
}

TEST_F(MediaBrowserWindowControllerTest, RowsLookAndExplainThemselves) {
  open();
  using app::browser::RowTextColour;
  EXPECT_EQ(app::browser::nameCellAppearance(*view_.roots[0], false),
            (app::browser::RowAppearance{"GenericFolderImage", RowTextColour::Black}));
  EXPECT_EQ(app::browser::nameCellAppearance(*leaf("2"), false),
            (app::browser::RowAppearance{"GenericMovieImageOffline", RowTextColour::Grey}));
  EXPECT_EQ(app::browser::nameCellAppearance(*leaf("3"), true),
            (app::browser::RowAppearance{"SmallZiraClipIcon", RowTextColour::White}));
  source_->clipWithUniqueID("1")->setValidationStatus(1);
  EXPECT_EQ(app::browser::nameCellAppearance(*leaf("1"), true),
            (app::browser::RowAppearance{"GenericInvalidMovieImage", RowTextColour::LightGrey}));
  EXPECT_EQ(app::browser::textCellColour(*leaf("1"), false), RowTextColour::Grey);

  EXPECT_FALSE(app::browser::toolTipForNode(*view_.roots[0]));
  const std::vector<std::pair<int, std::string>> reasons = {
      {1, "Invalid Clip (file not found)"},
      {2, "Invalid Clip (not a movie file)"},
      {3, "Invalid Clip (movie is not self-contained)"},
      {4, "Invalid Clip (movie is not thread-safe)"},
      {5, "Invalid Clip (video codec not found)"},
      {6, "Invalid Clip (video codec not supported)"},
      {7, "Invalid Clip (movie does not have a video track)"},
      {8, "Invalid Clip (movie contains no audio tracks)"},
      {9, "Invalid Clip (movie contains invalid audio tracks)"},
      {0, "Invalid Clip (reason unknown)"},
      {42, "Invalid Clip (reason unknown)"},
  };
  for (const auto& [reason, text] : reasons) {
    source_->clipWithUniqueID("1")->setInvalidReason(reason);
    EXPECT_EQ(app::browser::toolTipForNode(*leaf("1")), text);
  }
  source_->clipWithUniqueID("1")->setValidationStatus(2);
  source_->clipWithUniqueID("1")->setVideoCodecDescription("H.264");
  EXPECT_EQ(app::browser::toolTipForNode(*leaf("1")), "H.264");
}

TEST_F(MediaBrowserWindowControllerTest, RenameSavesANonEmptyNameOfALeaf) {
  open();
  EXPECT_FALSE(controller_->renameNode(leaf("1"), ""));
  EXPECT_FALSE(controller_->renameNode(view_.roots[0], "Folder"));
  EXPECT_TRUE(source_->stored.empty());
  EXPECT_TRUE(controller_->renameNode(leaf("1"), "<b>New</b>"));
  ASSERT_EQ(source_->stored.size(), 1u);
  EXPECT_EQ(source_->stored[0][0]->displayName(), "<b>New</b>");
}

TEST_F(MediaBrowserWindowControllerTest, RevealPrefersTheLocalEquivalentThenTheFileThenTheFolder) {
  testing_support::TemporaryDirectory local;
  std::filesystem::create_directories(local.path() / "Sub");
  std::ofstream(local.path() / "Sub" / "b.mov") << "x";
  std::ofstream(local.path() / "a.mov") << "x";
  open();
  // Clip 2 (offline) has a local equivalent; clip 1 (online) only its file on the node.
  defaults_.setObject(platform::Array{platform::Dictionary{{"mediaFolderUniqueID", "F"},
                                                           {"equivalentLocalPath", local.path().string()}}},
                      "MediaFoldersLocalEquivalentPaths");
  controller_->contextMenuWillOpen(leaf("2"));
  controller_->revealInFinderAction();
  EXPECT_EQ(view_.revealed, (std::vector<std::filesystem::path>{local.path() / "Sub" / "b.mov"}));

  auto escaping = makeClip("6", "N", "F", "/srv/Media", "../../etc/passwd", false);
  collection_.addCollectionNodeWithClip(escaping, "N");
  EXPECT_FALSE(controller_->equivalentLocalPathForNode(*collection_.mediaCollectionNodeWithClip(*escaping)))
      << "a path that leaves its equivalent folder is not revealed";

  source_->clipWithUniqueID("1")->setAbsolutePathToMediaItem((local.path() / "a.mov").string());
  source_->clipWithUniqueID("1")->setMediaFolderUniqueID("X");
  EXPECT_EQ(controller_->equivalentLocalPathForNode(*leaf("1")), local.path() / "a.mov");

  // A folder: its node path, when it exists here.
  auto here = makeClip("7", "N", "H", local.path().string(), "Sub/b.mov");
  collection_.addCollectionNodeWithClip(here, "N");
  const auto subFolder = collection_.mediaCollectionNodeWithClip(*here)->parent();
  EXPECT_EQ(controller_->equivalentLocalPathForNode(*subFolder), local.path() / "Sub");

  view_.revealSucceeds = false;
  controller_->contextMenuWillOpen(subFolder);
  controller_->revealInFinderAction();
  controller_->contextMenuWillOpen(view_.roots[0]);  // "/srv/Media" is not on this computer
  controller_->revealInFinderAction();
  ASSERT_EQ(alerts_->alerts().size(), 2u);
  EXPECT_EQ(alerts_->alerts()[0].message, "The File at path: \"" + (local.path() / "Sub").string() +
                                              "\" could not be found. Make sure that the Volume where it resides is "
                                              "mounted on your computer.");
  EXPECT_EQ(alerts_->alerts()[1].message, app::browser::kFileNotFoundMessage);
  EXPECT_EQ(alertTitles(), (std::vector<std::string>{"File Not Found Error !", "File Not Found Error !"}));
}

TEST_F(MediaBrowserWindowControllerTest, RevealFromAPlaylistShowsTheClipsNodeAndSelectsThem) {
  open();
  controller_->showClipsWithUniqueIDs({"4"});
  EXPECT_EQ(controller_->selectedNodeUniqueID(), "M");
  EXPECT_EQ(view_.chooser.selectedIndex, 3u);
  ASSERT_EQ(view_.selected.size(), 1u);
  EXPECT_EQ(view_.selected[0]->name(), "c.mov");
  controller_->showClipsWithUniqueIDs({"2", "1"});
  ASSERT_EQ(view_.selected.size(), 2u);
  EXPECT_TRUE(view_.selected[0]->parent()->expanded()) << "the folders on the way open";
  EXPECT_EQ(controller_->showItemWithAbsolutePath("/srv/Media/Sub/b.mov"), leaf("2"));
  EXPECT_EQ(controller_->showItemWithAbsolutePath("/elsewhere/b.mov"), nullptr);
  EXPECT_FALSE(controller_->performDropOfPaths({"/srv/Media/a.mov", "/srv/Media/Sub/b.mov"}));
}

TEST_F(MediaBrowserWindowControllerTest, DeletingOfflineClipsAsksAndRemovingLiveClipsDoesNot) {
  open();
  controller_->outlineSelectionDidChange({leaf("1"), leaf("2")});
  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);
  controller_->contextMenuWillOpen(leaf("2"));
  controller_->deleteSelectedOfflineCollectionNode();
  EXPECT_TRUE(source_->removed.empty()) << "Cancel";
  controller_->deleteSelectedOfflineCollectionNode();
  EXPECT_EQ(source_->removed, (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Warning !", "Warning !"}));

  controller_->contextMenuWillOpen(leaf("3"));
  controller_->removeSelectedZiraClip();
  EXPECT_EQ(source_->removed.back(), (std::vector<std::string>{"3"}));
  EXPECT_EQ(alerts_->alerts().size(), 2u);
  EXPECT_EQ(rootNames(), (std::vector<std::string>{"Media"}));
}

TEST_F(MediaBrowserWindowControllerTest, CatalogueChangesReachTheOutlineAndTheBusyIndicator) {
  open();
  const int reloads = view_.reloads;
  source_->catalogue.push_back(makeClip("8", "N", "F", "/srv/Media", "new.mov"));
  center_.post(platform::Notification{"clipsAdded", nullptr, platform::Value(platform::Array{"8"}), {}});
  EXPECT_EQ(view_.reloads, reloads + 1);
  EXPECT_EQ(view_.roots[0]->totalClips(), 3u);
  // A deleted file: the node reports it offline and the row turns grey.
  source_->clipWithUniqueID("8")->setOnline(false);
  center_.post(platform::Notification{"clipsDidChange", nullptr, platform::Value(platform::Array{"8"}), {}});
  EXPECT_EQ(app::browser::textCellColour(*leaf("8"), false), app::browser::RowTextColour::Grey);
  center_.post("startedCoreDataOperation");
  EXPECT_TRUE(view_.busy);
  center_.post("finishedCataloggingMediaItems");
  EXPECT_FALSE(view_.busy);
}

}  // namespace
