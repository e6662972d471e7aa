#pragma once
// TaskQueue: the pending-task store behind every DispatchQueue; internal to the
// dispatch classes (DispatchQueue, SerialQueue, the global queues, RunLoop).
// It holds ready tasks in FIFO order and delayed tasks ordered by deadline on
// Clock::current(); a consumer (a serial queue's thread, a global pool, the
// thread driving the main run loop) takes and runs them.
//
// Shared by the queue object and its consumers; every member is safe from any
// thread. Guarantees:
// - ready + delayed tasks never exceed capacity(); pushes beyond it fail.
// - when a manual clock's advance() returns, the delayed tasks it made due are
//   queued as ready, ahead of anything posted afterwards.
// - when the clock is replaced, each delayed task keeps its remaining delay.
// - after stop(), pushes fail and delayed tasks are dropped; tasks already
//   ready can still be taken, so owners can drain them.
// - task objects (and their captures) are never destroyed under the lock.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace platform::detail {

enum class TaskPhase { Pending = 0, Running = 1, Finished = 2, Cancelled = 3 };

// Shared by a queued task and its TaskHandle; the phase moves once from Pending
// to Running (the queue) or Cancelled (the handle), which decides who wins.
struct TaskControl {
  std::atomic<TaskPhase> phase{TaskPhase::Pending};
};

class TaskQueue {
 public:
  using Task = std::function<void()>;
  using RealTime = std::chrono::steady_clock::time_point;

  struct Item {
    Task task;
    std::shared_ptr<TaskControl> control;  // null for tasks that cannot be cancelled
    std::uint64_t sequence = 0;            // order of becoming ready
  };

  TaskQueue(std::string label, std::size_t capacity);
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  const std::string& label() const { return label_; }
  std::size_t capacity() const { return capacity_; }
  std::size_t pendingCount() const;

  // Producers: false when full (reported) or stopped (silent).
  bool push(Task task, std::shared_ptr<TaskControl> control = nullptr);
  bool pushAt(Clock::TimePoint deadline, Task task, std::shared_ptr<TaskControl> control);

  // Consumer with its own thread: the next ready task, waiting for one as long
  // as needed in bounded steps; nullopt once stopped with nothing ready.
  std::optional<Item> takeBlocking();

  // Consumer that drains in rounds (the main run loop): markReady() promotes
  // due tasks and returns the bound of this round; tryTake(bound) then yields
  // ready tasks that were queued before the round began.
  std::uint64_t markReady();
  std::optional<Item> tryTake(std::uint64_t before);
  // Returns when a task is ready or becomes due, the clock moves or is
  // replaced, wake() is called, or at `realLimit`, whichever is first.
  void waitForWork(RealTime realLimit);
  void wake();

  std::optional<Clock::TimePoint> nextDeadline() const;
  void stop();

  // For a consumer driven by another event loop: `handler` is called (any
  // thread, no lock held) when the queue may need a drain or a new timer: a
  // task became ready, a delayed task was added, or the clock was replaced.
  // Calls are coalesced until acknowledgeWakeUp(), which a drain calls first.
  // Setting the handler waits for a call in progress; never set it from within.
  void setWakeUpHandler(std::function<void()> handler);
  void acknowledgeWakeUp();

  // Runs `item` unless it was cancelled; an exception is reported with the
  // label. True when the task ran.
  static bool run(Item& item, const std::string& label);

 private:
  struct Delayed {
    Clock::TimePoint deadline;
    std::uint64_t order;  // keeps equal deadlines in posting order
    Item item;
  };

  // The capacity rule shared by push() and pushAt(): runs `store` under the
  // lock when there is room, reports the first refusal of a run, then wakes
  // one consumer or, when the delayed set changed, all of them.
  template <typename Store>
  bool admit(Store&& store, bool wakeAllConsumers);
  void promoteDueLocked(Clock::TimePoint now);
  bool requestWakeUpLocked();
  void callWakeUpHandler();
  void reportRefusal(std::size_t pending);
  void onClockEvent(ClockObserver::Event event, Clock& previous, Clock& current);

  const std::string label_;
  const std::size_t capacity_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> ready_;          // guarded by mutex_
  std::vector<Delayed> delayed_;    // guarded by mutex_; a heap, earliest first
  std::uint64_t nextSequence_ = 1;  // guarded by mutex_
  std::uint64_t nextOrder_ = 1;     // guarded by mutex_
  std::uint64_t changes_ = 0;       // guarded by mutex_; bumped on clock moves and wake()
  bool stopped_ = false;            // guarded by mutex_
  bool refusing_ = false;           // guarded by mutex_; one report per overflow
  bool hasWakeUpHandler_ = false;   // guarded by mutex_
  bool wakeUpPending_ = false;      // guarded by mutex_

  std::mutex handlerMutex_;             // held while the wake-up handler runs
  std::function<void()> wakeUpHandler_;  // guarded by handlerMutex_

  // Last member: it calls back into the state above until destroyed.
  std::unique_ptr<ClockObserver> clockObserver_;
};

}  // namespace platform::detail
