#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NotificationCenterAdditions.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace foundation {
namespace {

using namespace std::chrono_literals;
using testing_support::runMainLoopUntil;

// The test's thread drives the main run loop, so it is the main thread; a
// serial queue stands for the other threads that post.
class NotificationAdditionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runMainLoopUntil([] { return platform::RunLoop::main().drainReadyTasks() == 0; }, "an idle main queue"));
    token_ = center_.addObserver("clipDidChange", nullptr, [this](const platform::Notification& notification) {
      observerThread_ = std::this_thread::get_id();
      lastUserInfo_ = notification.userInfo;
      ++calls_;
    });
  }

  platform::NotificationCenter center_;
  platform::ObserverToken token_;
  std::atomic<int> calls_{0};
  std::thread::id observerThread_;       // written by the observer, read after it ran
  platform::Dictionary lastUserInfo_;    // likewise
  platform::SerialQueue worker_{"com.dirarovazovo.test.poster"};
};

TEST_F(NotificationAdditionsTest, OnTheMainThreadObserversRunInsideTheCall) {
  const platform::Dictionary userInfo{{"clipID", platform::Value("A1")}};
  EXPECT_TRUE(postNotificationOnMainThreadWithName(center_, "clipDidChange", nullptr, userInfo));
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(lastUserInfo_, userInfo);
}

TEST_F(NotificationAdditionsTest, FromAnotherThreadObserversRunLaterOnTheMainThread) {
  std::atomic<bool> done{false};
  std::atomic<bool> posted{false};
  worker_.async([&] {
    posted = postNotificationOnMainThreadWithName(center_, "clipDidChange", this);
    done = true;
  });
  ASSERT_TRUE(runMainLoopUntil([&] { return done && calls_ == 1; }, "the poster and the observer"));
  EXPECT_TRUE(posted);
  EXPECT_EQ(observerThread_, std::this_thread::get_id());
}

TEST_F(NotificationAdditionsTest, AWaitingPosterReturnsOnlyAfterTheObserversRan) {
  std::atomic<bool> done{false};
  std::atomic<bool> posted{false};
  std::atomic<int> callsSeenOnReturn{-1};
  worker_.async([&] {
    posted = postNotificationOnMainThread(center_, platform::Notification{"clipDidChange", nullptr, {}, {}},
                                          PostWait::UntilDone);
    callsSeenOnReturn = calls_.load();
    done = true;
  });
  ASSERT_TRUE(runMainLoopUntil([&] { return done.load(); }, "the waiting poster"));
  EXPECT_TRUE(posted);
  EXPECT_EQ(callsSeenOnReturn, 1);
  EXPECT_EQ(observerThread_, std::this_thread::get_id());
}

TEST_F(NotificationAdditionsTest, AWaitingPosterGivesUpWhenTheMainThreadNeverTakesThePost) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  testing_support::CapturedDiagnostics diagnostics;
  std::atomic<bool> done{false};
  std::atomic<bool> posted{true};
  worker_.async([&] {
    posted = postNotificationOnMainThreadWithName(center_, "clipDidChange", nullptr, {}, PostWait::UntilDone);
    done = true;
  });
  // The main loop is not driven meanwhile; time passes until the poster gives up.
  ASSERT_TRUE(testing_support::waitForCondition([&] {
    clock.advance(1s);
    return done.load();
  }, "the poster to give up"));
  EXPECT_FALSE(posted);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(calls_, 0);
}

// A burst of like notifications reaches the observers once, on the main
// thread, whichever thread enqueued them; off the main thread they go on the
// default queue (and so the default centre), whatever queue was given.
TEST_F(NotificationAdditionsTest, EnqueuedNotificationsAreCoalescedAndPostedOnTheMainThread) {
  using Style = platform::NotificationQueue::PostingStyle;
  platform::NotificationQueue queue(center_);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(enqueueNotificationOnMainThread(queue, platform::Notification{"clipDidChange", this}, Style::ASAP));
  }
  EXPECT_EQ(calls_, 0) << "held back until the next turn";
  ASSERT_TRUE(runMainLoopUntil([&] { return calls_ == 1; }, "the coalesced post"));
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(calls_, 1);

  std::atomic<int> defaultCalls{0};
  std::thread::id defaultThread;
  const std::string name = "enqueuedFromAWorker";
  platform::ObserverToken onDefault = platform::NotificationCenter::defaultCenter().addObserver(
      name, nullptr, [&](const platform::Notification&) {
        defaultThread = std::this_thread::get_id();
        ++defaultCalls;
      });
  std::atomic<bool> done{false};
  worker_.async([&] {
    for (int i = 0; i < 3; ++i) enqueueNotificationOnMainThread(queue, platform::Notification{name}, Style::WhenIdle);
    done = true;
  });
  // The main loop stands still until the worker is done, so all three arrive in one turn.
  ASSERT_TRUE(testing_support::waitForCondition([&] { return done.load(); }, "the worker"));
  ASSERT_TRUE(runMainLoopUntil([&] { return defaultCalls == 1; }, "the worker's post"));
  for (int turn = 0; turn < 3; ++turn) platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(defaultCalls, 1);
  EXPECT_EQ(defaultThread, std::this_thread::get_id());
  EXPECT_EQ(calls_, 1) << "nothing went to the given queue's centre";
}

}  // namespace
}  // namespace foundation
