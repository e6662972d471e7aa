// The media collection trees: where clips are placed, case rules of media
// folders, counts as clips come and go, the catalogue's notifications, and
// the columns' derived texts.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/browser/MediaCollectionNodeController.h"
#include "platform/NotificationCenter.h"
#include "tests/app/browser/FakeMediaBrowserDataSource.h"

namespace {

using app::browser::MediaCollectionNode;
using app::browser::MediaCollectionNodePtr;
using app_testing::makeClip;
using app_testing::makeLiveClip;

// The names along a tree, depth first: "Media(2)/Sub(1)/a.mov".
void describe(const MediaCollectionNode& node, const std::string& prefix, std::vector<std::string>& out) {
  const std::string here = prefix + node.name() + (node.isLeaf() ? "" : "(" + std::to_string(node.totalClips()) + ")");
  out.push_back(here);
  if (const auto* children = node.children()) {
    for (const auto& child : *children) describe(*child, here + "/", out);
  }
}

class MediaCollectionTreeTest : public ::testing::Test {
 protected:
  std::vector<std::string> tree(const std::string& node = "N") const {
    std::vector<std::string> out;
    if (const auto root = controller_.treeForNode(node)) describe(*root, "", out);
    return out;
  }
  void post(const char* name, platform::Value object) {
    center_.post(platform::Notification{name, nullptr, std::move(object), {}});
  }
  std::shared_ptr<nodes::PlaylistItem> add(std::shared_ptr<nodes::PlaylistItem> clip) {
    source_->catalogue.push_back(clip);
    controller_.addCollectionNodeWithClip(clip, clip->nodeUniqueID());
    return clip;
  }

  platform::NotificationCenter center_;
  std::shared_ptr<app_testing::FakeMediaBrowserDataSource> source_ =
      std::make_shared<app_testing::FakeMediaBrowserDataSource>();
  app::browser::MediaCollectionNodeController controller_{source_, center_};
  int redisplays_ = [this] {
    controller_.setTreeChangedHandler([this] { ++redisplays_; });
    return 0;
  }();
};

TEST_F(MediaCollectionTreeTest, ClipsArePlacedByFolderAndRelativePath) {
  struct Case {
    const char* what;
    std::shared_ptr<nodes::PlaylistItem> clip;
    std::vector<std::string> tree;
  };
  const std::vector<Case> cases = {
      {"top of its media folder", makeClip("1", "N", "F", "/vol/Media", "a.mov"), {"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/a.mov"}},
      {"in a sub-folder", makeClip("1", "N", "F", "/vol/Media/", "Sub/a.mov"),
       {"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/Sub(1)", "Root(1)/Media(1)/Sub(1)/a.mov"}},
      {"live, under the root", makeLiveClip("1", "N", "Camera 1"), {"Root(1)", "Root(1)/Camera 1"}},
      {"names only, no ..", makeClip("1", "N", "F", "/vol/Media", "../x/./a.mov"),
       {"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/x(1)", "Root(1)/Media(1)/x(1)/a.mov"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    controller_.clearTrees();
    controller_.addCollectionNodeWithClip(c.clip, "N");
    EXPECT_EQ(tree(), c.tree);
    EXPECT_EQ(controller_.totalClips(), 1u);
  }
}

TEST_F(MediaCollectionTreeTest, FolderCaseRuleDecidesWhetherNamesShareAFolder) {
  for (const bool caseSensitive : {false, true}) {
    SCOPED_TRACE(caseSensitive);
    controller_.clearTrees();
    source_->folders[{"N", "F"}] = caseSensitive;
    controller_.addCollectionNodeWithClip(makeClip("1", "N", "F", "/Media", "News/a.mov"), "N");
    controller_.addCollectionNodeWithClip(makeClip("2", "N", "F", "/Media", "NEWS/b.mov"), "N");
    const auto media = controller_.treeForNode("N")->childAtIndex(0);
    EXPECT_EQ(media->childrenCount(), caseSensitive ? 2u : 1u);
    EXPECT_EQ(media->totalClips(), 2u);
  }
}

TEST_F(MediaCollectionTreeTest, AddingAClipAgainRefreshesItsLeafWithoutCounting) {
  auto clip = add(makeClip("1", "N", "F", "/Media", "Sub/a.mov"));
  auto renamed = makeClip("1", "N", "F", "/Media", "Sub/a.mov");
  renamed->setDisplayName("Renamed");
  controller_.addCollectionNodeWithClip(renamed, "N");
  EXPECT_EQ(tree(), (std::vector<std::string>{"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/Sub(1)",
                                              "Root(1)/Media(1)/Sub(1)/Renamed"}));
  EXPECT_EQ(controller_.totalClips(), 1u);
  EXPECT_EQ(controller_.mediaCollectionNodeWithClip(*clip)->playlistItem(), renamed);
}

TEST_F(MediaCollectionTreeTest, RemovingTheLastClipOfAFolderRemovesEmptiedFoldersAndForgetsTheLeaf) {
  add(makeClip("1", "N", "F", "/Media", "keep.mov"));
  auto deep = add(makeClip("2", "N", "F", "/Media", "A/B/deep.mov"));
  const auto leaf = controller_.mediaCollectionNodeWithClip(*deep);
  ASSERT_TRUE(leaf);
  controller_.deleteCollectionNode(leaf);
  EXPECT_EQ(tree(), (std::vector<std::string>{"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/keep.mov"}));
  EXPECT_EQ(source_->removed, (std::vector<std::vector<std::string>>{{"2"}}));
  // The deleted clip no longer "exists": neither by ID nor by path.
  EXPECT_FALSE(controller_.mediaCollectionNodeWithClip(*deep));
  EXPECT_EQ(redisplays_, 1);
}

TEST_F(MediaCollectionTreeTest, DeletingSeveralSkipsFoldersAndLeavesOfAnotherFolder) {
  add(makeClip("1", "N", "F", "/Media", "a.mov"));
  add(makeClip("2", "N", "F", "/Media", "b.mov"));
  const auto media = controller_.treeForNode("N")->childAtIndex(0);
  auto moved = controller_.mediaCollectionNodeWithClip(*source_->catalogue[1]);
  moved->playlistItem()->setMediaFolderUniqueID("G");  // its clip now lies elsewhere
  controller_.deleteCollectionNodes({media, moved, controller_.mediaCollectionNodeWithClip(*source_->catalogue[0])});
  EXPECT_EQ(source_->removed, (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(tree(), (std::vector<std::string>{"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/b.mov"}));
}

TEST_F(MediaCollectionTreeTest, PruningAFoldersClipsLeavesTheCatalogueAlone) {
  add(makeClip("1", "N", "F", "/Media", "x/a.mov"));
  add(makeClip("2", "N", "G", "/Other", "b.mov"));
  controller_.deleteChildrenOfNode(controller_.treeForNode("N"), "F");
  EXPECT_EQ(tree(), (std::vector<std::string>{"Root(1)", "Root(1)/Other(1)", "Root(1)/Other(1)/b.mov"}));
  EXPECT_TRUE(source_->removed.empty());
  EXPECT_EQ(redisplays_, 0);
}

TEST_F(MediaCollectionTreeTest, CatalogueNotificationsChangeTheTrees) {
  source_->catalogue = {makeClip("1", "N", "F", "/Media", "a.mov"), makeClip("2", "M", "F", "/Media", "b.mov")};
  post(app::browser::kClipsAddedNotificationName, platform::Value(platform::Array{}));
  EXPECT_EQ(redisplays_, 0) << "an empty clipsAdded redisplays nothing";

  post(app::browser::kClipsAddedNotificationName, platform::Value(platform::Array{"1", "2", "unknown"}));
  EXPECT_EQ(redisplays_, 1);
  EXPECT_EQ(tree("N"), (std::vector<std::string>{"Root(1)", "Root(1)/Media(1)", "Root(1)/Media(1)/a.mov"}));

  source_->catalogue[0]->setDisplayName("Renamed");
  post(app::browser::kClipsDidChangeNotificationName, platform::Value(platform::Array{"1"}));
  EXPECT_EQ(tree("N").back(), "Root(1)/Media(1)/Renamed");

  // The folder is in both trees: it leaves both, and the roots' counts drop.
  post(app::browser::kMediaFolderDeletedNotificationName, platform::Value("F"));
  EXPECT_EQ(tree("N"), (std::vector<std::string>{"Root(0)"}));
  EXPECT_EQ(tree("M"), (std::vector<std::string>{"Root(0)"}));
  EXPECT_EQ(controller_.totalClips(), 0u);
  EXPECT_FALSE(controller_.mediaCollectionNodeWithClip(*source_->catalogue[0]));
  post(app::browser::kMediaFolderDeletedNotificationName, platform::Value());
  EXPECT_EQ(redisplays_, 3);
}

TEST_F(MediaCollectionTreeTest, FillingBuildsEachNodesTreeOnceItHasClips) {
  source_->nodeList = {{"N", "Node", "", "", true, true}, {"E", "Empty", "", "", true, true}, {"", "", "", "", true, true}};
  source_->catalogue = {makeClip("1", "N", "F", "/Media", "a.mov"), makeClip("2", "N", "F", "/Media", "b.mov")};
  controller_.fillMediaBrowserForNodeWithUniqueID(std::nullopt);
  EXPECT_EQ(source_->catalogueReads, 2);
  EXPECT_EQ(redisplays_, 1);
  EXPECT_EQ(controller_.treeForNode("N")->totalClips(), 2u);
  EXPECT_FALSE(controller_.treeForNode("E"));
}

TEST_F(MediaCollectionTreeTest, FindingByPathSkipsComponentsWithoutAMatch) {
  add(makeClip("1", "N", "F", "/Media", "Sub/a.mov"));
  // A clip not yet in the catalogue, at the same place (different case).
  auto probe = makeClip("", "N", "F", "/Media", "sub/A.MOV");
  probe->setUniqueID(std::nullopt);
  EXPECT_TRUE(controller_.mediaCollectionNodeWithClip(*probe));
  source_->folders[{"N", "F"}] = true;
  controller_.clearTrees();
  add(makeClip("1", "N", "F", "/Media", "Sub/a.mov"));
  EXPECT_FALSE(controller_.mediaCollectionNodeWithClip(*probe));
}

TEST_F(MediaCollectionTreeTest, ColumnsShowTheClipsDerivedTexts) {
  auto clip = makeClip("1", "N", "F", "/Media", "a.mov");
  clip->setMediaItemStartTimeCode("10:00:00:00");
  clip->setVideoCodecDescription("H.264");
  clip->setNaturalSizeWidth(1920);
  clip->setNaturalSizeHeight(1080);
  clip->setLanguagesDescription("en");
  const auto leaf = controller_.addCollectionNodeWithClip(clip, "N");
  ASSERT_TRUE(leaf);
  EXPECT_EQ(leaf->startTime(), "10:00:00:00");
  EXPECT_EQ(leaf->endTime(), "10:00:10:00");
  EXPECT_EQ(leaf->clipInfoString(), "H.264 (1920x1080, 25.00 fps) en");
  EXPECT_EQ(leaf->framesPerSecondAsString(), "25.00");
  EXPECT_EQ(leaf->naturalVideoSize(), "1920.000000x1080.000000");
  EXPECT_EQ(leaf->inPointAsString(), "");
  clip->setMediaItemStartTimeCode(std::nullopt);
  EXPECT_EQ(leaf->startTime(), app::browser::kNoStartTimeCode);
  const auto folder = leaf->parent();
  EXPECT_EQ(folder->startTime(), "");
  EXPECT_EQ(folder->endTime(), "");
  EXPECT_EQ(folder->clipInfoString(), "");
  EXPECT_EQ(folder->children()->size(), 1u);
  EXPECT_EQ(leaf->children(), nullptr);
}

}  // namespace
