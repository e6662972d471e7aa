#include "platform/DispatchQueue.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::CapturedDiagnostics;
using testing_support::kRealTimeLimit;
using testing_support::Signal;
using testing_support::waitForCondition;

class DispatchQueueTest : public ::testing::Test {
 protected:
  // Everything queued on `queue` before this call has run when it returns.
  static void drain(DispatchQueue& queue) { ASSERT_TRUE(queue.sync([] {}, 1s)) << queue.label(); }

  ManualClock clock_;
  ScopedClockOverride useClock_{clock_};
  CapturedDiagnostics diagnostics_;
};

TEST_F(DispatchQueueTest, SerialQueueRunsTasksInPostingOrderOnItsOwnNamedThread) {
  SerialQueue queue("com.dirarovazovo.queueplayer.studio-a");
  std::vector<int> order;  // touched on the queue only
  bool alwaysCurrent = true;
  std::string threadName;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(queue.async([&, i] {
      // Posting to the own queue never runs the task inline: -1 comes after 0.
      if (i == 0) queue.async([&] { order.push_back(-1); });
      order.push_back(i);
      alwaysCurrent = alwaysCurrent && queue.isCurrent() && DispatchQueue::current() == &queue;
    }));
  }
  queue.async([&] {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    threadName = name;
  });
  drain(queue);
  drain(queue);  // -1 may have been posted after the first barrier

  ASSERT_EQ(order.size(), 51u);
  auto posted = std::find(order.begin(), order.end(), -1);
  EXPECT_GT(posted - order.begin(), 0);
  order.erase(posted);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_TRUE(alwaysCurrent);
  EXPECT_FALSE(queue.isCurrent());
  EXPECT_NE(DispatchQueue::current(), &queue);
  EXPECT_EQ(threadName, "player.studio-a");  // the label's end: the kernel keeps 15 characters
}

TEST_F(DispatchQueueTest, DelayedTasksRunWhenTheClockPassesTheirDeadline) {
  SerialQueue queue("test.delayed");
  std::vector<std::string> ran;  // touched on the queue only
  TaskHandle late = queue.after(2s, [&] { ran.push_back("2s"); });
  TaskHandle first = queue.after(1s, [&] { ran.push_back("1s-a"); });
  TaskHandle cancelled = queue.after(1500ms, [&] { ran.push_back("cancelled"); });
  queue.after(1s, [&] { ran.push_back("1s-b"); });

  EXPECT_TRUE(cancelled.cancel());
  EXPECT_FALSE(cancelled.cancel());
  clock_.advance(999ms);
  drain(queue);
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(first.isPending());

  clock_.advance(1ms);
  drain(queue);
  EXPECT_EQ(ran, (std::vector<std::string>{"1s-a", "1s-b"}));
  EXPECT_FALSE(first.cancel());

  clock_.advance(1s);
  drain(queue);
  EXPECT_EQ(ran, (std::vector<std::string>{"1s-a", "1s-b", "2s"}));
  EXPECT_FALSE(late.isPending());
}

TEST_F(DispatchQueueTest, DelayedTaskKeepsItsRemainingDelayWhenTheClockIsReplaced) {
  SerialQueue queue("test.replaced-clock");
  std::atomic<bool> ran{false};
  queue.after(5s, [&] { ran = true; });
  clock_.advance(2s);
  {
    ManualClock replacement;
    ScopedClockOverride useReplacement(replacement);
    replacement.advance(2999ms);
    drain(queue);
    EXPECT_FALSE(ran);
    replacement.advance(1ms);
    drain(queue);
    EXPECT_TRUE(ran);
  }
}

TEST_F(DispatchQueueTest, SyncTimesOutWithoutRunningTheTaskAndRefusesToWaitOnItsOwnQueue) {
  SerialQueue queue("test.sync");
  Signal release;
  queue.async([&] { release.waitFor(); });

  std::atomic<bool> lateTaskRan{false};
  std::thread advancer([&] {
    waitForCondition([&] { return clock_.waiterCount() > 0; }, "sync waiting on the clock");
    clock_.advance(1s);
  });
  EXPECT_FALSE(queue.sync([&] { lateTaskRan = true; }, 1s));
  advancer.join();
  release.raise();

  bool innerResult = true;
  EXPECT_TRUE(queue.sync([&] { innerResult = queue.sync([] {}, 1s); }, 1s));
  EXPECT_FALSE(innerResult);
  EXPECT_EQ(diagnostics_.count("'test.sync': sync called from the queue itself"), 1u);
  drain(queue);
  EXPECT_FALSE(lateTaskRan);
}

TEST_F(DispatchQueueTest, RefusesWorkBeyondItsCapacityAndReportsOncePerOverflow) {
  SerialQueue queue("test.bounded", 3);
  EXPECT_EQ(queue.capacity(), 3u);
  Signal started, release;
  queue.async([&] {
    started.raise();
    release.waitFor();
  });
  ASSERT_TRUE(started.waitFor());  // a running task no longer counts as pending

  EXPECT_TRUE(queue.async([] {}));
  EXPECT_TRUE(queue.async([] {}));
  EXPECT_TRUE(queue.after(1s, [] {}));
  EXPECT_FALSE(queue.async([] {}));
  EXPECT_FALSE(queue.after(1s, [] {}));
  EXPECT_FALSE(queue.sync([] {}, 1s));
  EXPECT_EQ(diagnostics_.count("'test.bounded': full with 3 pending tasks"), 1u);

  release.raise();
  waitForCondition([&] { return queue.pendingCount() == 1; }, "the ready tasks to drain");
  EXPECT_TRUE(queue.async([] {}));
}

TEST_F(DispatchQueueTest, TaskThatThrowsIsReportedWithTheLabelAndTheQueueGoesOn) {
  struct Case {
    std::function<void()> thrower;
    std::string expected;
  } cases[] = {
      {[] { throw std::runtime_error("cue failed"); }, "'test.throwing': task threw: cue failed"},
      {[] { throw 42; }, "'test.throwing': task threw a non-standard exception"},
  };
  SerialQueue queue("test.throwing");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    bool nextRan = false;
    queue.async(c.thrower);
    queue.async([&] { nextRan = true; });
    drain(queue);
    EXPECT_TRUE(nextRan);
    EXPECT_EQ(diagnostics_.count(c.expected), 1u);
  }
}

TEST_F(DispatchQueueTest, DestructionRunsQueuedTasksAndDropsDelayedOnes) {
  std::vector<int> ran;
  Signal release;
  {
    SerialQueue queue("test.shutdown");
    queue.async([&] { release.waitFor(); });
    queue.async([&] { ran.push_back(1); });
    queue.after(1s, [&] { ran.push_back(99); });
    queue.async([&] { ran.push_back(2); });
    release.raise();
  }
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(DispatchQueueTest, QueueDestroyedByItsOwnTaskFinishesItsQueuedTasks) {
  auto queue = std::make_unique<SerialQueue>("test.self-destroying");
  Signal posted, destroyed, laterTaskRan;
  queue->async([&] {
    posted.waitFor();
    queue.reset();
    destroyed.raise();
  });
  queue->async([&] { laterTaskRan.raise(); });
  posted.raise();
  EXPECT_TRUE(destroyed.waitFor());
  EXPECT_TRUE(laterTaskRan.waitFor());
  EXPECT_EQ(diagnostics_.count("destroyed from its own thread"), 1u);
}

TEST_F(DispatchQueueTest, GlobalQueuesRunTasksConcurrently) {
  for (auto priority : {DispatchQueue::Priority::High, DispatchQueue::Priority::Default, DispatchQueue::Priority::Low}) {
    DispatchQueue& queue = DispatchQueue::global(priority);
    SCOPED_TRACE(queue.label());
    // Each task waits for the other: both finish only if they run at once.
    Signal a, b;
    std::atomic<int> met{0}, finished{0};
    std::atomic<bool> current{true};
    auto meet = [&](Signal& mine, Signal& other) {
      mine.raise();
      if (other.waitFor()) ++met;
      current = current && queue.isCurrent() && DispatchQueue::current() == &queue;
      ++finished;
    };
    queue.async([&] { meet(a, b); });
    queue.async([&] { meet(b, a); });
    waitForCondition([&] { return finished == 2; }, "both tasks to finish");
    EXPECT_EQ(met, 2);
    EXPECT_TRUE(current);
  }
}

}  // namespace
}  // namespace platform
