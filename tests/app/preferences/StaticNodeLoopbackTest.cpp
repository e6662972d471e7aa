// A node added by address in the preferences is stored, connected and
// offered to the playlist windows: against the stand-in node on 127.0.0.1.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/playlist/DataSourcePlaylistNodeControl.h"
#include "app/preferences/DataSourcePreferencesNodeSource.h"
#include "nodes/link/DataSource.h"
#include "nodes/link/NodeConnection.h"
#include "platform/Clock.h"
#include "tests/app/preferences/PreferencesFixture.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/support/RunLoopWait.h"

namespace app::preferences {
namespace {

TEST_F(PreferencesFixture, NodeAddedByAddressConnectsAndReachesThePlaylistPopUps) {
  testing_support::NodeStandinProcess node;
  const std::string failure = node.start({"--media", home.path().string(), "--name", "Loopback Node"});
  if (!testing_support::NodeStandinProcess::findBinary()) GTEST_SKIP() << failure;
  ASSERT_TRUE(failure.empty()) << failure;

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);
  std::shared_ptr<nodes::DataSource> source = nodes::DataSource::create();
  DataSourcePreferencesNodeSource nodeList(source);
  controller = std::make_unique<PreferencesWindowController>(PreferencesWindowController::Services{
      defaults, center, nodeList, [] { return std::vector<std::string>{}; }, smallMetadataTables()});
  controller->windowDidLoad();
  controller->changePanes(kStaticIPPaneTag);

  controller->segmentClicked(kStaticIPSegmentedControlOutlet, kAddSegment);
  controller->fieldTextChanged(kStaticIPTextFieldOutlet, "127.0.0.1");
  controller->fieldTextChanged(kPortNumberTextFieldOutlet, "70000");
  EXPECT_FALSE(controller->sheetDidEnd(kStaticIPPanelOutlet, kSheetOK));
  EXPECT_TRUE(source->nodes().empty()) << "a refused port connects nothing";
  controller->fieldTextChanged(kPortNumberTextFieldOutlet, std::to_string(node.port()));
  ASSERT_TRUE(controller->sheetDidEnd(kStaticIPPanelOutlet, kSheetOK));
  ASSERT_EQ(source->nodes().size(), 1u);
  struct StopOnExit {
    nodes::NodeConnectionPtr connection;
    ~StopOnExit() { connection->stopConnection(); }
  } stopOnExit{source->nodes().front()};

  DataSourcePlaylistNodeControl playlistNodes(source);
  const auto listed = [&] {
    const auto list = playlistNodes.nodeList();
    return std::any_of(list.begin(), list.end(), [](const PlaylistNodeIdentity& identity) {
      return identity.name == "Loopback Node" && identity.connected;
    });
  };
  ASSERT_TRUE(testing_support::runMainLoopUntil(listed, "the node to answer"));
  // The data source saves the node once it has told its unique ID.
  const auto savedNodes = [&] { return defaults.arrayForKey(nodes::kDiscoveredNodesKey).value_or(platform::Array{}); };
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return savedNodes().size() == 1; }, "the node to be saved"));
  const platform::Array saved = savedNodes();
  EXPECT_EQ(saved[0]["ipAdress"], platform::Value("127.0.0.1"));
  EXPECT_EQ(saved[0]["portNumber"], platform::Value(std::to_string(node.port())));

  center.post(nodes::kNodeListDidChangeNotification);
  const std::vector<std::string> offered = titles(kDefaultNodeAPopUpButtonOutlet);
  EXPECT_NE(std::find(offered.begin(), offered.end(), "Loopback Node"), offered.end());
}

}  // namespace
}  // namespace app::preferences
