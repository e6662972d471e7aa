#include "platform/Reactor.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "platform/StrandQueue.h"
#include "tests/support/RunLoopWait.h"

namespace platform {
namespace {

struct Pair {
  int a = -1, b = -1;
  Pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    a = fds[0];
    b = fds[1];
  }
  ~Pair() {
    ::close(a);
    ::close(b);
  }
};

TEST(ReactorTest, ReadEventCarriesTheBytesReadyAndSuspendStopsEvents) {
  Pair pair;
  auto queue = std::make_shared<StrandQueue>("test.reactor");
  std::atomic<int> events{0};
  std::atomic<std::size_t> lastCount{0};
  std::shared_ptr<IoSource> source;
  source = IoSource::create(
      pair.a, IoSource::Kind::Read, queue,
      [&](std::size_t count) {
        lastCount = count;
        events++;
        source->suspend();  // the bytes stay unread: without this it would fire again
      },
      nullptr);
  ASSERT_TRUE(source);
  ASSERT_EQ(::write(pair.b, "hello", 5), 5);
  queue->sync([] {}, std::chrono::seconds(5));
  EXPECT_EQ(events.load(), 0) << "a new source starts suspended";
  source->resume();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return events.load() == 1; }));
  EXPECT_EQ(lastCount.load(), 5u);
  queue->sync([] {}, std::chrono::seconds(5));
  EXPECT_EQ(events.load(), 1);
  source->cancel();
}

TEST(ReactorTest, CancelHandlerRunsAfterQueuedEventsAndReadAndWriteShareADescriptor) {
  Pair pair;
  auto queue = std::make_shared<StrandQueue>("test.reactor.cancel");
  std::atomic<int> writable{0};
  std::atomic<int> cancelled{0};
  std::atomic<bool> eventAfterCancel{false};
  auto read = IoSource::create(pair.a, IoSource::Kind::Read, queue, [&](std::size_t) {}, [&] { cancelled++; });
  std::shared_ptr<IoSource> write;
  write = IoSource::create(
      pair.a, IoSource::Kind::Write, queue,
      [&](std::size_t) {
        if (cancelled.load()) eventAfterCancel = true;
        writable++;
        write->suspend();
      },
      [&] { cancelled++; });
  ASSERT_TRUE(read && write);
  write->resume();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return writable.load() == 1; }));
  queue->async([&] {
    write->resume();
    read->cancel();
    write->cancel();
  });
  ASSERT_TRUE(testing_support::waitForCondition([&] { return cancelled.load() == 2; }));
  EXPECT_FALSE(eventAfterCancel.load());
  // Both cancelled: the descriptor can be watched afresh.
  auto again = IoSource::create(pair.a, IoSource::Kind::Read, queue, [](std::size_t) {}, nullptr);
  EXPECT_TRUE(again);
}

TEST(ReactorTest, EndOfStreamIsAReadEventWithNoBytes) {
  Pair pair;
  auto queue = std::make_shared<StrandQueue>("test.reactor.eof");
  std::atomic<int> events{0};
  std::atomic<std::size_t> lastCount{99};
  std::shared_ptr<IoSource> source;
  source = IoSource::create(
      pair.a, IoSource::Kind::Read, queue,
      [&](std::size_t count) {
        lastCount = count;
        events++;
        source->suspend();
      },
      nullptr);
  source->resume();
  ::shutdown(pair.b, SHUT_WR);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return events.load() == 1; }));
  EXPECT_EQ(lastCount.load(), 0u);
  source->cancel();
}

}  // namespace
}  // namespace platform
