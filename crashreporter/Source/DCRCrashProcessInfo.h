#pragma once
// DCRCrashProcessInfo: what the kernel says about one process, read from
// /proc/<pid>/stat and /proc/<pid>/status when the process is healthy (never
// at crash time). The name is the kernel's command name (at most 16 bytes),
// cut to its valid UTF-8 prefix.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crashreporter {

class DCRCrashProcessInfo {
 public:
  static std::shared_ptr<const DCRCrashProcessInfo> currentProcessInfo();
  // nullptr when the process cannot be read.
  static std::shared_ptr<const DCRCrashProcessInfo> initWithProcessID(pid_t pid);

  pid_t processID() const { return processID_; }
  const std::optional<std::string>& processName() const { return processName_; }
  pid_t parentProcessID() const { return parentProcessID_; }
  bool isTraced() const { return isTraced_; }
  // Seconds since 1970 (UTC) and the microseconds part.
  std::int64_t startTimeSeconds() const { return startTimeSeconds_; }
  std::int64_t startTimeMicroseconds() const { return startTimeMicroseconds_; }

 private:
  DCRCrashProcessInfo() = default;

  pid_t processID_ = 0;
  std::optional<std::string> processName_;
  pid_t parentProcessID_ = 0;
  bool isTraced_ = false;
  std::int64_t startTimeSeconds_ = 0;
  std::int64_t startTimeMicroseconds_ = 0;
};

}  // namespace crashreporter
