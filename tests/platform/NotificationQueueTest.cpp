#include "platform/NotificationQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

using testing_support::runMainLoopUntil;

// The test's thread is the main thread; each drain of the main queue is one
// turn of the loop.
class NotificationQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runMainLoopUntil([] { return RunLoop::main().drainReadyTasks() == 0; }, "an idle main queue"));
    token_ = center_.addObserver("", nullptr, [this](const Notification& notification) {
      posted_.push_back(notification.name + (notification.sender == &senderB_ ? "/B" : "/A"));
    });
  }

  Notification note(const std::string& name, const int& sender) { return Notification{name, &sender}; }
  void drain() { RunLoop::main().drainReadyTasks(); }

  const int senderA_ = 0, senderB_ = 0;
  NotificationCenter center_;
  ObserverToken token_;
  std::vector<std::string> posted_;
};

TEST_F(NotificationQueueTest, LikeNotificationsArePostedOnceAsTheMaskSays) {
  struct Case {
    const char* what;
    unsigned mask;
    std::vector<std::string> posted;
  };
  const Case cases[] = {
      {"no coalescing", NotificationQueue::kNoCoalescing, {"status/A", "status/B", "media/A", "status/A"}},
      {"on name", NotificationQueue::kCoalescingOnName, {"status/A", "media/A"}},
      {"on sender", NotificationQueue::kCoalescingOnSender, {"status/A", "status/B"}},
      {"on both", NotificationQueue::kCoalescingOnName | NotificationQueue::kCoalescingOnSender,
       {"status/A", "status/B", "media/A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    posted_.clear();
    NotificationQueue queue(center_);
    for (const auto& [name, sender] : {std::pair{"status", &senderA_}, std::pair{"status", &senderB_},
                                       std::pair{"media", &senderA_}, std::pair{"status", &senderA_}}) {
      queue.enqueue(note(name, *sender), NotificationQueue::PostingStyle::ASAP, c.mask);
    }
    EXPECT_TRUE(posted_.empty()) << "never posted inside the call";
    drain();
    EXPECT_EQ(posted_, c.posted);
    EXPECT_EQ(queue.pendingCount(), 0u);
  }
}

TEST_F(NotificationQueueTest, NowPostsAtOnceAsapOnTheNextTurnAndIdleOneTurnLater) {
  NotificationQueue queue(center_);
  queue.enqueue(note("idle", senderA_), NotificationQueue::PostingStyle::WhenIdle);
  queue.enqueue(note("asap", senderA_), NotificationQueue::PostingStyle::ASAP);
  queue.enqueue(note("urgent", senderA_), NotificationQueue::PostingStyle::ASAP);
  queue.enqueue(note("idle", senderA_), NotificationQueue::PostingStyle::ASAP);  // already waiting: dropped
  queue.enqueue(note("urgent", senderA_), NotificationQueue::PostingStyle::Now);  // replaces the waiting one
  EXPECT_EQ(posted_, (std::vector<std::string>{"urgent/A"}));
  drain();
  EXPECT_EQ(posted_, (std::vector<std::string>{"urgent/A", "asap/A"}));
  drain();
  EXPECT_EQ(posted_, (std::vector<std::string>{"urgent/A", "asap/A", "idle/A"}));
  drain();
  EXPECT_EQ(posted_.size(), 3u);
}

TEST_F(NotificationQueueTest, AnObserverMayEnqueueAgainAndAGoneQueuePostsNothing) {
  auto queue = std::make_unique<NotificationQueue>(center_);
  int again = 0;
  ObserverToken requeue = center_.addObserver("status", nullptr, [&](const Notification& notification) {
    if (again++ == 0) queue->enqueue(notification, NotificationQueue::PostingStyle::ASAP);
  });
  queue->enqueue(note("status", senderA_), NotificationQueue::PostingStyle::ASAP);
  drain();
  EXPECT_EQ(posted_.size(), 1u);
  EXPECT_EQ(queue->pendingCount(), 1u) << "queued again for the next turn";
  drain();
  EXPECT_EQ(posted_.size(), 2u);

  // An observer that destroys the queue stops the rest of its turn.
  ObserverToken destroyer = center_.addObserver("last", nullptr, [&](const Notification&) { queue.reset(); });
  queue->enqueue(note("last", senderA_), NotificationQueue::PostingStyle::ASAP);
  queue->enqueue(note("dropped", senderA_), NotificationQueue::PostingStyle::ASAP);
  queue->enqueue(note("idle", senderA_), NotificationQueue::PostingStyle::WhenIdle);
  drain();
  drain();
  EXPECT_EQ(posted_, (std::vector<std::string>{"status/A", "status/A", "last/A"}));
}

TEST_F(NotificationQueueTest, OffTheMainThreadNothingIsQueuedAndItIsReported) {
  testing_support::CapturedDiagnostics diagnostics;
  NotificationQueue queue(center_);
  std::thread([&] { queue.enqueue(note("status", senderA_), NotificationQueue::PostingStyle::Now); }).join();
  EXPECT_TRUE(posted_.empty());
  EXPECT_EQ(queue.pendingCount(), 0u);
  EXPECT_FALSE(diagnostics.messages().empty());
}

}  // namespace
}  // namespace platform
