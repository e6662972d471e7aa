#pragma once
// Bounded waits for tests: drive the main run loop, or wait for another
// thread, until a condition holds; at a real-time limit the current test fails
// (naming what it waited for) instead of hanging. Time limits of the code under
// test still run on the test's ManualClock; only these guards use real time.

#include <atomic>
#include <chrono>
#include <functional>
#include <string_view>

#include "platform/Clock.h"

namespace testing_support {

inline constexpr std::chrono::milliseconds kRealTimeLimit{10000};

// Runs RunLoop::main() on the calling thread until `done()` holds.
bool runMainLoopUntil(const std::function<bool()>& done, std::string_view what = "the condition",
                      std::chrono::milliseconds limit = kRealTimeLimit);

// Polls `done()` (without driving the main run loop) until it holds.
bool waitForCondition(const std::function<bool()>& done, std::string_view what = "the condition",
                      std::chrono::milliseconds limit = kRealTimeLimit);

// Moves `clock` forward `step` at a time, running the main loop for a moment
// after each step, until `done()` holds or `maxSteps` steps have passed.
bool advanceClockUntil(platform::ManualClock& clock, platform::Clock::Duration step,
                       const std::function<bool()>& done, int maxSteps);

// A one-way flag for handing control between threads in a test.
class Signal {
 public:
  void raise() { raised_.store(true); }
  bool isRaised() const { return raised_.load(); }
  // Waits in real time; does not fail the test by itself.
  bool waitFor(std::chrono::milliseconds limit = kRealTimeLimit) const;

 private:
  std::atomic<bool> raised_{false};
};

}  // namespace testing_support
