#include "app/playlist/ElapsedFormatter.h"

#include <cmath>
#include <cstdio>

namespace app {

std::string ElapsedFormatter::stringForObjectValue(double seconds) {
  if (std::isnan(seconds) || std::fabs(seconds) > kMaximumSeconds) return kOverflowText;
  if (seconds < 0.0) {
    std::string magnitude = stringForObjectValue(-seconds);
    return magnitude == "00:00:00" ? magnitude : "-" + magnitude;
  }
  long hours = static_cast<long>(std::floor(seconds / 3600.0));
  long minutes = static_cast<long>(std::floor((seconds - 3600.0 * hours) / 60.0));
  long secs = static_cast<long>(std::floor(seconds - 3600.0 * hours - 60.0 * minutes));
  if (hours >= 100) hours = 0;
  if (minutes >= 60) minutes = 0;
  if (secs >= 60) secs = 0;
  char text[80];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", hours, minutes, secs);
  return text;
}

std::size_t ElapsedFormatter::dimmedLeadingCharacterCount(std::string_view text) {
  if (text.starts_with("00:00")) return 5;
  const auto first = text.find_first_not_of("0:");
  return first == std::string_view::npos ? 0 : first;
}

}  // namespace app
