#include "platform/StrandQueue.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/TaskQueue.h"

namespace platform {
namespace {

// Tasks run per turn on the pool before the strand yields its thread to
// other strands; it is queued again at once if more are ready.
constexpr int kTasksPerTurn = 64;

}  // namespace

struct StrandQueue::State {
  std::shared_ptr<detail::TaskQueue> tasks;
  std::mutex mutex;
  std::condition_variable idle;
  StrandQueue* owner = nullptr;         // guarded by mutex; null once destroyed
  bool scheduled = false;               // guarded by mutex: a drain is queued on the pool
  bool draining = false;                // guarded by mutex
  bool again = false;                   // guarded by mutex: woken while draining
  std::thread::id drainThread;          // guarded by mutex
  TaskHandle timer;                     // guarded by mutex: wakes the strand for its next deadline
  std::optional<Clock::TimePoint> armedDeadline;  // guarded by mutex
};

StrandQueue::StrandQueue(std::string label, std::size_t capacity)
    : DispatchQueue(label, std::make_shared<detail::TaskQueue>(label, capacity)), state_(std::make_shared<State>()) {
  state_->tasks = tasks();
  state_->owner = this;
  std::weak_ptr<State> weak = state_;
  tasks()->setWakeUpHandler([weak] {
    if (auto state = weak.lock()) scheduleDrain(state);
  });
}

StrandQueue::~StrandQueue() {
  tasks()->setWakeUpHandler({});
  tasks()->stop();
  std::unique_lock lock(state_->mutex);
  state_->owner = nullptr;
  state_->timer.cancel();
  if (state_->draining && state_->drainThread == std::this_thread::get_id()) return;  // the drain finishes the rest
  // A drain on the pool runs tasks that may refer to this queue: let it end.
  state_->idle.wait(lock, [&] { return !state_->draining; });
  lock.unlock();
  DispatchQueue* previous = exchangeCurrent(this);
  const std::uint64_t bound = tasks()->markReady();
  while (auto item = tasks()->tryTake(bound)) detail::TaskQueue::run(*item, label());
  exchangeCurrent(previous);
}

bool StrandQueue::isCurrent() const { return DispatchQueue::current() == this; }

void StrandQueue::scheduleDrain(const std::shared_ptr<State>& state) {
  std::lock_guard guard(state->mutex);
  if (!state->owner) return;
  if (state->draining) {
    state->again = true;
    return;
  }
  if (state->scheduled) return;
  // Installing the handler calls it once with nothing queued: a drain then
  // would only wake a pool thread for nothing. Acknowledge first, so a push
  // racing with the check calls the handler again.
  state->tasks->acknowledgeWakeUp();
  if (state->tasks->pendingCount() == 0) return;
  state->scheduled = true;
  DispatchQueue::global().async([state] { drain(state); });
}

void StrandQueue::drain(const std::shared_ptr<State>& state) {
  StrandQueue* owner = nullptr;
  {
    std::lock_guard guard(state->mutex);
    state->scheduled = false;
    if (!state->owner || state->draining) return;
    owner = state->owner;
    state->draining = true;
    state->again = false;
    state->drainThread = std::this_thread::get_id();
  }
  detail::TaskQueue& tasks = *state->tasks;
  DispatchQueue* previous = exchangeCurrent(owner);
  tasks.acknowledgeWakeUp();
  std::uint64_t bound = tasks.markReady();
  int ran = 0;
  bool more = false;
  while (!more) {
    std::optional<detail::TaskQueue::Item> item = tasks.tryTake(bound);
    if (item) {
      detail::TaskQueue::run(*item, tasks.label());
      more = ++ran == kTasksPerTurn;
      continue;
    }
    // Tasks posted meanwhile (mostly by the tasks just run) join this turn
    // instead of costing another trip through the pool.
    {
      std::lock_guard guard(state->mutex);
      state->again = false;
    }
    tasks.acknowledgeWakeUp();
    const std::uint64_t next = tasks.markReady();
    if (next == bound) break;
    bound = next;
  }
  exchangeCurrent(previous);

  const std::optional<Clock::TimePoint> deadline = tasks.nextDeadline();
  std::lock_guard guard(state->mutex);
  state->draining = false;
  state->idle.notify_all();
  if (!state->owner) return;
  if (more || state->again || tasks.markReady() != bound) {
    state->again = false;
    state->scheduled = true;
    DispatchQueue::global().async([state] { drain(state); });
  }
  // The next delayed task needs a wake-up; a manual clock's advance also wakes
  // the strand through its task store, the system clock only through this.
  if (deadline && deadline != state->armedDeadline) {
    state->timer.cancel();
    state->armedDeadline = deadline;
    std::weak_ptr<State> weak = state;
    state->timer = DispatchQueue::global().at(*deadline, [weak] {
      if (auto s = weak.lock()) scheduleDrain(s);
    });
  }
}

}  // namespace platform
