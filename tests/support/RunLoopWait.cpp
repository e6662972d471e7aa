#include "tests/support/RunLoopWait.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/RunLoop.h"

namespace testing_support {

namespace {

// Between polls the waiting thread sleeps instead of spinning: a spinning waiter
// takes a whole core from the threads it waits for and from the tests running
// beside it.
constexpr std::chrono::microseconds kPollPause{500};

}  // namespace

bool runMainLoopUntil(const std::function<bool()>& done, std::string_view what, std::chrono::milliseconds limit) {
  if (platform::RunLoop::main().runUntil(done, limit)) return true;
  ADD_FAILURE() << "the main run loop ran " << limit.count() << " ms without " << what << " coming true";
  return false;
}

bool waitForCondition(const std::function<bool()>& done, std::string_view what, std::chrono::milliseconds limit) {
  const auto giveUpAt = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= giveUpAt) {
      ADD_FAILURE() << "waited " << limit.count() << " ms without " << what << " coming true";
      return false;
    }
    std::this_thread::sleep_for(kPollPause);
  }
  return true;
}

bool advanceClockUntil(platform::ManualClock& clock, platform::Clock::Duration step,
                       const std::function<bool()>& done, int maxSteps) {
  for (int taken = 0; taken < maxSteps; ++taken) {
    if (done()) return true;
    clock.advance(step);
    platform::RunLoop::main().runUntil(done, std::chrono::milliseconds(20));
  }
  return done();
}

bool Signal::waitFor(std::chrono::milliseconds limit) const {
  const auto giveUpAt = std::chrono::steady_clock::now() + limit;
  while (!raised_.load()) {
    if (std::chrono::steady_clock::now() >= giveUpAt) return false;
    std::this_thread::sleep_for(kPollPause);
  }
  return true;
}

}  // namespace testing_support
