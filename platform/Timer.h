#pragma once
// Timer: a one-shot or repeating callback on a DispatchQueue, with its interval
// on Clock::current() (the 40 ms polling tick, the 5 s reconnect timer, the 1 s
// delayed checks).
//
// Owned by whoever scheduled it (unique_ptr); destroying it invalidates it.
// invalidate() is safe from any thread, including from inside the callback;
// it does not wait. Once it returns, no new call of the callback starts; a call
// that had already begun on the queue's thread may still be finishing (when
// invalidate() runs on another thread). The callback and its captures are
// released by invalidate(), or after that running call if there is one.
//
// A repeating timer does not drift: each deadline is the previous deadline plus
// the interval, whenever the call actually ran. Ticks missed while the queue
// was busy (or the clock jumped) are skipped, not run in a burst: the next
// call is at the first deadline on that grid still ahead. The queue must
// outlive the timer, or at least its scheduled calls (main() and global() do).

#include <functional>
#include <memory>

#include "platform/Clock.h"

namespace platform {

class DispatchQueue;

class Timer {
 public:
  enum class Mode { OneShot = 1, Repeating = 2 };
  using Callback = std::function<void()>;

  // First call `interval` from now. An interval below 1 ms is raised to 1 ms so a
  // repeating timer cannot monopolise its queue. Returns a timer that is
  // already invalid when the queue refused the first call (reported by the queue).
  static std::unique_ptr<Timer> scheduled(DispatchQueue& queue, Clock::Duration interval, Mode mode,
                                          Callback callback);

  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void invalidate();
  bool isValid() const;
  Clock::Duration interval() const;

 private:
  struct State;
  explicit Timer(std::shared_ptr<State> state);
  static bool schedule(const std::shared_ptr<State>& state, Clock::TimePoint deadline);
  static void fire(const std::shared_ptr<State>& state, Clock::TimePoint deadline);
  std::shared_ptr<State> state_;
};

}  // namespace platform
