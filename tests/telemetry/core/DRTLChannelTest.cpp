#include <gtest/gtest.h>

#include "TelemetryChannelFixtures.h"
#include "TelemetryLogFixtures.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLUtility.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"

namespace telemetry::core {
namespace {

using testing_support::LogCapture;
using testing_support::pipelineLog;

using testing_support::FakeIngestion;
using testing_support::RecordingDelegate;

class DRTLChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
    DRTLUtility::deleteItemForPathComponent(kDRTLLogsFileName);
    storage_ = std::make_shared<DRTLLogDBStorage>();
    group_ = DRTLChannelGroupDefault::create(nullptr, storage_);
    group_->addDelegate(delegate_);
  }
  void TearDown() override { DRTLDirAradedUserDefaults::shared()->removeObjectForKey("ChannelStartTimer:Analytics"); }

  std::shared_ptr<DRTLChannelUnitDefault> unit(std::uint64_t flushInterval = 3) {
    auto made = group_->addChannelUnitWithConfiguration(
        DRTLChannelUnitConfiguration::defaultConfiguration("Analytics", flushInterval), ingestion_);
    return std::dynamic_pointer_cast<DRTLChannelUnitDefault>(made);
  }
  // Lets the group queue run what is queued so far.
  void drain() { ASSERT_TRUE(group_->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10))); }
  void enqueue(const std::shared_ptr<DRTLChannelUnitDefault>& target, int count, const std::string& name = "log") {
    for (int i = 0; i < count; ++i) target->enqueueItem(pipelineLog(name + std::to_string(i)), 1);
    drain();
  }
  void advance(std::chrono::seconds by) {
    clock_.advance(by);
    drain();
  }
  std::size_t stored() {
    std::size_t count = 0;
    group_->logsDispatchQueue()->sync([&] { count = storage_->countLogs(); }, std::chrono::seconds(10));
    return count;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  LogCapture capture_;
  std::shared_ptr<DRTLLogDBStorage> storage_;
  std::shared_ptr<FakeIngestion> ingestion_ = std::make_shared<FakeIngestion>();
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<DRTLChannelGroupDefault> group_;
};

TEST_F(DRTLChannelTest, FiftyLogsFlushAtOnceAndOneLogWaitsThreeSecondsWhateverFollows) {
  auto analytics = unit();
  enqueue(analytics, 49);
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  enqueue(analytics, 1, "last");
  ASSERT_EQ(ingestion_->batchCount(), 1u);
  EXPECT_EQ(ingestion_->logCount(0), 50u);

  enqueue(analytics, 1, "first");
  advance(std::chrono::seconds(2));
  enqueue(analytics, 1, "later");  // does not restart the timer
  advance(std::chrono::seconds(1));
  ASSERT_EQ(ingestion_->batchCount(), 2u);
  EXPECT_EQ(ingestion_->logCount(1), 2u);

  ingestion_->answer(1, 200);
  drain();
  EXPECT_EQ(delegate_->succeeded, 2);
  EXPECT_EQ(stored(), 50u);  // the first batch is still unanswered
}

TEST_F(DRTLChannelTest, LongIntervalsCountFromTheStoredStartTime) {
  auto defaults = DRTLDirAradedUserDefaults::shared();
  const auto wallNow = [&] { return std::chrono::time_point_cast<std::chrono::microseconds>(clock_.wallNow()); };
  auto hourly = unit(3600);
  enqueue(hourly, 60);  // a full batch does not flush early
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  EXPECT_EQ(defaults->objectForKey("ChannelStartTimer:Analytics").date(), wallNow());
  advance(std::chrono::seconds(3599));
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  advance(std::chrono::seconds(1));
  EXPECT_EQ(ingestion_->batchCount(), 2u);  // 50 + 10, back to back
  EXPECT_TRUE(defaults->objectForKey("ChannelStartTimer:Analytics").isNone());

  // A start time left by an earlier run, older than the interval: at once.
  defaults->setObject(platform::Value(wallNow() - std::chrono::seconds(3601)), "ChannelStartTimer:Analytics");
  enqueue(hourly, 1);
  EXPECT_EQ(ingestion_->batchCount(), 3u);
  EXPECT_TRUE(defaults->objectForKey("ChannelStartTimer:Analytics").isNone());

  // One in the future (clock set back) is replaced by now.
  defaults->setObject(platform::Value(wallNow() + std::chrono::hours(5)), "ChannelStartTimer:Analytics");
  enqueue(hourly, 1);
  EXPECT_EQ(defaults->objectForKey("ChannelStartTimer:Analytics").date(), wallNow());
}

TEST_F(DRTLChannelTest, ThreeBatchesInFlightThenSuccessFlushesAndRecoverableFailureReleases) {
  auto analytics = unit();
  enqueue(analytics, 200);
  ASSERT_EQ(ingestion_->batchCount(), 3u);
  ingestion_->answer(0, 200);
  drain();
  ASSERT_EQ(ingestion_->batchCount(), 4u);  // the store had more

  ingestion_->answer(1, 503);
  drain();
  EXPECT_EQ(ingestion_->batchCount(), 4u);  // no flush until the timer or a new log
  EXPECT_EQ(delegate_->failures.size(), 50u);
  enqueue(analytics, 1, "new");
  advance(std::chrono::seconds(3));
  ASSERT_EQ(ingestion_->batchCount(), 5u);
  EXPECT_EQ(ingestion_->logCount(4), 50u);  // the released batch goes out again
}

TEST_F(DRTLChannelTest, RefusedBatchIsDeletedAloneAndTheUnitStops) {
  auto analytics = unit();
  enqueue(analytics, 60);
  ASSERT_EQ(ingestion_->batchCount(), 1u);
  ingestion_->answer(0, 401);
  drain();
  EXPECT_EQ(stored(), 10u);
  bool enabled = true;
  group_->logsDispatchQueue()->sync([&] { enabled = analytics->isEnabled(); }, std::chrono::seconds(10));
  EXPECT_FALSE(enabled);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Fatal error encountered; shutting down channel unit with group ID Analytics"));
}

TEST_F(DRTLChannelTest, PausingObjectsAllHaveToResume) {
  auto analytics = unit();
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  analytics->pauseWithIdentifyingObject(first);
  analytics->pauseWithIdentifyingObject(first);
  analytics->pauseWithIdentifyingObject(second);
  enqueue(analytics, 50);
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  analytics->resumeWithIdentifyingObject(first);
  drain();
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  analytics->resumeWithIdentifyingObject(second);
  drain();
  EXPECT_EQ(ingestion_->batchCount(), 1u);
  EXPECT_EQ(delegate_->pauses, 3);
  EXPECT_EQ(delegate_->resumes, 2);
}

TEST_F(DRTLChannelTest, TargetKeysHeldBackAreSentAfterTheirResume) {
  auto mirror = unit();
  mirror->pauseSendingLogsWithToken("keyA-token");
  mirror->pauseSendingLogsWithToken("-no-key");
  mirror->enqueueItem(testing_support::targetedLog("keyA-token"), 1);
  drain();
  advance(std::chrono::seconds(3));
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  EXPECT_EQ(stored(), 1u);
  mirror->resumeSendingLogsWithToken("keyA-token");
  drain();
  advance(std::chrono::seconds(3));
  EXPECT_EQ(ingestion_->batchCount(), 1u);
}

TEST_F(DRTLChannelTest, DisablingWithDeletionFailsStoredLogsWithCode100AndDiscardsNewOnes) {
  auto analytics = unit();
  enqueue(analytics, 3);
  enqueue(analytics, 1, "filtered");
  EXPECT_EQ(delegate_->completed, 4);
  EXPECT_EQ(stored(), 3u);
  group_->setEnabled(false, true);
  drain();
  EXPECT_EQ(stored(), 0u);
  EXPECT_EQ(delegate_->failures, (std::vector<std::int64_t>{100, 100, 100}));
  EXPECT_EQ(delegate_->willSend, 3);
  enqueue(analytics, 1);
  EXPECT_EQ(delegate_->failures.size(), 4u);
  EXPECT_EQ(stored(), 0u);
  advance(std::chrono::seconds(3));
  EXPECT_EQ(ingestion_->batchCount(), 0u);
}

// Logs enqueued one after another are stored together; an operation queued
// between them still comes between them: the fiftieth log, enqueued after the
// pause, does not flush.
TEST_F(DRTLChannelTest, LogsEnqueuedAroundAPauseKeepTheirPlace) {
  auto analytics = unit();
  ::testing_support::Signal gate;
  group_->logsDispatchQueue()->async([&] { gate.waitFor(); });  // holds the queue until all is enqueued
  for (int i = 0; i < 49; ++i) analytics->enqueueItem(pipelineLog("before" + std::to_string(i)), 1);
  auto pauser = std::make_shared<int>(1);
  analytics->pauseWithIdentifyingObject(pauser);
  analytics->enqueueItem(pipelineLog("after"), 1);
  gate.raise();
  drain();
  EXPECT_EQ(stored(), 50u);
  EXPECT_EQ(delegate_->completed, 50);
  EXPECT_EQ(ingestion_->batchCount(), 0u);
  analytics->resumeWithIdentifyingObject(pauser);
  drain();
  ASSERT_EQ(ingestion_->batchCount(), 1u);
  EXPECT_EQ(ingestion_->logCount(0), 50u);
}

TEST_F(DRTLChannelTest, LogsWaitForTheSecretAndLeaveOverHttp) {
  ::testing_support::HttpCaptureServer server;
  auto client = DRTLHttpClient::create(4, nullptr);
  auto group = DRTLChannelGroupDefault::create(client, "install-1", server.baseUrl());
  auto crashes = group->addChannelUnitWithConfiguration(DRTLChannelUnitConfiguration::defaultConfiguration("Crashes"));
  crashes->enqueueItem(pipelineLog("a"), 1);
  crashes->enqueueItem(pipelineLog("b"), 1);
  auto sync = [&] { ASSERT_TRUE(group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10))); };
  sync();
  clock_.advance(std::chrono::seconds(3));
  sync();
  EXPECT_EQ(group->storage()->countLogs(), 2u);  // kept, not dropped

  group->setAppSecret("secret");
  sync();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(nlohmann::json::parse(server.requests().at(0).body).at("logs").size(), 2u);
  ASSERT_TRUE(::testing_support::waitForCondition([&] {
    std::size_t count = 1;
    group->logsDispatchQueue()->sync([&] { count = group->storage()->countLogs(); }, std::chrono::seconds(10));
    return count == 0;
  }, "the delivered batch to leave the store"));
}

TEST(DRTLLogContainerTest, ValidityAndJson) {
  EXPECT_FALSE(DRTLLogContainer("b", {}).isValid());
  auto broken = pipelineLog("broken");
  broken->device.reset();
  EXPECT_FALSE(DRTLLogContainer("b", {pipelineLog("a/b"), broken}).isValid());
  DRTLLogContainer two("b", {pipelineLog("a/b"), pipelineLog("c")});
  EXPECT_TRUE(two.isValid());
  const std::string json = *two.serializeLog();
  EXPECT_EQ(json.find("\\/"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(json).at("logs").size(), 2u);
  EXPECT_EQ(json.rfind("{\"logs\":[{", 0), 0u);
}

}  // namespace
}  // namespace telemetry::core
