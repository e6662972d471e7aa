#pragma once
// DispatchQueue: where work runs. A queue takes tasks from any thread and runs
// them on the thread(s) it stands for: its own thread (SerialQueue), a small
// pool (the global queues) or the thread driving the main run loop (main()).
//
// Guarantees, for every queue:
// - async() never runs the task inside the call, even when posting to the
//   current queue; tasks posted from one thread start in posting order (and,
//   on a serial queue or main(), finish in that order).
// - after()/at() deadlines are on Clock::current(). With a ManualClock, a task
//   becomes due when the clock is advanced past its deadline and then runs
//   without any further real waiting; if the clock is replaced, a pending
//   task keeps its remaining delay.
// - each queue is bounded: beyond capacity() pending tasks (ready plus
//   delayed), async/after/sync refuse the task and report it once per overflow.
// - a task that throws is reported with the queue's label; the queue goes on.
// - sync() waits at most its timeout and refuses (with a report) to wait on the
//   queue it is called from.
//
// Queue objects are owned by whoever creates them (main() and global() live for
// the whole process); every member is safe from any thread.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace platform {

class Thread;

namespace detail {
class TaskQueue;
struct TaskControl;
}  // namespace detail

// Handle to one delayed task: cancel() stops it if it has not started. Copies
// refer to the same task. A default-constructed handle (also what a refusing
// queue returns) refers to none.
class TaskHandle {
 public:
  TaskHandle() = default;

  // True when this call stopped the task from running; false when it already
  // ran, is running, was cancelled before or the handle is empty.
  bool cancel();
  // Scheduled and neither started nor cancelled.
  bool isPending() const;
  explicit operator bool() const { return control_ != nullptr; }

 private:
  friend class DispatchQueue;
  explicit TaskHandle(std::shared_ptr<detail::TaskControl> control) : control_(std::move(control)) {}

  std::shared_ptr<detail::TaskControl> control_;
};

class DispatchQueue {
 public:
  using Task = std::function<void()>;
  enum class Priority { High = 1, Default = 2, Low = 3, Background = 4 };
  static constexpr std::size_t kDefaultCapacity = 100000;

  virtual ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  const std::string& label() const { return label_; }
  std::size_t capacity() const;
  // Tasks waiting to run (ready plus delayed, including cancelled ones whose
  // deadline has not come yet).
  std::size_t pendingCount() const;

  // Queues `task`; false if the queue is full or shutting down.
  bool async(Task task);
  // Runs `task` once `delay` has passed on Clock::current(); a non-positive
  // delay queues it like async(). Empty handle when refused.
  TaskHandle after(Clock::Duration delay, Task task);
  // Runs `task` once Clock::current() reaches `deadline` (a repeating timer
  // schedules against its previous deadline this way, so it does not drift).
  TaskHandle at(Clock::TimePoint deadline, Task task);
  // Runs `task` on this queue and waits for it. Returns false, and the task
  // never runs, if it did not start within `timeout` on Clock::current(); a
  // task that has started is waited for until it finishes (it may refer to the
  // caller's stack). Refuses at once (false, reported) when called on this
  // queue itself, which could only deadlock, and when the queue refuses.
  bool sync(Task task, Clock::Duration timeout);

  // True when the caller runs on (one of) this queue's thread(s) inside a task
  // of this queue; for main(), when on the thread driving the main run loop.
  virtual bool isCurrent() const = 0;
  // The queue whose task is running on this thread; main() on the main
  // thread; otherwise nullptr.
  static DispatchQueue* current();

  // Runs on the thread that drives RunLoop::main() (see RunLoop.h).
  static DispatchQueue& main();
  // Process-wide concurrent queues, one small fixed pool per priority; a
  // separate pool per priority keeps background work from starving high.
  static DispatchQueue& global(Priority priority = Priority::Default);

 protected:
  DispatchQueue(std::string label, std::shared_ptr<detail::TaskQueue> tasks);
  const std::shared_ptr<detail::TaskQueue>& tasks() const { return tasks_; }

  // Consumer loop for queues with threads of their own: runs tasks with
  // `queue` as the current queue until `tasks` is stopped and drained.
  static void runWorker(DispatchQueue* queue, detail::TaskQueue& tasks);

  // Marks the calling thread as running `queue`'s tasks; returns the previous
  // mark for restoring.
  static DispatchQueue* exchangeCurrent(DispatchQueue* queue);

 private:
  const std::string label_;
  const std::shared_ptr<detail::TaskQueue> tasks_;
};

// SerialQueue: a labelled queue with one thread of its own (named from the
// label); tasks run one at a time, in FIFO order. Owned by the object that
// created it. Destruction refuses new tasks, runs the tasks already queued,
// drops delayed tasks not yet due, then joins the thread. Destroying it from
// one of its own tasks is allowed: the thread finishes the queued tasks after
// that task returns and is joined later, never detached.
class SerialQueue final : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label, std::size_t capacity = kDefaultCapacity);
  ~SerialQueue() override;

  bool isCurrent() const override;

 private:
  std::unique_ptr<Thread> thread_;
};

// ConcurrentQueue: a labelled queue over a fixed pool of threads of its own;
// tasks start in FIFO order and run side by side, up to one per thread. The
// global queues are such pools. Owned by its creator; destruction refuses new
// tasks, runs those already queued, drops delayed ones and joins the threads.
class ConcurrentQueue final : public DispatchQueue {
 public:
  ConcurrentQueue(std::string label, unsigned threadCount, std::size_t capacity = kDefaultCapacity);
  ~ConcurrentQueue() override;

  bool isCurrent() const override;

 private:
  std::vector<std::unique_ptr<Thread>> threads_;
};

}  // namespace platform
