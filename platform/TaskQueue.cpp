#include "platform/TaskQueue.h"

#include <algorithm>
#include <exception>

#include "platform/Diagnostics.h"

namespace platform::detail {
namespace {

using namespace std::chrono_literals;

// An idle consumer re-checks this often even if nothing wakes it, so no wait
// is unbounded; real time, as it only bounds the length of one wait.
constexpr std::chrono::steady_clock::duration kIdleRecheck = 1s;

bool laterFirst(const auto& a, const auto& b) {
  return a.deadline != b.deadline ? a.deadline > b.deadline : a.order > b.order;
}

Clock::TimePoint shifted(Clock::TimePoint point, Clock::Duration by) {
  if (by > Clock::Duration::zero() && point > Clock::TimePoint::max() - by) return Clock::TimePoint::max();
  if (by < Clock::Duration::zero() && point < Clock::TimePoint::min() - by) return Clock::TimePoint::min();
  return point + by;
}

}  // namespace

TaskQueue::TaskQueue(std::string label, std::size_t capacity)
    : label_(std::move(label)), capacity_(capacity == 0 ? 1 : capacity) {
  clockObserver_ = std::make_unique<ClockObserver>(
      [this](ClockObserver::Event event, Clock& previous, Clock& current) { onClockEvent(event, previous, current); });
}

TaskQueue::~TaskQueue() {
  // Stop clock calls first: they touch the state below.
  clockObserver_.reset();
}

std::size_t TaskQueue::pendingCount() const {
  std::lock_guard guard(mutex_);
  return ready_.size() + delayed_.size();
}

template <typename Store>
bool TaskQueue::admit(Store&& store, bool wakeAllConsumers) {
  bool signal = false;
  std::size_t refusedAt = 0;
  bool accepted = false;
  {
    std::lock_guard guard(mutex_);
    if (stopped_) return false;
    const std::size_t pending = ready_.size() + delayed_.size();
    if (pending >= capacity_) {
      if (!refusing_) refusedAt = pending;
      refusing_ = true;
    } else {
      refusing_ = false;
      accepted = true;
      store();
      signal = requestWakeUpLocked();
    }
  }
  if (refusedAt) reportRefusal(refusedAt);
  if (!accepted) return false;
  if (wakeAllConsumers) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
  if (signal) callWakeUpHandler();
  return true;
}

bool TaskQueue::push(Task task, std::shared_ptr<TaskControl> control) {
  return admit([&] { ready_.push_back(Item{std::move(task), std::move(control), nextSequence_++}); }, false);
}

bool TaskQueue::pushAt(Clock::TimePoint deadline, Task task, std::shared_ptr<TaskControl> control) {
  return admit(
      [&] {
        delayed_.push_back(Delayed{deadline, nextOrder_++, Item{std::move(task), std::move(control), 0}});
        std::push_heap(delayed_.begin(), delayed_.end(),
                       [](const Delayed& a, const Delayed& b) { return laterFirst(a, b); });
        ++changes_;  // a sleeping consumer may need an earlier wake-up
      },
      true);
}

std::optional<TaskQueue::Item> TaskQueue::takeBlocking() {
  std::unique_lock lock(mutex_);
  while (true) {
    if (!delayed_.empty()) promoteDueLocked(Clock::current().now());
    if (!ready_.empty()) {
      Item item = std::move(ready_.front());
      ready_.pop_front();
      return item;
    }
    if (stopped_) return std::nullopt;
    lock.unlock();
    waitForWork(std::chrono::steady_clock::now() + kIdleRecheck);
    lock.lock();
  }
}

std::uint64_t TaskQueue::markReady() {
  std::lock_guard guard(mutex_);
  if (!delayed_.empty()) promoteDueLocked(Clock::current().now());
  return nextSequence_;
}

std::optional<TaskQueue::Item> TaskQueue::tryTake(std::uint64_t before) {
  std::lock_guard guard(mutex_);
  if (ready_.empty() || ready_.front().sequence >= before) return std::nullopt;
  Item item = std::move(ready_.front());
  ready_.pop_front();
  return item;
}

void TaskQueue::waitForWork(RealTime realLimit) {
  std::unique_lock lock(mutex_);
  const RealTime realNow = std::chrono::steady_clock::now();
  RealTime wakeAt = std::min(realLimit, realNow + kIdleRecheck);
  if (!delayed_.empty()) {
    // The remaining delay, waited in real time: exact for the system clock; a
    // manual clock instead wakes this wait through the clock observer.
    const Clock::Duration remaining = delayed_.front().deadline - Clock::current().now();
    if (remaining <= Clock::Duration::zero()) return;
    if (remaining < wakeAt - realNow) wakeAt = realNow + remaining;
  }
  const std::uint64_t seen = changes_;
  changed_.wait_until(lock, wakeAt, [&] { return !ready_.empty() || stopped_ || changes_ != seen; });
}

void TaskQueue::wake() {
  {
    std::lock_guard guard(mutex_);
    ++changes_;
  }
  changed_.notify_all();
}

std::optional<Clock::TimePoint> TaskQueue::nextDeadline() const {
  std::lock_guard guard(mutex_);
  if (delayed_.empty()) return std::nullopt;
  return delayed_.front().deadline;
}

void TaskQueue::stop() {
  std::vector<Delayed> dropped;  // destroyed after the lock is released
  {
    std::lock_guard guard(mutex_);
    stopped_ = true;
    dropped.swap(delayed_);
    ++changes_;
  }
  changed_.notify_all();
}

void TaskQueue::setWakeUpHandler(std::function<void()> handler) {
  const bool has = static_cast<bool>(handler);
  {
    std::lock_guard call(handlerMutex_);
    wakeUpHandler_ = std::move(handler);
  }
  {
    std::lock_guard guard(mutex_);
    hasWakeUpHandler_ = has;
    wakeUpPending_ = has;
  }
  // Work queued before the handler existed still needs a drain.
  if (has) callWakeUpHandler();
}

void TaskQueue::acknowledgeWakeUp() {
  std::lock_guard guard(mutex_);
  wakeUpPending_ = false;
}

bool TaskQueue::run(Item& item, const std::string& label) {
  if (item.control) {
    TaskPhase expected = TaskPhase::Pending;
    if (!item.control->phase.compare_exchange_strong(expected, TaskPhase::Running)) return false;
  }
  try {
    item.task();
  } catch (const std::exception& e) {
    reportDiagnostic(DiagnosticLevel::Error, "DispatchQueue '" + label + "': task threw: " + e.what());
  } catch (...) {
    reportDiagnostic(DiagnosticLevel::Error, "DispatchQueue '" + label + "': task threw a non-standard exception");
  }
  if (item.control) item.control->phase.store(TaskPhase::Finished);
  return true;
}

void TaskQueue::promoteDueLocked(Clock::TimePoint now) {
  // Cancelled tasks are promoted too and skipped by run(): destroying them here
  // would run their captures' destructors under the lock.
  while (!delayed_.empty() && delayed_.front().deadline <= now) {
    std::pop_heap(delayed_.begin(), delayed_.end(), [](const Delayed& a, const Delayed& b) { return laterFirst(a, b); });
    Item item = std::move(delayed_.back().item);
    delayed_.pop_back();
    item.sequence = nextSequence_++;
    ready_.push_back(std::move(item));
  }
}

bool TaskQueue::requestWakeUpLocked() {
  if (!hasWakeUpHandler_ || wakeUpPending_) return false;
  wakeUpPending_ = true;
  return true;
}

void TaskQueue::callWakeUpHandler() {
  std::lock_guard call(handlerMutex_);
  if (wakeUpHandler_) wakeUpHandler_();
}

void TaskQueue::reportRefusal(std::size_t pending) {
  reportDiagnostic(DiagnosticLevel::Error, "DispatchQueue '" + label_ + "': full with " + std::to_string(pending) +
                                               " pending tasks; refusing new tasks");
}

void TaskQueue::onClockEvent(ClockObserver::Event event, Clock& previous, Clock& current) {
  bool signal = false;
  {
    std::lock_guard guard(mutex_);
    if (event == ClockObserver::Event::Replaced) {
      const Clock::Duration delta = current.now() - previous.now();
      for (Delayed& d : delayed_) d.deadline = shifted(d.deadline, delta);
      std::make_heap(delayed_.begin(), delayed_.end(), [](const Delayed& a, const Delayed& b) { return laterFirst(a, b); });
      if (!delayed_.empty()) signal = requestWakeUpLocked();
    } else if (!delayed_.empty() && delayed_.front().deadline <= current.now()) {
      promoteDueLocked(current.now());
      signal = requestWakeUpLocked();
    }
    ++changes_;
  }
  changed_.notify_all();
  if (signal) callWakeUpHandler();
}

}  // namespace platform::detail
