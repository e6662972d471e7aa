#pragma once
// RunLoop: drives the main queue (DispatchQueue::main()) on one thread, the
// main thread. Headless programs and tests call runUntil()/runFor(); the Qt
// application instead installs a wake-up handler that schedules a call of
// drainReadyTasks() on its own event loop, and arms a timer for nextDeadline().
//
// The main thread is the thread currently driving the loop, or the one that
// drove it last (or called attachCurrentThread()). Only one thread drives at a
// time: a second thread trying to drive while another is in the loop is
// refused with a report. Tasks posted to the main queue, also from the main
// thread itself, run on a later drain, never inside the posting call. Nested
// driving (a main task that runs runUntil) is allowed.
//
// One process-wide instance, RunLoop::main(); its members are safe from any
// thread (the driving calls refuse, as above, when another thread drives).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/Clock.h"

namespace platform {

namespace detail {
class TaskQueue;
}  // namespace detail

class RunLoop {
 public:
  static constexpr std::chrono::milliseconds kDefaultRealTimeLimit{10000};
  // How often runUntil re-checks its condition when no task wakes it, so a
  // condition set by another thread is seen without a post: right after a
  // task, then twice as long after each idle re-check, up to the idle bound.
  static constexpr std::chrono::milliseconds kConditionPollInterval{2};
  static constexpr std::chrono::milliseconds kIdleConditionPollInterval{16};

  static RunLoop& main();

  // Runs main-queue tasks on the calling thread until `done()` holds (checked
  // first and after every task) and returns true; returns false once
  // `realTimeLimit` of real time has passed, or when another thread drives.
  // While idle it waits for a post, the next delayed task's deadline on
  // Clock::current() (a ManualClock advance wakes it at once), or the poll
  // (2 ms after a task, backing off to 16 ms while idle).
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds realTimeLimit = kDefaultRealTimeLimit);
  // Runs main-queue tasks until `duration` has passed on Clock::current()
  // (with a ManualClock, until someone advances it that far). False at the
  // real-time limit.
  bool runFor(Clock::Duration duration, std::chrono::milliseconds realTimeLimit = kDefaultRealTimeLimit);
  // Runs the tasks that are ready or due now, in order, and returns how many
  // ran. Tasks they post run on the next drain. Returns 0 without running
  // anything when another thread is driving.
  std::size_t drainReadyTasks();

  // Deadline (on Clock::current()) of the earliest delayed main-queue task.
  std::optional<Clock::TimePoint> nextDeadline() const;

  // Called from any thread, without locks held, when the main queue needs
  // attention: a task became ready (posted, or due after a ManualClock
  // advance), a delayed task was added, or the clock was replaced. Calls are
  // coalesced until the next drainReadyTasks(). The handler must only schedule
  // a drain (and re-arm its timer afterwards), never drain inside the call or
  // set a handler. An empty handler removes it; setting waits for a call in
  // progress. Installing a handler calls it once.
  void setWakeUpHandler(std::function<void()> handler);

  // Makes a thread blocked in runUntil re-check its condition now.
  void wakeUp();

  // Declares the calling thread the main thread before it first drains (the
  // Qt application calls this at start-up). False when another thread drives.
  bool attachCurrentThread();
  bool isMainThread() const;

  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

 private:
  class Driving;
  RunLoop();
  std::size_t drain(const std::function<bool()>* done);

  const std::shared_ptr<detail::TaskQueue> tasks_;  // shared with DispatchQueue::main()
  mutable std::mutex mutex_;
  std::thread::id drivingThread_;  // guarded by mutex_
  int drivingDepth_ = 0;           // guarded by mutex_; > 0 while a thread drives
  std::atomic<std::thread::id> mainThread_{};
};

// RunLoop::main().isMainThread().
bool isMainThread();

}  // namespace platform
