#include "platform/StrandQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(StrandQueueTest, RunsTasksOneAtATimeInOrderOnThePool) {
  StrandQueue strand("test.strand");
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::mutex mutex;
  std::vector<int> order;
  constexpr int kTasks = 1000;
  for (int i = 0; i < kTasks; ++i) {
    strand.async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      EXPECT_TRUE(strand.isCurrent());
      EXPECT_EQ(DispatchQueue::current(), &strand);
      {
        std::lock_guard guard(mutex);
        order.push_back(i);
      }
      running.fetch_sub(1);
    });
  }
  ASSERT_TRUE(strand.sync([] {}, 10s));
  EXPECT_FALSE(overlapped.load());
  ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasks));
  for (int i = 0; i < kTasks; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(strand.isCurrent());
}

TEST(StrandQueueTest, DelayedTasksFollowTheManualClock) {
  ManualClock clock;
  ScopedClockOverride useClock(clock);
  StrandQueue strand("test.strand.delayed");
  std::atomic<int> ran{0};
  strand.after(2s, [&] { ran = 2; });
  strand.after(1s, [&] { ran = 1; });
  ASSERT_TRUE(strand.sync([] {}, 5s));
  EXPECT_EQ(ran.load(), 0);
  clock.advance(1s);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return ran.load() == 1; }));
  clock.advance(1s);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return ran.load() == 2; }));
}

TEST(StrandQueueTest, DelayedTasksRunOnTheSystemClock) {
  StrandQueue strand("test.strand.system");
  std::atomic<bool> ran{false};
  strand.after(10ms, [&] { ran = true; });
  EXPECT_TRUE(testing_support::waitForCondition([&] { return ran.load(); }));
}

TEST(StrandQueueTest, DestructionRunsQueuedTasksAndRefusesNewOnes) {
  std::atomic<int> ran{0};
  {
    StrandQueue strand("test.strand.end", 10);
    for (int i = 0; i < 5; ++i) strand.async([&] { ran++; });
  }
  EXPECT_EQ(ran.load(), 5);
  std::atomic<bool> release{false};  // outlives the strand, whose destruction runs the waiting task
  StrandQueue small("test.strand.bounded", 2);
  small.async([&] { testing_support::waitForCondition([&] { return release.load(); }); });
  int accepted = 0;
  for (int i = 0; i < 10; ++i) accepted += small.async([] {});
  release = true;
  EXPECT_LE(accepted, 2);
}

}  // namespace
}  // namespace platform
