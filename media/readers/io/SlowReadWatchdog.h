#pragma once
// Reports a page read that blocks: armed before each read, it tells the
// reader's counters "0 frames in 0.5 s" on the main queue once the read has
// taken 1.0 s, then every 0.5 s until the read returns, so a stalled disk or
// network volume drags the measured read speed down while it stalls.
// Deadlines run on platform::Clock. Any thread; shared with the queued tasks.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/DispatchQueue.h"

namespace media {

// Where page reads report (frames, seconds). Detach() makes later reports,
// including those of watchdogs still queued, go nowhere.
class ReadReport {
 public:
  using Function = std::function<void(std::int32_t frames, double seconds)>;
  explicit ReadReport(Function function) : function_(std::move(function)) {}
  void report(std::int32_t frames, double seconds);
  void detach();

 private:
  std::mutex mutex_;
  Function function_;  // guarded by mutex_
};

class SlowReadWatchdog : public std::enable_shared_from_this<SlowReadWatchdog> {
 public:
  static std::shared_ptr<SlowReadWatchdog> arm(std::shared_ptr<ReadReport> report);
  explicit SlowReadWatchdog(std::shared_ptr<ReadReport> report) : report_(std::move(report)) {}
  // The read has returned: nothing more is reported.
  void finish();

 private:
  void schedule(platform::Clock::Duration delay);
  void fire();

  const std::shared_ptr<ReadReport> report_;
  std::mutex mutex_;
  bool finished_ = false;         // guarded by mutex_
  platform::TaskHandle pending_;  // guarded by mutex_
};

}  // namespace media
