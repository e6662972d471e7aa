#pragma once
// A rational media time: value / timeScale seconds, with flags for valid,
// rounded, infinite and indefinite times and an epoch that orders times of
// different loops of one timeline. Plain value; any thread.
//
// Comparison works across time scales and orders: invalid < -infinity <
// finite (by epoch, then by exact rational value) < +infinity < indefinite
// (indefinite only equals indefinite).

#include <compare>
#include <cstdint>
#include <string>

namespace platform::media {

enum class MediaTimeFlags : std::uint32_t {
  Valid = 1,
  HasBeenRounded = 2,
  PositiveInfinity = 4,
  NegativeInfinity = 8,
  Indefinite = 16,
};

// How a conversion to another time scale rounds.
enum class MediaTimeRoundingMethod : std::uint32_t {
  RoundHalfAwayFromZero = 1,
  RoundTowardZero = 2,
  RoundAwayFromZero = 3,
  // Toward zero when the scale shrinks, away from zero when it grows; a
  // negative time never becomes 0 (it becomes -1 in the new scale).
  QuickTime = 4,
  RoundTowardPositiveInfinity = 5,
  RoundTowardNegativeInfinity = 6,
  Default = RoundHalfAwayFromZero,
};

// Largest time scale a conversion accepts.
inline constexpr std::int32_t kMediaTimeMaxTimeScale = 0x7fffffff;

struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timeScale = 0;
  std::uint32_t flags = 0;  // MediaTimeFlags bits; 0 is the invalid time
  std::int64_t epoch = 0;

  static MediaTime make(std::int64_t value, std::int32_t timeScale);
  static MediaTime makeWithEpoch(std::int64_t value, std::int32_t timeScale, std::int64_t epoch);
  // The nearest time at the scale (round half away from zero); invalid for a
  // scale of 0 or less or a NaN; infinite beyond the 64-bit range.
  static MediaTime makeWithSeconds(double seconds, std::int32_t preferredTimeScale);
  static MediaTime invalid() { return {}; }
  static MediaTime zero() { return make(0, 1); }
  static MediaTime positiveInfinity();
  static MediaTime negativeInfinity();
  static MediaTime indefinite();

  bool has(MediaTimeFlags flag) const { return (flags & static_cast<std::uint32_t>(flag)) != 0; }
  // Valid with a positive scale (a time of scale 0 is never valid).
  bool isValid() const { return has(MediaTimeFlags::Valid) && timeScale > 0; }
  bool isPositiveInfinity() const { return isValid() && has(MediaTimeFlags::PositiveInfinity); }
  bool isNegativeInfinity() const { return isValid() && has(MediaTimeFlags::NegativeInfinity); }
  bool isIndefinite() const { return isValid() && has(MediaTimeFlags::Indefinite); }
  bool isNumeric() const;

  // NaN for invalid and indefinite times, ±infinity for infinities.
  double seconds() const;
  // The time at newTimeScale; invalid for a scale outside 1 ... kMediaTimeMaxTimeScale.
  // Non-numeric times keep their kind.
  MediaTime convertScale(std::int32_t newTimeScale, MediaTimeRoundingMethod method) const;

  std::string describe() const;
};

// -1, 0 or 1 in the order described above.
int compare(const MediaTime& a, const MediaTime& b);
inline bool operator==(const MediaTime& a, const MediaTime& b) { return compare(a, b) == 0; }
inline std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) { return compare(a, b) <=> 0; }

// Sums and differences at the least common multiple of the scales (the larger
// scale, rounded, when that does not fit). An invalid operand gives invalid;
// an indefinite operand, or +infinity - +infinity, gives indefinite; otherwise
// an infinite operand wins.
MediaTime add(const MediaTime& a, const MediaTime& b);
MediaTime subtract(const MediaTime& a, const MediaTime& b);
inline MediaTime operator+(const MediaTime& a, const MediaTime& b) { return add(a, b); }
inline MediaTime operator-(const MediaTime& a, const MediaTime& b) { return subtract(a, b); }
// The time multiplied by a whole number, at its own scale.
MediaTime multiply(const MediaTime& time, std::int32_t multiplier);
MediaTime absoluteValue(const MediaTime& time);
MediaTime minimum(const MediaTime& a, const MediaTime& b);
MediaTime maximum(const MediaTime& a, const MediaTime& b);

// A start and a duration.
struct MediaTimeRange {
  MediaTime start;
  MediaTime duration;
  MediaTime end() const { return add(start, duration); }
  bool isValid() const { return start.isValid() && duration.isValid() && duration.epoch == 0 && duration.value >= 0; }
  bool containsTime(const MediaTime& time) const { return compare(time, start) >= 0 && compare(time, end()) < 0; }
};

}  // namespace platform::media
