#include "nodes/link/PlaylistTransfer.h"

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/DataSource.h"
#include "nodes/link/NodePollingHooks.h"
#include "nodes/media/TiffImage.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"
#include "platform/Thread.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/nodes/ScriptedNodeServer.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/IsolatedOperatorTest.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using testing_support::runMainLoopUntil;
using testing_support::ScriptedNodeServer;
using Reply = ScriptedNodeServer::Reply;
using Lines = std::vector<std::string>;
using Outcome = PlaylistTransfer::Outcome;

constexpr const char* kAddItems = "pladditems ";

std::shared_ptr<PlaylistItem> makeRow(const std::string& playbackID, const char* endBehaviour = kClipEndBehaviourNormal,
                                      const std::string& node = "node-a") {
  auto row = std::make_shared<PlaylistItem>();
  row->setPlaybackUniqueID(playbackID);
  row->setUniqueID("clip-" + playbackID);
  row->setMediaItemUniqueID("media-" + playbackID);
  row->setMediaFolderUniqueID("folder-1");
  row->setNodeUniqueID(node);
  row->setMediaItemDurationInSeconds(60.0);
  row->setInPointInSeconds(0.0);
  row->setOutPointInSeconds(30.0);
  row->setAttributes(Dictionary{{kClipEndBehaviourAttribute, Value(endBehaviour)}});
  return row;
}

std::shared_ptr<VideoPlaylistDocument> makeDocument(VideoPlaylistDocument::Rows rows, std::string nodeA = "node-a") {
  auto document = std::make_shared<VideoPlaylistDocument>();
  document->setUniqueID("playlist-1");
  document->setNodeAUniqueID(std::move(nodeA));
  document->setPlaylist(std::move(rows));
  return document;
}

VideoPlaylistDocument::Rows threeRows() { return {makeRow("r1"), makeRow("r2"), makeRow("r3")}; }

// The item list a "pladditems" line carries.
Array addedItems(const std::string& line) {
  if (!line.starts_with(kAddItems)) return {};
  auto list = platform::readPropertyList(std::string_view(line).substr(std::string_view(kAddItems).size()));
  return list.ok() && list->array() ? *list->array() : Array{};
}

std::vector<std::string> playbackIDs(const Array& items) {
  std::vector<std::string> ids;
  for (const Value& item : items) ids.push_back(item["clipInfoPlaybackUniqueID"].stringOr("?"));
  return ids;
}

// A fake node for each of node A and node B. It answers "version" 201 so
// that no polling thread runs: the test plays the polling thread's part
// (pump), and the node sees nothing but the commands under test.
class PlaylistTransferTest : public testing_support::IsolatedOperatorTest {
 protected:
  void SetUp() override {
    platform::RunLoop::main().attachCurrentThread();
    dataSource_ = DataSource::create();
  }
  void TearDown() override {
    for (const auto& connection : dataSource_->nodes()) connection->stopConnection();
  }

  Reply answer(const std::string& line) {
    if (line == "version") return Reply::text("201\r\n");
    std::lock_guard lock(mutex_);
    const auto found = replies_.find(line.substr(0, line.find(' ')));
    return found != replies_.end() ? found->second : Reply::text("OK\r\n");
  }
  void setReply(const std::string& commandWord, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[commandWord] = std::move(reply);
  }

  // A connection of the data source to `server`, open, known as `uniqueID`.
  NodeConnectionPtr connectNode(ScriptedNodeServer& server, const std::string& uniqueID) {
    StaticNodeInfo info;
    info.setIpAdress("127.0.0.1");
    info.setPortNumber(std::to_string(server.port()));
    dataSource_->addStaticNodeInfoInCache(info);
    NodeConnectionPtr connection = dataSource_->nodes().back();
    connection->setNodeUniqueID(uniqueID);
    connection->setName(uniqueID + " name");
    open(connection, server);
    return connection;
  }
  void open(const NodeConnectionPtr& connection, ScriptedNodeServer& server) {
    const std::size_t versions = server.countLines("version");
    // A link thread still ending would refuse the new link.
    ASSERT_TRUE(runMainLoopUntil([&] { return !connection->telnetController().communicationsThreadIsRunning(); },
                                 "the previous link thread to end"));
    connection->startConnection();
    EXPECT_TRUE(runMainLoopUntil(
        [&] { return connection->isConnected() && server.countLines("version") > versions && !connection->isRunning(); },
        "the link to open"));
  }

  // The polling thread's part: sends the queued control commands from a
  // worker thread and runs their reply handlers, until nothing is queued.
  void pump(const NodeConnectionPtr& connection) {
    for (int round = 0; round < 40; ++round) {
      platform::RunLoop::main().drainReadyTasks();
      if (!connection->hasQueuedControlCommands() || !connection->isConnected()) return;
      std::atomic<bool> done{false};
      platform::Thread worker("test.polling", [&](std::stop_token) {
        connection->processControlCommandsAndUpdateStatus();
        done = true;
      });
      ASSERT_TRUE(runMainLoopUntil([&] { return done.load(); }, "a control-command run"));
    }
    ADD_FAILURE() << "the commands never ran out";
  }

  // What the node received since `from`, "version" left out.
  static Lines received(const ScriptedNodeServer& server, std::size_t from = 0) {
    Lines lines;
    const Lines all = server.lines();
    for (std::size_t i = from; i < all.size(); ++i)
      if (all[i] != "version") lines.push_back(all[i].starts_with(kAddItems) ? "pladditems" : all[i]);
    return lines;
  }
  static std::string lastAddItemsLine(const ScriptedNodeServer& server) {
    const Lines all = server.lines();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
      if (it->starts_with(kAddItems)) return *it;
    return {};
  }

  std::vector<std::string> alertTitles() const {
    std::vector<std::string> titles;
    for (const auto& alert : alerts_->alerts()) titles.push_back(alert.title);
    return titles;
  }

  testing_support::CapturedDiagnostics diagnostics_;
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;  // guarded by mutex_
  ScriptedNodeServer serverA_{[this](const std::string& line) { return answer(line); }};
  ScriptedNodeServer serverB_{[this](const std::string& line) { return answer(line); }};
  std::shared_ptr<DataSource> dataSource_;
};

// ---- The sequence ----

struct OrderCase {
  const char* name;
  Dictionary status;
  std::optional<std::string> startClip;
  double offset;
  bool cue;
  bool loop, chain, cueMode, dirty;
  Lines expected;
};

TEST_F(PlaylistTransferTest, CommandsGoInOrderEachAfterTheReplyToThePrevious) {
  const Dictionary notInitialized{{"status", Value("NOT_INITIALIZED")}};
  const Dictionary stopped{{"status", Value("STOPPED")}};
  const Dictionary holding{{"status", Value("STOPPED")}, {"playlistUniqueID", Value("playlist-1")}};
  const Dictionary holdingNotInitialized{{"status", Value("NOT_INITIALIZED")}, {"playlistUniqueID", Value("playlist-1")}};
  const std::vector<OrderCase> cases = {
      {"play from a clip on a node that is not initialised", notInitialized, "r2", 5.0, false, true, false, false, false,
       {"plclearall", "plsetuniqueid playlist-1", "plsetloopmode 1", "plsetchainmode 0", "plsetcuemode 0", "pladditems",
        "pbinitialize", "pbplayitem r2 5.000000"}},
      {"cue from the top on a stopped node", stopped, std::nullopt, 0.0, true, false, true, true, false,
       {"plclearall", "plsetuniqueid playlist-1", "plsetloopmode 0", "plsetchainmode 1", "plsetcuemode 1", "pladditems",
        "pbcueitem"}},
      {"a node whose status is not known yet is initialised", {}, "r1", 0.0, false, false, true, false, false,
       {"plclearall", "plsetuniqueid playlist-1", "plsetloopmode 0", "plsetchainmode 1", "plsetcuemode 0", "pladditems",
        "pbinitialize", "pbplayitem r1 0.000000"}},
      {"the node holds this playlist: only the start", holding, "r3", 2.0, false, false, true, false, false,
       {"pbplayitem r3 2.000000"}},
      {"the node holds it but is not initialised", holdingNotInitialized, "r1", 0.0, true, false, true, false, false,
       {"pbinitialize", "pbcueitem r1 0.000000"}},
      {"the node holds it but it is dirty: sent in full", holding, "r1", 0.0, false, false, true, false, true,
       {"plclearall", "plsetuniqueid playlist-1", "plsetloopmode 0", "plsetchainmode 1", "plsetcuemode 0", "pladditems",
        "pbplayitem r1 0.000000"}},
  };
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = makeDocument(threeRows());
    document->setLoop(c.loop);
    document->setChain(c.chain);
    document->setCueMode(c.cueMode);
    document->setDirtyOnNodeA(c.dirty);
    node->setCurrentStatus(c.status);
    const std::size_t from = serverA_.lines().size();

    auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, c.startClip, c.offset, c.cue);
    ASSERT_NE(transfer, nullptr);
    EXPECT_EQ(node->controlCommands().size(), 1u) << "a step is queued only once the previous one is answered";
    pump(node);

    EXPECT_EQ(received(serverA_, from), c.expected);
    EXPECT_EQ(transfer->outcome(), Outcome::Started);
    EXPECT_FALSE(node->isModifyingPlaylist());
    EXPECT_FALSE(document->dirtyOnNodeA());
    if (c.expected.size() > 3) {
      EXPECT_EQ(playbackIDs(addedItems(lastAddItemsLine(serverA_))), (std::vector<std::string>{"r1", "r2", "r3"}));
    }
  }
  EXPECT_TRUE(alerts_->alerts().empty());
}

TEST_F(PlaylistTransferTest, RefusedItemsStopTheTransferAndTheNextStartSendsAgainInFull) {
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  node->setCurrentStatus({{"status", Value("NOT_INITIALIZED")}});
  auto document = makeDocument(threeRows());
  setReply("pladditems", Reply::text("ERROR\r\n"));

  auto refused = dataSource_->nodeControlSendAndStartPlaylistDocument(document, "r1", 0.0, false);
  pump(node);
  EXPECT_EQ(received(serverA_), (Lines{"plclearall", "plsetuniqueid playlist-1", "plsetloopmode 0", "plsetchainmode 1",
                                       "plsetcuemode 0", "pladditems"}))
      << "no initialisation or start on a playlist the node did not take";
  EXPECT_EQ(refused->outcome(), Outcome::ItemsRefused);
  EXPECT_EQ(diagnostics_.count("Error in pladditem (ERROR)"), 1u);
  EXPECT_EQ(alertTitles(), std::vector<std::string>{kPlaylistTransferErrorTitle});
  EXPECT_FALSE(node->isModifyingPlaylist());
  EXPECT_TRUE(document->dirtyOnNodeA());

  // The node now reports this playlist's ID over whatever it kept: the next
  // start must not trust it.
  node->setCurrentStatus({{"status", Value("STOPPED")}, {"playlistUniqueID", Value("playlist-1")}});
  setReply("pladditems", Reply::text("OK\r\n"));
  const std::size_t from = serverA_.lines().size();
  auto second = dataSource_->nodeControlSendAndStartPlaylistDocument(document, "r1", 0.0, false);
  pump(node);
  EXPECT_EQ(received(serverA_, from).front(), "plclearall");
  EXPECT_EQ(second->outcome(), Outcome::Started);
}

// ---- The busy mark ----

struct EndingCase {
  const char* name;
  VideoPlaylistDocument::Rows rows;
  std::string failingCommand;  // its reply is `reply`
  Reply reply;
  Outcome outcome;
  bool nodeTookThePlaylist;
  const char* logLine;
};

TEST_F(PlaylistTransferTest, TheBusyMarkEndsAtEveryEndOfTheTransfer) {
  const std::vector<EndingCase> cases = {
      {"started", threeRows(), "", Reply::text("OK\r\n"), Outcome::Started, true, nullptr},
      {"empty playlist", {}, "", Reply::text("OK\r\n"), Outcome::EmptyPlaylist, false, kEmptyPlaylistLine},
      {"items refused", threeRows(), "pladditems", Reply::text("LOCKED\r\n"), Outcome::ItemsRefused, false,
       "Error in pladditem (LOCKED)"},
      {"start refused", threeRows(), "pbplayitem", Reply::text("ERROR\r\n"), Outcome::StartRefused, true,
       "Error in pbplay (ERROR)"},
      {"link drops while a step waits for its reply", threeRows(), "plsetloopmode", Reply::drop(), Outcome::LinkClosed,
       false, "ended: the link closed"},
  };
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  for (const EndingCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!node->isConnected()) open(node, serverA_);
    node->setCurrentStatus({{"status", Value("STOPPED")}});
    if (!c.failingCommand.empty()) setReply(c.failingCommand, c.reply);
    auto document = makeDocument(c.rows);

    auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, std::nullopt, 0.0, false);
    EXPECT_TRUE(node->isModifyingPlaylist());
    pump(node);
    ASSERT_TRUE(runMainLoopUntil([&] { return transfer->outcome().has_value(); }, "the end of the transfer"));

    EXPECT_EQ(transfer->outcome(), c.outcome);
    EXPECT_FALSE(node->isModifyingPlaylist());
    EXPECT_EQ(document->dirtyOnNodeA(), !c.nodeTookThePlaylist) << "sent again in full next time";
    if (c.logLine) {
      EXPECT_EQ(diagnostics_.count(c.logLine), 1u);
    }
    if (!c.failingCommand.empty()) setReply(c.failingCommand, Reply::text("OK\r\n"));
  }
}

TEST_F(PlaylistTransferTest, ALinkThatClosesWithStepsQueuedFreesTheNodeAndABusyNodeIsRefused) {
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  node->setCurrentStatus({{"status", Value("STOPPED")}});
  auto document = makeDocument(threeRows());
  PlaylistTransfer::Outcome reported{};
  auto transfer = sendAndStartPlaylistDocument(
      [&](std::string_view id) { return dataSource_->nodeConnectionWithNodeUniqueID(id); }, document, std::nullopt, 0.0,
      false, [&](Outcome outcome) { reported = outcome; });
  ASSERT_TRUE(node->isModifyingPlaylist());

  // A second send while the first one replaces the playlist.
  EXPECT_EQ(dataSource_->nodeControlSendAndStartPlaylistDocument(makeDocument(threeRows()), std::nullopt, 0.0, false),
            nullptr);
  EXPECT_EQ(alertTitles(), std::vector<std::string>{kNodeBusyErrorTitle});

  serverA_.dropClient();  // "plclearall" still waits in the connection's queue
  ASSERT_TRUE(runMainLoopUntil([&] { return transfer->outcome().has_value(); }, "the close to end the transfer"));
  EXPECT_EQ(reported, Outcome::LinkClosed);
  EXPECT_FALSE(node->isModifyingPlaylist());
  EXPECT_TRUE(document->dirtyOnNodeA());
  EXPECT_FALSE(node->hasQueuedControlCommands());
  EXPECT_EQ(received(serverA_), Lines{}) << "nothing of the transfer reached the node";
}

// ---- Choosing the node ----

TEST_F(PlaylistTransferTest, WithTwoNodesTheStartRowsNodeGetsTheChainedRunAndOnlyItsDirtyFlagIsTaken) {
  const NodeConnectionPtr nodeA = connectNode(serverA_, "node-a");
  const NodeConnectionPtr nodeB = connectNode(serverB_, "node-b");
  nodeB->setCurrentStatus({{"status", Value("STOPPED")}});
  // A/B positions by end behaviour: 1, 2, 2, 2, 1.
  auto document = makeDocument({makeRow("r0"), makeRow("r1", kClipEndBehaviourChain, "node-b"),
                                makeRow("r2", kClipEndBehaviourChain, "node-b"), makeRow("r3", kClipEndBehaviourLoop, "node-b"),
                                makeRow("r4")});
  document->setNodeBUniqueID("node-b");
  document->setAbRoll(true);
  document->updateBubbleDirections();
  document->setDirtyOnNodeA(true);
  document->setDirtyOnNodeB(true);

  auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, "r1", 0.0, false);
  pump(nodeB);
  EXPECT_EQ(transfer->outcome(), Outcome::Started);
  EXPECT_EQ(playbackIDs(addedItems(lastAddItemsLine(serverB_))), (std::vector<std::string>{"r1", "r2", "r3"}));
  EXPECT_EQ(received(serverB_).back(), "pbplayitem r1 0.000000");
  EXPECT_EQ(received(serverA_), Lines{});
  EXPECT_FALSE(document->dirtyOnNodeB());
  EXPECT_TRUE(document->dirtyOnNodeA()) << "node A's copy still has to be sent";

  // Rolling over two nodes, a busy node is skipped without an alert.
  nodeB->setIsModifyingPlaylist(true);
  EXPECT_EQ(dataSource_->nodeControlSendAndStartPlaylistDocument(document, "r2", 0.0, false), nullptr);
  EXPECT_FALSE(nodeB->hasQueuedControlCommands());
  EXPECT_TRUE(alerts_->alerts().empty());
}

TEST_F(PlaylistTransferTest, AnUnknownNodeOrStartClipIsRefusedAndKeepsTheDirtyFlag) {
  connectNode(serverA_, "node-a");
  struct Case {
    const char* name;
    std::string nodeA;
    std::optional<std::string> startClip;
    const char* alertTitle;
  };
  const std::vector<Case> cases = {
      {"node not on the network", "node-x", std::nullopt, kNodeConnectionErrorTitle},
      {"start clip not in the playlist", "node-a", "gone", kPlaylistTransferErrorTitle},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto document = makeDocument(threeRows(), c.nodeA);
    document->setDirtyOnNodeA(true);
    const std::size_t alertsBefore = alerts_->alerts().size();
    EXPECT_EQ(dataSource_->nodeControlSendAndStartPlaylistDocument(document, c.startClip, 0.0, false), nullptr);
    ASSERT_EQ(alerts_->alerts().size(), alertsBefore + 1);
    EXPECT_EQ(alerts_->alerts().back().title, c.alertTitle);
    EXPECT_TRUE(document->dirtyOnNodeA());
  }
  EXPECT_EQ(alerts_->alerts().front().message, kNodeNotFoundMessage);
}

// ---- Line safety ----

TEST_F(PlaylistTransferTest, PasswordsAndItemTextsNeverBreakTheCommandLine) {
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  const std::string twoLines = "first line\r\nsecond\n\rthird";
  struct Case {
    const char* name;
    std::function<void()> action;
    bool queued;
  };
  auto rowWithTitle = [](const std::string& title) {
    auto row = makeRow("t1");
    row->setAttributes(Dictionary{{"Title", Value(title)}});
    return row;
  };
  const std::vector<Case> cases = {
      {"password with a line end", [&] { dataSource_->nodeUnlock("node-a", "pass\n\rword"); }, false},
      {"password with a control character", [&] { dataSource_->nodeUnlock("node-a", "pass\x01word"); }, false},
      {"password with a blank and a tab", [&] { dataSource_->nodeUnlock("node-a", "pass word\there"); }, true},
      {"item text with line breaks", [&] { dataSource_->nodeControlPlaylistInsertItem(*rowWithTitle(twoLines), 0, "node-a"); },
       true},
      {"item text with a control character",
       [&] { dataSource_->nodeControlPlaylistReplaceItemAtIndex(0, *rowWithTitle("bell\x07"), "node-a"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.action();
    EXPECT_EQ(node->hasQueuedControlCommands(), c.queued);
    for (const auto& command : node->controlCommands())
      EXPECT_TRUE(TelnetController::checkCommandText(command->command()).ok());
    pump(node);
  }
  for (const std::string& message : diagnostics_.messages()) EXPECT_EQ(message.find("pass"), std::string::npos) << message;

  // The line breaks arrive inside the one command line, and read back whole.
  const Lines lines = serverA_.lines();
  const auto inserted = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("plinsertitematindex 0 ");
  });
  ASSERT_NE(inserted, lines.end());
  auto item = platform::readPropertyList(std::string_view(*inserted).substr(std::string_view("plinsertitematindex 0 ").size()));
  ASSERT_TRUE(item.ok()) << item.error().localizedDescription;
  EXPECT_EQ((*item)["clipInfoAttributes"]["Title"].stringOr(""), twoLines);

  // The same through a whole transfer.
  auto document = makeDocument({rowWithTitle(twoLines)});
  node->setCurrentStatus({{"status", Value("STOPPED")}});
  auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, std::nullopt, 0.0, false);
  pump(node);
  EXPECT_EQ(transfer->outcome(), Outcome::Started);
  const Array items = addedItems(lastAddItemsLine(serverA_));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["clipInfoAttributes"]["Title"].stringOr(""), twoLines);
}

// ---- Thumbnails ----

TEST_F(PlaylistTransferTest, AThumbnailRequestDroppedByAClosedLinkCanBeAskedForAgain) {
  const RGBAImage image{2, 1, {255, 0, 0, 255, 0, 0, 255, 255}};
  setReply("fmmediaitemthumbnail",
           Reply::text(platform::writePropertyList(Value(tiffDataFromImage(image).value())).value()));
  std::vector<platform::Notification> delivered;
  auto observer = platform::NotificationCenter::defaultCenter().addObserver(
      kNewThumbnailIsAvailableNotification, nullptr, [&](const platform::Notification& n) { delivered.push_back(n); });
  const NodeConnectionPtr node = connectNode(serverA_, "node-a");
  const std::string text = "fmmediaitemthumbnail folder-1 media-1 2.500000";

  dataSource_->requestThumbnailForMediaItemWithUniqueID("media-1", "folder-1", "node-a", 2.5);
  dataSource_->requestThumbnailForMediaItemWithUniqueID("media-1", "folder-1", "node-a", 2.5);
  EXPECT_EQ(node->controlCommands().size(), 1u) << "a pending request is not repeated";

  serverA_.dropClient();
  ASSERT_TRUE(runMainLoopUntil([&] { return !node->isConnected() && !node->hasQueuedControlCommands(); },
                               "the close to drop the request"));
  EXPECT_FALSE(dataSource_->isThumbnailRequestPending(text));
  dataSource_->requestThumbnailForMediaItemWithUniqueID("media-1", "folder-1", "node-a", 2.5);
  EXPECT_EQ(node->controlCommands().size(), 1u) << "asked for again";

  open(node, serverA_);
  pump(node);
  ASSERT_TRUE(runMainLoopUntil([&] { return !delivered.empty(); }, "the thumbnail"));
  EXPECT_EQ(serverA_.countLines(text), 1u);
  const auto* delivered0 = std::any_cast<std::shared_ptr<const RGBAImage>>(&delivered.front().object);
  ASSERT_NE(delivered0, nullptr);
  EXPECT_EQ(**delivered0, image);
  EXPECT_EQ(delivered.front().userInfo.at("position"), Value("2.500000"));
  EXPECT_FALSE(dataSource_->isThumbnailRequestPending(text));

  // Answered from the cache now.
  dataSource_->requestThumbnailForMediaItemWithUniqueID("media-1", "folder-1", "node-a", 2.5);
  ASSERT_TRUE(runMainLoopUntil([&] { return delivered.size() == 2; }, "the cached thumbnail"));
  EXPECT_FALSE(node->hasQueuedControlCommands());
}

// ---- Against the stand-in node ----

// Asks the node for its first media folder and item once the link opens.
class MediaProbe final : public NodePollingHooks {
 public:
  void checkForMediaFolderChanges(NodeConnection& connection) override {
    const auto folders = connection.getMediaFolderUniqueIDs();
    if (!folders || folders->empty()) return;
    const auto items = connection.getMediaItemUniqueIDsForMediaFolderUniqueID(folders->front());
    std::lock_guard lock(mutex_);
    folder_ = folders->front();
    if (items && !items->empty()) item_ = items->front();
  }
  void checkForAttributeChanges(NodeConnection&) override {}
  std::pair<std::string, std::string> folderAndItem() const {
    std::lock_guard lock(mutex_);
    return {folder_, item_};
  }

 private:
  mutable std::mutex mutex_;
  std::string folder_;  // guarded by mutex_
  std::string item_;    // guarded by mutex_
};

class StandInTransferTest : public PlaylistTransferTest {
 protected:
  void SetUp() override {
    PlaylistTransferTest::SetUp();
    if (!testing_support::NodeStandinProcess::findBinary())
      GTEST_SKIP() << "the stand-in node program is not built (target node-standin)";
    const auto media = folder_ / "media";
    std::filesystem::create_directories(media);
    // A still image the node makes thumbnails of.
    const RGBAImage still{4, 2, std::vector<std::uint8_t>(4 * 2 * 4, 200)};
    const platform::Data tiff = tiffDataFromImage(still).value();
    std::ofstream(media / "still.tif", std::ios::binary).write(reinterpret_cast<const char*>(tiff.data()),
                                                                static_cast<std::streamsize>(tiff.size()));
    // The rows name media the node lacks; its clock plays them for their points' length, an engine would pass them.
    const std::string failure = process_.start(
        {"--media", media.string(), "--name", "Transfer Node", "--uid", "transfer-node", "--no-engine"});
    ASSERT_EQ(failure, "");

    dataSource_->setNodePollingHooks(probe_);
    StaticNodeInfo info;
    info.setIpAdress("127.0.0.1");
    info.setPortNumber(std::to_string(process_.port()));
    dataSource_->addStaticNodeInfoInCache(info);
    node_ = dataSource_->nodes().back();
    node_->startConnection();
    ASSERT_TRUE(runMainLoopUntil([&] { return node_->isRunning() && !probe_->folderAndItem().second.empty(); },
                                 "the node's identity and media"));
    ASSERT_TRUE(advanceUntil([&] { return status("status") == "NOT_INITIALIZED"; }));
  }

  std::string status(const char* key) const { return Value(node_->currentStatus())[key].stringOr(""); }

  // Moves the clock a polling tick at a time (each step also runs the main
  // loop for a moment) until `done` holds.
  bool advanceUntil(const std::function<bool()>& done, int maxSteps = 400) {
    return testing_support::advanceClockUntil(clock_, NodeConnection::kPollingTick, done, maxSteps);
  }

  // Rows of media the node does not have: it plays them for the 30 s their
  // points give.
  static std::shared_ptr<PlaylistItem> row(const std::string& playbackID) {
    return makeRow(playbackID, kClipEndBehaviourNormal, "transfer-node");
  }

  std::vector<std::string> nodePlaylistIDs() const {
    std::vector<std::string> ids;
    for (const Value& entry : node_->currentPlaylist()) ids.push_back(entry["clipInfoPlaybackUniqueID"].stringOr("?"));
    return ids;
  }

  testing_support::NodeStandinProcess process_;
  std::shared_ptr<MediaProbe> probe_ = std::make_shared<MediaProbe>();
  NodeConnectionPtr node_;
};

TEST_F(StandInTransferTest, SendsThreeClipsAndPlaysTheFirst) {
  auto document = makeDocument({row("s1"), row("s2"), row("s3")}, "transfer-node");
  auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, std::nullopt, 0.0, false);
  ASSERT_NE(transfer, nullptr);
  ASSERT_TRUE(advanceUntil([&] { return transfer->outcome().has_value(); }));
  EXPECT_EQ(transfer->outcome(), Outcome::Started);
  EXPECT_FALSE(node_->isModifyingPlaylist());
  ASSERT_TRUE(advanceUntil([&] { return status("status") == "PLAYING"; })) << platform::writePropertyList(Value(node_->currentStatus())).value();
  EXPECT_EQ(status("clipPlaybackUniqueID"), "s1");
  EXPECT_EQ(status("playlistUniqueID"), "playlist-1");
}

TEST_F(StandInTransferTest, TransportEditsLockSlaveModeAndThumbnailsReachTheNode) {
  auto document = makeDocument({row("s1"), row("s2")}, "transfer-node");
  auto transfer = dataSource_->nodeControlSendAndStartPlaylistDocument(document, "s2", 0.0, true);
  ASSERT_TRUE(advanceUntil([&] { return transfer->outcome().has_value(); }));
  ASSERT_TRUE(advanceUntil([&] { return status("status") == "CUED" && status("clipPlaybackUniqueID") == "s2"; }));

  dataSource_->nodeControlPlaybackPlayUniqueIDToStart("transfer-node", "s1", 0);
  ASSERT_TRUE(advanceUntil([&] { return status("status") == "PLAYING" && status("clipPlaybackUniqueID") == "s1"; }));
  dataSource_->nodeControlPlaybackPause("transfer-node");
  ASSERT_TRUE(advanceUntil([&] { return status("status") == "PAUSED"; }));
  dataSource_->nodeControlPlaybackStop("transfer-node");
  ASSERT_TRUE(advanceUntil([&] { return status("status") == "STOPPED"; }));

  auto added = row("s3");
  auto replacement = row("s4");
  dataSource_->nodeControlPlaylistInsertItem(*added, 2, "transfer-node");
  dataSource_->nodeControlPlaylistReplaceItemAtIndex(0, *replacement, "transfer-node");
  dataSource_->nodeControlPlaylistRemoveItemAtIndex(1, "transfer-node");
  ASSERT_TRUE(advanceUntil([&] { return nodePlaylistIDs() == std::vector<std::string>{"s4", "s3"}; }, 800));

  dataSource_->nodeLock("transfer-node");
  ASSERT_TRUE(advanceUntil([&] { return !dataSource_->isNodeUnlocked("transfer-node") && !node_->currentStatus().empty(); }));
  dataSource_->nodeUnlock("transfer-node", "any word");
  dataSource_->nodeControlSetSlaveMode(true, "transfer-node");
  ASSERT_TRUE(advanceUntil([&] {
    return dataSource_->isNodeUnlocked("transfer-node") && dataSource_->isNodeInSlaveMode("transfer-node");
  }));

  std::shared_ptr<const RGBAImage> thumbnail;
  auto observer = platform::NotificationCenter::defaultCenter().addObserver(
      kNewThumbnailIsAvailableNotification, nullptr, [&](const platform::Notification& n) {
        if (const auto* image = std::any_cast<std::shared_ptr<const RGBAImage>>(&n.object)) thumbnail = *image;
      });
  const auto [folder, item] = probe_->folderAndItem();
  dataSource_->requestThumbnailForMediaItemWithUniqueID(item, folder, "transfer-node", 0.0);
  ASSERT_TRUE(advanceUntil([&] { return thumbnail != nullptr; }));
  EXPECT_GT(thumbnail->width, 0u);
  EXPECT_LE(thumbnail->width, 160u);
}

}  // namespace
}  // namespace nodes
