#include "platform/DispatchQueue.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/RunLoop.h"
#include "platform/TaskQueue.h"
#include "platform/Thread.h"

namespace platform {
namespace {

using detail::TaskControl;
using detail::TaskPhase;
using detail::TaskQueue;

thread_local DispatchQueue* currentQueue = nullptr;

Clock::TimePoint deadlineAfter(Clock::Duration delay) {
  const Clock::TimePoint now = Clock::current().now();
  if (delay > Clock::TimePoint::max() - now) return Clock::TimePoint::max();
  return now + delay;
}

unsigned poolSize(DispatchQueue::Priority priority) {
  const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
  switch (priority) {
    case DispatchQueue::Priority::High:
    case DispatchQueue::Priority::Default:
      return std::min(cores, 4u);
    case DispatchQueue::Priority::Low:
      return 2;
    case DispatchQueue::Priority::Background:
      return 1;
  }
  return 1;
}

}  // namespace

bool TaskHandle::cancel() {
  if (!control_) return false;
  TaskPhase expected = TaskPhase::Pending;
  return control_->phase.compare_exchange_strong(expected, TaskPhase::Cancelled);
}

bool TaskHandle::isPending() const { return control_ && control_->phase.load() == TaskPhase::Pending; }

DispatchQueue::DispatchQueue(std::string label, std::shared_ptr<detail::TaskQueue> tasks)
    : label_(std::move(label)), tasks_(std::move(tasks)) {}

DispatchQueue::~DispatchQueue() = default;

std::size_t DispatchQueue::capacity() const { return tasks_->capacity(); }

std::size_t DispatchQueue::pendingCount() const { return tasks_->pendingCount(); }

bool DispatchQueue::async(Task task) { return tasks_->push(std::move(task)); }

TaskHandle DispatchQueue::after(Clock::Duration delay, Task task) {
  if (delay <= Clock::Duration::zero()) {
    auto control = std::make_shared<TaskControl>();
    if (!tasks_->push(std::move(task), control)) return {};
    return TaskHandle(std::move(control));
  }
  return at(deadlineAfter(delay), std::move(task));
}

TaskHandle DispatchQueue::at(Clock::TimePoint deadline, Task task) {
  auto control = std::make_shared<TaskControl>();
  if (!tasks_->pushAt(deadline, std::move(task), control)) return {};
  return TaskHandle(std::move(control));
}

bool DispatchQueue::sync(Task task, Clock::Duration timeout) {
  if (isCurrent()) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "DispatchQueue '" + label_ + "': sync called from the queue itself; refused (it would deadlock)");
    return false;
  }
  struct Completion {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;  // guarded by mutex
  };
  auto completion = std::make_shared<Completion>();
  auto control = std::make_shared<TaskControl>();
  // `task` is referenced, not copied: a task that did not start by the
  // timeout is cancelled, and one that started is waited for.
  bool accepted = tasks_->push(
      [&task, completion] {
        struct Signal {
          Completion& c;
          ~Signal() {
            {
              std::lock_guard guard(c.mutex);
              c.done = true;
            }
            c.finished.notify_all();
          }
        } signal{*completion};
        task();
      },
      control);
  if (!accepted) return false;

  std::unique_lock lock(completion->mutex);
  if (waitOnCurrentClock(lock, completion->finished, timeout, [&] { return completion->done; })) return true;
  lock.unlock();
  if (TaskHandle(control).cancel()) return false;
  lock.lock();
  // Started just in time: it may write to the caller's stack, so let it finish.
  while (!waitOnCurrentClock(lock, completion->finished, timeout, [&] { return completion->done; })) {
  }
  return true;
}

DispatchQueue* DispatchQueue::current() {
  if (currentQueue) return currentQueue;
  return RunLoop::main().isMainThread() ? &main() : nullptr;
}

DispatchQueue& DispatchQueue::global(Priority priority) {
  // Never destroyed: a task may still run while the process exits, and
  // whatever it touches must outlive it.
  static ConcurrentQueue& high = *new ConcurrentQueue("platform.global.high", poolSize(Priority::High));
  static ConcurrentQueue& normal = *new ConcurrentQueue("platform.global.default", poolSize(Priority::Default));
  static ConcurrentQueue& low = *new ConcurrentQueue("platform.global.low", poolSize(Priority::Low));
  static ConcurrentQueue& background = *new ConcurrentQueue("platform.global.background", poolSize(Priority::Background));
  switch (priority) {
    case Priority::High:
      return high;
    case Priority::Low:
      return low;
    case Priority::Background:
      return background;
    case Priority::Default:
      break;
  }
  return normal;
}

void DispatchQueue::runWorker(DispatchQueue* queue, detail::TaskQueue& tasks) {
  DispatchQueue* previous = exchangeCurrent(queue);
  while (auto item = tasks.takeBlocking()) TaskQueue::run(*item, tasks.label());
  exchangeCurrent(previous);
}

DispatchQueue* DispatchQueue::exchangeCurrent(DispatchQueue* queue) { return std::exchange(currentQueue, queue); }

ConcurrentQueue::ConcurrentQueue(std::string label, unsigned threadCount, std::size_t capacity)
    : DispatchQueue(label, std::make_shared<TaskQueue>(label, capacity)) {
  for (unsigned i = 0; i < threadCount; ++i) {
    threads_.push_back(std::make_unique<Thread>(
        label + "." + std::to_string(i), [this, store = tasks()](std::stop_token) { runWorker(this, *store); }));
  }
}

ConcurrentQueue::~ConcurrentQueue() {
  tasks()->stop();
  threads_.clear();
}

bool ConcurrentQueue::isCurrent() const { return currentQueue == this; }

SerialQueue::SerialQueue(std::string label, std::size_t capacity)
    : DispatchQueue(label, std::make_shared<TaskQueue>(label, capacity)) {
  // The thread holds the task store, not the queue: a task may destroy the queue.
  thread_ = std::make_unique<Thread>(this->label(),
                                     [this, store = tasks()](std::stop_token) { runWorker(this, *store); });
}

SerialQueue::~SerialQueue() {
  tasks()->stop();
  thread_.reset();
}

bool SerialQueue::isCurrent() const { return currentQueue == this; }

}  // namespace platform
