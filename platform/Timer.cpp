#include "platform/Timer.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <string>

#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"

namespace platform {

struct Timer::State {
  State(DispatchQueue& q, Clock::Duration i, Mode m, Callback c)
      : queue(q), interval(i), mode(m), callback(std::move(c)) {}

  DispatchQueue& queue;  // not owned; outlives the scheduled calls
  const Clock::Duration interval;
  const Mode mode;

  std::mutex mutex;
  Callback callback;    // guarded by mutex; not touched while `firing`
  bool valid = true;    // guarded by mutex
  bool firing = false;  // guarded by mutex
  TaskHandle pending;   // guarded by mutex
};

namespace {

using namespace std::chrono_literals;
constexpr Clock::Duration kMinimumInterval = 1ms;

// The first deadline on the grid deadline + k * interval (k >= 1) after now.
Clock::TimePoint nextDeadline(Clock::TimePoint deadline, Clock::Duration interval, Clock::TimePoint now) {
  Clock::TimePoint next = deadline + interval;
  if (next <= now) next += ((now - next) / interval + 1) * interval;
  // Further ahead than one interval only if the clock was replaced since.
  if (next > now + interval) next = now + interval;
  return next;
}

}  // namespace

// Schedules the call due at `deadline`; false when the queue refused it.
bool Timer::schedule(const std::shared_ptr<State>& state, Clock::TimePoint deadline) {
  // Outside the lock: the queue may call its wake-up handler. A call scheduled
  // after an invalidate() finds the timer invalid and does nothing.
  TaskHandle handle = state->queue.at(deadline, [state, deadline] { fire(state, deadline); });
  if (!handle) return false;
  std::lock_guard guard(state->mutex);
  state->pending = std::move(handle);
  return true;
}

void Timer::fire(const std::shared_ptr<State>& state, Clock::TimePoint deadline) {
  {
    std::lock_guard guard(state->mutex);
    if (!state->valid) return;
    state->firing = true;
  }
  try {
    state->callback();
  } catch (const std::exception& e) {
    reportDiagnostic(DiagnosticLevel::Error, "Timer on queue '" + state->queue.label() + "': callback threw: " + e.what());
  } catch (...) {
    reportDiagnostic(DiagnosticLevel::Error,
                     "Timer on queue '" + state->queue.label() + "': callback threw a non-standard exception");
  }
  Callback released;  // destroyed after the lock is released
  {
    std::lock_guard guard(state->mutex);
    state->firing = false;
    if (!state->valid || state->mode == Mode::OneShot) {
      state->valid = false;
      released = std::move(state->callback);
      return;
    }
  }
  if (!schedule(state, nextDeadline(deadline, state->interval, Clock::current().now()))) {
    std::lock_guard guard(state->mutex);
    state->valid = false;
    released = std::move(state->callback);
  }
}

std::unique_ptr<Timer> Timer::scheduled(DispatchQueue& queue, Clock::Duration interval, Mode mode,
                                        Callback callback) {
  auto state = std::make_shared<State>(queue, std::max(interval, kMinimumInterval), mode, std::move(callback));
  std::unique_ptr<Timer> timer(new Timer(state));
  if (!schedule(state, Clock::current().now() + state->interval)) timer->invalidate();
  return timer;
}

Timer::Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

Timer::~Timer() { invalidate(); }

void Timer::invalidate() {
  Callback released;  // destroyed after the lock is released
  TaskHandle pending;
  {
    std::lock_guard guard(state_->mutex);
    if (!state_->valid) return;
    state_->valid = false;
    // A running call still uses the callback; it releases it when done.
    if (!state_->firing) released = std::move(state_->callback);
    pending = state_->pending;
  }
  pending.cancel();
}

bool Timer::isValid() const {
  std::lock_guard guard(state_->mutex);
  return state_->valid;
}

Clock::Duration Timer::interval() const { return state_->interval; }

}  // namespace platform
