#include "platform/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/DispatchQueue.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::CapturedDiagnostics;
using testing_support::runMainLoopUntil;

class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Earlier tests share the process-wide main queue.
    for (int i = 0; i < 100 && RunLoop::main().drainReadyTasks() > 0; ++i) {
    }
  }
  void TearDown() override { RunLoop::main().setWakeUpHandler({}); }

  ManualClock clock_;
  ScopedClockOverride useClock_{clock_};
  CapturedDiagnostics diagnostics_;
};

TEST_F(RunLoopTest, MainQueueTasksRunInOrderOnTheThreadDrivingTheLoop) {
  SerialQueue other("test.poster");
  std::vector<int> order;  // touched on the main thread only
  bool alwaysMain = true;
  other.async([&] {
    for (int i = 0; i < 3; ++i) {
      DispatchQueue::main().async([&, i] {
        order.push_back(i);
        alwaysMain = alwaysMain && isMainThread() && DispatchQueue::current() == &DispatchQueue::main();
      });
    }
  });
  ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == 3; }, "three main-queue tasks"));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(alwaysMain);

  bool mainOnOtherThread = true;
  ASSERT_TRUE(other.sync([&] { mainOnOtherThread = isMainThread() || DispatchQueue::main().isCurrent(); }, 1s));
  EXPECT_FALSE(mainOnOtherThread);
  EXPECT_TRUE(DispatchQueue::main().isCurrent());
}

TEST_F(RunLoopTest, TaskPostedFromTheMainThreadRunsOnTheNextDrain) {
  std::vector<std::string> log;
  DispatchQueue::main().async([&] {
    log.push_back("first");
    DispatchQueue::main().async([&] { log.push_back("posted from main"); });
    log.push_back("first done");
  });
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 1u);
  EXPECT_EQ(log, (std::vector<std::string>{"first", "first done"}));
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 1u);
  EXPECT_EQ(log.back(), "posted from main");
}

TEST_F(RunLoopTest, RunUntilGivesUpAtItsRealTimeLimit) {
  EXPECT_FALSE(RunLoop::main().runUntil([] { return false; }, 20ms));
  EXPECT_TRUE(RunLoop::main().runUntil([] { return true; }, 0ms));
}

TEST_F(RunLoopTest, OnlyOneThreadDrivesTheLoopAtATime) {
  std::size_t ranOnOtherThread = 99;
  bool done = false;
  DispatchQueue::main().async([&] {
    DispatchQueue::main().async([] {});
    std::thread intruder([&] { ranOnOtherThread = RunLoop::main().drainReadyTasks(); });
    intruder.join();
    done = true;
  });
  ASSERT_TRUE(runMainLoopUntil([&] { return done; }, "the intruder to finish"));
  EXPECT_EQ(ranOnOtherThread, 0u);
  EXPECT_EQ(diagnostics_.count("another thread is driving the main run loop"), 1u);
  EXPECT_TRUE(isMainThread());
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 1u);
}

TEST_F(RunLoopTest, SyncToMainWorksFromOtherThreadsAndIsRefusedOnMain) {
  SerialQueue other("test.sync-to-main");
  std::atomic<bool> finished{false};
  bool accepted = false, ranOnMain = false;
  other.async([&] {
    accepted = DispatchQueue::main().sync([&] { ranOnMain = isMainThread(); }, 5s);
    finished = true;
  });
  ASSERT_TRUE(runMainLoopUntil([&] { return finished.load(); }, "sync from another thread"));
  EXPECT_TRUE(accepted);
  EXPECT_TRUE(ranOnMain);

  EXPECT_FALSE(DispatchQueue::main().sync([] {}, 1s));
  EXPECT_EQ(diagnostics_.count("'main': sync called from the queue itself"), 1u);
}

// The seam an external event loop uses: wake-up calls, drains and deadlines.
TEST_F(RunLoopTest, WakeUpHandlerAnnouncesReadyAndDueTasksOnce) {
  std::atomic<int> wakeUps{0};
  RunLoop::main().setWakeUpHandler([&] { ++wakeUps; });
  EXPECT_EQ(wakeUps, 1);  // installing calls it once
  RunLoop::main().drainReadyTasks();

  int ran = 0;
  TaskHandle delayed = DispatchQueue::main().after(1s, [&] { ++ran; });
  EXPECT_EQ(wakeUps, 2);  // a new deadline: re-arm the timer
  EXPECT_EQ(RunLoop::main().nextDeadline(), clock_.now() + 1s);
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 0u);

  std::thread advancer([&] { clock_.advance(1s); });  // any thread may move the clock
  advancer.join();
  EXPECT_EQ(wakeUps, 3);
  EXPECT_EQ(RunLoop::main().nextDeadline(), std::nullopt);
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 1u);
  EXPECT_EQ(ran, 1);

  for (int i = 0; i < 3; ++i) DispatchQueue::main().async([&] { ++ran; });
  EXPECT_EQ(wakeUps, 4);  // coalesced until the next drain
  EXPECT_EQ(RunLoop::main().drainReadyTasks(), 3u);
}

}  // namespace
}  // namespace platform
