#include "nodes/playlist/CVNTimeFormatter.h"

#include <algorithm>
#include <array>
#include <charconv>
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

// A rate that can carry frames, else none.
std::optional<double> frameRate(double rate) {
  if (std::isfinite(rate) && rate > 0.0) return rate;
  return std::nullopt;
}

// Splits up to four numbers separated by ":" (and ";" where `semicolonAt`
// allows it: before the third field, or anywhere); none when a field is
// empty, not all digits, or too long to be a time.
enum class Semicolon { BeforeFrames = 1, Anywhere = 2 };
std::optional<std::array<std::int64_t, 4>> splitFields(std::string_view text, Semicolon semicolonAt, std::size_t& count) {
  constexpr std::size_t kMostDigits = 12;
  std::array<std::int64_t, 4> fields{};
  count = 0;
  while (true) {
    const bool semicolon = semicolonAt == Semicolon::Anywhere || count == 2;
    const std::size_t end = semicolon ? text.find_first_of(":;") : text.find(':');
    const std::string_view field = text.substr(0, end);
    if (field.empty() || field.size() > kMostDigits || count == fields.size()) return std::nullopt;
    const auto [rest, error] = std::from_chars(field.data(), field.data() + field.size(), fields[count]);
    if (error != std::errc() || rest != field.data() + field.size()) return std::nullopt;
    ++count;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return fields;
}

// "A:B:C" or "A:B:C:D" / "A:B:C;D".
std::optional<std::array<std::int64_t, 4>> timeFields(std::string_view text, std::size_t& count) {
  const auto fields = splitFields(text, Semicolon::BeforeFrames, count);
  if (!fields || count < 3) return std::nullopt;
  return fields;
}

// Fields of a short entry time, right-aligned into hours, minutes, seconds, frames.
std::optional<std::array<std::int64_t, 4>> entryFields(std::string_view text) {
  std::size_t count = 0;
  const auto parsed = splitFields(text, Semicolon::Anywhere, count);
  if (!parsed) return std::nullopt;
  std::array<std::int64_t, 4> fields{};
  std::copy(parsed->begin(), parsed->begin() + static_cast<std::ptrdiff_t>(count),
            fields.end() - static_cast<std::ptrdiff_t>(count));
  return fields;
}

}  // namespace

std::optional<double> CVNTimeFormatter::objectValueForEntry(std::string_view text) {
  const char lead = text.empty() ? '\0' : text.front();
  const bool relative = lead == '+' || lead == '-';
  if (relative || lead == '=') text.remove_prefix(1);
  const auto fields = entryFields(text);
  if (!fields) return std::nullopt;
  const auto [hours, minutes, wholeSeconds, frames] = *fields;
  const std::optional<double> rate = frameRate(framesPerSeconds_);
  double seconds = static_cast<double>(hours) * 3600.0 + static_cast<double>(minutes) * 60.0 +
                   static_cast<double>(wholeSeconds) + (rate ? static_cast<double>(frames) / *rate : 0.0);
  enteredValueIsSigned_ = relative;
  if (relative) return lead == '-' ? -seconds : seconds;
  if (rate) seconds -= static_cast<double>(offsetInFrames_) / *rate;
  seconds = std::max(seconds, 0.0);
  return maximum_ ? std::min(seconds, *maximum_) : seconds;
}

bool CVNTimeFormatter::isPartialEntryValid(std::string_view text) {
  if (!text.empty() && (text.front() == '=' || text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  std::size_t separators = 0;
  for (const char c : text) {
    if (c == ':' || c == ';') {
      if (++separators > 3) return false;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

std::optional<double> CVNTimeFormatter::doubleValueFromString(std::string_view text, bool usingOffset,
                                                              bool invertOffset) const {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  std::size_t count = 0;
  const auto fields = timeFields(text, count);
  if (!fields) return std::nullopt;
  const auto [hours, minutes, wholeSeconds, frames] = *fields;
  if (minutes >= 60 || wholeSeconds >= 60) return std::nullopt;
  const std::optional<double> rate = frameRate(framesPerSeconds_);
  if (rate && frames >= nominalRate(*rate)) return std::nullopt;
  double seconds = static_cast<double>(hours) * 3600.0 + static_cast<double>(minutes) * 60.0 +
                   static_cast<double>(wholeSeconds) + (rate ? static_cast<double>(frames) / *rate : 0.0);
  if (negative) seconds = -seconds;
  if (usingOffset && rate) {
    const double offset = static_cast<double>(offsetInFrames_) / *rate;
    seconds += invertOffset ? -offset : offset;
  }
  return seconds;
}

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
