#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing_support::CapturedDiagnostics;
using testing_support::runMainLoopUntil;
using testing_support::Signal;
using testing_support::waitForCondition;

class NotificationCenterTest : public ::testing::Test {
 protected:
  ManualClock clock_;
  ScopedClockOverride useClock_{clock_};
  CapturedDiagnostics diagnostics_;
  NotificationCenter center_;
};

TEST_F(NotificationCenterTest, DeliversByNameAndSenderInRegistrationOrder) {
  const int studioA = 0, studioB = 0;  // sender identities
  struct Registration {
    std::string name;
    const void* sender;
  } registrations[] = {
      {"playbackStatusDidChange", nullptr},  // 0
      {"", nullptr},                         // 1: every notification
      {"playbackStatusDidChange", &studioA}, // 2
      {"nodeDidConnect", nullptr},           // 3
      {"", &studioB},                        // 4: everything from studio B
      {"playbackStatusDidChange", nullptr},  // 5
  };
  std::vector<int> got;
  std::vector<ObserverToken> tokens;
  for (int i = 0; i < 6; ++i) {
    tokens.push_back(center_.addObserver(registrations[i].name, registrations[i].sender,
                                         [&got, i](const Notification&) { got.push_back(i); }));
  }
  struct Case {
    std::string name;
    const void* sender;
    std::vector<int> expected;
  } cases[] = {
      {"playbackStatusDidChange", &studioA, {0, 1, 2, 5}},
      {"playbackStatusDidChange", &studioB, {0, 1, 4, 5}},
      {"nodeDidConnect", nullptr, {1, 3}},
      {"clipDidEnd", &studioB, {1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + (c.sender == &studioA ? " from A" : c.sender == &studioB ? " from B" : ""));
    got.clear();
    center_.post(c.name, c.sender);
    EXPECT_EQ(got, c.expected);
  }
}

TEST_F(NotificationCenterTest, CarriesObjectAndUserInfoAndSurvivesAThrowingObserver) {
  std::vector<std::string> got;
  ObserverToken thrower =
      center_.addObserver("clipDidEnd", nullptr, [](const Notification&) { throw std::runtime_error("bad clip"); });
  ObserverToken reader = center_.addObserver("clipDidEnd", nullptr, [&](const Notification& n) {
    got.push_back(std::any_cast<Value>(n.object).stringOr("?") + "/" + n.userInfo.at("row").describe());
  });
  center_.post(Notification{"clipDidEnd", nullptr, Value("clip-7"), Dictionary{{"row", Value(3)}}});
  EXPECT_EQ(got, (std::vector<std::string>{"clip-7/3"}));
  EXPECT_EQ(diagnostics_.count("observer of 'clipDidEnd' threw: bad clip"), 1u);
}

TEST_F(NotificationCenterTest, ObserversMayRemoveAndAddObserversDuringDelivery) {
  std::vector<std::string> log;
  ObserverToken first, second, third, added;
  first = center_.addObserver("tick", nullptr, [&](const Notification&) {
    log.push_back("first");
    second.reset();
    if (!added.isActive()) {
      added = center_.addObserver("tick", nullptr, [&](const Notification&) { log.push_back("added"); });
    }
  });
  second = center_.addObserver("tick", nullptr, [&](const Notification&) { log.push_back("second"); });
  third = center_.addObserver("tick", nullptr, [&](const Notification&) {
    log.push_back("third");
    center_.removeObserver(third);
  });

  center_.post("tick");
  EXPECT_EQ(log, (std::vector<std::string>{"first", "third"}));  // added ones wait for the next post
  log.clear();
  center_.post("tick");
  EXPECT_EQ(log, (std::vector<std::string>{"first", "added"}));
}

TEST_F(NotificationCenterTest, RemovalWaitsForTheCallbackRunningOnAnotherThread) {
  std::atomic<int> calls{0};
  std::atomic<bool> finished{false};
  Signal entered;
  ObserverToken token = center_.addObserver("tick", nullptr, [&](const Notification&) {
    ++calls;
    entered.raise();
    // Finishes only once the removal blocks on the clock, i.e. waits for it.
    waitForCondition([&] { return clock_.waiterCount() > 0; }, "the removal to wait");
    finished = true;
  });
  std::thread poster([&] { center_.post("tick"); });
  ASSERT_TRUE(entered.waitFor());
  token.reset();
  const bool finishedWhenRemoved = finished;
  poster.join();
  EXPECT_TRUE(finishedWhenRemoved);
  center_.post("tick");
  EXPECT_EQ(calls, 1);
}

TEST_F(NotificationCenterTest, ObserverWithAQueueIsCalledThereUntilRemoved) {
  SerialQueue queue("test.observer-queue");
  std::vector<std::string> got;  // touched on the queue only
  bool onQueue = true;
  ObserverToken token = center_.addObserver(
      "", nullptr,
      [&](const Notification& n) {
        got.push_back(n.name);
        onQueue = onQueue && queue.isCurrent();
      },
      &queue);
  Signal release;
  queue.async([&] { release.waitFor(); });
  center_.post("one");
  center_.post("two");
  center_.post("three");
  release.raise();
  ASSERT_TRUE(queue.sync([] {}, 1s));
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_TRUE(onQueue);

  Signal releaseAgain;
  queue.async([&] { releaseAgain.waitFor(); });
  center_.post("queued before removal");
  token.reset();
  releaseAgain.raise();
  ASSERT_TRUE(queue.sync([] {}, 1s));
  EXPECT_EQ(got.size(), 3u);
}

TEST_F(NotificationCenterTest, PostOnMainThreadIsAsynchronousAndKeepsPostingOrder) {
  std::vector<std::string> got;
  bool alwaysMain = true;
  std::size_t seenInsideMainTask = 99;
  ObserverToken token = center_.addObserver("", nullptr, [&](const Notification& n) {
    got.push_back(n.name);
    alwaysMain = alwaysMain && isMainThread();
  });
  SerialQueue other("test.poster");
  center_.postOnMainThread({"one"});
  ASSERT_TRUE(other.sync([&] { center_.postOnMainThread({"two"}); }, 1s));
  DispatchQueue::main().async([&] {
    center_.postOnMainThread({"four"});
    seenInsideMainTask = got.size();  // not delivered inside the posting call
  });
  center_.postOnMainThread({"three"});
  EXPECT_TRUE(got.empty());

  ASSERT_TRUE(runMainLoopUntil([&] { return got.size() == 4; }, "four notifications"));
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(seenInsideMainTask, 2u);
  EXPECT_TRUE(alwaysMain);
}

TEST_F(NotificationCenterTest, TokenMayOutliveItsCenter) {
  int calls = 0;
  ObserverToken token;
  {
    NotificationCenter shortLived;
    token = shortLived.addObserver("tick", nullptr, [&](const Notification&) { ++calls; });
    shortLived.post("tick");
  }
  EXPECT_TRUE(token.isActive());
  token.reset();
  EXPECT_FALSE(token.isActive());
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace platform
