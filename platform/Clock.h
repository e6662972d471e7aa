#pragma once
// Time source for every time limit in the system (reply limits, polling ticks,
// reconnect timers, delayed checks). Production code uses the system clock;
// tests install a ManualClock and advance it, so no test waits for real time.
//
// Waits that must end at a deadline go through Clock::waitUntil (condition
// variables) or register a wake-up with addAdvanceObserver (poll loops), so an
// advance of a manual clock reaches every waiter at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace platform {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;

  // Monotonic time for deadlines and intervals.
  virtual TimePoint now() const = 0;
  // Calendar time for dates shown or stored (log file names, timestamps).
  virtual WallTime wallNow() const = 0;

  // Waits on `cv` with `lock` held until `ready()` holds or the clock reaches
  // `deadline`. Returns ready(). Spurious wake-ups are handled here.
  virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                         const std::function<bool()>& ready) = 0;

  bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Duration timeout,
               const std::function<bool()>& ready) {
    return waitUntil(lock, cv, now() + timeout, ready);
  }

  // Called (on the advancing thread) whenever a manual clock moves; the system
  // clock never calls it. Returns a token for removeAdvanceObserver.
  virtual std::uint64_t addAdvanceObserver(std::function<void()> observer) = 0;
  virtual void removeAdvanceObserver(std::uint64_t token) = 0;

  // The process-wide clock: the system clock unless a test replaced it.
  static Clock& current();
  static Clock& system();
};

class SystemClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  WallTime wallNow() const override { return std::chrono::system_clock::now(); }
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                 const std::function<bool()>& ready) override {
    return cv.wait_until(lock, deadline, ready);
  }
  std::uint64_t addAdvanceObserver(std::function<void()>) override { return 0; }
  void removeAdvanceObserver(std::uint64_t) override {}
};

// A clock that moves only when told. Waiters blocked in waitUntil are woken by
// advance(); their deadline is then checked against the new time.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(WallTime wallStart = WallTime{std::chrono::hours(24 * 365 * 50)});

  TimePoint now() const override;
  WallTime wallNow() const override;
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                 const std::function<bool()>& ready) override;
  std::uint64_t addAdvanceObserver(std::function<void()> observer) override;
  void removeAdvanceObserver(std::uint64_t token) override;

  void advance(Duration by);
  // Moves calendar time only (e.g. across midnight); monotonic time is unchanged.
  void setWallTime(WallTime wall);

 private:
  void wakeAll();

  std::mutex wakeMutex_;  // held while observers run; taken before mutex_
  mutable std::mutex mutex_;
  TimePoint now_;    // guarded by mutex_
  WallTime wall_;    // guarded by mutex_
  std::uint64_t nextToken_ = 1;                             // guarded by mutex_
  std::map<std::uint64_t, std::function<void()>> wakers_;  // guarded by mutex_
};

// Installs a clock as Clock::current() for the lifetime of this object (tests).
class ScopedClockOverride {
 public:
  explicit ScopedClockOverride(Clock& clock);
  ~ScopedClockOverride();
  ScopedClockOverride(const ScopedClockOverride&) = delete;
  ScopedClockOverride& operator=(const ScopedClockOverride&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
