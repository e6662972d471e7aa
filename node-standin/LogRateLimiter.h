#pragma once
// LogRateLimiter: passes log lines on, at most kLoggedLinesPerSecond in each
// second on Clock::current(). Clients decide how many lines their input
// causes (a flood of junk lines, a storm of connections), so past the limit
// lines are only counted; the count goes out before the next line that
// passes, and when the limiter goes.
//
// Owned by the object that logs (the node state, the server); one thread.

#include <cstddef>

#include "node-standin/MediaFolderIndex.h"
#include "platform/Clock.h"

namespace standin {

class LogRateLimiter {
 public:
  static constexpr std::size_t kLoggedLinesPerSecond = 20;

  explicit LogRateLimiter(LogFunction log);
  ~LogRateLimiter();
  LogRateLimiter(const LogRateLimiter&) = delete;
  LogRateLimiter& operator=(const LogRateLimiter&) = delete;

  void log(const std::string& message);

 private:
  void reportDropped();

  LogFunction log_;
  platform::Clock::TimePoint windowStart_{};
  std::size_t linesInWindow_ = 0;
  std::size_t dropped_ = 0;
};

}  // namespace standin
