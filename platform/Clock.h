#pragma once
// Time source for every time limit in the system (reply limits, polling ticks,
// reconnect timers, delayed checks). Production code uses the system clock;
// tests install a ManualClock and advance it, so no test waits for real time.
//
// Waits that must end at a deadline go through Clock::waitUntil (condition
// variables), register a wake-up with addAdvanceObserver (poll loops), or follow
// whichever clock is current with a ClockObserver (threads that outlive a test's
// clock), so an advance of a manual clock reaches every waiter at once.
//
// Replacing the clock (ScopedClockOverride) wakes every thread blocked in the
// replaced manual clock's waitUntil: the wait returns ready(), usually false, and
// the caller re-checks against the new Clock::current().

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace detail {
struct ClockObserverEntry;
}  // namespace detail

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

  // Wakes every thread blocked in this clock's waitUntil so it re-checks; called
  // when the clock stops being Clock::current(). The system clock's waits end by
  // their real deadline instead.
  virtual void wakeWaiters() {}

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
// advance(); their deadline is then checked against the new time. A wait also
// ends (returning ready()) when the clock, current when the wait began, is
// replaced, or when the clock is destroyed; the destructor waits for such
// waiters to leave. Advance observers run on the advancing thread and must not
// call advance(), setWallTime() or removeAdvanceObserver() themselves.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(WallTime wallStart = WallTime{std::chrono::hours(24 * 365 * 50)});
  ~ManualClock() override;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  TimePoint now() const override;
  WallTime wallNow() const override;
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                 const std::function<bool()>& ready) override;
  std::uint64_t addAdvanceObserver(std::function<void()> observer) override;
  void removeAdvanceObserver(std::uint64_t token) override;
  void wakeWaiters() override { wakeAll(); }

  void advance(Duration by);
  // Moves calendar time only (e.g. across midnight); monotonic time is unchanged.
  void setWallTime(WallTime wall);

  // Threads blocked in waitUntil right now, so a test can advance the clock
  // only once the thread it means to time out has started waiting.
  std::size_t waiterCount() const;

 private:
  void wakeAll();

  std::mutex wakeMutex_;  // held while observers run; taken before mutex_
  mutable std::mutex mutex_;
  std::condition_variable waitersLeft_;
  TimePoint now_;    // guarded by mutex_
  WallTime wall_;    // guarded by mutex_
  std::uint64_t nextToken_ = 1;                             // guarded by mutex_
  std::map<std::uint64_t, std::function<void()>> wakers_;  // guarded by mutex_
  std::size_t waiters_ = 0;                                 // guarded by mutex_
  bool retired_ = false;                                    // guarded by mutex_
};

// Waits on `cv` with `lock` held until `ready()` holds or `timeout` passes on
// Clock::current(). If the clock is replaced meanwhile, the wait goes on with
// the full timeout on the new clock. Returns ready().
bool waitOnCurrentClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Clock::Duration timeout,
                        const std::function<bool()>& ready);

// Installs a clock as Clock::current() for the lifetime of this object (tests).
// Construction and destruction tell every ClockObserver and wake the replaced
// clock's waiters. Destroy it before the clock it installed (declare the clock
// first); overrides nest but must end in reverse order.
class ScopedClockOverride {
 public:
  explicit ScopedClockOverride(Clock& clock);
  ~ScopedClockOverride();
  ScopedClockOverride(const ScopedClockOverride&) = delete;
  ScopedClockOverride& operator=(const ScopedClockOverride&) = delete;

 private:
  Clock* previous_;
};

// Follows whichever clock is Clock::current(): calls back when that clock
// advances (manual clocks only) and when another clock replaces it. Threads
// that wait in real time for a deadline on the clock (queue workers, run loops,
// poll loops) use it to re-check at once, and to carry pending deadlines over
// to a replacing clock.
//
// Owned by the waiting object; construct and destroy on any thread. The call
// comes on the advancing or replacing thread, with no lock of the caller held
// and never concurrently with itself. For Replaced, `previous` is still alive
// during the call; for Advanced, previous and current are the same clock. The
// destructor waits for a call in progress, so never destroy an observer from
// inside its own callback or from a manual clock's advance observer.
class ClockObserver {
 public:
  enum class Event { Advanced = 1, Replaced = 2 };
  using Callback = std::function<void(Event event, Clock& previous, Clock& current)>;

  explicit ClockObserver(Callback callback);
  ~ClockObserver();
  ClockObserver(const ClockObserver&) = delete;
  ClockObserver& operator=(const ClockObserver&) = delete;

 private:
  std::shared_ptr<detail::ClockObserverEntry> entry_;
};

}  // namespace platform
