#pragma once
// Small helpers shared by the crash service's files.

#include <chrono>

#include "platform/Clock.h"
#include "platform/Value.h"

namespace telemetry::crashes::detail {

inline platform::Date wallDate() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

}  // namespace telemetry::crashes::detail
