#include "nodes/playlist/CVNTimeFormatter.h"

#include <cmath>
#include <cstdio>

#include "foundation/CVNTimeCodeUtility.h"

namespace nodes {
namespace {

using foundation::CVNTimeCodeUtility;

// Frames in one timecode second (30 at 29.97); at least 1.
std::int64_t nominalRate(double rate) {
  const double nominal = std::ceil(rate);
  // Far beyond any video rate; keeps the conversion defined.
  constexpr double kLimit = 1e15;
  return nominal >= kLimit ? static_cast<std::int64_t>(kLimit) : static_cast<std::int64_t>(nominal);
}

}  // namespace

std::string CVNTimeFormatter::stringForObjectValue(double seconds) const {
  const bool withFrames = format_ != kTimeFormatHoursMinutesSeconds;
  if (!std::isfinite(seconds)) return withFrames ? "--:--:--:--" : "--:--:--";

  // A rate that cannot carry frames counts whole seconds.
  const double rate = std::isfinite(framesPerSeconds_) && framesPerSeconds_ > 0.0 ? framesPerSeconds_ : 1.0;
  const bool dropFrame = dropFrame_ && CVNTimeCodeUtility::dropFrameAvailableForRate(
                                           CVNTimeCodeUtility::videoRateTypeWithDouble(rate, false));

  const double magnitude = std::fabs(seconds);
  const std::int64_t frameNumber = CVNTimeCodeUtility::frameNumberWithDurationInSeconds(magnitude, rate, dropFrame);
  const std::int64_t count = CVNTimeCodeUtility::modifiedFrameNumberWithFrameNumber(frameNumber, rate, dropFrame);
  const std::int64_t nominal = nominalRate(rate);
  const std::int64_t totalSeconds = count / nominal;
  // A magnitude that prints as zero gets no sign.
  const char* sign = seconds < 0.0 && (withFrames ? count : totalSeconds) > 0 ? "-" : "";

  char text[128];
  const long long hours = totalSeconds / 3600;
  const long long minutes = (totalSeconds / 60) % 60;
  const long long wholeSeconds = totalSeconds % 60;
  if (withFrames) {
    std::snprintf(text, sizeof text, "%s%02lld:%02lld:%02lld%c%02lld", sign, hours, minutes, wholeSeconds,
                  dropFrame ? ';' : ':', static_cast<long long>(count % nominal));
  } else {
    std::snprintf(text, sizeof text, "%s%02lld:%02lld:%02lld", sign, hours, minutes, wholeSeconds);
  }
  return text;
}

std::optional<std::string> CVNTimeFormatter::stringForObjectValue(const platform::Value& object) const {
  if (!object.isNumber() && !object.isBoolean()) return std::nullopt;
  return stringForObjectValue(object.realOr(0.0));
}

}  // namespace nodes
