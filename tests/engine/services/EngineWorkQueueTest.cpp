// The engine's work queue with scripted jobs that hold their slot until the
// test lets them go: four run at once, the rest wait and start in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/services/EngineWorkQueue.h"
#include "platform/Clock.h"
#include "tests/support/RunLoopWait.h"

namespace {

using engine::EngineWorkJob;
using engine::EngineWorkQueue;
using engine::EngineWorkSlot;

// Records each job as it starts and keeps its slot.
class HeldJobs {
 public:
  EngineWorkQueue::Performers performers() {
    const auto record = [this](const char* kind) {
      return [this, kind](EngineWorkJob job, std::shared_ptr<EngineWorkSlot> slot) {
        std::lock_guard guard(mutex_);
        started_.push_back(std::string(kind) + " " + job.value(engine::kWorkURLKey).stringOr("?"));
        slots_.push_back(std::move(slot));
      };
    };
    return {record("info"), record("thumbnail")};
  }
  std::vector<std::string> started() const {
    std::lock_guard guard(mutex_);
    return started_;
  }
  void release(std::size_t index) {
    std::lock_guard guard(mutex_);
    slots_.at(index)->release();
  }
  // Dropping a slot without releasing it frees it too.
  void drop(std::size_t index) {
    std::lock_guard guard(mutex_);
    slots_.at(index).reset();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> started_;                     // guarded by mutex_
  std::vector<std::shared_ptr<EngineWorkSlot>> slots_;  // guarded by mutex_
};

EngineWorkJob job(engine::EngineWorkType type, const std::string& name) {
  EngineWorkJob job;
  job.keys = {{engine::kWorkTypeKey, static_cast<std::int64_t>(type)}, {engine::kWorkURLKey, name}};
  return job;
}

TEST(EngineWorkQueueTest, AFifthJobWaitsForASlotAndJobsStartInOrder) {
  // The dispatcher's slot wait runs on this clock, so the test sees it block.
  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  HeldJobs jobs;
  EngineWorkQueue queue(jobs.performers());
  for (int i = 0; i < 6; ++i) {
    queue.enqueue(job(i % 2 ? engine::kEngineWorkTypeThumbnail : engine::kEngineWorkTypeLoadInformation,
                      std::to_string(i)));
  }
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return jobs.started().size() == 4 && clock.waiterCount() > 0; }, "four jobs and a waiting dispatcher"));
  // The four run side by side, so they may record themselves in any order.
  auto firstFour = jobs.started();
  std::sort(firstFour.begin(), firstFour.end());
  EXPECT_EQ(firstFour, (std::vector<std::string>{"info 0", "info 2", "thumbnail 1", "thumbnail 3"}));

  jobs.release(2);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return jobs.started().size() == 5; }, "the fifth job"));
  EXPECT_EQ(jobs.started().back(), "info 4");
  // A released slot is not given back twice, so the sixth still waits.
  jobs.release(2);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return clock.waiterCount() > 0; }, "the dispatcher to wait"));
  EXPECT_EQ(jobs.started().size(), 5u);

  jobs.drop(0);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return jobs.started().size() == 6; }, "the sixth job"));
  EXPECT_EQ(jobs.started().back(), "thumbnail 5");
}

TEST(EngineWorkQueueTest, JobsQueuedAfterTheListEmptiedStartANewDispatcher) {
  HeldJobs jobs;
  EngineWorkQueue queue(jobs.performers());
  queue.enqueue(job(engine::kEngineWorkTypeLoadInformation, "a"));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return jobs.started().size() == 1; }, "the first job"));
  jobs.release(0);
  queue.enqueue(job(engine::kEngineWorkTypeThumbnail, "b"));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return jobs.started().size() == 2; }, "the second job"));
  EXPECT_EQ(jobs.started(), (std::vector<std::string>{"info a", "thumbnail b"}));
}

}  // namespace
