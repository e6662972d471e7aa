#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "CapturedLogs.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "platform/ViewControllerAppearance.h"
#include "telemetry/services/analytics/DRTLAnalytics.h"
#include "telemetry/services/analytics/DRTLAnalyticsCategory.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::analytics {
namespace {

using telemetry::core::testing_support::capturedLogs;

using core::DRTLDirAraded;
using core::testing_support::LogCapture;

class CountingDelegate : public DRTLAnalyticsDelegate {
 public:
  void willSendEventLog(DRTLAnalytics&, const std::shared_ptr<DRTLEventLog>&) override { ++willSendEvents; }
  void didSucceedSendingPageLog(DRTLAnalytics&, const std::shared_ptr<DRTLPageLog>&) override { ++sentPages; }
  std::atomic<int> willSendEvents{0};
  std::atomic<int> sentPages{0};
};

class DRTLAnalyticsTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::RunLoop::main().attachCurrentThread();
    resetProcess();
    for (const char* key : {"DirAradedIsEnabled", "AnalyticsIsEnabled"}) {
      core::DRTLDirAradedUserDefaults::shared()->removeObjectForKey(key);
    }
    core::DRTLUtility::deleteItemForPathComponent(core::kDRTLLogsFileName);
  }
  void TearDown() override { resetProcess(); }
  static void resetProcess() {
    DRTLAnalytics::resetSharedInstance();
    DRTLDirAraded::resetSharedInstance();
    core::DRTLSessionContext::resetSharedInstance();
    core::DRTLUserIdContext::resetSharedInstance();
    core::DRTLDeviceTracker::resetSharedInstance();
  }
  void startWith(const std::string& secret, const std::string& url) {
    DRTLDirAraded::setLogUrl(url);
    DRTLDirAraded::start(secret, {DRTLAnalytics::serviceClass});
  }
  static void drain() {
    auto group = DRTLDirAraded::sharedInstance()->channelGroup();
    ASSERT_TRUE(group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10)));
  }
  static std::string sqlite(const std::string& query) {
    const auto file = core::DRTLUtility::fullURLForPathComponent(std::string(core::kDRTLLogsFileName));
    std::string rows = core::testing_support::runCommand(
        "sqlite3 " + core::testing_support::quoted(file->string()) + " " + core::testing_support::quoted(query) + " 2>&1");
    while (!rows.empty() && rows.back() == '\n') rows.pop_back();
    return rows;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  LogCapture capture_;
};

TEST_F(DRTLAnalyticsTest, EventsAndPagesTravelWithTheirSession) {
  ::testing_support::HttpCaptureServer server;
  auto delegate = std::make_shared<CountingDelegate>();
  DRTLAnalytics::setDelegate(delegate);
  startWith("s1", server.baseUrl());
  DRTLAnalytics::trackEvent("play", std::map<std::string, std::string>{{"clip", "news"}});
  DRTLAnalytics::trackPage("Cart");
  DRTLAnalytics::trackEvent("");  // dropped at the channel
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(::testing_support::waitForCondition(
      [&] { return capturedLogs(server).size() >= 4; }, "the analytics logs and the start-service log"));
  ASSERT_TRUE(::testing_support::waitForCondition([&] { return delegate->sentPages == 1; }, "the page callback"));

  std::optional<std::string> sessionId;
  nlohmann::json event;
  nlohmann::json page;
  for (const auto& log : capturedLogs(server)) {
    const std::string type = log.at("type");
    if (type == "startSession") sessionId = log.at("sid");
    if (type == "event") event = log;
    if (type == "page") page = log;
    if (type == "startService") {
      EXPECT_EQ(log.at("services"), nlohmann::json::array({"Analytics"}));
    }
  }
  ASSERT_TRUE(sessionId);
  EXPECT_EQ(event.at("name"), "play");
  EXPECT_EQ(event.at("sid"), *sessionId);
  // String properties travel as typed string properties.
  EXPECT_EQ(event.at("typedProperties"),
            nlohmann::json::parse(R"([{"type":"string","name":"clip","value":"news"}])"));
  EXPECT_EQ(event.at("id").get<std::string>().size(), 36u);
  EXPECT_EQ(page.at("name"), "Cart");
  EXPECT_EQ(page.at("sid"), *sessionId);
  EXPECT_EQ(delegate->willSendEvents, 1);
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelError, "event name cannot be null or empty"));
}

TEST_F(DRTLAnalyticsTest, FlagsChooseTheUnitAndTheStoredPriority) {
  ::testing_support::HttpCaptureServer server(R"([{"status":503}])");
  startWith("s1", server.baseUrl());
  struct Row {
    std::uint64_t flags;
    const char* group;
    int priority;
    bool warned;
  };
  const Row rows[] = {{0, "Analytics", 1, true}, {3, "Analytics", 1, true}, {258, "Analytics_critical", 2, false},
                      {1, "Analytics", 1, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.flags);
    const std::string warning =
        "Invalid flags (" + std::to_string(row.flags & 0xFF) + ") received, using normal as a default.";
    const int warningsBefore = capture_.count(core::DRTLLogLevelWarning, warning);
    DRTLAnalytics::trackEvent("flags" + std::to_string(row.flags), std::nullopt, row.flags);
    drain();
    EXPECT_EQ(capture_.count(core::DRTLLogLevelWarning, warning) - warningsBefore, row.warned ? 1 : 0);
    // The start-service log of the "DirAraded" unit may be stored after the first event.
    EXPECT_EQ(sqlite("SELECT groupId || ' ' || priority FROM logs WHERE groupId LIKE 'Analytics%' "
                     "ORDER BY id DESC LIMIT 1"),
              std::string(row.group) + " " + std::to_string(row.priority));
  }
}

TEST_F(DRTLAnalyticsTest, TransmissionIntervalIsCheckedAndOnlyTakenBeforeStart) {
  struct Row {
    std::uint64_t seconds;
    bool accepted;
  };
  for (const Row& row : {Row{2, false}, Row{3, true}, Row{86400, true}, Row{86401, false}}) {
    SCOPED_TRACE(row.seconds);
    const std::string refusal =
        "The transmission interval is not valid, it should be between 3 second(s) and 86400 second(s) (1 day).";
    DRTLAnalytics::setTransmissionInterval(60);
    const int refusalsBefore = capture_.count(core::DRTLLogLevelError, refusal);
    DRTLAnalytics::setTransmissionInterval(row.seconds);
    EXPECT_EQ(DRTLAnalytics::transmissionInterval(), row.accepted ? row.seconds : 60u);
    EXPECT_EQ(capture_.count(core::DRTLLogLevelError, refusal) - refusalsBefore, row.accepted ? 0 : 1);
  }
  DRTLAnalytics::setTransmissionInterval(10);
  startWith("s1", "http://127.0.0.1:9");
  EXPECT_EQ(DRTLAnalytics::sharedInstance()->channelUnit()->configuration().flushInterval, 10u);
  EXPECT_EQ(DRTLAnalytics::sharedInstance()->criticalChannelUnit()->configuration().flushInterval, 3u);
  DRTLAnalytics::setTransmissionInterval(20);
  EXPECT_EQ(DRTLAnalytics::transmissionInterval(), 10u);
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelError,
                                "The transmission interval should be set before the DRTLAnalytics service is started."));
}

TEST_F(DRTLAnalyticsTest, NothingIsTrackedBeforeStartOrWhileDisabled) {
  DRTLAnalytics::trackEvent("early");
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelError, "Analytics service hasn't been started."));
  ::testing_support::HttpCaptureServer server(R"([{"status":503}])");
  startWith("s1", server.baseUrl());
  drain();
  DRTLAnalytics::setEnabledClass(false);
  EXPECT_FALSE(DRTLAnalytics::sharedInstance()->sessionTracker()->started());
  EXPECT_FALSE(core::DRTLSessionContext::sharedInstance()->sessionId());
  DRTLAnalytics::trackEvent("quiet");
  drain();
  EXPECT_EQ(sqlite("SELECT count(*) FROM logs WHERE groupId LIKE 'Analytics%'"), "0");
  DRTLAnalytics::setEnabledClass(true);
  EXPECT_TRUE(DRTLAnalytics::sharedInstance()->sessionTracker()->started());
  EXPECT_TRUE(core::DRTLSessionContext::sharedInstance()->sessionId());
}

TEST_F(DRTLAnalyticsTest, TargetsAreKeptPerTokenAndADisabledTargetSendsNothing) {
  ::testing_support::HttpCaptureServer server(R"([{"status":503}])");
  startWith("s1", server.baseUrl());
  auto target = DRTLAnalytics::transmissionTargetForToken("k1-secret");
  EXPECT_EQ(DRTLAnalytics::transmissionTargetForToken("k1-secret"), target);
  EXPECT_EQ(target->isEnabledKey(), "AnalyticsIsEnabled/k1");
  target->setEnabled(false);
  target->trackEvent("muted");
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelError, "This transmission target is disabled."));
  DRTLAnalytics::setEnabledClass(true);  // unchanged, still pushed to the targets
  EXPECT_TRUE(target->isEnabled());
}

TEST_F(DRTLAnalyticsTest, TargetedEventsGoToTheCollectorInSharedSchemaForm) {
  const std::string parentToken = "aaaa0001-0000-0000-0000-000000000001";
  const std::string childToken = "bbbb0002-0000-0000-0000-000000000002";
  ::testing_support::HttpCaptureServer server;
  startWith("target=" + parentToken, server.baseUrl());
  auto parent = DRTLAnalytics::transmissionTargetForToken(parentToken);
  parent->propertyConfigurator().setAppVersion("1");
  parent->propertyConfigurator().eventProperties().setInt64(1, "k");
  auto child = parent->transmissionTargetForToken(childToken);
  child->propertyConfigurator().eventProperties().setInt64(2, "k");
  child->propertyConfigurator().collectDeviceId();

  struct Delivering : DRTLAnalyticsAuthenticationProviderDelegate {
    void acquireToken(DRTLAnalyticsAuthenticationProvider&, DRTLAcquireTokenCompletion completion) override {
      completion("T", std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow()) +
                          std::chrono::hours(1));
    }
  };
  auto tokens = std::make_shared<Delivering>();
  auto provider = std::make_shared<DRTLAnalyticsAuthenticationProvider>(0, "user-key", tokens);
  DRTLAnalyticsTransmissionTarget::addAuthenticationProvider(provider);

  auto properties = std::make_shared<DRTLEventProperties>();
  properties->setInt64(5, "a.b.c").setDouble(1.5, "n").setString("T", "baseType").setString("y", "baseData.x");
  child->trackEventWithTypedProperties("play", properties);
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(server.waitForRequests(1));
  drain();
  std::vector<nlohmann::ordered_json> lines;
  for (const auto& request : server.requests()) {
    EXPECT_NE(request.path, "/logs");
    if (request.path != "/RizErazuzude/1.0") continue;
    EXPECT_EQ(request.header("Tickets"),
              nlohmann::json({{*provider->ticketKeyHash(), "p:T"}}).dump());
    std::size_t start = 0;
    for (std::size_t end = request.body.find('\n'); end != std::string::npos; end = request.body.find('\n', start)) {
      lines.push_back(nlohmann::ordered_json::parse(request.body.substr(start, end - start)));
      start = end + 1;
    }
  }
  ASSERT_EQ(lines.size(), 1u);
  const nlohmann::ordered_json& line = lines[0];
  EXPECT_EQ(line["name"], "play");
  const nlohmann::ordered_json& data = line["data"];
  ASSERT_TRUE(data.is_object());
  EXPECT_EQ(data.begin().key(), "baseType");
  EXPECT_EQ(std::next(data.begin()).key(), "baseData");
  EXPECT_EQ(data["baseData"]["x"], "y");
  EXPECT_EQ(data["a"]["b"]["c"], 5);
  EXPECT_EQ(data["k"], 2) << "the child's configured property wins over its parent's";
  EXPECT_EQ(line["ext"]["metadata"]["f"]["a"]["f"]["b"]["f"]["c"], 4);
  EXPECT_EQ(line["ext"]["metadata"]["f"]["n"], 6);
  EXPECT_EQ(line["ext"]["app"]["ver"], "1") << "inherited from the nearest configurator";
  const std::string deviceId = line["ext"]["device"]["localId"];
  EXPECT_EQ(deviceId, DRTLPropertyConfigurator::getDeviceIdentifier());
  EXPECT_EQ(deviceId.size(), 38u);
  std::string machine;
  std::ifstream("/etc/machine-id") >> machine;
  EXPECT_EQ(deviceId.find(machine), std::string::npos) << "the raw machine id never leaves";
  EXPECT_EQ(properties->properties().size(), 4u) << "the host's container keeps its entries";
  EXPECT_EQ(line["ext"]["protocol"]["ticketKeys"], nlohmann::ordered_json::array({*provider->ticketKeyHash()}));
  DRTLAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
}

TEST_F(DRTLAnalyticsTest, ChildTargetsFollowTheirParentsSwitch) {
  ::testing_support::HttpCaptureServer server(R"([{"status":503}])");
  startWith("s1", server.baseUrl());
  auto parent = DRTLAnalytics::transmissionTargetForToken("p1-x");
  auto child = parent->transmissionTargetForToken("c1-x");
  EXPECT_EQ(parent->transmissionTargetForToken("c1-x"), child);
  parent->setEnabled(false);
  EXPECT_FALSE(child->isEnabled());
  auto late = parent->transmissionTargetForToken("c2-x");
  EXPECT_FALSE(late->isEnabled()) << "made under a disabled parent";
  late->setEnabled(true);
  EXPECT_FALSE(late->isEnabled());
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelWarning,
                                "Can't enable; parent transmission target and/or Analytics service is disabled."));
  late->pause();
  EXPECT_TRUE(capture_.contains(core::DRTLLogLevelError, "This transmission target is disabled."));
  parent->setEnabled(true);
  EXPECT_TRUE(child->isEnabled());
  EXPECT_TRUE(late->isEnabled());

  child->propertyConfigurator().setUserId("abc");
  EXPECT_EQ(child->propertyConfigurator().userId(), "c:abc");
  child->propertyConfigurator().setUserId("");
  EXPECT_EQ(child->propertyConfigurator().userId(), "c:abc") << "a refused id keeps the old one";
}

TEST_F(DRTLAnalyticsTest, OldSettingsKeysAreMigratedOnce) {
  DRTLAnalytics::resetSharedInstance();
  core::DRTLDirAradedUserDefaults::shared()->removeObjectForKey("310AnalyticsUserDefaultsMigratedKey");
  platform::UserDefaults& defaults = platform::UserDefaults::standard();
  defaults.setObject(platform::Value(false), "kDRAnalyticsIsEnabledKey");
  DRTLAnalytics::sharedInstance();
  EXPECT_FALSE(DRTLAnalytics::sharedInstance()->isEnabled());
  EXPECT_TRUE(defaults.objectForKey("kDRAnalyticsIsEnabledKey").isNone());

  DRTLAnalytics::resetSharedInstance();
  defaults.setObject(platform::Value(true), "kDRAnalyticsIsEnabledKey");
  EXPECT_FALSE(DRTLAnalytics::sharedInstance()->isEnabled()) << "the migration ran before";
  defaults.removeObjectForKey("kDRAnalyticsIsEnabledKey");
  core::DRTLDirAradedUserDefaults::shared()->removeObjectForKey("AnalyticsIsEnabled");
}

TEST(DRTLAnalyticsCategoryTest, PageNamesComeFromTheLastClassNamePart) {
  struct Row {
    const char* className;
    std::optional<std::string> page;
  };
  const Row rows[] = {{"Shop::CartViewController", "Cart"},   {"SettingsViewController", "Settings"},
                      {"ViewController", "ViewController"},   {"MainWindowController", "MainWindowController"},
                      {"NSTabViewController", std::nullopt},  {"PrefsTabViewController", "PrefsTab"},
                      {"a::b::ViewController", "ViewController"}};
  for (const Row& row : rows) {
    EXPECT_EQ(DRTLAnalyticsCategory::pageNameForClassName(row.className), row.page) << row.className;
  }
}

TEST_F(DRTLAnalyticsTest, AutomaticPagesAreTrackedAndAMissedOneIsReplayedAtEnable) {
  ::testing_support::HttpCaptureServer server(R"([{"status":503}])");
  DRTLAnalyticsCategory::activateCategory();
  DRTLAnalyticsCategory::activateCategory();
  platform::reportViewControllerWillAppear("Shop::IgnoredViewController");
  EXPECT_FALSE(DRTLAnalyticsCategory::missedPageViewName()) << "tracking is off";

  DRTLAnalytics::setAutoPageTrackingEnabled(true);
  platform::reportViewControllerWillAppear("Shop::EarlyViewController");
  platform::reportViewControllerWillAppear("Shop::CartViewController");
  EXPECT_EQ(DRTLAnalyticsCategory::missedPageViewName(), "Cart") << "only the last one is kept";

  startWith("s1", server.baseUrl());
  drain();
  const std::string pages = "SELECT count(*) FROM logs WHERE groupId = 'Analytics'";
  const std::string before = sqlite(pages);
  ASSERT_TRUE(::testing_support::runMainLoopUntil([&] {
    drain();
    return sqlite(pages) != before;
  }, "the replayed page"));
  platform::reportViewControllerWillAppear("Shop::PlayoutViewController");
  EXPECT_FALSE(DRTLAnalyticsCategory::missedPageViewName());
  DRTLAnalytics::setAutoPageTrackingEnabled(false);
}

}  // namespace
}  // namespace telemetry::analytics
