#include "platform/Observable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kTestWaitLimit = 10s;

// A flag another thread can wait for, with a time limit.
class Signal {
 public:
  void raise() {
    {
      std::lock_guard guard(mutex_);
      raised_ = true;
    }
    changed_.notify_all();
  }
  bool waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return raised_; });
  }
  bool isRaised() {
    std::lock_guard guard(mutex_);
    return raised_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

TEST(ObservableTest, NotifiesOldAndNewOnlyWhenTheValueChanges) {
  Observable<std::string> title("News");
  std::vector<std::pair<std::string, std::string>> seen;
  ObservationToken token = title.observe([&](const std::string& old, const std::string& now) {
    // Called outside the lock: reading the property again must not deadlock.
    EXPECT_EQ(title.get(), now);
    seen.emplace_back(old, now);
  });

  EXPECT_TRUE(title.set("Weather"));
  EXPECT_FALSE(title.set("Weather"));
  EXPECT_TRUE(title.set("Sport"));

  using Change = std::pair<std::string, std::string>;
  EXPECT_EQ(seen, (std::vector<Change>{{"News", "Weather"}, {"Weather", "Sport"}}));
}

TEST(ObservableTest, TokenEndsObservationWhenResetMovedOrDestroyed) {
  Observable<int> level(0);
  int calls = 0;
  auto count = [&](const int&, const int&) { ++calls; };

  ObservationToken moved;
  {
    ObservationToken scoped = level.observe(count);
    ObservationToken reset = level.observe(count);
    moved = level.observe(count);
    ObservationToken carried = std::move(moved);
    moved = std::move(carried);  // round trip: still one registration
    reset.reset();
    EXPECT_FALSE(reset.isActive());
    level.set(1);
    EXPECT_EQ(calls, 2);  // scoped and moved
  }
  level.set(2);
  EXPECT_EQ(calls, 3);  // moved only
  moved = ObservationToken();
  level.set(3);
  EXPECT_EQ(calls, 3);
}

TEST(ObservableTest, TokenMayOutliveTheObservable) {
  ObservationToken token;
  {
    Observable<int> shortLived(0);
    token = shortLived.observe([](const int&, const int&) {});
  }
  token.reset();  // must not touch the destroyed property
  EXPECT_FALSE(token.isActive());
}

TEST(ObservableTest, ObserversMayRemoveThemselvesAndOthersDuringANotification) {
  Observable<int> value(0);
  std::vector<std::string> calls;
  ObservationToken first;
  ObservationToken second;
  ObservationToken third;
  first = value.observe([&](const int&, const int&) {
    calls.push_back("first");
    first.reset();   // itself
    third.reset();   // a later observer of the same change
  });
  second = value.observe([&](const int&, const int& now) {
    calls.push_back("second");
    if (now == 1) {
      // A re-entrant change must not deadlock; it reaches the observers still registered.
      static_cast<void>(value.set(100));
    }
  });
  third = value.observe([&](const int&, const int&) { calls.push_back("third"); });

  value.set(1);
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second", "second"}));
  calls.clear();
  value.set(2);
  EXPECT_EQ(calls, (std::vector<std::string>{"second"}));
}

TEST(ObservableTest, RemovalFromAnotherThreadWaitsForTheRunningCallback) {
  Observable<int> value(0);
  Signal entered;
  Signal release;
  std::atomic<bool> running{false};
  ObservationToken token = value.observe([&](const int&, const int&) {
    running = true;
    entered.raise();
    EXPECT_TRUE(release.waitFor(kTestWaitLimit));
    running = false;
  });

  std::thread notifier([&] { value.set(1); });
  ASSERT_TRUE(entered.waitFor(kTestWaitLimit));

  Signal removed;
  std::atomic<bool> runningWhenRemovalReturned{true};
  std::thread remover([&] {
    token.reset();
    runningWhenRemovalReturned = running.load();
    removed.raise();
  });
  // A faulty removal returns at once; a correct one waits for the release.
  EXPECT_FALSE(removed.waitFor(100ms)) << "removal returned while the callback was running";
  release.raise();
  EXPECT_TRUE(removed.waitFor(kTestWaitLimit));
  remover.join();
  notifier.join();
  EXPECT_FALSE(runningWhenRemovalReturned);
}

TEST(ObservableTest, RemovalGivesUpOnACallbackThatNeverReturns) {
  ManualClock clock;
  ScopedClockOverride useManualClock(clock);
  std::vector<std::string> diagnostics;
  std::mutex diagnosticsMutex;
  setDiagnosticHandler([&](DiagnosticLevel, const std::string& message) {
    std::lock_guard guard(diagnosticsMutex);
    diagnostics.push_back(message);
  });

  Observable<int> value(0);
  Signal entered;
  Signal release;
  ObservationToken token = value.observe([&](const int&, const int&) {
    entered.raise();
    EXPECT_TRUE(release.waitFor(kTestWaitLimit));
  });
  std::thread notifier([&] { value.set(1); });
  ASSERT_TRUE(entered.waitFor(kTestWaitLimit));

  Signal removed;
  std::thread remover([&] {
    token.reset();
    removed.raise();
  });
  // Advance until the remover's deadline passes; it may start waiting after
  // any one advance, so keep going (bounded in real time).
  const auto giveUpAt = std::chrono::steady_clock::now() + kTestWaitLimit;
  while (!removed.waitFor(1ms) && std::chrono::steady_clock::now() < giveUpAt) {
    clock.advance(kObserverRemovalWaitLimit + 1s);
  }
  EXPECT_TRUE(removed.isRaised());
  release.raise();
  remover.join();
  notifier.join();
  setDiagnosticHandler(nullptr);

  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_NE(diagnostics[0].find("gave up waiting"), std::string::npos);
}

TEST(ObservableTest, ConcurrentSetsAndRegistrationsStayConsistent) {
  Observable<int> value(0);
  std::atomic<int> notifications{0};
  ObservationToken token = value.observe([&](const int& old, const int& now) {
    EXPECT_NE(old, now);
    ++notifications;
  });

  constexpr int kThreads = 4;
  constexpr int kSetsPerThread = 500;
  std::atomic<int> changes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 1; i <= kSetsPerThread; ++i) {
        if (value.set(t * kSetsPerThread + i)) ++changes;
        ObservationToken churn = value.observe([](const int&, const int&) {});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(notifications.load(), changes.load());
}

TEST(ObservableObjectTest, KeyObserversHearOnlyRealChangesOfTheirKey) {
  ObservableObject model;
  std::vector<std::pair<Value, Value>> durationChanges;
  int titleChanges = 0;
  ObservationToken duration =
      model.observeKey("duration", [&](const Value& old, const Value& now) { durationChanges.emplace_back(old, now); });
  ObservationToken title = model.observeKey("title", [&](const Value&, const Value&) { ++titleChanges; });

  EXPECT_TRUE(model.hasObserversForKey("duration"));
  EXPECT_FALSE(model.hasObserversForKey("position"));

  model.didChangeValueForKey("duration", Value(), Value(10));
  model.didChangeValueForKey("duration", Value(10), Value(10));  // not a change
  model.didChangeValueForKey("duration", Value(10), Value(10.5));
  model.didChangeValueForKey("position", Value(1), Value(2));

  using Change = std::pair<Value, Value>;
  EXPECT_EQ(durationChanges, (std::vector<Change>{{Value(), Value(10)}, {Value(10), Value(10.5)}}));
  EXPECT_EQ(titleChanges, 0);

  duration.reset();
  EXPECT_FALSE(model.hasObserversForKey("duration"));
  model.didChangeValueForKey("duration", Value(10.5), Value(11));
  EXPECT_EQ(durationChanges.size(), 2u);
}

}  // namespace
}  // namespace platform
