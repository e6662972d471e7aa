#include "app/countdown/CountDownWindowController.h"

#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "nodes/link/NodeConnection.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/StaticNodeInfo.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "tests/app/countdown/RecordingCountDownView.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::countdown {
namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using platform::Value;

// One clip of the catalogue: a media item (and path) on one node.
struct CatalogueClip {
  std::string mediaItem;
  std::string node;
  std::string path;
  std::string name;
  double duration = 60.0;
};

// The catalogue queries the window makes, answered from a small table.
class CatalogueDataSource : public nodes::DataSource {
 public:
  std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string& mediaItem,
                                                          const std::optional<std::string>& node,
                                                          const std::optional<std::string>&) override {
    return matching([&](const CatalogueClip& c) { return c.mediaItem == mediaItem && (!node || c.node == *node); });
  }
  std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(const std::string& path,
                                                              const std::optional<std::string>& node) override {
    return matching([&](const CatalogueClip& c) { return c.path == path && (!node || c.node == *node); });
  }

  std::vector<CatalogueClip> catalogue;

 private:
  template <typename Match>
  PlaylistItems matching(Match match) const {
    PlaylistItems items;
    for (const CatalogueClip& c : catalogue) {
      if (!match(c)) continue;
      auto item = std::make_shared<nodes::PlaylistItem>();
      item->setDisplayName(c.name);
      item->setMediaItemDurationInSeconds(c.duration);
      item->setFramesPerSecond(25.0);
      items.push_back(item);
    }
    return items;
  }
};

Value entry(const std::string& mediaItem, const std::string& playbackID, const std::string& path = "") {
  return Value(Dictionary{{nodes::clipinfo::kMediaItemUniqueID, Value(mediaItem)},
                          {nodes::clipinfo::kPlaybackUniqueID, Value(playbackID)},
                          {nodes::clipinfo::kAbsolutePathToMediaItem, Value(path)}});
}

Dictionary status(const std::string& state, const std::string& playbackID, double position, int chain, int loop) {
  return {{nodes::kNodeStatusStatusKey, Value(state)},
          {nodes::kNodeStatusClipPlaybackUniqueIDKey, Value(playbackID)},
          {nodes::kNodeStatusPositionKey, Value(position)},
          {nodes::kNodeStatusChainModeKey, Value(chain)},
          {nodes::kNodeStatusLoopModeKey, Value(loop)}};
}

class CountDownWindowControllerTest : public ::testing::Test {
 protected:
  CountDownWindowControllerTest() {
    platform::RunLoop::main().attachCurrentThread();
    (void)platform::setCurrentTimeZoneForTesting("UTC");
  }
  ~CountDownWindowControllerTest() override {
    controller_.reset();
    (void)platform::setCurrentTimeZoneForTesting("");
  }

  nodes::NodeConnectionPtr addNode(const std::string& id, const std::string& name, const std::string& port) {
    nodes::StaticNodeInfo info;
    info.setIpAdress("127.0.0.1");
    info.setPortNumber(port);
    dataSource_->addStaticNodeInfoInCache(info);
    nodes::NodeConnectionPtr node = dataSource_->nodes().back();
    node->setNodeUniqueID(id);
    node->setName(name);
    return node;
  }

  CountDownWindowController& open(const std::optional<Dictionary>& record = std::nullopt) {
    CountDownWindowController::Services services{defaults_, center_, [this] { return dataSource_; },
                                                 [this] { return terminating_; }};
    controller_ = std::make_unique<CountDownWindowController>(std::move(services), record);
    controller_->setView(&view_);
    controller_->awakeFromNib();
    return *controller_;
  }

  void post(const char* name, const nodes::NodeConnectionPtr& node, Dictionary userInfo = {}) {
    center_.post(platform::Notification{name, nullptr, std::any(node), std::move(userInfo)});
  }

  // The saved records, as dictionaries.
  std::vector<Dictionary> records() const {
    std::vector<Dictionary> out;
    for (const Value& value : defaults_.arrayForKey(kCountDownWindowPositionsKey).value_or(Array{})) {
      if (const Dictionary* record = value.dictionary()) out.push_back(*record);
    }
    return out;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::NotificationCenter center_;
  std::shared_ptr<CatalogueDataSource> dataSource_ = std::make_shared<CatalogueDataSource>();
  bool terminating_ = false;
  RecordingCountDownView view_;
  std::unique_ptr<CountDownWindowController> controller_;
};

TEST_F(CountDownWindowControllerTest, NodeListNamesNodesByNameOrAddressAndANewWindowTakesTheDefaultNode) {
  addNode("node-a", "Studio A", "7000");
  addNode("node-b", "", "7001");
  defaults_.setObject(Value("node-b"), kDefaultNodeAUniqueIDKey);

  CountDownWindowController& window = open();
  window.showWindow();

  const std::vector<NodeListItem> expected = {
      {"<none>", std::nullopt, false}, {"", std::nullopt, true}, {"Studio A", "node-a", false},
      {"127.0.0.1:7001", "node-b", false}};
  EXPECT_EQ(view_.items, expected);
  EXPECT_EQ(view_.selected, 3u);
  EXPECT_EQ(window.nodeUniqueID(), "node-b");
  EXPECT_EQ(view_.type, 1);
  ASSERT_EQ(records().size(), 1u) << "a window is saved as it opens";
  EXPECT_EQ(records()[0].at("NodeUniqueID"), Value("node-b"));

  window.nodeListPopUpPushed(0);
  EXPECT_EQ(window.nodeUniqueID(), "");
  EXPECT_EQ(records()[0].at("NodeUniqueID"), Value(""));
}

TEST_F(CountDownWindowControllerTest, CountersFollowTheWindowNodesClipAndModes) {
  auto node = addNode("node-a", "Studio A", "7000");
  auto other = addNode("node-b", "Studio B", "7001");
  dataSource_->catalogue = {{"m1", "node-a", "", "Opening"}, {"m2", "node-a", "", "News"},
                            {"m3", "node-a", "", "Weather"}};
  node->setCurrentPlaylist(Array{entry("m1", "p1"), entry("m2", "p2"), entry("m3", "p3")});
  open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});
  ASSERT_EQ(controller_->grabedPlaylist().size(), 3u);

  struct Case {
    Dictionary status;
    TimeCountDisplay counter;
    std::string current, next;
  };
  const std::vector<Case> cases = {
      {status("PLAYING", "p2", 50.5, 1, 0), {"00:00:09", TimeCountColour::Red}, "News", "Weather"},
      {status("PLAYING", "p3", 31, 1, 0), {"00:00:29", TimeCountColour::Orange}, "Weather", "<none>"},
      {status("PLAYING", "p3", 29, 1, 1), {"00:00:31", TimeCountColour::Green}, "Weather", "Opening"},
      {status("PLAYING", "p1", 0, 0, 1), {"00:01:00", TimeCountColour::Green}, "Opening", "Opening"},
      {status("PAUSED", "p2", 1, 0, 0), {"00:00:59", TimeCountColour::Green}, "News", "<none>"},
      {status("STOPPED", "p2", 1, 1, 1), {"--:--:--", TimeCountColour::White}, "<none>", "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Value(c.status).describe());
    post(nodes::kPlaybackClipPositionDidChangeNotification, node, c.status);
    EXPECT_EQ(view_.timeCount, c.counter);
    EXPECT_EQ(view_.current, c.current);
    EXPECT_EQ(view_.next, c.next);
  }
  // Another node's clips change nothing.
  post(nodes::kPlaybackClipUniqueIDDidChangeNotification, other, status("PLAYING", "p1", 5, 1, 0));
  EXPECT_EQ(view_.current, "<none>");
}

TEST_F(CountDownWindowControllerTest, ASingleClipCountsWhateverPlaybackIDTheNodeReports) {
  auto node = addNode("node-a", "Studio A", "7000");
  dataSource_->catalogue = {{"m1", "node-a", "", "Only", 20.0}};
  node->setCurrentPlaylist(Array{entry("m1", "p1")});
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});
  window.timeCountTypePopUpPushed(2);

  post(nodes::kPlaybackClipPositionDidChangeNotification, node, status("PLAYING", "unknown", 12, 0, 0));

  EXPECT_EQ(view_.timeCount, (TimeCountDisplay{"00:00:12", TimeCountColour::Green}));
  EXPECT_EQ(window.currentClipIndex(), 0);
}

TEST_F(CountDownWindowControllerTest, ThePlaylistIsReadFromTheWindowsNodeFirstThenAnyNodeThenByPath) {
  auto node = addNode("node-a", "Studio A", "7000");
  dataSource_->catalogue = {{"m1", "node-z", "", "Elsewhere"},
                            {"m1", "node-a", "", "Here"},
                            {"m2", "node-z", "", "Only elsewhere"},
                            {"", "node-z", "/media/c.mov", "Other node's path"},
                            {"", "node-a", "/media/c.mov", "By path"}};
  node->setCurrentPlaylist(Array{entry("m1", "p1"), entry("m2", "p2"), entry("m9", "p3", "/media/c.mov"),
                                 entry("m8", "p4"), Value("not a clip")});
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});

  std::vector<std::string> names;
  for (const auto& clip : window.grabedPlaylist()) names.push_back(clip->displayName());
  EXPECT_EQ(names, (std::vector<std::string>{"Here", "Only elsewhere", "By path"}));
  EXPECT_EQ(window.grabedPlaylist()[0]->playbackUniqueID(), "p1");
  EXPECT_EQ(window.grabedPlaylist()[0]->nodeUniqueID(), "node-a");
}

TEST_F(CountDownWindowControllerTest, AStoppedNodeEmptiesThePlaylistOnChange) {
  auto node = addNode("node-a", "Studio A", "7000");
  dataSource_->catalogue = {{"m1", "node-a", "", "One"}, {"m2", "node-a", "", "Two"}};
  node->setCurrentPlaylist(Array{entry("m1", "p1")});
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});

  node->setCurrentPlaylist(Array{entry("m1", "p1"), entry("m2", "p2")});
  node->setCurrentStatus(status("PLAYING", "p2", 1, 1, 0));
  post(nodes::kPlaylistDidChangeNotification, node);
  EXPECT_EQ(window.grabedPlaylist().size(), 2u);
  EXPECT_EQ(view_.current, "Two");
  EXPECT_EQ(window.grabedPlaylist()[1]->relativeStartTimeInSeconds(), 60.0) << "chained from the node's status";

  node->setCurrentStatus(status("STOPPED", "", 0, 1, 0));
  post(nodes::kPlaylistDidChangeNotification, node);
  EXPECT_TRUE(window.grabedPlaylist().empty());
  EXPECT_EQ(view_.timeCount.text, "--:--:--");
}

TEST_F(CountDownWindowControllerTest, TheLocalClockTicksEveryHalfSecondAndTheNodeClockShowsTheNodesDate) {
  clock_.setWallTime(std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + 12h + 34min + 56s);
  auto node = addNode("node-a", "Studio A", "7000");
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});

  window.timeCountTypePopUpPushed(5);
  EXPECT_EQ(view_.timeCount.text, "--:--:--");
  clock_.advance(500ms);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return view_.timeCount.text == "12:34:56"; }, "a tick"));
  clock_.advance(1500ms);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return view_.timeCount.text == "12:34:58"; }, "more ticks"));

  window.timeCountTypePopUpPushed(6);
  clock_.advance(2s);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(view_.timeCount.text, "12:34:58") << "the local clock stopped";
  const platform::Date nodeTime = std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + 21h + 5min + 7s;
  struct Case {
    Value currentDateTime;
    std::string expected;
  };
  for (const Case& c : {Case{Value(nodeTime), "21:05:07"}, Case{Value("21:05:07"), "--:--:--"}}) {
    node->setCurrentStatus(Dictionary{{nodes::kNodeStatusCurrentDateTimeKey, c.currentDateTime}});
    post(nodes::kCurrentDateTimeDidChangeNotification, node);
    EXPECT_EQ(view_.timeCount.text, c.expected);
    EXPECT_EQ(view_.current, "-");
  }
}

TEST_F(CountDownWindowControllerTest, TheRecordFollowsEveryChangeAndGoesWhenTheOperatorCloses) {
  addNode("node-a", "Studio A", "7000");
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w1")},
                                                      {"x", Value(10)},
                                                      {"y", Value(20)},
                                                      {"w", Value(500)},
                                                      {"h", Value(300)},
                                                      {"NodeUniqueID", Value("node-a")},
                                                      {"TimeCountType", Value(3)},
                                                      {"FullScreen", Value(true)}});
  // Before the frame is applied the saved one stands, so a kill now loses nothing.
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].at("w"), Value(500));
  EXPECT_EQ(records()[0].at("FullScreen"), Value(true));

  window.loadAssignedWindowFrame();
  EXPECT_EQ(view_.windowFrame, (WindowFrame{10, 20, 500, 300}));
  EXPECT_TRUE(view_.fullScreen);
  EXPECT_EQ(view_.buttonImage, "exitFullScreen.tiff");

  window.toogleFullScreen();
  EXPECT_EQ(view_.buttonImage, "enterFullScreen.tiff");
  view_.windowFrame = {40, 50, 640, 360};
  window.windowDidResize();
  window.timeCountTypePopUpPushed(2);
  const Dictionary expected{{"x", Value(40)},           {"y", Value(50)},           {"w", Value(640)},
                            {"h", Value(360)},          {"UniqueID", Value("w1")},  {"NodeUniqueID", Value("node-a")},
                            {"TimeCountType", Value(2)}, {"FullScreen", Value(false)}};
  EXPECT_EQ(records(), std::vector<Dictionary>{expected});

  terminating_ = true;
  window.windowWillClose();
  EXPECT_EQ(records().size(), 1u) << "closed by quitting: kept";
  terminating_ = false;
  window.windowWillClose();
  EXPECT_TRUE(records().empty()) << "closed by the operator: gone";
}

TEST_F(CountDownWindowControllerTest, AWindowWhoseNodeIsNotFoundYetKeepsItAndReadsItWhenItComes) {
  dataSource_->catalogue = {{"m1", "node-a", "", "One"}};
  CountDownWindowController& window = open(Dictionary{{"UniqueID", Value("w")}, {"NodeUniqueID", Value("node-a")}});
  EXPECT_EQ(window.nodeUniqueID(), "node-a");
  EXPECT_EQ(records()[0].at("NodeUniqueID"), Value("node-a"));

  auto node = addNode("node-a", "Studio A", "7000");
  node->setCurrentPlaylist(Array{entry("m1", "p1")});
  post(nodes::kNodeListDidChangeNotification, nullptr);
  EXPECT_EQ(view_.selected, 2u);
  EXPECT_EQ(window.grabedPlaylist().size(), 1u);
}

}  // namespace
}  // namespace app::countdown
