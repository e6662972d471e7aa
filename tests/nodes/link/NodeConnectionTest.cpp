#include "nodes/link/NodeConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/Thread.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/nodes/ScriptedNodeServer.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using testing_support::runMainLoopUntil;
using testing_support::ScriptedNodeServer;
using testing_support::waitForCondition;
using Reply = ScriptedNodeServer::Reply;
using Calls = std::vector<std::string>;

std::string plist(const platform::Value& value) { return platform::writePropertyList(value).value(); }

// Records the delegate calls by name, from whichever thread they come.
class RecordingNodeDelegate : public NodeConnectionDelegate {
 public:
  Calls calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

  void nodeListDidChange() override { record("list"); }
  void nodePlaybackStatusChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("status"); }
  void nodePlaybackClipUniqueIDChanged(const platform::Dictionary&, const NodeConnectionPtr&) override {
    record("clip");
  }
  void nodeLockedClipsChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("locked"); }
  void nodePlaybackPlaylistUniqueIDChanged(const platform::Dictionary&, const NodeConnectionPtr&) override {
    record("playlist");
  }
  void nodeCurrentDateTimeChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("date"); }
  void nodeCurrentDelayChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("delay"); }
  void nodePlaybackLoopModeChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("loop"); }
  void nodePlaybackChainModeChanged(const platform::Dictionary&, const NodeConnectionPtr&) override {
    record("chain");
  }
  void nodePlaybackCueModeChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("cue"); }
  void nodeAuthenticationChanged(const platform::Dictionary&, const NodeConnectionPtr&) override { record("auth"); }
  void nodePlaybackClipPositionChanged(const platform::Dictionary&, const NodeConnectionPtr&) override {
    record("position");
  }
  void nodeScheduleUniqueIDDidChange(const std::string& id, const NodeConnectionPtr&) override {
    record("schedule:" + id);
  }

 private:
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  Calls calls_;
};

platform::Dictionary playingStatus() {
  return platform::Dictionary{
      {"currentDateTime", platform::Value(platform::Date(std::chrono::seconds(1700000000)))},
      {"schedulerDelayInSeconds", 0},
      {"lockedClips", platform::Array{"c1"}},
      {"playlistUniqueID", "p1"},
      {"clipPlaybackUniqueID", "c1"},
      {"loopMode", true},
      {"chainMode", false},
      {"cueMode", false},
      {"status", "PLAYING"},
      {"position", 1.5},
      {"isAuthenticated", true},
  };
}

class NodeConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = NodeConnection::create(delegate_);
    connection_->setAddress("127.0.0.1");
    connection_->setPortNumber(std::to_string(server_.port()));
  }
  void TearDown() override {
    if (connection_) connection_->stopConnection();
  }

  // The fake node: identity, an empty playlist, the status in `status_`,
  // "held ..." commands answered only on release, "OK" for the rest.
  Reply answer(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (line == "version") return Reply::text(version_ + "\r\n");
    if (line == "nodeuniqueid") return Reply::text(nodeUniqueID_ + "\r\n");
    if (line == "nodename") return Reply::text(nodeName_ + "\r\n");
    if (line == "plplaylist") {
      return Reply::text(playlistReply_.empty() ? plist(platform::Array{platform::Dictionary{{"clipInfoUniqueID", "c1"}}})
                                                : playlistReply_);
    }
    if (line == "pbstatus") return statusReply_.empty() ? Reply::text(plist(status_)) : Reply::text(statusReply_);
    if (line == "pllastchangenumber") return Reply::text("0\r\n");
    if (line.starts_with("held ")) return Reply::held({"", "OK-" + line.substr(5) + "\r\n"});
    if (line.starts_with("ctl ")) return Reply::text("OK-" + line.substr(4) + "\r\n");
    return Reply::text("OK\r\n");
  }

  void setVersion(std::string version) {
    std::lock_guard lock(mutex_);
    version_ = std::move(version);
  }
  void setNodeStatus(platform::Dictionary status, std::string rawReply = {}) {
    std::lock_guard lock(mutex_);
    status_ = std::move(status);
    statusReply_ = std::move(rawReply);
  }

  // Opens the link of a node that answers "version" 201: the polling thread
  // ends at once and the test thread may send commands itself.
  void openWithoutPolling() {
    setVersion("201");
    connection_->startConnection();
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return connection_->isConnected() && server_.countLines("version") == 1 && !connection_->isRunning(); },
        "the identity check"));
  }

  // Opens the link and lets the polling thread ask for the node's identity
  // and run its first tick (which needs no clock advance); it then sleeps.
  void openAndPoll() {
    connection_->startConnection();
    ASSERT_TRUE(runMainLoopUntil([&] { return connection_->isRunning(); }, "the polling thread to start"));
    ASSERT_TRUE(waitForCondition([&] { return connection_->pollingTickCount() == 1 && clock_.waiterCount() == 1; },
                                 "the first tick"));
  }

  // Lets the sleeping polling thread finish `ticks` more ticks, advancing the
  // clock one tick at a time once it sleeps again. (A reply wait also counts
  // as a clock waiter, which is why the tick count must match as well.)
  void runTicks(std::uint64_t ticks) {
    const std::uint64_t target = connection_->pollingTickCount() + ticks;
    for (std::uint64_t done = connection_->pollingTickCount();; ++done) {
      ASSERT_TRUE(waitForCondition(
          [&] { return connection_->pollingTickCount() == done && clock_.waiterCount() == 1; }, "a tick to end"));
      if (done == target) return;
      clock_.advance(NodeConnection::kPollingTick);
    }
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::CapturedDiagnostics diagnostics_;
  std::mutex mutex_;
  std::string version_ = "200";             // guarded by mutex_
  platform::Dictionary status_ = playingStatus();  // guarded by mutex_
  std::string statusReply_;                 // guarded by mutex_
  std::string nodeUniqueID_ = "uid-1";      // guarded by mutex_
  std::string nodeName_ = "Studio A";       // guarded by mutex_
  std::string playlistReply_;               // guarded by mutex_
  ScriptedNodeServer server_{[this](const std::string& line) { return answer(line); }};
  std::shared_ptr<RecordingNodeDelegate> delegate_ = std::make_shared<RecordingNodeDelegate>();
  std::shared_ptr<NodeConnection> connection_;
};

TEST_F(NodeConnectionTest, AsksForIdentityThenPollsStatusEveryFifthTickAndTheRestEveryFiftyFirst) {
  openAndPoll();
  EXPECT_EQ(server_.lines(), (Calls{"version", "nodeuniqueid", "nodename", "plplaylist"}));
  EXPECT_EQ(connection_->nodeUniqueID(), "uid-1");
  EXPECT_EQ(connection_->name(), "Studio A");
  EXPECT_EQ(connection_->currentPlaylist().size(), 1u);

  runTicks(102);  // ticks 0 to 102 have run
  EXPECT_EQ(server_.countLines("pbstatus"), 20u);           // ticks 5, 10, ..., 100
  EXPECT_EQ(server_.countLines("pllastchangenumber"), 2u);  // ticks 51 and 102
  EXPECT_EQ(connection_->currentStatus(), playingStatus());
}

// Between status ticks the thread sleeps; a queued command still goes out at
// the next tick, and the status keeps its every-fifth-tick cadence.
TEST_F(NodeConnectionTest, CommandQueuedWhileTheThreadSleepsGoesAtTheNextTickWithoutShiftingTheStatusTicks) {
  openAndPoll();
  runTicks(2);  // ticks 1 and 2 had nothing to do
  connection_->addControlCommand(ControlCommand::make("ctl between"));
  EXPECT_EQ(server_.countLines("ctl between"), 0u);  // the clock has not reached tick 3
  clock_.advance(NodeConnection::kPollingTick);
  ASSERT_TRUE(waitForCondition([&] { return connection_->pollingTickCount() == 4 && clock_.waiterCount() == 1; },
                               "tick 3"));
  EXPECT_EQ(server_.countLines("ctl between"), 1u);
  EXPECT_EQ(server_.countLines("pbstatus"), 0u);
  runTicks(1);
  EXPECT_EQ(server_.countLines("pbstatus"), 0u);  // tick 4
  runTicks(1);
  EXPECT_EQ(server_.countLines("pbstatus"), 1u);  // tick 5
  runTicks(5);
  EXPECT_EQ(server_.countLines("pbstatus"), 2u);  // tick 10
}

// Where a connection was destroyed, told by the hooks it owned.
struct TeardownProbe {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;                       // guarded by mutex
  bool released = false;                      // guarded by mutex
  std::optional<std::thread::id> destroyedOn;  // guarded by mutex
};

// Holds the polling thread inside its first media check until the test has
// let go of the connection, so the polling thread's reference is the last.
class HoldingHooks final : public NodePollingHooks {
 public:
  explicit HoldingHooks(std::shared_ptr<TeardownProbe> probe) : probe_(std::move(probe)) {}
  ~HoldingHooks() override {
    std::lock_guard lock(probe_->mutex);
    probe_->destroyedOn = std::this_thread::get_id();
  }
  void checkForMediaFolderChanges(NodeConnection&) override {
    std::unique_lock lock(probe_->mutex);
    probe_->entered = true;
    probe_->changed.notify_all();
    probe_->changed.wait_for(lock, std::chrono::seconds(30), [&] { return probe_->released; });
  }
  void checkForAttributeChanges(NodeConnection&) override {}

 private:
  std::shared_ptr<TeardownProbe> probe_;
};

TEST_F(NodeConnectionTest, LastReferenceDroppedOnThePollingThreadIsReleasedOnTheMainThread) {
  for (int round = 0; round < 10; ++round) {
    auto probe = std::make_shared<TeardownProbe>();
    connection_->setPollingHooks(std::make_shared<HoldingHooks>(probe));
    connection_->startConnection();
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
          std::lock_guard lock(probe->mutex);
          return probe->entered;
        },
        "the polling thread to hold the connection"));
    connection_.reset();
    {
      std::lock_guard lock(probe->mutex);
      probe->released = true;
    }
    probe->changed.notify_all();
    ASSERT_TRUE(runMainLoopUntil(
        [&] {
          std::lock_guard lock(probe->mutex);
          return probe->destroyedOn.has_value();
        },
        "the connection to be destroyed"));
    EXPECT_EQ(probe->destroyedOn, std::this_thread::get_id()) << "round " << round;

    connection_ = NodeConnection::create(delegate_);
    connection_->setAddress("127.0.0.1");
    connection_->setPortNumber(std::to_string(server_.port()));
  }
  EXPECT_EQ(diagnostics_.count("destroyed from its own thread"), 0u);
}

// What a node says ends up in the saved node list and in documents: text the
// property-list file cannot hold is replaced as it arrives.
TEST_F(NodeConnectionTest, ReplyTextTheSettingsFileCannotHoldIsReplacedOnArrival) {
  {
    std::lock_guard lock(mutex_);
    nodeUniqueID_ = "uid\x02-1";
    nodeName_ = "Studio\x01 A\xFF";
    playlistReply_ = plist(platform::Array{platform::Dictionary{{"clipInfoDisplayName", "News-ESC-1"}}});
    playlistReply_.replace(playlistReply_.find("-ESC-"), 5, "&#27;");  // a character the writer refuses
  }
  openAndPoll();
  EXPECT_EQ(connection_->nodeUniqueID(), "uid\uFFFD-1");
  EXPECT_EQ(connection_->name(), "Studio\uFFFD A\uFFFD");
  ASSERT_EQ(connection_->currentPlaylist().size(), 1u);
  EXPECT_EQ(connection_->currentPlaylist()[0]["clipInfoDisplayName"], platform::Value("News\uFFFD1"));
  EXPECT_TRUE(platform::checkPropertyListWritable(platform::Value(connection_->nodeInfoDictionary())).ok());
}

TEST_F(NodeConnectionTest, UnsupportedVersionIsNotPolled) {
  openWithoutPolling();
  EXPECT_EQ(server_.lines(), Calls{"version"});
  EXPECT_TRUE(connection_->isConnected());
  EXPECT_EQ(diagnostics_.count("Unsupported version"), 1u);
}

struct StatusCase {
  const char* name;
  platform::Dictionary before;
  platform::Dictionary after;
  Calls expected;
};

TEST_F(NodeConnectionTest, StatusDifferencesAreReportedInOrder) {
  const auto with = [](const char* key, platform::Value value) {
    platform::Dictionary status = playingStatus();
    status[key] = std::move(value);
    return status;
  };
  const std::vector<StatusCase> cases{
      {"from no status", {}, playingStatus(), {"locked", "playlist", "clip", "loop", "status", "position", "auth"}},
      {"position only", playingStatus(), with("position", 2.5), {"position"}},
      {"from CLOSED", with("status", "CLOSED"), playingStatus(), {}},
      {"to PAUSED", playingStatus(), with("status", "PAUSED"), {"status"}},
      {"date", playingStatus(), with("currentDateTime", platform::Date(std::chrono::seconds(1700000001))), {"date"}},
      {"schedule starts", playingStatus(), with("scheduleUniqueID", "s1"), {"schedule:s1"}},
      {"locked clip renamed", playingStatus(), with("lockedClips", platform::Array{"c2"}), {"locked"}},
      {"everything at once", with("status", "STOPPED"),
       [] {
         platform::Dictionary s{{"currentDateTime", platform::Value(platform::Date(std::chrono::seconds(1)))},
                                {"schedulerDelayInSeconds", 3.0}, {"lockedClips", platform::Array{}},
                                {"playlistUniqueID", "p2"}, {"clipPlaybackUniqueID", "c2"}, {"loopMode", false},
                                {"chainMode", true}, {"cueMode", true}, {"status", "CUED"}, {"position", 0.0},
                                {"scheduleUniqueID", "s2"}, {"isAuthenticated", false}};
         return s;
       }(),
       {"date", "delay", "locked", "playlist", "clip", "loop", "chain", "cue", "status", "position", "schedule:s2",
        "auth"}},
  };
  openWithoutPolling();
  for (const StatusCase& c : cases) {
    connection_->setCurrentStatus(c.before);
    setNodeStatus(c.after);
    delegate_->clear();
    connection_->checkPlaybackStatus();
    EXPECT_EQ(delegate_->calls(), c.expected) << c.name;
    EXPECT_EQ(connection_->currentStatus(), c.after) << c.name;
  }

  setNodeStatus({}, "ERROR\r\n");  // a refusal is no status
  delegate_->clear();
  connection_->checkPlaybackStatus();
  EXPECT_TRUE(delegate_->calls().empty());
  EXPECT_EQ(connection_->currentStatus(), cases.back().after);
}

TEST_F(NodeConnectionTest, ControlCommandsGoOldestFirstAndQueuingNeverWaitsForAReply) {
  openWithoutPolling();
  Calls replies;  // main thread only
  const auto queue = [&](const std::string& text) {
    connection_->addControlCommand(ControlCommand::make(text, "reply:", [&](const std::shared_ptr<ControlCommand>& c) {
      replies.push_back(c->command() + "=" + c->response());
    }));
  };
  queue("held a");
  queue("ctl b");
  queue("ctl c");

  std::atomic<bool> stepDone{false};
  platform::Thread step("test.pollingStandIn", [&](std::stop_token) {
    connection_->processControlCommandsAndUpdateStatus();
    stepDone = true;
  });
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 1; }, "the first command to be sent"));

  std::atomic<bool> queued{false};
  platform::Thread other("test.mainStandIn", [&](std::stop_token) {
    queue("ctl d");  // while "held a" waits for its reply
    queued = true;
  });
  EXPECT_TRUE(waitForCondition([&] { return queued.load(); }, "queuing to return during the wait"));
  EXPECT_FALSE(stepDone.load());

  server_.release();
  ASSERT_TRUE(waitForCondition([&] { return stepDone.load(); }, "the step to end"));
  ASSERT_TRUE(runMainLoopUntil([&] { return replies.size() == 3; }, "the reply handlers"));
  EXPECT_EQ(replies, (Calls{"held a=OK-a", "ctl b=OK-b", "ctl c=OK-c"}));
  EXPECT_EQ(server_.lines(), (Calls{"version", "held a", "ctl b", "ctl c"}));
  ASSERT_EQ(connection_->controlCommands().size(), 1u);  // queued during the step: sent at the next one
  EXPECT_EQ(connection_->controlCommands().front()->command(), "ctl d");
}

TEST_F(NodeConnectionTest, ThumbnailReplyBecomesAnImageOnlyWhenItIsAPropertyList) {
  const RGBAImage picture{2, 1, {255, 0, 0, 255, 0, 255, 0, 255}};
  const std::string tiff = plist(platform::Value(tiffDataFromImage(picture).value()));
  openWithoutPolling();
  for (const auto& [reply, hasImage] : std::vector<std::pair<std::string, bool>>{{tiff, true}, {"ERROR\r\n", false}}) {
    {
      std::lock_guard lock(mutex_);
      statusReply_ = reply;  // "pbstatus" stands in for the thumbnail command here
    }
    std::shared_ptr<ControlCommand> answered;
    connection_->addControlCommand(ControlCommand::make(
        "pbstatus", kReceivedReplyToRequestThumbnailSelector,
        [&](const std::shared_ptr<ControlCommand>& c) { answered = c; }, true));
    connection_->processControlCommandsAndUpdateStatus();
    ASSERT_TRUE(runMainLoopUntil([&] { return answered != nullptr; }, "the reply handler"));
    ASSERT_EQ(answered->responseImage() != nullptr, hasImage) << reply;
    if (hasImage) {
      EXPECT_EQ(*answered->responseImage(), picture);
    }
  }
}

TEST_F(NodeConnectionTest, StopWaitsForThePollingThreadAndTheCloseResetsTheNode) {
  openAndPoll();
  int closedPosts = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kNodeConnectionDidCloseNotification, connection_.get(), [&](const platform::Notification& n) {
        closedPosts += std::any_cast<platform::Value>(n.object) == platform::Value("uid-1");
      });
  connection_->addControlCommand(ControlCommand::make("ctl never"));
  delegate_->clear();

  connection_->stopConnection();
  EXPECT_FALSE(connection_->isRunning());
  EXPECT_FALSE(connection_->isConnected());
  ASSERT_TRUE(runMainLoopUntil([&] { return closedPosts == 1; }, "the close to be handled"));
  EXPECT_EQ(delegate_->calls(), (Calls{"list", "list", "status", "clip", "playlist", "position", "auth", "locked"}));
  EXPECT_TRUE(connection_->currentStatus().empty());
  EXPECT_TRUE(connection_->controlCommands().empty());
  EXPECT_EQ(server_.countLines("ctl never"), 0u);
}

TEST_F(NodeConnectionTest, DroppedLinkEndsPollingAndReconnectPollsAgain) {
  openAndPoll();
  server_.dropClient();
  // The close wakes the sleeping polling thread: no tick has to come first.
  ASSERT_TRUE(runMainLoopUntil([&] { return !connection_->isConnected() && !connection_->isRunning(); },
                               "the drop to end polling"));
  EXPECT_TRUE(connection_->currentStatus().empty());
  ASSERT_TRUE(waitForCondition([&] { return !connection_->telnetController().communicationsThreadIsRunning(); },
                               "the link thread to end"));
  openAndPoll();
  EXPECT_EQ(server_.connectionCount(), 2u);
  EXPECT_EQ(server_.countLines("nodeuniqueid"), 2u);
}

TEST(NodeConnectionStandinTest, PollsTheStandInNodeAndSendsAControlCommand) {
  testing_support::TemporaryDirectory media;
  testing_support::NodeStandinProcess node;
  if (!testing_support::NodeStandinProcess::findBinary()) GTEST_SKIP() << "node-standin is not built";
  const std::string failure = node.start({"--media", media.path().string(), "--name", "Stand-in Test"});
  ASSERT_TRUE(failure.empty()) << failure;

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  auto delegate = std::make_shared<RecordingNodeDelegate>();
  auto connection = NodeConnection::create(delegate);
  connection->setAddress("127.0.0.1");
  connection->setPortNumber(std::to_string(node.port()));
  connection->startConnection();
  ASSERT_TRUE(runMainLoopUntil([&] { return connection->isRunning(); }, "the link to open"));

  std::string reply;
  connection->addControlCommand(
      ControlCommand::make("pbinitialize", "reply:", [&](const std::shared_ptr<ControlCommand>& c) {
        reply = c->response();
      }));
  for (std::uint64_t tick = 1; tick <= 6; ++tick) {
    ASSERT_TRUE(waitForCondition([&] { return connection->pollingTickCount() == tick && clock.waiterCount() == 1; },
                                 "a tick"));
    clock.advance(NodeConnection::kPollingTick);
  }
  EXPECT_EQ(connection->name(), "Stand-in Test");
  EXPECT_FALSE(connection->nodeUniqueID().empty());
  EXPECT_EQ(connection->currentStatus()["status"], platform::Value("STOPPED"));
  ASSERT_TRUE(runMainLoopUntil([&] { return !reply.empty(); }, "the reply handler"));
  EXPECT_EQ(reply, "OK");
  connection->stopConnection();
  EXPECT_FALSE(connection->isRunning());
}

}  // namespace
}  // namespace nodes
