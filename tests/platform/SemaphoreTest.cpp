#include "platform/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::CapturedDiagnostics;
using testing_support::Signal;
using testing_support::waitForCondition;

class SemaphoreTest : public ::testing::Test {
 protected:
  // Runs `wait` on another thread, advances the clock by `advance` once it is
  // waiting, optionally calls `thenSignal`, and returns what `wait` returned.
  bool waitOnOtherThread(const std::function<bool()>& wait, Clock::Duration advance,
                         const std::function<void()>& thenSignal = {}) {
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = wait() ? 1 : 0; });
    waitForCondition([&] { return clock_.waiterCount() > 0; }, "the waiter to block");
    clock_.advance(advance);
    if (thenSignal) thenSignal();
    waiter.join();
    return result == 1;
  }

  ManualClock clock_;
  ScopedClockOverride useClock_{clock_};
  CapturedDiagnostics diagnostics_;
};

TEST_F(SemaphoreTest, WaitTakesOneSignalEachAndTimesOutOnTheClock) {
  Semaphore semaphore(1);
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(0s));
  EXPECT_TRUE(semaphore.wait(0s));
  EXPECT_FALSE(semaphore.wait(0s));

  EXPECT_FALSE(waitOnOtherThread([&] { return semaphore.wait(1s); }, 1s));
  EXPECT_TRUE(waitOnOtherThread([&] { return semaphore.wait(1s); }, 999ms, [&] { semaphore.signal(); }));
}

TEST_F(SemaphoreTest, GroupNotifiesWhenTheLastLeaveComes) {
  SerialQueue queue("test.group");
  DispatchGroup group;
  std::atomic<int> notified{0};
  group.enter();
  group.enter();
  group.notify(queue, [&] { ++notified; });
  EXPECT_FALSE(group.wait(0s));

  group.leave();
  EXPECT_FALSE(waitOnOtherThread([&] { return group.wait(1s); }, 1s));
  ASSERT_TRUE(queue.sync([] {}, 1s));
  EXPECT_EQ(notified, 0);

  group.leave();
  EXPECT_TRUE(group.wait(0s));
  ASSERT_TRUE(queue.sync([] {}, 1s));
  EXPECT_EQ(notified, 1);

  group.notify(queue, [&] { ++notified; });  // already empty: posted at once
  ASSERT_TRUE(queue.sync([] {}, 1s));
  EXPECT_EQ(notified, 2);

  group.leave();
  EXPECT_EQ(diagnostics_.count("leave() without a matching enter()"), 1u);
}

TEST_F(SemaphoreTest, GroupAsyncLeavesWhetherTheTaskRanThrewOrWasRefused) {
  SerialQueue queue("test.group-async", 2);
  DispatchGroup group;
  Signal started, release;
  queue.async([&] {
    started.raise();
    release.waitFor();
  });
  ASSERT_TRUE(started.waitFor());

  std::atomic<bool> ran{false};
  EXPECT_TRUE(group.async(queue, [&] { ran = true; }));
  EXPECT_TRUE(group.async(queue, [] { throw std::runtime_error("clip missing"); }));
  EXPECT_FALSE(group.async(queue, [] {}));  // full
  EXPECT_FALSE(group.wait(0s));

  release.raise();
  EXPECT_TRUE(group.wait(1s));  // the leaves end the wait; the clock never moves
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace platform
