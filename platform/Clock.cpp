#include "platform/Clock.h"

#include <atomic>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace platform {

namespace detail {

struct ClockObserverEntry {
  explicit ClockObserverEntry(ClockObserver::Callback cb) : callback(std::move(cb)) {}

  const ClockObserver::Callback callback;

  // Serialises moving the advance registration from clock to clock. Never held
  // while the callback runs: a concurrent advance may be waiting for callMutex
  // while holding the clock's wake lock, which removeAdvanceObserver needs.
  std::mutex registrationMutex;
  Clock* registeredOn = nullptr;    // guarded by registrationMutex
  std::uint64_t advanceToken = 0;   // guarded by registrationMutex
  bool removed = false;             // guarded by registrationMutex

  std::mutex callMutex;  // held while the callback runs, so removal waits it out
  bool active = true;    // guarded by callMutex
};

}  // namespace detail

namespace {

using detail::ClockObserverEntry;

std::atomic<Clock*> currentClock{nullptr};

// Every live ClockObserver. Its mutex also orders clock replacement against
// observer registration, so no observer stays registered on a replaced clock.
struct ObserverRegistry {
  std::mutex mutex;
  std::uint64_t nextId = 1;                                             // guarded by mutex
  std::map<std::uint64_t, std::shared_ptr<ClockObserverEntry>> entries;  // guarded by mutex
};

ObserverRegistry& observerRegistry() {
  // Never destroyed: threads still running while the process exits use it.
  static ObserverRegistry& registry = *new ObserverRegistry;
  return registry;
}

void invoke(ClockObserverEntry& entry, ClockObserver::Event event, Clock& previous, Clock& current) {
  std::lock_guard call(entry.callMutex);
  if (entry.active) entry.callback(event, previous, current);
}

// Registers `entry` for advances of `clock`, dropping its previous registration.
void follow(const std::shared_ptr<ClockObserverEntry>& entry, Clock& clock) {
  std::lock_guard guard(entry->registrationMutex);
  if (entry->removed || entry->registeredOn == &clock) return;
  if (entry->registeredOn) entry->registeredOn->removeAdvanceObserver(entry->advanceToken);
  std::weak_ptr<ClockObserverEntry> weak = entry;
  entry->registeredOn = &clock;
  entry->advanceToken = clock.addAdvanceObserver([weak, &clock] {
    if (auto strong = weak.lock()) invoke(*strong, ClockObserver::Event::Advanced, clock, clock);
  });
}

Clock& orSystem(Clock* clock) { return clock ? *clock : Clock::system(); }

// Makes `next` current (nullptr: the system clock) and returns the clock it replaced.
Clock* replaceCurrentClock(Clock* next) {
  ObserverRegistry& registry = observerRegistry();
  std::vector<std::shared_ptr<ClockObserverEntry>> entries;
  Clock* previous = nullptr;
  {
    std::lock_guard guard(registry.mutex);
    previous = currentClock.exchange(next, std::memory_order_acq_rel);
    entries.reserve(registry.entries.size());
    for (auto& [id, entry] : registry.entries) entries.push_back(entry);
  }
  Clock& from = orSystem(previous);
  Clock& to = orSystem(next);
  if (&from == &to) return previous;
  for (auto& entry : entries) {
    follow(entry, to);
    invoke(*entry, ClockObserver::Event::Replaced, from, to);
  }
  from.wakeWaiters();
  return previous;
}

}  // namespace

Clock& Clock::system() {
  static SystemClock& clock = *new SystemClock;  // never destroyed, as above
  return clock;
}

Clock& Clock::current() {
  Clock* clock = currentClock.load(std::memory_order_acquire);
  return clock ? *clock : system();
}

bool waitOnCurrentClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Clock::Duration timeout,
                        const std::function<bool()>& ready) {
  Clock* clock = &Clock::current();
  Clock::TimePoint deadline = clock->now() + timeout;
  while (true) {
    if (clock->waitUntil(lock, cv, deadline, ready)) return true;
    Clock* now = &Clock::current();
    if (now == clock) return false;
    // The old clock may be gone once its wait returned: start over on the new one.
    clock = now;
    deadline = clock->now() + timeout;
  }
}

ScopedClockOverride::ScopedClockOverride(Clock& clock) : previous_(replaceCurrentClock(&clock)) {}

ScopedClockOverride::~ScopedClockOverride() { replaceCurrentClock(previous_); }

ClockObserver::ClockObserver(Callback callback)
    : entry_(std::make_shared<ClockObserverEntry>(std::move(callback))) {
  ObserverRegistry& registry = observerRegistry();
  std::lock_guard guard(registry.mutex);
  registry.entries.emplace(registry.nextId++, entry_);
  follow(entry_, Clock::current());
}

ClockObserver::~ClockObserver() {
  ObserverRegistry& registry = observerRegistry();
  {
    // Leaving the registry and the clock in one step: were the registry lock
    // dropped in between, a clock replacement could pass this entry by and its
    // owner destroy the replaced clock while the entry still points at it.
    std::lock_guard guard(registry.mutex);
    std::erase_if(registry.entries, [&](const auto& item) { return item.second == entry_; });
    std::lock_guard registration(entry_->registrationMutex);
    if (entry_->registeredOn) entry_->registeredOn->removeAdvanceObserver(entry_->advanceToken);
    entry_->registeredOn = nullptr;
    entry_->removed = true;
  }
  std::lock_guard call(entry_->callMutex);
  entry_->active = false;
}

ManualClock::ManualClock(WallTime wallStart) : now_(TimePoint{} + std::chrono::hours(1)), wall_(wallStart) {}

ManualClock::~ManualClock() {
  if (currentClock.load(std::memory_order_acquire) == this) {
    reportDiagnostic(DiagnosticLevel::Error, "ManualClock destroyed while still installed as the current clock");
  }
  {
    std::lock_guard guard(mutex_);
    retired_ = true;
  }
  wakeAll();
  // Woken waiters still touch this clock on their way out of waitUntil. The
  // limit is real time: this clock is the one going away.
  std::unique_lock lock(mutex_);
  if (!waitersLeft_.wait_for(lock, std::chrono::seconds(10), [this] { return waiters_ == 0; })) {
    reportDiagnostic(DiagnosticLevel::Error, "ManualClock destroyed while " + std::to_string(waiters_) +
                                                 " thread(s) still wait on it");
  }
}

Clock::TimePoint ManualClock::now() const {
  std::lock_guard guard(mutex_);
  return now_;
}

Clock::WallTime ManualClock::wallNow() const {
  std::lock_guard guard(mutex_);
  return wall_;
}

std::size_t ManualClock::waiterCount() const {
  std::lock_guard guard(mutex_);
  return waiters_;
}

bool ManualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                            const std::function<bool()>& ready) {
  // The waker takes the waiter's mutex before notifying, so an advance that
  // lands between the deadline check and cv.wait() cannot be missed.
  std::mutex* waiterMutex = lock.mutex();
  std::uint64_t token = addAdvanceObserver([waiterMutex, &cv] {
    std::lock_guard guard(*waiterMutex);
    cv.notify_all();
  });
  {
    std::lock_guard guard(mutex_);
    ++waiters_;
  }
  // A wait on a clock that is replaced would otherwise never end: nobody
  // advances a clock that is no longer current.
  const bool wasCurrent = currentClock.load(std::memory_order_acquire) == this;
  bool result = false;
  while (true) {
    if (ready()) {
      result = true;
      break;
    }
    bool over = false;
    {
      std::lock_guard guard(mutex_);
      over = now_ >= deadline || retired_;
    }
    if (over || (wasCurrent && currentClock.load(std::memory_order_acquire) != this)) break;
    cv.wait(lock);
  }
  // Removing the waker while holding the waiter's mutex could deadlock against a
  // concurrent advance that is about to lock it.
  lock.unlock();
  removeAdvanceObserver(token);
  {
    std::lock_guard guard(mutex_);
    --waiters_;
    waitersLeft_.notify_all();
  }
  lock.lock();
  return result || ready();
}

std::uint64_t ManualClock::addAdvanceObserver(std::function<void()> observer) {
  std::lock_guard guard(mutex_);
  std::uint64_t token = nextToken_++;
  wakers_.emplace(token, std::move(observer));
  return token;
}

void ManualClock::removeAdvanceObserver(std::uint64_t token) {
  // Waits for a wake-up in progress, so the observer never runs after removal.
  std::lock_guard waking(wakeMutex_);
  std::lock_guard guard(mutex_);
  wakers_.erase(token);
}

void ManualClock::advance(Duration by) {
  {
    std::lock_guard guard(mutex_);
    now_ += by;
    wall_ += std::chrono::duration_cast<WallTime::duration>(by);
  }
  wakeAll();
}

void ManualClock::setWallTime(WallTime wall) {
  {
    std::lock_guard guard(mutex_);
    wall_ = wall;
  }
  wakeAll();
}

void ManualClock::wakeAll() {
  std::lock_guard waking(wakeMutex_);
  std::vector<std::function<void()>> wakers;
  {
    std::lock_guard guard(mutex_);
    for (auto& [token, waker] : wakers_) wakers.push_back(waker);
  }
  for (auto& waker : wakers) waker();
}

}  // namespace platform
