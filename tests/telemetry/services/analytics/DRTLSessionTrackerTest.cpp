#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLStartServiceLog.h"
#include "telemetry/services/analytics/DRTLEventLog.h"
#include "telemetry/services/analytics/DRTLSessionTracker.h"

namespace telemetry::analytics {
namespace {

using std::chrono::seconds;

class RecordingDelegate : public DRTLSessionTrackerDelegate {
 public:
  void sessionTrackerProcessLog(DRTLSessionTracker&, const std::shared_ptr<DRTLStartSessionLog>& log) override {
    logs.push_back(log);
  }
  std::vector<std::shared_ptr<DRTLStartSessionLog>> logs;
};

class DRTLSessionTrackerTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::RunLoop::main().attachCurrentThread();
    core::DRTLSessionContext::resetSharedInstance();
    tracker = std::make_unique<DRTLSessionTracker>();
    tracker->setDelegate(delegate);
  }
  void TearDown() override { core::DRTLUtility::setApplicationHiddenProvider(nullptr); }

  void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }
  void prepare(const std::shared_ptr<core::DRTLAbstractLog>& log) { tracker->channelPrepareLog(nullptr, log); }

  platform::ManualClock clock;
  platform::ScopedClockOverride override{clock};
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<DRTLSessionTracker> tracker;
};

TEST_F(DRTLSessionTrackerTest, ReturnAfterTheTimeoutStartsANewSessionOnlyWhenNoRecentLog) {
  struct Row {
    int backgroundSeconds;
    int lastLogAgeSeconds;
    bool newSession;
  };
  const Row rows[] = {{25, 25, true}, {25, 10, false}, {5, 25, false}, {5, 5, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.backgroundSeconds) + " s away, last log " + std::to_string(row.lastLogAgeSeconds));
    SetUp();
    tracker->start();
    ASSERT_EQ(delegate->logs.size(), 1u);
    const auto first = tracker->context()->sessionId();
    EXPECT_EQ(delegate->logs[0]->sid, first);

    // The log is prepared at the moment that makes it lastLogAgeSeconds old at the return.
    const int away = row.backgroundSeconds;
    const int logAt = std::max(0, away - row.lastLogAgeSeconds);
    if (row.lastLogAgeSeconds >= away) {
      clock.advance(seconds(row.lastLogAgeSeconds - away));
      prepare(std::make_shared<DRTLPageLog>());
      post(kDRTLApplicationDidResignActiveNotification);
      clock.advance(seconds(away));
    } else {
      post(kDRTLApplicationDidResignActiveNotification);
      clock.advance(seconds(logAt));
      prepare(std::make_shared<DRTLPageLog>());
      clock.advance(seconds(away - logAt));
    }
    post(kDRTLApplicationWillBecomeActiveNotification);
    EXPECT_EQ(delegate->logs.size(), row.newSession ? 2u : 1u);
    EXPECT_EQ(tracker->context()->sessionId() != first, row.newSession);
    tracker->stop();
    delegate->logs.clear();
  }
}

TEST_F(DRTLSessionTrackerTest, StampsOtherLogsAndLeavesTheirOwnIdsAlone) {
  tracker->start();
  const auto sessionId = tracker->context()->sessionId();
  ASSERT_TRUE(sessionId);
  auto event = std::make_shared<DRTLEventLog>();
  prepare(event);
  EXPECT_EQ(event->sid, sessionId);

  clock.advance(seconds(3));
  auto start = std::make_shared<DRTLStartSessionLog>();
  start->sid = "own";
  prepare(start);
  EXPECT_EQ(start->sid, "own");
  EXPECT_EQ(tracker->lastCreatedLogTime(), clock.now() - seconds(3)) << "a start-session log refreshes nothing";

  auto service = std::make_shared<core::DRTLStartServiceLog>();
  prepare(service);
  EXPECT_FALSE(service->sid);

  struct OwnSession : DRTLPageLog, core::DRTLNoAutoAssignSessionIdLog {};
  auto kept = std::make_shared<OwnSession>();
  kept->sid = "crash-run";
  prepare(kept);
  EXPECT_EQ(kept->sid, "crash-run");
  EXPECT_EQ(tracker->lastCreatedLogTime(), clock.now()) << "a log with its own id still counts as activity";
}

TEST_F(DRTLSessionTrackerTest, HiddenOrOffMainStartWaitsForActivation) {
  core::DRTLUtility::setApplicationHiddenProvider([] { return true; });
  tracker->start();
  tracker->start();
  EXPECT_TRUE(delegate->logs.empty());
  EXPECT_FALSE(tracker->context()->sessionId());
  post(kDRTLApplicationWillBecomeActiveNotification);
  EXPECT_EQ(delegate->logs.size(), 1u) << "observers are registered once";
  tracker->stop();
  tracker->stop();
  EXPECT_FALSE(tracker->context()->sessionId());
  post(kDRTLApplicationWillBecomeActiveNotification);
  EXPECT_EQ(delegate->logs.size(), 1u) << "a stopped tracker no longer listens";

  core::DRTLUtility::setApplicationHiddenProvider(nullptr);
  std::thread([this] { tracker->start(); }).join();
  EXPECT_EQ(delegate->logs.size(), 1u) << "off the main thread the state is unknown";
  tracker->stop();
  tracker->start();
  EXPECT_EQ(delegate->logs.size(), 2u);
}

}  // namespace
}  // namespace telemetry::analytics
