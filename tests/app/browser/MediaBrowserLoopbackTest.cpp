// The media browser against the stand-in node: the tree mirrors the node's
// media folder, and a file deleted there turns its row grey once the node
// reports it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/browser/DataSourceMediaBrowserDataSource.h"
#include "app/browser/MediaBrowserRowAppearance.h"
#include "app/browser/MediaCollectionNodeController.h"
#include "nodes/link/NodeConnection.h"
#include "tests/nodes/catalogue/StandinCatalogue.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::browser {
namespace {

using testing_support::runMainLoopUntil;

// "folder/" for folders and "name" for leaves, below the tree's top folder.
void collectPaths(const MediaCollectionNode& node, const std::string& prefix, std::vector<std::string>& paths) {
  for (std::size_t index = 0; index < node.childrenCount(); ++index) {
    const auto& child = node.childAtIndex(index);
    if (child->isLeaf()) {
      paths.push_back(prefix + child->name());
    } else {
      paths.push_back(prefix + child->name() + "/");
      collectPaths(*child, prefix + child->name() + "/", paths);
    }
  }
}

TEST(MediaBrowserLoopbackTest, TreeMatchesTheFolderAndADeletedFileTurnsItsRowGrey) {
  if (const std::string why = testing_support::standinCatalogueUnavailable(); !why.empty()) GTEST_SKIP() << why;
  testing_support::TemporaryDirectory media;
  std::filesystem::create_directory(media / "News");
  ASSERT_TRUE(testing_support::makeTinyClip(media / "bars.mov"));
  ASSERT_TRUE(testing_support::makeTinyClip(media / "card.mov"));
  ASSERT_TRUE(testing_support::makeTinyClip(media / "News" / "headlines.mov"));
  testing_support::StandinCatalogue catalogue;
  const std::string failure = catalogue.start(media.path(), "Browser Test");
  ASSERT_TRUE(failure.empty()) << failure;
  MediaCollectionNodeController trees(std::make_shared<DataSourceMediaBrowserDataSource>(catalogue.sharedSource()),
                                      catalogue.center());
  const nodes::NodeConnectionPtr& connection = catalogue.connection();
  ASSERT_TRUE(runMainLoopUntil([&] { return trees.totalClips() == 3; }, "the first synchronisation"));
  // The node tells its ID on its first replies, before its clips arrive.
  const std::string nodeID = connection->nodeUniqueID();
  const auto tree = trees.treeForNode(nodeID);
  ASSERT_TRUE(tree);
  ASSERT_EQ(tree->childrenCount(), 1u) << "one top folder for the node's one media folder";
  const auto top = tree->childAtIndex(0);
  EXPECT_EQ(top->name(), media.path().filename().string());
  std::vector<std::string> inTree;
  collectPaths(*top, "", inTree);
  std::sort(inTree.begin(), inTree.end());
  std::vector<std::string> onDisk;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(media.path())) {
    // Leaves are named after their clips, without the file extension.
    auto relative = std::filesystem::relative(entry.path(), media.path());
    onDisk.push_back(entry.is_directory() ? relative.string() + "/" : relative.replace_extension().string());
  }
  std::sort(onDisk.begin(), onDisk.end());
  EXPECT_EQ(inTree, onDisk);

  const auto headlines = top->openChildrenWithPathComponents({"News", "headlines"});
  ASSERT_TRUE(headlines);
  EXPECT_EQ(nameCellAppearance(*headlines, false), (RowAppearance{kGenericMovieImage, RowTextColour::Black}));

  std::filesystem::remove(media / "News" / "headlines.mov");
  catalogue.source().forceEnumerationOnMediaFolderWithUniqueID(std::nullopt, nodeID, std::nullopt);
  ASSERT_TRUE(catalogue.tickMediaPollsUntil([&] { return !headlines->online(); }));
  ASSERT_TRUE(runMainLoopUntil([&] { return !headlines->online(); }, "the deleted file to be reported"));
  EXPECT_EQ(nameCellAppearance(*headlines, false), (RowAppearance{kGenericMovieImageOffline, RowTextColour::Grey}));
  EXPECT_EQ(textCellColour(*headlines, false), RowTextColour::Grey);
  const auto bars = top->openChildrenWithPathComponents({"bars"});
  ASSERT_TRUE(bars);
  EXPECT_EQ(textCellColour(*bars, false), RowTextColour::Black) << "the other clips stay online";
}

}  // namespace
}  // namespace app::browser
