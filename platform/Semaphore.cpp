#include "platform/Semaphore.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Diagnostics.h"

namespace platform {

Semaphore::Semaphore(std::int64_t initial) : count_(initial) {}

bool Semaphore::wait(Clock::Duration timeout) {
  std::unique_lock lock(mutex_);
  if (!waitOnCurrentClock(lock, signalled_, timeout, [this] { return count_ > 0; })) return false;
  --count_;
  return true;
}

void Semaphore::signal() {
  {
    std::lock_guard guard(mutex_);
    ++count_;
  }
  signalled_.notify_one();
}

struct DispatchGroup::State {
  struct Pending {
    DispatchQueue* queue;  // not owned; outlives the notification
    DispatchQueue::Task task;
  };

  std::mutex mutex;
  std::condition_variable empty;
  std::int64_t count = 0;                   // guarded by mutex
  std::vector<Pending> notifications;  // guarded by mutex

  void leave() {
    std::vector<Pending> due;
    {
      std::lock_guard guard(mutex);
      if (count == 0) {
        reportDiagnostic(DiagnosticLevel::Error, "DispatchGroup: leave() without a matching enter(); ignored");
        return;
      }
      if (--count > 0) return;
      due.swap(notifications);
    }
    empty.notify_all();
    // Posted outside the lock: a queue may run the task (and re-enter) at once.
    for (Pending& n : due) n.queue->async(std::move(n.task));
  }
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
  std::lock_guard guard(state_->mutex);
  ++state_->count;
}

void DispatchGroup::leave() { state_->leave(); }

bool DispatchGroup::async(DispatchQueue& queue, DispatchQueue::Task task) {
  enter();
  // Leaves when the task object goes, so a task that threw, was refused or
  // was dropped unrun still balances the enter.
  struct Leaver {
    std::shared_ptr<State> state;
    ~Leaver() { state->leave(); }
  };
  std::shared_ptr<Leaver> leaver(new Leaver{state_});
  return queue.async([leaver = std::move(leaver), task = std::move(task)] { task(); });
}

void DispatchGroup::notify(DispatchQueue& queue, DispatchQueue::Task task) {
  {
    std::lock_guard guard(state_->mutex);
    if (state_->count > 0) {
      state_->notifications.push_back({&queue, std::move(task)});
      return;
    }
  }
  queue.async(std::move(task));
}

bool DispatchGroup::wait(Clock::Duration timeout) {
  std::unique_lock lock(state_->mutex);
  return waitOnCurrentClock(lock, state_->empty, timeout, [this] { return state_->count == 0; });
}

}  // namespace platform
