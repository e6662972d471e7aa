#include "engine/items/FrameRateConform.h"

#include <cmath>
#include <cstdint>

namespace engine::items {

namespace pm = platform::media;

namespace {

struct StandardRate {
  double rate;
  std::int64_t value;
  std::int32_t timeScale;
};
constexpr StandardRate kStandardRates[] = {{23.98, 24000, 1001}, {24, 24000, 1000}, {25, 25000, 1000},
                                           {29.97, 30000, 1001}, {30, 30000, 1000}, {50, 50000, 1000},
                                           {59.94, 60000, 1001}, {60, 60000, 1000}};

// Compares two rates as rationals (cross products in 128 bits cannot overflow).
int compareRates(pm::MediaTime a, pm::MediaTime b) {
  const __int128 left = static_cast<__int128>(a.value) * b.timeScale;
  const __int128 right = static_cast<__int128>(b.value) * a.timeScale;
  return left < right ? -1 : (left > right ? 1 : 0);
}

pm::MediaTime doubled(pm::MediaTime rate) { return pm::MediaTime::make(rate.value * 2, rate.timeScale); }

pm::MediaTime halved(pm::MediaTime rate) {
  if (rate.value % 2 == 0) return pm::MediaTime::make(rate.value / 2, rate.timeScale);
  return pm::MediaTime::make(rate.value, rate.timeScale * 2);
}

}  // namespace

std::optional<pm::MediaTime> snappedPlaybackRate(pm::MediaTime rate) {
  if (rate.timeScale == 0) return std::nullopt;
  const double r = static_cast<double>(rate.value) / rate.timeScale;
  for (const auto& standard : kStandardRates) {
    if (std::fabs(r - standard.rate) <= 0.01) return pm::MediaTime::make(standard.value, standard.timeScale);
  }
  return std::nullopt;
}

pm::MediaTime reciprocalTime(pm::MediaTime time) {
  return pm::MediaTime::make(time.timeScale, static_cast<std::int32_t>(time.value));
}

ConformDecision gpuConformDecision(bool clipInterlaced, bool outputInterlaced, pm::MediaTime naturalRate,
                                   pm::MediaTime desiredRate, bool alternateFields) {
  ConformDecision decision{desiredRate};
  const int comparison = compareRates(naturalRate, desiredRate);
  if (clipInterlaced == outputInterlaced) {
    decision.useTextureTwice = clipInterlaced && alternateFields;
  } else if (outputInterlaced) {
    decision.turnAlternateFieldsOff = true;
    if (comparison > 0) {
      decision.rate = doubled(desiredRate);
      decision.twoFramesDecodedToOne = true;
    } else {
      decision.useTextureTwice = true;
    }
  } else if (comparison < 0) {
    decision.rate = halved(desiredRate);
    decision.oneFrameDecodedToTwo = true;
    decision.useTextureTwice = alternateFields;
  } else {
    decision.turnAlternateFieldsOff = true;
  }
  return decision;
}

}  // namespace engine::items
