#include "platform/media/MediaTime.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace platform::media {
namespace {

using Wide = __int128;

constexpr std::uint32_t bit(MediaTimeFlags flag) { return static_cast<std::uint32_t>(flag); }
constexpr std::uint32_t kNonNumeric =
    bit(MediaTimeFlags::PositiveInfinity) | bit(MediaTimeFlags::NegativeInfinity) | bit(MediaTimeFlags::Indefinite);

MediaTime special(MediaTimeFlags kind) {
  MediaTime time;
  time.timeScale = 1;
  time.flags = bit(MediaTimeFlags::Valid) | bit(kind);
  return time;
}

int sign(Wide v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// numerator / denominator (denominator > 0) rounded by method; `growing`
// tells the QuickTime method which way the scale moves.
Wide divideRounded(Wide numerator, Wide denominator, MediaTimeRoundingMethod method, bool growing, bool* rounded) {
  Wide quotient = numerator / denominator;
  const Wide remainder = numerator % denominator;
  *rounded = remainder != 0;
  if (remainder == 0) return quotient;
  const int s = sign(numerator);
  switch (method) {
    case MediaTimeRoundingMethod::RoundTowardZero:
      break;
    case MediaTimeRoundingMethod::RoundAwayFromZero:
      quotient += s;
      break;
    case MediaTimeRoundingMethod::QuickTime:
      if (growing) quotient += s;
      if (quotient == 0 && s < 0) quotient = -1;
      break;
    case MediaTimeRoundingMethod::RoundTowardPositiveInfinity:
      if (s > 0) quotient += 1;
      break;
    case MediaTimeRoundingMethod::RoundTowardNegativeInfinity:
      if (s < 0) quotient -= 1;
      break;
    case MediaTimeRoundingMethod::RoundHalfAwayFromZero:
    default: {
      const Wide twice = (remainder < 0 ? -remainder : remainder) * 2;
      if (twice >= denominator) quotient += s;
      break;
    }
  }
  return quotient;
}

MediaTime fromWide(Wide value, std::int32_t timeScale, std::int64_t epoch, bool rounded) {
  if (value > std::numeric_limits<std::int64_t>::max()) return MediaTime::positiveInfinity();
  if (value < std::numeric_limits<std::int64_t>::min()) return MediaTime::negativeInfinity();
  MediaTime time = MediaTime::makeWithEpoch(static_cast<std::int64_t>(value), timeScale, epoch);
  if (rounded) time.flags |= bit(MediaTimeFlags::HasBeenRounded);
  return time;
}

// Rank of the non-finite kinds for ordering: invalid 0, -inf 1, finite 2, +inf 3, indefinite 4.
int rank(const MediaTime& t) {
  if (!t.isValid()) return 0;
  if (t.has(MediaTimeFlags::Indefinite)) return 4;
  if (t.has(MediaTimeFlags::PositiveInfinity)) return 3;
  if (t.has(MediaTimeFlags::NegativeInfinity)) return 1;
  return 2;
}

MediaTime combine(const MediaTime& a, const MediaTime& b, int direction) {
  if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
  if (a.isIndefinite() || b.isIndefinite()) return MediaTime::indefinite();
  const int ra = rank(a);
  const int rb = rank(b) == 2 ? 2 : (direction > 0 ? rank(b) : 4 - rank(b));  // negating b swaps its infinity
  if (ra != 2 || rb != 2) {
    if (ra != 2 && rb != 2 && ra != rb) return MediaTime::indefinite();
    const int kind = ra != 2 ? ra : rb;
    return kind == 3 ? MediaTime::positiveInfinity() : MediaTime::negativeInfinity();
  }
  const std::int64_t epoch = direction > 0 ? a.epoch + b.epoch : a.epoch - b.epoch;
  const Wide lcm = std::lcm(static_cast<std::int64_t>(a.timeScale), static_cast<std::int64_t>(b.timeScale));
  if (lcm <= kMediaTimeMaxTimeScale) {
    const Wide sum = Wide(a.value) * (lcm / a.timeScale) + direction * Wide(b.value) * (lcm / b.timeScale);
    return fromWide(sum, static_cast<std::int32_t>(lcm), epoch, false);
  }
  const std::int32_t scale = std::max(a.timeScale, b.timeScale);
  const MediaTime ca = a.convertScale(scale, MediaTimeRoundingMethod::Default);
  const MediaTime cb = b.convertScale(scale, MediaTimeRoundingMethod::Default);
  if (!ca.isNumeric() || !cb.isNumeric()) return combine(ca, cb, direction);
  MediaTime result = fromWide(Wide(ca.value) + direction * Wide(cb.value), scale, epoch, true);
  return result;
}

}  // namespace

MediaTime MediaTime::make(std::int64_t value, std::int32_t timeScale) { return makeWithEpoch(value, timeScale, 0); }

MediaTime MediaTime::makeWithEpoch(std::int64_t value, std::int32_t timeScale, std::int64_t epoch) {
  MediaTime time;
  time.value = value;
  time.timeScale = timeScale;
  time.epoch = epoch;
  time.flags = timeScale > 0 ? bit(MediaTimeFlags::Valid) : 0;
  return time;
}

MediaTime MediaTime::makeWithSeconds(double seconds, std::int32_t preferredTimeScale) {
  if (preferredTimeScale <= 0 || std::isnan(seconds)) return invalid();
  if (std::isinf(seconds)) return seconds > 0 ? positiveInfinity() : negativeInfinity();
  const long double scaled = std::roundl(static_cast<long double>(seconds) * preferredTimeScale);
  if (scaled >= 9.2233720368547758e18L) return positiveInfinity();
  if (scaled <= -9.2233720368547758e18L) return negativeInfinity();
  MediaTime time = make(static_cast<std::int64_t>(scaled), preferredTimeScale);
  if (static_cast<long double>(time.value) != static_cast<long double>(seconds) * preferredTimeScale) {
    time.flags |= bit(MediaTimeFlags::HasBeenRounded);
  }
  return time;
}

MediaTime MediaTime::positiveInfinity() { return special(MediaTimeFlags::PositiveInfinity); }
MediaTime MediaTime::negativeInfinity() { return special(MediaTimeFlags::NegativeInfinity); }
MediaTime MediaTime::indefinite() { return special(MediaTimeFlags::Indefinite); }

bool MediaTime::isNumeric() const { return isValid() && (flags & kNonNumeric) == 0; }

double MediaTime::seconds() const {
  if (!isValid() || isIndefinite()) return std::numeric_limits<double>::quiet_NaN();
  if (isPositiveInfinity()) return std::numeric_limits<double>::infinity();
  if (isNegativeInfinity()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(value) / static_cast<double>(timeScale);
}

MediaTime MediaTime::convertScale(std::int32_t newTimeScale, MediaTimeRoundingMethod method) const {
  if (!isValid() || newTimeScale <= 0) return invalid();
  if (!isNumeric()) return *this;
  if (newTimeScale == timeScale) return *this;
  bool rounded = false;
  const Wide converted =
      divideRounded(Wide(value) * newTimeScale, timeScale, method, newTimeScale > timeScale, &rounded);
  MediaTime result = fromWide(converted, newTimeScale, epoch, rounded);
  if (has(MediaTimeFlags::HasBeenRounded) && result.isNumeric()) result.flags |= bit(MediaTimeFlags::HasBeenRounded);
  return result;
}

std::string MediaTime::describe() const {
  if (!isValid()) return "invalid";
  if (isIndefinite()) return "indefinite";
  if (isPositiveInfinity()) return "+infinity";
  if (isNegativeInfinity()) return "-infinity";
  char text[96];
  std::snprintf(text, sizeof text, "%lld/%d = %.3f", static_cast<long long>(value), timeScale, seconds());
  return text;
}

int compare(const MediaTime& a, const MediaTime& b) {
  const int ra = rank(a);
  const int rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra != 2) return 0;
  if (a.epoch != b.epoch) return a.epoch < b.epoch ? -1 : 1;
  const Wide left = Wide(a.value) * b.timeScale;
  const Wide right = Wide(b.value) * a.timeScale;
  return left < right ? -1 : (left > right ? 1 : 0);
}

MediaTime add(const MediaTime& a, const MediaTime& b) { return combine(a, b, 1); }
MediaTime subtract(const MediaTime& a, const MediaTime& b) { return combine(a, b, -1); }

MediaTime multiply(const MediaTime& time, std::int32_t multiplier) {
  if (!time.isValid() || time.isIndefinite()) return time;
  if (!time.isNumeric()) {
    if (multiplier == 0) return MediaTime::indefinite();
    return (multiplier > 0) == time.isPositiveInfinity() ? MediaTime::positiveInfinity() : MediaTime::negativeInfinity();
  }
  return fromWide(Wide(time.value) * multiplier, time.timeScale, time.epoch, false);
}

MediaTime absoluteValue(const MediaTime& time) {
  if (time.isNegativeInfinity()) return MediaTime::positiveInfinity();
  if (!time.isNumeric() || time.value >= 0) return time;
  return fromWide(-Wide(time.value), time.timeScale, time.epoch, false);
}

MediaTime minimum(const MediaTime& a, const MediaTime& b) { return compare(b, a) < 0 ? b : a; }
MediaTime maximum(const MediaTime& a, const MediaTime& b) { return compare(b, a) > 0 ? b : a; }

}  // namespace platform::media
