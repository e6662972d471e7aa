#pragma once
// Semaphore and DispatchGroup: counting and joining primitives whose waits are
// bounded on Clock::current() (a ManualClock advance ends them at once; if the
// clock is replaced during a wait, the wait starts over on the new clock).

#include <cstdint>
#include <memory>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace platform {

// Semaphore: a counting semaphore. Owned by its creator, who keeps it alive
// while any thread may wait on or signal it; all members are safe from any
// thread. Each signal() lets exactly one wait() through, waiters or not.
class Semaphore {
 public:
  explicit Semaphore(std::int64_t initial = 0);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Takes one unit, waiting up to `timeout`; false when none came in time.
  bool wait(Clock::Duration timeout);
  void signal();

 private:
  std::mutex mutex_;
  std::condition_variable signalled_;
  std::int64_t count_;  // guarded by mutex_
};

// DispatchGroup: counts outstanding work (enter/leave) and runs notifications
// when the count returns to zero. The state is shared with the tasks the group
// tracks, so the group object may be destroyed while they run; notifications
// registered earlier still run. Queues passed to notify() must outlive the
// notification. All members are safe from any thread.
class DispatchGroup {
 public:
  DispatchGroup();
  ~DispatchGroup();
  DispatchGroup(const DispatchGroup&) = delete;
  DispatchGroup& operator=(const DispatchGroup&) = delete;

  void enter();
  // One leave per enter; an unmatched leave is reported and ignored.
  void leave();
  // enter(), then `task` on `queue`, then leave() once the task is done (or
  // was dropped unrun, e.g. refused or still queued when its queue went away).
  // False when the queue refused the task.
  bool async(DispatchQueue& queue, DispatchQueue::Task task);
  // Posts `task` to `queue` once the count is zero: at once if it is zero now,
  // else when the last leave() comes. Each notification runs once.
  void notify(DispatchQueue& queue, DispatchQueue::Task task);
  // Waits up to `timeout` for the count to be zero; false on timeout.
  bool wait(Clock::Duration timeout);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
