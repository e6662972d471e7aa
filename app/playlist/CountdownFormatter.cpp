#include "app/playlist/CountdownFormatter.h"

#include <cmath>
#include <cstdio>

#include "app/playlist/ElapsedFormatter.h"

namespace app {

std::string CountdownFormatter::stringForSeconds(double seconds) {
  // Single precision throughout, as the counters hand over float values.
  const float value = static_cast<float>(seconds);
  if (value == 0.0f) return "00:00:00";
  const float magnitude = std::fabs(value);
  // Checked before any conversion to an integer, which would overflow.
  if (!(magnitude < kMaximumSeconds + 1.0f)) return kOverflowText;
  const int hours = static_cast<int>(magnitude / 3600.0f);
  const int rest = static_cast<int>(magnitude - static_cast<float>(hours) * 3600.0f);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hours, rest / 60, rest % 60);
  return buffer;
}

std::string CountdownFormatter::stringForObjectValue(const platform::Value& object) {
  if (!object.isNumber()) return "00:00:00";
  return stringForSeconds(object.realOr(0.0));
}

CountdownText CountdownFormatter::countdownTextForSeconds(double seconds) const {
  CountdownText result;
  result.text = stringForSeconds(seconds);
  result.dimmedCharacters = ElapsedFormatter::dimmedLeadingCharacterCount(result.text);
  result.dimmedAlpha = alpha_;
  if (isColoredCountDown_) {
    const float v = static_cast<float>(seconds);
    if (v > 0.0f && v < 10.0f) {
      result.color = tenLeftSecondsColor_;
    } else if (v >= 10.0f && v < 30.0f) {
      result.color = thirtyLeftSecondsColor_;
    } else {
      result.color = textColor_;
    }
  }
  return result;
}

}  // namespace app
