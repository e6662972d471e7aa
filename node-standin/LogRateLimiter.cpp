#include "node-standin/LogRateLimiter.h"

namespace standin {

LogRateLimiter::LogRateLimiter(LogFunction log) : log_(std::move(log)) {}

LogRateLimiter::~LogRateLimiter() { reportDropped(); }

void LogRateLimiter::log(const std::string& message) {
  if (!log_) return;
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  if (linesInWindow_ == 0 || now - windowStart_ >= std::chrono::seconds(1)) {
    windowStart_ = now;
    linesInWindow_ = 0;
    reportDropped();
  }
  if (linesInWindow_ >= kLoggedLinesPerSecond) {
    ++dropped_;
    return;
  }
  ++linesInWindow_;
  log_(message);
}

void LogRateLimiter::reportDropped() {
  if (dropped_ == 0 || !log_) return;
  log_(std::to_string(dropped_) + " more log lines dropped (over " + std::to_string(kLoggedLinesPerSecond) +
       " a second)");
  dropped_ = 0;
}

}  // namespace standin
