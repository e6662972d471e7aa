#include "nodes/link/DataSource.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using platform::Value;

class FakeServiceBrowser : public ServiceBrowser {
 public:
  void setDelegate(ServiceBrowserDelegate* delegate) override { delegate_ = delegate; }
  void searchForServicesOfType(const std::string& type, const std::string& domain) override {
    searches.emplace_back(type, domain);
  }
  void resolveService(const DiscoveredService& service, platform::Clock::Duration timeout) override {
    resolves.emplace_back(service, timeout);
  }
  void stop() override { stopped = true; }

  std::vector<std::pair<std::string, std::string>> searches;
  std::vector<std::pair<DiscoveredService, platform::Clock::Duration>> resolves;
  bool stopped = false;

 private:
  ServiceBrowserDelegate* delegate_ = nullptr;
};

// Records the catalogue calls the node list makes.
class SpyDataSource : public DataSource {
 public:
  using DataSource::DataSource;
  void removeClipsWithMediaFolderUniqueID(const std::string& mediaFolderUniqueID) override {
    removedFolders.push_back(mediaFolderUniqueID);
  }
  std::vector<std::string> removedFolders;
};

std::set<std::string> keysOf(const Value& dictionary) {
  std::set<std::string> keys;
  if (dictionary.dictionary())
    for (const auto& [key, value] : *dictionary.dictionary()) keys.insert(key);
  return keys;
}

std::vector<std::string> commandTexts(const NodeConnectionPtr& connection) {
  std::vector<std::string> texts;
  for (const auto& command : connection->controlCommands()) texts.push_back(command->command());
  return texts;
}

// A port on 127.0.0.1 where nothing listens.
int closedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

StaticNodeInfo staticNode(const std::string& address, const std::string& port) {
  StaticNodeInfo info;
  info.setIpAdress(address);
  info.setPortNumber(port);
  return info;
}

Dictionary folderDictionary(const std::string& id, const std::string& path, std::int64_t changeNumber) {
  return {{"mediaFolderUniqueID", Value(id)},
          {"mediaFolderPath", Value(path)},
          {"mediaFolderLastChangeNumber", Value(changeNumber)},
          {"mediaFolderInitialized", Value(true)},
          {"mediaFolderIsCaseSensitive", Value(true)}};
}

class DataSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::RunLoop::main().attachCurrentThread(); }

  std::shared_ptr<SpyDataSource> makeDataSource() {
    auto browser = std::make_unique<FakeServiceBrowser>();
    browser_ = browser.get();
    return std::make_shared<SpyDataSource>(std::move(browser));
  }

  // A connection the data source holds, with the identity a node reported.
  NodeConnectionPtr addNode(DataSource& dataSource, const std::string& uniqueID, const std::string& address = "10.1.1.1",
                            const std::string& port = "7000") {
    dataSource.addStaticNodeInfoInCache(staticNode(address, port));
    auto connection = dataSource.nodes().back();
    connection->setNodeUniqueID(uniqueID);
    connection->setName(uniqueID + " name");
    return connection;
  }

  // Moves the clock in polling ticks until `done` holds (each step also runs
  // the main loop briefly, real time bounded).
  bool advanceUntil(const std::function<bool()>& done, int maxSteps = 500) {
    return testing_support::advanceClockUntil(clock_, NodeConnection::kPollingTick, done, maxSteps);
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  FakeServiceBrowser* browser_ = nullptr;  // owned by the data source
};

// --- Notifications ---

TEST_F(DataSourceTest, ConnectionReportsArePostedOnTheMainThreadWithConnectionAndStatus) {
  auto dataSource = makeDataSource();
  auto node = NodeConnection::create();
  const Dictionary status{{"status", Value("PLAYING")}, {"position", Value(1.5)}};
  using Report = std::function<void(DataSource&)>;
  const std::vector<std::pair<Report, std::string>> cases = {
      {[&](DataSource& d) { d.nodePlaybackStatusChanged(status, node); }, "playbackStatusDidChange"},
      {[&](DataSource& d) { d.nodePlaybackClipUniqueIDChanged(status, node); }, "playbackClipUniqueIDDidChange"},
      {[&](DataSource& d) { d.nodeLockedClipsChanged(status, node); }, "lockedClipsDidChange"},
      {[&](DataSource& d) { d.nodePlaybackPlaylistUniqueIDChanged(status, node); }, "playbackPlaylistUniqueIDDidChange"},
      {[&](DataSource& d) { d.nodeCurrentDateTimeChanged(status, node); }, "currentDateTimeDidChange"},
      {[&](DataSource& d) { d.nodeFirstEventStartDateTimeChanged(status, node); }, "firstEventStartDateTimeChange"},
      {[&](DataSource& d) { d.nodeLastEventEndDateTimeChanged(status, node); }, "lastEventEndDateTimeChange"},
      {[&](DataSource& d) { d.nodeCurrentDelayChanged(status, node); }, "currentDelayDidChange"},
      {[&](DataSource& d) { d.nodePlaybackLoopModeChanged(status, node); }, "playbackLoopModeDidChange"},
      {[&](DataSource& d) { d.nodePlaybackChainModeChanged(status, node); }, "playbackChainModeDidChange"},
      {[&](DataSource& d) { d.nodePlaybackCueModeChanged(status, node); }, "playbackCueModeDidChange"},
      {[&](DataSource& d) { d.nodeAuthenticationChanged(status, node); }, "playbackAuthenticationDidChange"},
      {[&](DataSource& d) { d.nodePlaybackClipPositionChanged(status, node); }, "playbackClipPositionDidChange"},
      {[&](DataSource& d) { d.nodeSchedulerCurrentItemPathChanged(status, node); }, "schedulerCurrentItemPathDidChange"},
      {[&](DataSource& d) { d.nodeScheduleUniqueIDDidChange("S1", node); }, "scheduleUniqueIDDidChange"},
      {[&](DataSource& d) { d.nodePlaylistDidChangeForNode(node); }, "playlistDidChange"},
      {[&](DataSource& d) { d.nodeListDidChange(); }, "nodeListDidChange"},
  };
  struct Received {
    platform::Notification notification;
    bool onMainThread;
  };
  std::vector<Received> received;  // from this node (connections of earlier tests may still report)
  std::vector<bool> nodeListOnMainThread;
  std::vector<platform::ObserverToken> observers;
  for (const auto& [report, name] : cases) {
    observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, nullptr, [&](const platform::Notification& n) {
          if (n.name == "nodeListDidChange") nodeListOnMainThread.push_back(platform::isMainThread());
          if (n.sender == node.get()) received.push_back({n, platform::isMainThread()});
        }));
  }

  std::thread pollingThread([&] {
    for (const auto& [report, name] : cases) report(*dataSource);
  });
  pollingThread.join();
  EXPECT_TRUE(received.empty() && nodeListOnMainThread.empty()) << "posted on the reporting thread";
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return received.size() == cases.size() - 1 && !nodeListOnMainThread.empty(); }));

  for (bool onMainThread : nodeListOnMainThread) EXPECT_TRUE(onMainThread);
  for (std::size_t i = 0; i + 1 < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].second);
    const auto& [notification, onMainThread] = received[i];
    EXPECT_EQ(notification.name, cases[i].second);  // in reporting order
    EXPECT_TRUE(onMainThread);
    const auto* object = std::any_cast<NodeConnectionPtr>(&notification.object);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(*object, node);
    if (notification.name == "scheduleUniqueIDDidChange") {
      EXPECT_EQ(notification.userInfo, (Dictionary{{"scheduleUniqueID", Value("S1")}}));
    } else if (notification.name == "playlistDidChange") {
      EXPECT_TRUE(notification.userInfo.empty());
    } else {
      EXPECT_EQ(notification.userInfo, status);
    }
  }
}

// --- Saved node list ---

class SavedNodeListTest : public DataSourceTest {
 protected:
  void SetUp() override {
    DataSourceTest::SetUp();
    Attribute volume;
    volume.setName("Audio Volume");
    defaults_.setObject(
        Value(Array{
            Value(Dictionary{{"nodeUniqueID", Value("static-1")},
                             {"nodeName", Value("Static One")},
                             {"ipAdress", Value("10.0.0.1")},
                             {"portNumber", Value("7001")},
                             {"discoveredByNetServices", Value(false)},
                             {"mediaFolders", Value(Array{Value(folderDictionary("F1", "/media/one", 12)),
                                                          Value(folderDictionary("F2", "/media/two", 3))})},
                             {"clipAttributes", Value(Array{Value(volume.dictionary())})},
                             {"clipAttributesLastChangeNumber", Value(7)}}),
            Value(Dictionary{{"nodeUniqueID", Value("found-1")},
                             {"nodeName", Value("Found One")},
                             {"ipAdress", Value("10.0.0.2")},
                             {"portNumber", Value("7002")},
                             {"discoveredByNetServices", Value(true)}}),
            // An older entry, written before "discoveredByNetServices" existed.
            Value(Dictionary{{"nodeUniqueID", Value("legacy-1")},
                             {"ipAdress", Value("10.0.0.3")},
                             {"portNumber", Value("7003")}}),
        }),
        kDiscoveredNodesKey);
  }

  Value savedEntry(const std::string& uniqueID) const {
    for (const Value& entry : defaults_.arrayForKey(kDiscoveredNodesKey).value_or(Array{}))
      if (entry["nodeUniqueID"].stringOr("") == uniqueID) return entry;
    return {};
  }
  std::size_t savedCount() const { return defaults_.arrayForKey(kDiscoveredNodesKey).value_or(Array{}).size(); }
};

TEST_F(SavedNodeListTest, StaticNodesComeFromEntriesNotFoundByDiscovery) {
  auto dataSource = makeDataSource();
  dataSource->connectStaticNodeFromPref();
  ASSERT_EQ(dataSource->nodes().size(), 2u);  // the legacy entry counts as hand-entered
  EXPECT_EQ(dataSource->nodes()[0]->address(), "10.0.0.1");
  EXPECT_EQ(dataSource->nodes()[0]->portNumber(), "7001");
  EXPECT_FALSE(dataSource->nodes()[0]->discoveredByNetServices());
  EXPECT_EQ(dataSource->nodes()[1]->address(), "10.0.0.3");
  EXPECT_EQ(savedCount(), 3u) << "a connection without node unique ID is not saved";
}

TEST_F(SavedNodeListTest, SavingReplacesKeepsOrAppendsEntriesWithTheSavedKeys) {
  auto dataSource = makeDataSource();
  auto renamed = addNode(*dataSource, "static-1", "10.0.0.1", "7001");
  renamed->setName("Static Renamed");
  dataSource->saveNodeToPreference(renamed);
  const Value replaced = savedEntry("static-1");
  EXPECT_EQ(keysOf(replaced),
            (std::set<std::string>{"clipAttributes", "clipAttributesLastChangeNumber", "discoveredByNetServices",
                                   "ipAdress", "mediaFolders", "nodeName", "nodeUniqueID", "portNumber"}));
  EXPECT_EQ(replaced["nodeName"], Value("Static Renamed"));
  EXPECT_EQ(replaced["portNumber"], Value("7001"));
  EXPECT_EQ(replaced["discoveredByNetServices"], Value(false));
  EXPECT_EQ(replaced["clipAttributesLastChangeNumber"], Value(7)) << "the saved attributes survive";

  // The older entry of the same address and port is the same node: nothing added.
  auto legacy = addNode(*dataSource, "legacy-renamed", "10.0.0.3", "7003");
  dataSource->saveNodeToPreference(legacy);
  EXPECT_EQ(savedCount(), 3u);
  EXPECT_TRUE(savedEntry("legacy-renamed").isNone());

  auto fresh = addNode(*dataSource, "new-1", "10.0.0.4", "7004");
  dataSource->saveNodeToPreference(fresh);
  EXPECT_EQ(savedCount(), 4u);
  EXPECT_EQ(keysOf(savedEntry("new-1")), (std::set<std::string>{"discoveredByNetServices", "ipAdress", "mediaFolders",
                                                                "nodeName", "nodeUniqueID", "portNumber"}));

  auto noPort = addNode(*dataSource, "no-port", "10.0.0.5", "");
  dataSource->saveNodeToPreference(noPort);
  EXPECT_EQ(savedCount(), 4u);

  dataSource->deleteStaticNodeInPreferenceWithStaticNodeInfo(staticNode("10.0.0.4", "7004"));
  dataSource->deleteNodeInPreferenceWithNodeUniqueID("found-1");
  EXPECT_TRUE(savedEntry("new-1").isNone());
  EXPECT_TRUE(savedEntry("found-1").isNone());
  EXPECT_EQ(savedCount(), 2u);
  EXPECT_EQ(dataSource->nodes().size(), 4u) << "deleting saved entries leaves the node list alone";
}

// The run command passes its nodes as "-discoveredNodes": that list is for
// the run, and saving a node once wrote it over the user's saved nodes.
TEST_F(SavedNodeListTest, NodeListFromTheCommandLineIsForTheRunAndNeverReplacesTheSavedOne) {
  const std::string runListArgument =
      "<array><dict><key>nodeUniqueID</key><string>run-1</string><key>ipAdress</key><string>127.0.0.1</string>"
      "<key>portNumber</key><string>7100</string><key>discoveredByNetServices</key><false/></dict></array>";
  platform::UserDefaults withArguments(folder_ / "defaults.plist", {"VantelioZira", "-discoveredNodes", runListArgument});
  platform::ScopedStandardUserDefaultsOverride runDefaults(withArguments);
  auto dataSource = makeDataSource();
  dataSource->connectStaticNodeFromPref();
  ASSERT_EQ(dataSource->nodes().size(), 1u);
  EXPECT_EQ(dataSource->nodes()[0]->portNumber(), "7100");

  dataSource->saveNodeToPreference(addNode(*dataSource, "new-1", "10.0.0.4", "7004"));
  dataSource->deleteNodeInPreferenceWithNodeUniqueID("found-1");

  std::vector<std::string> saved;
  const Array savedList = platform::UserDefaults(folder_ / "defaults.plist").arrayForKey(kDiscoveredNodesKey).value();
  for (const Value& entry : savedList) saved.push_back(entry["nodeUniqueID"].stringOr(""));
  EXPECT_EQ(saved, (std::vector<std::string>{"static-1", "legacy-1", "new-1"}));
  std::vector<std::string> run;
  const Array runList = withArguments.arrayForKey(kDiscoveredNodesKey).value();
  for (const Value& entry : runList) run.push_back(entry["nodeUniqueID"].stringOr(""));
  EXPECT_EQ(run, (std::vector<std::string>{"run-1", "new-1"}));
}

TEST_F(SavedNodeListTest, PollingThreadsReadTheSavedListAndWriteItOnlyThroughTheMainThread) {
  auto dataSource = makeDataSource();
  auto node = addNode(*dataSource, "static-1", "10.0.0.1", "7001");
  std::vector<bool> writesOnMainThread;
  auto observation = defaults_.observeKey(kDiscoveredNodesKey, [&](const Value&, const Value&) {
    writesOnMainThread.push_back(platform::isMainThread());
  });

  std::uint32_t attributesChangeNumber = 0;
  std::vector<std::shared_ptr<Attribute>> attributes;
  std::thread pollingThread([&] {
    dataSource->getMediaFoldersForNode(node);
    attributesChangeNumber = dataSource->attributesLastChangeNumberInPrefForNode(node);
    attributes = dataSource->attributesInPrefForNodeWithUniqueID("static-1");
    node->setName("Renamed By Node");
    dataSource->saveNodeToPreference(node);
  });
  pollingThread.join();

  const auto folders = node->mediaFolders();
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0]->uniqueID(), "F1");
  EXPECT_EQ(folders[0]->path(), "/media/one");
  EXPECT_EQ(folders[0]->lastChangeNumber(), 12u);
  EXPECT_EQ(attributesChangeNumber, 7u);
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(attributes[0]->name(), "Audio Volume");

  EXPECT_EQ(savedEntry("static-1")["nodeName"], Value("Static One")) << "written off the main thread";
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return savedEntry("static-1")["nodeName"] == Value("Renamed By Node"); }, "the saved name"));
  EXPECT_EQ(writesOnMainThread, std::vector<bool>{true});
}

TEST_F(SavedNodeListTest, AFolderThatVanishesRemovesItsClipsAndLeavesTheSavedList) {
  auto dataSource = makeDataSource();
  auto kept = std::make_shared<MediaFolder>();
  kept->setUniqueID("F1");
  kept->setPath("/media/one");
  auto added = std::make_shared<MediaFolder>();
  added->setUniqueID("F3");
  added->setPath("/media/three");
  dataSource->mediaFoldersDidChange({{kept, added}, "static-1", "Static One"});

  EXPECT_EQ(dataSource->removedFolders, std::vector<std::string>{"F2"});
  const Value entry = savedEntry("static-1");
  const Array* saved = entry["mediaFolders"].array();
  ASSERT_NE(saved, nullptr);
  ASSERT_EQ(saved->size(), 2u);
  EXPECT_EQ((*saved)[0]["mediaFolderUniqueID"], Value("F1"));
  EXPECT_EQ((*saved)[1]["mediaFolderUniqueID"], Value("F3"));

  dataSource->mediaFoldersDidChange({{kept}, "", ""});  // no node unique ID: ignored
  EXPECT_EQ(savedEntry("static-1")["mediaFolders"], entry["mediaFolders"]);
}

// --- Node list and discovery ---

TEST_F(DataSourceTest, ADiscoveredServiceIsResolvedOnceAndGivesOneConnectionPerIPv4Address) {
  auto dataSource = makeDataSource();
  dataSource->startBrowsingForNodes();
  ASSERT_EQ(browser_->searches.size(), 1u);
  EXPECT_EQ(browser_->searches[0], (std::pair<std::string, std::string>{"_ruzizevuzazo._tcp.", ""}));

  const DiscoveredService service{"Studio Node", kNodeServiceType, "local.", 1};
  dataSource->serviceBrowserDidFindService(service, false);
  ASSERT_EQ(browser_->resolves.size(), 1u);
  EXPECT_EQ(browser_->resolves[0].second, std::chrono::seconds(10));

  const int port = closedLoopbackPort();
  ServiceAddress ipv6;
  ipv6.family = ServiceAddress::Family::IPv6;
  ipv6.bytes[15] = 1;
  dataSource->serviceDidResolveAddress(
      {service, "studio.local.", static_cast<std::uint16_t>(port), {ServiceAddress::ipv4(127, 0, 0, 1), ipv6}});
  ASSERT_EQ(dataSource->nodes().size(), 1u);
  const auto& node = dataSource->nodes()[0];
  EXPECT_EQ(node->nodeUniqueID(), "Studio Node");
  EXPECT_TRUE(node->discoveredByNetServices());
  EXPECT_EQ(node->address(), "127.0.0.1");
  EXPECT_EQ(node->portNumber(), std::to_string(port));
  EXPECT_EQ(node->netService(), (ResolvedNetService{"Studio Node", "127.0.0.1", port}));
  EXPECT_EQ(dataSource->indexOfNodeForNetService(service), 0);

  dataSource->serviceBrowserDidFindService(service, false);
  EXPECT_EQ(browser_->resolves.size(), 1u) << "a service with a connection is not resolved again";
}

// Browsing that fails (no mDNS daemon yet, or it restarted) is started again
// on each reconnect tick until a tick passes without a new failure; the
// failure is logged once per outage.
TEST_F(DataSourceTest, FailedBrowsingIsRetriedOnTheReconnectTickAndLoggedOncePerOutage) {
  testing_support::CapturedDiagnostics diagnostics;
  auto dataSource = makeDataSource();
  dataSource->startBrowsingForNodes();
  const platform::Error noDaemon{"ServiceBrowser", 1, "The mDNS daemon is not running", {}};
  const auto warnings = [&] {
    std::size_t count = 0;
    for (const std::string& message : diagnostics.messages()) count += message.find("Node discovery:") == 0;
    return count;
  };
  dataSource->serviceBrowserDidNotSearch(noDaemon);
  dataSource->tryToConnectRegisteredNodes();
  EXPECT_EQ(browser_->searches.size(), 2u);
  dataSource->serviceBrowserDidNotSearch(noDaemon);  // still down
  dataSource->tryToConnectRegisteredNodes();
  EXPECT_EQ(browser_->searches.size(), 3u);
  EXPECT_EQ(warnings(), 1u);

  dataSource->tryToConnectRegisteredNodes();  // no failure since: browsing runs
  dataSource->tryToConnectRegisteredNodes();
  EXPECT_EQ(browser_->searches.size(), 3u);

  dataSource->serviceBrowserDidNotSearch(noDaemon);  // the daemon went away again
  dataSource->tryToConnectRegisteredNodes();
  EXPECT_EQ(browser_->searches.size(), 4u);
  EXPECT_GE(warnings(), 2u);
}

TEST_F(DataSourceTest, DuplicateNodeIDsKeepTheDiscoveredConnection) {
  const int port = closedLoopbackPort();
  struct Case {
    const char* what;
    std::string handEnteredID;
    std::string secondHandEnteredID;
    std::string serviceName;
    std::vector<std::string> expectedAddresses;
  };
  const std::vector<Case> cases = {
      {"same ID as a discovered node", "node-1", "", "node-1", {"127.0.0.1"}},
      {"both IDs still empty", "", "", "", {"127.0.0.1"}},
      {"different IDs", "node-1", "", "node-2", {"10.9.9.1", "127.0.0.1"}},
      {"two hand-entered nodes with one ID", "node-1", "node-1", "", {"10.9.9.1", "10.9.9.2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto dataSource = makeDataSource();
    addNode(*dataSource, c.handEnteredID, "10.9.9.1", std::to_string(port))->setName("B");
    if (!c.secondHandEnteredID.empty()) {
      addNode(*dataSource, c.secondHandEnteredID, "10.9.9.2", std::to_string(port))->setName("C");
      dataSource->tryToConnectRegisteredNodes();
    } else {
      const DiscoveredService service{c.serviceName, kNodeServiceType, "local.", 1};
      dataSource->serviceDidResolveAddress(
          {service, "host.local.", static_cast<std::uint16_t>(port), {ServiceAddress::ipv4(127, 0, 0, 1)}});
    }
    std::vector<std::string> addresses;
    for (const auto& node : dataSource->nodes()) addresses.push_back(node->address());
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, c.expectedAddresses);
  }
}

TEST_F(DataSourceTest, LookUpsByAddressUseTheConnectionAddress) {
  auto dataSource = makeDataSource();
  addNode(*dataSource, "node-a", "10.2.2.1", "7000");
  addNode(*dataSource, "node-b", "10.2.2.2", "7000");
  EXPECT_EQ(dataSource->indexOfNodeForIPAddress("10.2.2.2"), 1);
  EXPECT_TRUE(dataSource->nodeArrayContainsIPAddress("10.2.2.1"));
  EXPECT_EQ(dataSource->indexOfNodeForIPAddress("10.2.2.3"), -1);
  EXPECT_EQ(dataSource->indexOfNodeWithNodeUniqueID("node-b"), 1);
  EXPECT_EQ(dataSource->nodeConnectionWithNodeUniqueID("node-c"), nullptr);
  EXPECT_EQ(dataSource->nodeNameForNodeWithUniqueID("node-a"), "node-a name");
  EXPECT_EQ(dataSource->nodeNameForNodeWithUniqueID("node-c"), "");
}

// --- Node actions ---

TEST_F(DataSourceTest, NodeActionsQueueTheirCommandsOnTheNamedNodeOnly) {
  using Action = std::function<void(DataSource&, const NodeConnectionPtr&)>;
  const Dictionary scheduled{{"status", Value("PLAYING")}, {"scheduleUniqueID", Value("S1")}};
  const Dictionary notInitialized{{"status", Value("NOT_INITIALIZED")}};
  struct Case {
    Action action;
    Dictionary status;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {[](DataSource& d, auto&) { d.nodeLock("node-a"); }, {}, {"lock"}},
      {[](DataSource& d, auto&) { d.nodeUnlock("node-a", "secret word"); }, {}, {"unlock secret word"}},
      {[](DataSource& d, auto&) { d.nodeControlSetSlaveMode(true, "node-a"); }, {}, {"setslavemode 1"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackPause("node-a"); }, {}, {"pbpause"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackPlay("node-a"); }, {}, {"pbstartscheduler"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackPlay("node-a"); }, scheduled, {"pbplay"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackCue("node-a", "", 0); }, {}, {"pbcue"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackCue("node-a", "clip-1", 0); }, {}, {"pbcueitem clip-1"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackCue("node-a", "clip-1", 12); }, {}, {"pbcueitem clip-1 12"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaylistSetChainMode("node-a", false); }, {}, {"plsetchainmode 0"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaylistRemoveItemAtIndex(3, "node-a"); }, {}, {"plremoveitematindex 3"}},
      {[](DataSource& d, auto&) { d.nodeControlStopAndClearSchedule("node-a"); }, {}, {"pbstop"}},
      {[](DataSource& d, auto&) { d.nodeControlStopAndClearSchedule("node-a"); },
       scheduled,
       {"pbstopscheduler", "pbstop", "plclearschedule"}},
      {[](DataSource& d, auto& a) { d.nodeControlPlaybackScrubToTime(2.5, a); }, {}, {"pbscrubtotime 2.500000"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackPlayUniqueIDToStart("node-a", "clip-2", 4); },
       {},
       {"pbplayitem clip-2 4.000000"}},
      {[](DataSource& d, auto&) { d.nodeControlPlaybackPlayUniqueIDToStart("node-a", "clip-2", 4); },
       notInitialized,
       {"pbinitialize"}},
      {[](DataSource& d, auto&) {
         d.nodeLock("node-unknown");
         d.nodeControlPlaybackStop("");
       },
       {},
       {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    auto dataSource = makeDataSource();
    auto a = addNode(*dataSource, "node-a");
    auto b = addNode(*dataSource, "node-b");
    a->setCurrentStatus(cases[i].status);
    cases[i].action(*dataSource, a);
    EXPECT_EQ(commandTexts(a), cases[i].expected);
    EXPECT_TRUE(commandTexts(b).empty());
  }
}

TEST_F(DataSourceTest, RepliesContinueTheirSequenceOnTheSameNode) {
  auto dataSource = makeDataSource();
  auto a = addNode(*dataSource, "node-a");
  a->setCurrentStatus({{"status", Value("NOT_INITIALIZED")}});
  dataSource->nodeControlPlaybackPlayUniqueIDToStart("node-a", "clip-2", 4);
  dataSource->nodeControlPlaybackStopScheduler("node-a");
  auto queued = a->controlCommands();
  ASSERT_EQ(queued.size(), 2u);
  for (const auto& command : queued) {
    command->setResponse("OK");
    command->replyHandler()(command);
  }
  EXPECT_EQ(commandTexts(a), (std::vector<std::string>{"pbinitialize", "pbstopscheduler", "pbplayitem clip-2 4.000000",
                                                       "pbstop"}));

  // An initialisation the node refused ends the start and frees the node.
  a->setIsModifyingPlaylist(true);
  auto refused = ControlCommand::make("pbinitialize", "receivedReplyToPlaybackInitialize:");
  refused->setNodeConnection(a);
  refused->setResponse("ERROR");
  dataSource->receivedReplyToPlaybackInitialize(refused);
  EXPECT_FALSE(a->isModifyingPlaylist());
  EXPECT_EQ(a->controlCommands().size(), 4u);
}

TEST_F(DataSourceTest, StatusQueriesAnswerForTheNamedNodeWithACopy) {
  auto dataSource = makeDataSource();
  auto a = addNode(*dataSource, "node-a");
  addNode(*dataSource, "node-b");
  a->setCurrentStatus({{"status", Value("PAUSED")}, {"isAuthenticated", Value(true)}, {"slaveMode", Value(true)}});

  auto status = dataSource->nodeControlStatus("node-a");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)["status"], Value("PAUSED"));
  (*status)["status"] = Value("PLAYING");
  EXPECT_EQ(Value(a->currentStatus())["status"], Value("PAUSED")) << "the caller got a copy";
  EXPECT_EQ(dataSource->nodeControlStatus("node-b"), Dictionary{});
  EXPECT_FALSE(dataSource->nodeControlStatus("node-unknown"));
  EXPECT_TRUE(dataSource->isNodeUnlocked("node-a"));
  EXPECT_TRUE(dataSource->isNodeInSlaveMode("node-a"));
  EXPECT_FALSE(dataSource->isNodeUnlocked("node-b"));
  EXPECT_FALSE(dataSource->isNodeUnlocked("node-unknown"));
}

TEST_F(DataSourceTest, AThumbnailIsRequestedOnceAndThenServedFromTheCache) {
  auto dataSource = makeDataSource();
  auto a = addNode(*dataSource, "node-a");
  std::vector<platform::Notification> thumbnails;
  auto observer = platform::NotificationCenter::defaultCenter().addObserver(
      "newThumbnailIsAvailable", nullptr, [&](const platform::Notification& n) { thumbnails.push_back(n); });

  dataSource->requestThumbnailForMediaItemWithUniqueID("item-1", "folder-1", "node-a", 2.5);
  dataSource->requestThumbnailForMediaItemWithUniqueID("item-1", "folder-1", "node-a", 2.5);
  const auto queued = a->controlCommands();
  ASSERT_EQ(queued.size(), 1u) << "a pending request is not sent twice";
  EXPECT_EQ(queued[0]->command(), "fmmediaitemthumbnail folder-1 item-1 2.500000");
  EXPECT_TRUE(queued[0]->requiresXMLResponse());
  EXPECT_EQ(queued[0]->responseSelector(), kReceivedReplyToRequestThumbnailSelector);

  const auto image = std::make_shared<const RGBAImage>(RGBAImage{1, 1, {1, 2, 3, 4}});
  queued[0]->setResponseImage(image);
  queued[0]->replyHandler()(queued[0]);
  EXPECT_FALSE(dataSource->isThumbnailRequestPending(queued[0]->command()));
  EXPECT_EQ(a->thumbnailForMediaItemWithUniqueID("item-1", "folder-1", 2.5), image);
  ASSERT_EQ(thumbnails.size(), 1u);
  EXPECT_EQ(thumbnails[0].userInfo, (Dictionary{{"mediaFolderUniqueID", Value("folder-1")},
                                                {"mediaItemUniqueID", Value("item-1")},
                                                {"position", Value("2.500000")}}));

  dataSource->requestThumbnailForMediaItemWithUniqueID("item-1", "folder-1", "node-a", 2.5);
  EXPECT_EQ(a->controlCommands().size(), 1u) << "answered from the cache";
  EXPECT_EQ(thumbnails.size(), 2u);
}

// --- With a node on 127.0.0.1 ---

class StandInNodeTest : public DataSourceTest {
 protected:
  void SetUp() override {
    DataSourceTest::SetUp();
    program_ = testing_support::standInNodeProgram();
    if (!program_) GTEST_SKIP() << "the stand-in node program is not built (target node-standin)";
    std::filesystem::create_directories(folder_ / "media");
  }

  bool startNode(int port = 0) {
    std::string error;
    auto node = testing_support::startStandInNode(*program_, folder_ / "media", "Test Node", "test-node-uid", port, {},
                                                  {}, &error);
    if (!node) {
      ADD_FAILURE() << error;
      return false;
    }
    node_ = std::move(*node);
    return true;
  }

  std::optional<std::filesystem::path> program_;
  testing_support::StandInNode node_;
};

TEST_F(StandInNodeTest, AStaticNodeConnectsAtTheTimerTickAndReportsOnTheMainThread) {
  ASSERT_TRUE(startNode());
  auto dataSource = makeDataSource();
  std::vector<bool> nodeListOnMainThread;
  std::vector<platform::Notification> statusChanges;
  auto nodeListObserver = platform::NotificationCenter::defaultCenter().addObserver(
      "nodeListDidChange", nullptr,
      [&](const platform::Notification&) { nodeListOnMainThread.push_back(platform::isMainThread()); });
  dataSource->createStaticNodeInPreferenceWithStaticNodeInfo(staticNode("127.0.0.1", std::to_string(node_.port)));
  dataSource->startTimerConnection();
  const auto node = dataSource->nodes().at(0);
  auto statusObserver = platform::NotificationCenter::defaultCenter().addObserver(
      "playbackStatusDidChange", node.get(), [&](const platform::Notification& n) {
        EXPECT_TRUE(platform::isMainThread());
        statusChanges.push_back(n);
      });
  clock_.advance(DataSource::kReconnectInterval - 1ms);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_FALSE(node->telnetController().isTryingToConnect() || node->isConnected()) << "opened before the tick";

  clock_.advance(1ms);
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return node->isConnected() && node->name() == "Test Node" && !nodeListOnMainThread.empty(); },
      "the node to connect"));
  EXPECT_EQ(node->nodeUniqueID(), "test-node-uid");
  for (bool onMain : nodeListOnMainThread) EXPECT_TRUE(onMain);

  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return defaults_.arrayForKey(kDiscoveredNodesKey).value_or(Array{}).size() == 1; }, "the saved node"));
  const Value saved = defaults_.arrayForKey(kDiscoveredNodesKey)->front();
  EXPECT_EQ(saved, Value(Dictionary{{"discoveredByNetServices", Value(false)},
                                    {"ipAdress", Value("127.0.0.1")},
                                    {"mediaFolders", Value(Array{})},
                                    {"nodeName", Value("Test Node")},
                                    {"nodeUniqueID", Value("test-node-uid")},
                                    {"portNumber", Value(std::to_string(node_.port))}}));

  ASSERT_TRUE(advanceUntil([&] { return !statusChanges.empty(); }));
  const auto* object = std::any_cast<NodeConnectionPtr>(&statusChanges.front().object);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(*object, node);
  EXPECT_EQ(Value(statusChanges.front().userInfo)["status"], Value("NOT_INITIALIZED"))
      << Value(statusChanges.front().userInfo).describe();
  // The connection stores the status just after reporting its changes.
  EXPECT_TRUE(testing_support::waitForCondition([&] {
    return Value(dataSource->nodeControlStatus("test-node-uid").value_or(Dictionary{}))["status"] ==
           Value("NOT_INITIALIZED");
  }));
}

TEST_F(StandInNodeTest, ADroppedLinkIsReopenedAtTheNextTimerTick) {
  ASSERT_TRUE(startNode());
  const int port = node_.port;
  auto dataSource = makeDataSource();
  dataSource->createStaticNodeInPreferenceWithStaticNodeInfo(staticNode("127.0.0.1", std::to_string(port)));
  dataSource->startTimerConnection();
  const auto node = dataSource->nodes().at(0);
  clock_.advance(DataSource::kReconnectInterval);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return node->isConnected() && node->name() == "Test Node"; },
                                                "the first connection"));

  node_.process->stop();
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return !node->isConnected() && !node->telnetController().isTryingToConnect(); }, "the link to drop"));
  ASSERT_TRUE(startNode(port));

  testing_support::CapturedDiagnostics diagnostics;
  const std::string attempt = "Trying to reconnect to Node at address: 127.0.0.1";
  clock_.advance(DataSource::kReconnectInterval - 100ms);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(diagnostics.count(attempt), 0u);
  EXPECT_FALSE(node->isConnected());

  clock_.advance(100ms);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(diagnostics.count(attempt), 1u);
  // The link of the dropped connection may still be winding down at this
  // tick; then the node is tried again at the next one.
  for (int tick = 0; tick < 3 && !node->isConnected(); ++tick) {
    if (platform::RunLoop::main().runUntil([&] { return node->isConnected(); }, 3000ms)) break;
    clock_.advance(DataSource::kReconnectInterval);
  }
  EXPECT_TRUE(node->isConnected());
  EXPECT_EQ(dataSource->nodes().size(), 1u);
}

}  // namespace
}  // namespace nodes
