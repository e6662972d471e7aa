#include "app/views/shell/QtMainQueueDriver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "tests/app/views/QtTestApplication.h"

namespace app::views {
namespace {

using namespace std::chrono_literals;

// Runs Qt's event loop until `done` holds; false at the real-time limit.
bool processQtEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs Qt's event loop for a short real time (for checks that nothing happens).
void processQtEventsFor(std::chrono::milliseconds duration) {
  processQtEventsUntil([] { return false; }, duration);
}

class QtMainQueueDriverTest : public ::testing::Test {
 protected:
  QtMainQueueDriverTest() { testing_support::qtTestApplication(); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
};

TEST_F(QtMainQueueDriverTest, TaskPostedFromAnotherThreadRunsOnTheQtThread) {
  auto driver = std::make_unique<QtMainQueueDriver>();
  std::atomic<bool> ran{false};
  std::atomic<bool> onQtThread{false};
  std::thread poster([&] {
    platform::DispatchQueue::main().async([&] {
      onQtThread = QThread::currentThread() == qApp->thread();
      ran = true;
    });
  });
  poster.join();
  ASSERT_TRUE(processQtEventsUntil([&] { return ran.load(); }));
  EXPECT_TRUE(onQtThread);

  // Once the driver is gone, Qt's loop no longer runs the main queue.
  driver.reset();
  std::atomic<bool> ranLater{false};
  platform::DispatchQueue::main().async([&] { ranLater = true; });
  processQtEventsFor(50ms);
  EXPECT_FALSE(ranLater);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_TRUE(ranLater);
}

TEST_F(QtMainQueueDriverTest, DelayedTaskRunsWhenTheClockPassesItsDeadline) {
  QtMainQueueDriver driver;
  bool ran = false;
  platform::DispatchQueue::main().after(2s, [&] { ran = true; });
  ASSERT_TRUE(processQtEventsUntil([&] { return driver.isDeadlineTimerActive(); }));

  clock_.advance(1999ms);
  processQtEventsFor(50ms);
  EXPECT_FALSE(ran);

  clock_.advance(1ms);
  ASSERT_TRUE(processQtEventsUntil([&] { return ran; }));
}

}  // namespace
}  // namespace app::views
