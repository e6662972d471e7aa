#include "platform/Clock.h"

#include <atomic>
#include <vector>

namespace platform {
namespace {

std::atomic<Clock*> currentClock{nullptr};

}  // namespace

Clock& Clock::system() {
  static SystemClock clock;
  return clock;
}

Clock& Clock::current() {
  Clock* clock = currentClock.load(std::memory_order_acquire);
  return clock ? *clock : system();
}

ScopedClockOverride::ScopedClockOverride(Clock& clock)
    : previous_(currentClock.exchange(&clock, std::memory_order_acq_rel)) {}

ScopedClockOverride::~ScopedClockOverride() { currentClock.store(previous_, std::memory_order_release); }

ManualClock::ManualClock(WallTime wallStart) : now_(TimePoint{} + std::chrono::hours(1)), wall_(wallStart) {}

Clock::TimePoint ManualClock::now() const {
  std::lock_guard guard(mutex_);
  return now_;
}

Clock::WallTime ManualClock::wallNow() const {
  std::lock_guard guard(mutex_);
  return wall_;
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
  bool result = false;
  while (true) {
    if (ready()) {
      result = true;
      break;
    }
    if (now() >= deadline) break;
    cv.wait(lock);
  }
  // Removing the waker while holding the waiter's mutex could deadlock against a
  // concurrent advance that is about to lock it.
  lock.unlock();
  removeAdvanceObserver(token);
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
