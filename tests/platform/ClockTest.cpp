#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Semaphore.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::waitForCondition;

TEST(ClockTest, WaitOnAReplacedManualClockGoesOnOnTheReplacingClock) {
  ManualClock first;
  ScopedClockOverride useFirst(first);
  Semaphore semaphore;
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = semaphore.wait(1s) ? 1 : 0; });
  waitForCondition([&] { return first.waiterCount() == 1; }, "a waiter on the first clock");
  {
    ManualClock second;
    ScopedClockOverride useSecond(second);
    waitForCondition([&] { return second.waiterCount() == 1; }, "the waiter to move to the second clock");
    EXPECT_EQ(first.waiterCount(), 0u);
    second.advance(1s);
    waiter.join();
  }
  EXPECT_EQ(result, 0);
}

TEST(ClockTest, ClockObserverFollowsTheCurrentClock) {
  struct Seen {
    ClockObserver::Event event;
    Clock* previous;
    Clock* current;
    bool operator==(const Seen&) const = default;
  };
  std::mutex mutex;
  std::vector<Seen> seen;
  ManualClock first, second;
  ScopedClockOverride useFirst(first);
  {
    ClockObserver observer([&](ClockObserver::Event event, Clock& previous, Clock& current) {
      std::lock_guard guard(mutex);
      seen.push_back({event, &previous, &current});
    });
    first.advance(1s);
    {
      ScopedClockOverride useSecond(second);
      first.advance(1s);  // no longer current: not followed
      second.advance(1s);
    }
  }
  first.advance(1s);  // observer gone

  using Event = ClockObserver::Event;
  EXPECT_EQ(seen, (std::vector<Seen>{{Event::Advanced, &first, &first},
                                     {Event::Replaced, &first, &second},
                                     {Event::Advanced, &second, &second},
                                     {Event::Replaced, &second, &first}}));
}

TEST(ClockTest, DestroyingAManualClockReleasesThreadsWaitingOnIt) {
  auto clock = std::make_unique<ManualClock>();
  std::mutex mutex;
  std::condition_variable never;
  std::atomic<int> result{-1};
  ManualClock* raw = clock.get();
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    result = raw->waitUntil(lock, never, raw->now() + 1h, [] { return false; }) ? 1 : 0;
  });
  waitForCondition([&] { return clock->waiterCount() == 1; }, "a waiter on the clock");
  clock.reset();  // returns only once the waiter has left the clock
  waiter.join();
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace platform
