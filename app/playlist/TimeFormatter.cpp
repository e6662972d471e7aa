#include "app/playlist/TimeFormatter.h"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace app {

std::string TimeFormatter::stringForSeconds(double seconds) {
  // Single precision first, as the fields hand over float values.
  const double t = static_cast<double>(static_cast<float>(seconds)) + kRoundingOffset;
  if (std::isnan(t) || t < 1.0) return "00:00";
  if (t > kMaximumSeconds) return kOverflowText;
  const auto whole = static_cast<std::int64_t>(t);
  const std::int64_t hours = whole / 3600;
  const std::int64_t minutes = (whole % 3600) / 60;
  const std::int64_t secs = whole % 60;
  char buffer[48];
  if (hours > 0) {
    std::snprintf(buffer, sizeof buffer, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, hours, minutes, secs);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02" PRId64 ":%02" PRId64, minutes, secs);
  }
  return buffer;
}

std::string TimeFormatter::stringForObjectValue(const platform::Value& object) {
  if (!object.isNumber()) return "00:00";
  return stringForSeconds(object.realOr(0.0));
}

}  // namespace app
