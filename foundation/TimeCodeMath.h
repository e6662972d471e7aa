#pragma once
// Integer helpers shared by the timecode utilities. Internal to foundation.
//
// Frame counts before zero (an in point of -1.0 s, frame -1 of a track) are
// divided with floor semantics, so they land on the frames at the end of the
// previous day instead of on negative fields or on wrapped unsigned values.

#include <cmath>
#include <cstdint>
#include <limits>

namespace foundation::detail {

// Double to int64 without undefined behaviour: NaN gives 0, values out of
// range give the nearest limit.
inline std::int64_t saturatingInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; anything at or above it does not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

// Quotient rounded towards minus infinity; divisor > 0.
inline std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
  std::int64_t quotient = value / divisor;
  if (value % divisor < 0) --quotient;
  return quotient;
}

// Remainder in [0, divisor); divisor > 0.
inline std::int64_t floorMod(std::int64_t value, std::int64_t divisor) {
  std::int64_t remainder = value % divisor;
  return remainder < 0 ? remainder + divisor : remainder;
}

// Frame numbers a drop-frame timecode skips at the start of each minute that
// is not a tenth minute: two at 30 frames a timecode second, four at 60.
inline std::int64_t dropFramesPerMinute(std::int64_t nominalRate) {
  return nominalRate >= 60 ? 2 * (nominalRate / 30) : 2;
}

}  // namespace foundation::detail
