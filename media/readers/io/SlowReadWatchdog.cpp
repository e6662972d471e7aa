#include "media/readers/io/SlowReadWatchdog.h"

#include <chrono>

namespace media {

namespace {
constexpr auto kFirstReport = std::chrono::milliseconds(1000);
constexpr auto kReportInterval = std::chrono::milliseconds(500);
constexpr double kReportedSeconds = 0.5;
}  // namespace

void ReadReport::report(std::int32_t frames, double seconds) {
  std::lock_guard lock(mutex_);
  if (function_) function_(frames, seconds);
}

void ReadReport::detach() {
  std::lock_guard lock(mutex_);
  function_ = nullptr;
}

std::shared_ptr<SlowReadWatchdog> SlowReadWatchdog::arm(std::shared_ptr<ReadReport> report) {
  auto watchdog = std::make_shared<SlowReadWatchdog>(std::move(report));
  watchdog->schedule(kFirstReport);
  return watchdog;
}

void SlowReadWatchdog::finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
  pending_.cancel();
}

void SlowReadWatchdog::schedule(platform::Clock::Duration delay) {
  std::lock_guard lock(mutex_);
  if (finished_) return;
  pending_ = platform::DispatchQueue::main().after(delay, [self = shared_from_this()] { self->fire(); });
}

void SlowReadWatchdog::fire() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
  }
  report_->report(0, kReportedSeconds);
  schedule(kReportInterval);
}

}  // namespace media
