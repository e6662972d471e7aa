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
#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/catalogue/MediaSynchronisation.h"
#include "nodes/catalogue/PseudoServerDataSource.h"
#include "nodes/link/NodeConnection.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::browser {
namespace {

using testing_support::runMainLoopUntil;

bool makeClip(const std::filesystem::path& path) {
  const std::string command =
      "ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=1:size=64x36:rate=25 -c:v mpeg4 -y '" + path.string() +
      "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

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
  if (!testing_support::NodeStandinProcess::findBinary()) GTEST_SKIP() << "node-standin is not built";
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  testing_support::TemporaryDirectory media;
  std::filesystem::create_directory(media / "News");
  ASSERT_TRUE(makeClip(media / "bars.mov"));
  ASSERT_TRUE(makeClip(media / "card.mov"));
  ASSERT_TRUE(makeClip(media / "News" / "headlines.mov"));
  testing_support::NodeStandinProcess node;
  const std::string failure = node.start({"--media", media.path().string(), "--name", "Browser Test"});
  ASSERT_TRUE(failure.empty()) << failure;

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  testing_support::CapturedDiagnostics diagnostics;
  auto alerts = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter scopedAlerts(alerts);
  testing_support::TemporaryDirectory home;
  platform::UserDefaults defaults(home / "defaults.plist");
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);
  platform::NotificationCenter center;
  nodes::PseudoServerDataSource::Options options;
  options.notificationCenter = &center;
  options.bundleName = "Test";
  std::shared_ptr<nodes::DataSource> source = nodes::PseudoServerDataSource::create(home.path(), nullptr, std::move(options));
  auto& pseudo = static_cast<nodes::PseudoServerDataSource&>(*source);
  pseudo.setNodePollingHooks(std::make_shared<nodes::MediaSynchronisation>());
  MediaCollectionNodeController trees(std::make_shared<DataSourceMediaBrowserDataSource>(source), center);
  nodes::StaticNodeInfo info;
  info.setIpAdress("127.0.0.1");
  info.setPortNumber(std::to_string(node.port()));
  pseudo.addStaticNodeInfoInCache(info);
  pseudo.tryToConnectRegisteredNodes();
  ASSERT_EQ(pseudo.nodes().size(), 1u);
  const nodes::NodeConnectionPtr connection = pseudo.nodes().front();
  struct StopOnExit {
    nodes::NodeConnectionPtr connection;
    ~StopOnExit() { connection->stopConnection(); }
  } stopOnExit{connection};
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
  pseudo.forceEnumerationOnMediaFolderWithUniqueID(std::nullopt, nodeID, std::nullopt);
  for (std::uint64_t done = connection->pollingTickCount();
       headlines->online() && done <= 2 * nodes::NodeConnection::kMediaPollTicks; ++done) {
    ASSERT_TRUE(testing_support::waitForCondition(
        [&] { return connection->pollingTickCount() == done && clock.waiterCount() == 1; }, "a tick to end"));
    clock.advance(nodes::NodeConnection::kPollingTick);
  }
  ASSERT_TRUE(runMainLoopUntil([&] { return !headlines->online(); }, "the deleted file to be reported"));
  EXPECT_EQ(nameCellAppearance(*headlines, false), (RowAppearance{kGenericMovieImageOffline, RowTextColour::Grey}));
  EXPECT_EQ(textCellColour(*headlines, false), RowTextColour::Grey);
  const auto bars = top->openChildrenWithPathComponents({"bars"});
  ASSERT_TRUE(bars);
  EXPECT_EQ(textCellColour(*bars, false), RowTextColour::Black) << "the other clips stay online";
}

}  // namespace
}  // namespace app::browser
