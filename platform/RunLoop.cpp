#include "platform/RunLoop.h"

#include <algorithm>
#include <string>

#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/TaskQueue.h"

namespace platform {
namespace {

using detail::TaskQueue;

constexpr const char* kMainQueueLabel = "main";

const std::shared_ptr<TaskQueue>& mainTasks() {
  // Never destroyed: other threads still post to it while the process exits.
  static const std::shared_ptr<TaskQueue>& tasks =
      *new std::shared_ptr<TaskQueue>(std::make_shared<TaskQueue>(kMainQueueLabel, DispatchQueue::kDefaultCapacity));
  return tasks;
}

class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : DispatchQueue(kMainQueueLabel, mainTasks()) {}
  bool isCurrent() const override { return RunLoop::main().isMainThread(); }

  using DispatchQueue::exchangeCurrent;
};

}  // namespace

// The calling thread's claim to drive the loop, for one runUntil/drain.
class RunLoop::Driving {
 public:
  explicit Driving(RunLoop& loop) : loop_(loop) {
    const std::thread::id self = std::this_thread::get_id();
    {
      std::lock_guard guard(loop_.mutex_);
      if (loop_.drivingDepth_ > 0 && loop_.drivingThread_ != self) return;
      ++loop_.drivingDepth_;
      loop_.drivingThread_ = self;
      loop_.mainThread_.store(self);
    }
    accepted_ = true;
    previous_ = MainQueue::exchangeCurrent(&DispatchQueue::main());
  }

  ~Driving() {
    if (!accepted_) return;
    MainQueue::exchangeCurrent(previous_);
    std::lock_guard guard(loop_.mutex_);
    --loop_.drivingDepth_;
  }

  Driving(const Driving&) = delete;
  Driving& operator=(const Driving&) = delete;

  bool accepted() const { return accepted_; }

 private:
  RunLoop& loop_;
  bool accepted_ = false;
  DispatchQueue* previous_ = nullptr;
};

RunLoop::RunLoop() : tasks_(mainTasks()) {}

RunLoop& RunLoop::main() {
  // Never destroyed: other threads still post to it while the process exits.
  static RunLoop& loop = *new RunLoop;
  return loop;
}

DispatchQueue& DispatchQueue::main() {
  static MainQueue& queue = *new MainQueue;  // never destroyed, as above
  return queue;
}

bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds realTimeLimit) {
  Driving driving(*this);
  if (!driving.accepted()) {
    reportDiagnostic(DiagnosticLevel::Error, "RunLoop: runUntil refused; another thread is driving the main run loop");
    return false;
  }
  const auto realLimit = std::chrono::steady_clock::now() + realTimeLimit;
  // `done` may read what other threads change without a post, so it is
  // polled; the poll slows down while nothing happens and speeds up again
  // with the next task.
  std::chrono::milliseconds poll = kConditionPollInterval;
  while (true) {
    if (done()) return true;
    const std::size_t ran = drain(&done);
    if (done()) return true;
    const auto realNow = std::chrono::steady_clock::now();
    if (realNow >= realLimit) return false;
    poll = ran > 0 ? kConditionPollInterval : std::min(poll * 2, kIdleConditionPollInterval);
    tasks_->waitForWork(std::min(realLimit, realNow + poll));
  }
}

bool RunLoop::runFor(Clock::Duration duration, std::chrono::milliseconds realTimeLimit) {
  const Clock::TimePoint end = Clock::current().now() + duration;
  return runUntil([end] { return Clock::current().now() >= end; }, realTimeLimit);
}

std::size_t RunLoop::drainReadyTasks() {
  Driving driving(*this);
  if (!driving.accepted()) {
    reportDiagnostic(DiagnosticLevel::Error, "RunLoop: drain refused; another thread is driving the main run loop");
    return 0;
  }
  return drain(nullptr);
}

std::size_t RunLoop::drain(const std::function<bool()>* done) {
  tasks_->acknowledgeWakeUp();
  const std::uint64_t bound = tasks_->markReady();
  std::size_t ran = 0;
  while (!done || !(*done)()) {
    std::optional<TaskQueue::Item> item = tasks_->tryTake(bound);
    if (!item) break;
    if (TaskQueue::run(*item, tasks_->label())) ++ran;
  }
  return ran;
}

std::optional<Clock::TimePoint> RunLoop::nextDeadline() const { return tasks_->nextDeadline(); }

void RunLoop::setWakeUpHandler(std::function<void()> handler) { tasks_->setWakeUpHandler(std::move(handler)); }

void RunLoop::wakeUp() { tasks_->wake(); }

bool RunLoop::attachCurrentThread() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard guard(mutex_);
  if (drivingDepth_ > 0 && drivingThread_ != self) return false;
  mainThread_.store(self);
  return true;
}

bool RunLoop::isMainThread() const { return mainThread_.load() == std::this_thread::get_id(); }

bool isMainThread() { return RunLoop::main().isMainThread(); }

}  // namespace platform
