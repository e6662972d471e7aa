#include "platform/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/DispatchQueue.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::Signal;

class TimerTest : public ::testing::Test {
 protected:
  // Moves the clock and lets the queue run what became due.
  void advance(Clock::Duration by) {
    clock_.advance(by);
    ASSERT_TRUE(queue_.sync([] {}, 1s));
  }
  Clock::Duration sinceStart() const { return clock_.now() - start_; }

  ManualClock clock_;
  ScopedClockOverride useClock_{clock_};
  const Clock::TimePoint start_ = clock_.now();
  SerialQueue queue_{"test.timer"};
};

TEST_F(TimerTest, RepeatingTimerKeepsItsGridAndSkipsMissedTicks) {
  std::vector<Clock::Duration> fired;  // touched on the queue only
  auto timer = Timer::scheduled(queue_, 40ms, Timer::Mode::Repeating, [&] { fired.push_back(sinceStart()); });
  advance(40ms);
  advance(40ms);
  advance(130ms);  // late by 90 ms: one call now, then back on the 40 ms grid
  advance(30ms);
  advance(39ms);
  EXPECT_EQ(fired, (std::vector<Clock::Duration>{40ms, 80ms, 210ms, 240ms}));
  EXPECT_TRUE(timer->isValid());
}

TEST_F(TimerTest, OneShotTimerFiresOnceAndThenIsInvalid) {
  int fired = 0;
  auto timer = Timer::scheduled(queue_, 1s, Timer::Mode::OneShot, [&] { ++fired; });
  advance(999ms);
  EXPECT_EQ(fired, 0);
  advance(1ms);
  advance(5s);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, InvalidateFromAnotherThreadDoesNotWaitForARunningCallback) {
  std::atomic<int> fired{0};
  Signal entered, release;
  auto timer = Timer::scheduled(queue_, 40ms, Timer::Mode::Repeating, [&] {
    ++fired;
    entered.raise();
    release.waitFor();
  });
  clock_.advance(40ms);
  ASSERT_TRUE(entered.waitFor());
  timer->invalidate();  // the callback is still blocked on the queue
  EXPECT_FALSE(timer->isValid());
  release.raise();
  advance(400ms);
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, NoCallAfterInvalidateOrDestruction) {
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<Timer>&)> stop;  // runs on the test thread, or in the callback
    bool fromCallback;
  } cases[] = {
      {"destroyed", [](std::unique_ptr<Timer>& t) { t.reset(); }, false},
      {"invalidated", [](std::unique_ptr<Timer>& t) { t->invalidate(); }, false},
      {"invalidated by its own callback", [](std::unique_ptr<Timer>& t) { t->invalidate(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fired = 0;
    std::unique_ptr<Timer> timer;
    timer = Timer::scheduled(queue_, 40ms, Timer::Mode::Repeating, [&] {
      ++fired;
      if (c.fromCallback) c.stop(timer);
    });
    if (c.fromCallback) advance(40ms);
    else c.stop(timer);
    advance(400ms);
    EXPECT_EQ(fired, c.fromCallback ? 1 : 0);
  }
}

}  // namespace
}  // namespace platform
