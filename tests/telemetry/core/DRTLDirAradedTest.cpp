#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "TelemetryLogFixtures.h"
#include "CapturedLogs.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDelegateForwarder.h"
#include "telemetry/core/Services/DRTLDependencyConfiguration.h"
#include "telemetry/core/Services/DRTLDispatcherUtil.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/core/Services/DRTLStartServiceLog.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::core {
namespace {

using telemetry::core::testing_support::capturedLogs;

using testing_support::LogCapture;
using testing_support::pipelineLog;

// A service with its own unit; `priority` and `needsSecret` vary per class.
template <int Priority, bool NeedsSecret>
class TestServiceOf : public DRTLServiceAbstract {
 public:
  explicit TestServiceOf(std::string name) : name_(std::move(name)) {}
  std::string groupId() const override { return name_; }
  std::string serviceName() const override { return name_; }
  std::optional<DRTLChannelUnitConfiguration> channelUnitConfiguration() const override {
    return DRTLChannelUnitConfiguration::defaultConfiguration(name_);
  }
  bool isAppSecretRequired() const override { return NeedsSecret; }
  int initializationPriority() const override { return Priority; }

 private:
  std::string name_;
};

std::shared_ptr<DRTLServiceAbstract>& testServiceSlot() {
  static std::shared_ptr<DRTLServiceAbstract> slot;
  return slot;
}
std::shared_ptr<DRTLServiceAbstract> testService() {
  if (!testServiceSlot()) testServiceSlot() = std::make_shared<TestServiceOf<500, true>>("TestService");
  return testServiceSlot();
}
std::shared_ptr<DRTLServiceAbstract>& earlyServiceSlot() {
  static std::shared_ptr<DRTLServiceAbstract> slot;
  return slot;
}
std::shared_ptr<DRTLServiceAbstract> earlyService() {
  if (!earlyServiceSlot()) earlyServiceSlot() = std::make_shared<TestServiceOf<999, true>>("EarlyService");
  return earlyServiceSlot();
}
std::shared_ptr<DRTLServiceAbstract>& tokenServiceSlot() {
  static std::shared_ptr<DRTLServiceAbstract> slot;
  return slot;
}
std::shared_ptr<DRTLServiceAbstract> tokenService() {
  if (!tokenServiceSlot()) tokenServiceSlot() = std::make_shared<TestServiceOf<500, false>>("TokenService");
  return tokenServiceSlot();
}

class DRTLDirAradedTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcess(); }
  void TearDown() override {
    resetProcess();
    unsetenv("DIR_ARADED_DISABLE");
  }
  // What a new launch of the process starts from (the files stay). The SDK's
  // queue is drained first: a task still running would hold the last
  // reference to the old channel group and destroy it on its own queue.
  static void resetProcess() {
    if (auto group = DRTLDirAraded::sharedInstance()->channelGroup()) {
      group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10));
    }
    DRTLDirAraded::resetSharedInstance();
    testServiceSlot().reset();
    earlyServiceSlot().reset();
    tokenServiceSlot().reset();
    DRTLSessionContext::resetSharedInstance();
    DRTLUserIdContext::resetSharedInstance();
    DRTLDeviceTracker::resetSharedInstance();
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
    DRTLLogger::setIsUserDefinedLogLevel(false);
  }
  static void forgetEverything() {
    for (const char* key : {"DirAradedIsEnabled", "InstallId", "TestServiceIsEnabled", "EarlyServiceIsEnabled",
                            "TokenServiceIsEnabled"}) {
      DRTLDirAradedUserDefaults::shared()->removeObjectForKey(key);
    }
    DRTLUtility::deleteItemForPathComponent(kDRTLLogsFileName);
  }
  static void drain() {
    auto group = DRTLDirAraded::sharedInstance()->channelGroup();
    ASSERT_TRUE(group);
    ASSERT_TRUE(group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10)));
  }
  static std::uint64_t storedLogs() {
    auto group = DRTLDirAraded::sharedInstance()->channelGroup();
    std::uint64_t count = 0;
    group->logsDispatchQueue()->sync([&] { count = group->storage()->countLogs(); }, std::chrono::seconds(10));
    return count;
  }
  // Rows of the log store, counted by the sqlite3 tool.
  static std::string sqliteRows() {
    const auto file = DRTLUtility::fullURLForPathComponent(std::string(kDRTLLogsFileName));
    std::string rows = testing_support::runCommand("sqlite3 " + testing_support::quoted(file->string()) +
                                                   " 'SELECT count(*) FROM logs;' 2>&1");
    while (!rows.empty() && rows.back() == '\n') rows.pop_back();
    return rows;
  }
  // A log as a service hands it in: the unit stamps its time and device.
  static std::shared_ptr<DRTLLogWithProperties> bareLog(const std::string& name) {
    auto log = std::make_shared<DRTLLogWithProperties>();
    log->type = "event";
    log->properties = std::map<std::string, std::string>{{"name", name}};
    return log;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  LogCapture capture_;
};

TEST_F(DRTLDirAradedTest, LogsTravelFromTheServiceToTheServerAndSurviveARefusedSend) {
  forgetEverything();
  ::testing_support::HttpCaptureServer server;
  DRTLDirAraded::setLogUrl(server.baseUrl());
  DRTLDirAraded::start("s1", {testService});
  auto unit = testService()->channelUnit();
  ASSERT_TRUE(unit);
  for (const char* name : {"first", "second/half"}) unit->enqueueItem(bareLog(name), 1);
  auto properties = std::make_shared<DRTLCustomProperties>();
  properties->setString("blue", "color");
  DRTLDirAraded::setCustomProperties(properties);
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(server.waitForRequests(2));  // the SDK's own group and the service's

  const std::optional<std::string> installId = platform::UserDefaults::standard().stringForKey("DRDirAradedInstallId");
  ASSERT_TRUE(installId);
  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/logs");
    EXPECT_EQ(request.query, "api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), "s1");
    EXPECT_EQ(request.header("Install-ID"), *installId);
  }
  std::multiset<std::string> types;
  std::multiset<std::string> names;
  for (const auto& log : capturedLogs(server)) {
    types.insert(log.at("type"));
    EXPECT_EQ(log.at("device").at("sdkName"), "diraraded.linux");
    EXPECT_TRUE(DRTLUtility::dateFromISO8601(log.at("timestamp").get<std::string>())) << log.dump();
    if (log.at("type") == "startService") {
      EXPECT_EQ(log.at("services"), nlohmann::json::array({"TestService"}));
    }
    if (log.at("type") == "event") names.insert(log.at("properties").at("name"));
  }
  EXPECT_EQ(types, (std::multiset<std::string>{"customProperties", "event", "event", "startService"}));
  EXPECT_EQ(names, (std::multiset<std::string>{"first", "second/half"}));
  ASSERT_TRUE(::testing_support::waitForCondition([] { return sqliteRows() == "0"; }, "the delivered logs to go"));

  // A refused send keeps the logs stored; the next launch delivers each once.
  ::testing_support::HttpCaptureServer refusing(R"([{"status":503}])");
  DRTLDirAraded::setLogUrl(refusing.baseUrl());
  for (const char* name : {"kept0", "kept1", "kept2"}) unit->enqueueItem(bareLog(name), 1);
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(refusing.waitForRequests(1));
  drain();
  EXPECT_EQ(sqliteRows(), "3");

  resetProcess();
  ::testing_support::HttpCaptureServer next;
  DRTLDirAraded::setLogUrl(next.baseUrl());
  DRTLDirAraded::start("s1", {testService});
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(::testing_support::waitForCondition([] { return sqliteRows() == "0"; }, "the kept logs to go"));
  // The server's record of a request may come after its answer was taken.
  std::multiset<std::string> delivered;
  const auto readDelivered = [&] {
    delivered.clear();
    for (const auto& log : capturedLogs(next)) {
      if (log.at("type") == "event") delivered.insert(log.at("properties").at("name"));
    }
    return delivered.size() >= 3;
  };
  EXPECT_TRUE(::testing_support::waitForCondition(readDelivered, "the kept logs' records"));
  EXPECT_EQ(delivered, (std::multiset<std::string>{"kept0", "kept1", "kept2"}));
}

TEST_F(DRTLDirAradedTest, StartsHighestPriorityFirstAndRefusesWhatItMust) {
  forgetEverything();
  DRTLDirAraded::start("target=token-1", {testService, tokenService, earlyService});
  EXPECT_TRUE(capture_.contains(DRTLLogLevelVerbose, "Start services EarlyService, TestService, TokenService from an application"));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError,
                                "Cannot start service TestService. Dir Araded was started without app secret, but the service requires it."));
  EXPECT_FALSE(testService()->isStarted());
  EXPECT_TRUE(tokenService()->isStarted());

  DRTLDirAraded::start("s1", {testService});
  EXPECT_TRUE(capture_.contains(DRTLLogLevelAssert, "Dir Araded SDK has already been configured."));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelAssert, "Dir Araded SDK configuration failed."));
  EXPECT_EQ(DRTLDirAraded::logLevel(), DRTLLogLevelWarning);
}

TEST_F(DRTLDirAradedTest, StartRefusalsAndDisabledServices) {
  struct Case {
    const char* what;
    const char* secret;
    const char* disableSwitch;  // "DIR_ARADED_DISABLE", or none
    const char* storedOff;      // an enabled-state key stored as false, or none
    bool started;
    bool available;
    int level;
    const char* message;
  };
  const Case cases[] = {
      {"no secret", "target=token-1", nullptr, nullptr, false, false, DRTLLogLevelError,
       "Cannot start service TestService. Dir Araded was started without app secret, but the service requires it."},
      {"switch names it", "s1", " EarlyService , TestService ", nullptr, false, false, DRTLLogLevelDebug,
       "Environment variable to disable service has been set; not starting service TestService"},
      {"switch says All", "s1", "All", nullptr, false, false, DRTLLogLevelDebug,
       "Environment variable to disable service has been set; not starting service TestService"},
      {"switch in other case", "s1", "testservice", nullptr, true, true, DRTLLogLevelVerbose,
       "Start services TestService from an application"},
      {"switch names another", "s1", "Other", nullptr, true, true, DRTLLogLevelVerbose,
       "Start services TestService from an application"},
      {"service disabled", "s1", nullptr, "TestServiceIsEnabled", true, false, DRTLLogLevelVerbose,
       "Start services TestService from an application"},
      {"SDK disabled", "s1", nullptr, "DirAradedIsEnabled", true, false, DRTLLogLevelVerbose,
       "Start services TestService from an application"},
  };
  for (const Case& test : cases) {
    resetProcess();
    forgetEverything();
    LogCapture capture;
    if (test.disableSwitch) setenv("DIR_ARADED_DISABLE", test.disableSwitch, 1);
    else unsetenv("DIR_ARADED_DISABLE");
    if (test.storedOff) DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(false), test.storedOff);
    DRTLDirAraded::start(test.secret, {testService});
    EXPECT_EQ(testService()->isStarted(), test.started) << test.what;
    EXPECT_EQ(testService()->isAvailable(), test.available) << test.what;
    EXPECT_TRUE(capture.contains(test.level, test.message)) << test.what;
  }
}

TEST_F(DRTLDirAradedTest, StorageSizeIsTakenOnceAndOnlyBeforeTheApplicationConfigures) {
  struct Request {
    std::int64_t size;
    bool afterStart;
  };
  struct Case {
    std::vector<Request> requests;
    std::vector<int> answers;  // per request: 1 accepted, 0 refused
    const char* warning;
  };
  const Case cases[] = {
      {{{24575, false}, {24576, false}}, {0, 1}, "Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"},
      {{{24576, false}, {40960, false}}, {1, 0}, "setMaxStorageSize:completionHandler: may only be called once per app launch"},
      {{{24576, true}, {40960, true}}, {0, 0}, "Unable to set storage size after the application has configured Dir Araded"},
  };
  for (const Case& test : cases) {
    resetProcess();
    forgetEverything();
    LogCapture capture;
    std::mutex mutex;
    std::vector<int> answers(test.requests.size(), -1);
    auto request = [&](std::size_t index) {
      DRTLDirAraded::setMaxStorageSize(test.requests[index].size, [&, index](bool ok) {
        std::lock_guard lock(mutex);
        answers[index] = ok;
      });
    };
    for (std::size_t i = 0; i < test.requests.size(); ++i) {
      if (!test.requests[i].afterStart) request(i);
    }
    DRTLDirAraded::start("s1", {testService});
    for (std::size_t i = 0; i < test.requests.size(); ++i) {
      if (test.requests[i].afterStart) request(i);
    }
    drain();
    std::lock_guard lock(mutex);
    EXPECT_EQ(answers, test.answers) << test.warning;
    EXPECT_TRUE(capture.contains(DRTLLogLevelWarning, test.warning));
  }
}

TEST_F(DRTLDirAradedTest, UserIdsFollowTheRuleOfTheConfiguredBackend) {
  struct Case {
    const char* secret;  // none: started from a library
    std::optional<std::string> id;
    bool taken;
    const char* error;
  };
  const Case cases[] = {
      {"s1", std::string(257, 'u'), false, "userId is limited to 256 characters."},
      {"s1", std::string(256, 'u'), true, nullptr},
      {"s1", "operator-7", true, nullptr},
      {"s1", std::nullopt, true, nullptr},
      {"target=token-1", "c:", false, "userId must not be empty."},
      {"target=token-1", "x:abc", false, "userId prefix must be 'c', 'x' is not supported."},
      {"target=token-1", "c:operator", true, nullptr},
      {"target=token-1", "operator", true, nullptr},
      {"", "operator", false, "DirAraded must be configured with a secret from application to call setUserId."},
      {nullptr, "operator", false, "DirAraded must be configured from application, libraries cannot call setUserId."},
  };
  for (const Case& test : cases) {
    resetProcess();
    forgetEverything();
    LogCapture capture;
    if (test.secret) {
      DRTLDirAraded::start(test.secret, {});
    } else {
      DRTLDirAraded::startFromLibraryWithServices({});
    }
    DRTLDirAraded::setUserId("before");
    const std::optional<std::string> prior = DRTLDirAraded::userId();
    DRTLDirAraded::setUserId(test.id);
    const std::string what = std::string(test.secret ? test.secret : "library") + " " + test.id.value_or("nil");
    EXPECT_EQ(DRTLDirAraded::userId(), test.taken ? test.id : prior) << what;
    if (test.error) {
      EXPECT_TRUE(capture.contains(DRTLLogLevelError, test.error)) << what;
    }
  }
}

TEST_F(DRTLDirAradedTest, InstallIdThatIsNoUuidIsReplaced) {
  DRTLDirAradedUserDefaults::shared()->setObject(platform::Value("not-a-uuid"), "InstallId");
  const std::string fresh = DRTLDirAraded::installId();
  EXPECT_NE(fresh, "not-a-uuid");
  EXPECT_EQ(platform::UserDefaults::standard().stringForKey("DRDirAradedInstallId"), fresh);
  resetProcess();
  EXPECT_EQ(DRTLDirAraded::installId(), fresh);
}

TEST_F(DRTLDirAradedTest, ServicesFollowTheSdkSwitch) {
  forgetEverything();
  DRTLDirAraded::setEnabled(false);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Dir Araded SDK hasn't been configured."));
  DRTLDirAraded::start("s1", {testService});
  EXPECT_TRUE(DRTLServiceAbstract::classIsEnabled(*testService()));
  DRTLDirAraded::setEnabled(false);
  EXPECT_FALSE(DRTLServiceAbstract::classIsEnabled(*testService()));
  DRTLServiceAbstract::classSetEnabled(*testService(), true);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError,
                                "The SDK is disabled. Re-enable the whole SDK from DirAraded first before enabling TestService service."));
  DRTLDirAraded::setEnabled(true);
  EXPECT_TRUE(DRTLServiceAbstract::classIsEnabled(*testService()));

}

TEST_F(DRTLDirAradedTest, TargetedLogsGoOnlyToTheCollectorWithRisingSequenceNumbers) {
  forgetEverything();
  const std::string token = "feedface-0000-0000-0000-00000000F00D";
  ::testing_support::HttpCaptureServer server;
  DRTLDirAraded::setLogUrl(server.baseUrl());  // no secret: the collector takes the URL
  DRTLDirAraded::start("target=" + token, {tokenService});
  auto unit = tokenService()->channelUnit();
  ASSERT_TRUE(unit);
  for (const char* name : {"one", "two"}) {
    auto log = testing_support::namedEventLog(name);
    log->addTransmissionTargetToken(token);
    unit->enqueueItem(log, 1);
  }
  drain();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(server.waitForRequests(1));
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.path, "/RizErazuzude/1.0");
  EXPECT_EQ(request.header("apikey"), token);
  ASSERT_NE(request.header("Content-Encoding"), "gzip");
  std::vector<std::int64_t> sequence;
  std::size_t start = 0;
  for (std::size_t end = request.body.find('\n'); end != std::string::npos; end = request.body.find('\n', start)) {
    sequence.push_back(nlohmann::json::parse(request.body.substr(start, end - start))["ext"]["sdk"]["seq"]);
    start = end + 1;
  }
  EXPECT_EQ(sequence, (std::vector<std::int64_t>{1, 2}));
  clock_.advance(std::chrono::seconds(3));
  drain();
  for (const auto& captured : server.requests()) EXPECT_NE(captured.path, "/logs");
}

TEST(DRTLDelegateForwarderTest, SwitchDelegatesAndTraceBuffer) {
  LogCapture capture;
  DRTLDelegateForwarder forwarder;
  forwarder.setEnabledFromPlistForKey("NoSuchKeyInThisBundle");
  EXPECT_TRUE(forwarder.isEnabled());
  auto delegate = std::make_shared<int>(1);
  forwarder.addDelegate(delegate);
  EXPECT_EQ(forwarder.delegateCount(), 1u);
  forwarder.setEnabled(false);
  EXPECT_EQ(forwarder.delegateCount(), 0u);
  forwarder.addDelegate(delegate);
  EXPECT_EQ(forwarder.delegateCount(), 0u);

  std::vector<int> order;
  DRTLDelegateForwarder::addTraceBlock([&] { order.push_back(1); });
  DRTLDelegateForwarder::addTraceBlock([&] { order.push_back(2); });
  DRTLDirAraded::setLogLevel(DRTLLogLevelVerbose);  // flushes what was buffered
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  DRTLDelegateForwarder::addTraceBlock([&] { order.push_back(3); });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));  // after the flush: at once
  EXPECT_TRUE(capture.contains(DRTLLogLevelDebug,
                               "Delegate forwarder for info.plist key 'NoSuchKeyInThisBundle' enabled. It may use swizzling."));
  EXPECT_LE(capture.count(DRTLLogLevelVerbose, "Stop buffering traces, flushed."), 1);
}

TEST(DRTLDispatcherUtilTest, WaitsForTheBlockOrItsTimeLimit) {
  platform::SerialQueue queue("test.dispatcher");
  std::atomic<bool> ran{false};
  DRTLDispatcherUtil::dispatchSyncWithTimeout(5, queue, [&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(DRTLStartServiceLogTest, JsonAndArchive) {
  DRTLStartServiceLog none;
  EXPECT_FALSE(none.serializeToDictionary().contains("services"));
  auto log = std::make_shared<DRTLStartServiceLog>();
  log->timestamp = platform::Date(std::chrono::seconds(1700000000));
  log->device = testing_support::pipelineDevice();
  log->services = std::vector<std::string>{"Crashes", "Analytics"};
  EXPECT_EQ(log->serializeToDictionary()["services"].dump(), R"(["Crashes","Analytics"])");
  auto back = std::dynamic_pointer_cast<DRTLAbstractLog>(
      DRTLUtility::unarchiveKeyedData(DRTLUtility::archiveKeyedData(log.get())));
  ASSERT_TRUE(back);
  EXPECT_TRUE(log->isEqual(back.get()));
}

}  // namespace
}  // namespace telemetry::core
