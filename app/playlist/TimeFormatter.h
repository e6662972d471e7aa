#pragma once
// TimeFormatter: the short "MM:SS" duration text of the playlist window's
// fields. Durations of one hour and more print "HH:MM:SS" (hours not wrapped
// at 24), so a long clip never reads as zero. It does not parse text.
// Pure functions; any thread.

#include <string>

#include "platform/Value.h"

namespace app {

class TimeFormatter {
 public:
  // Whole seconds after adding kRoundingOffset (59.7 s reads "01:00").
  static constexpr double kRoundingOffset = 0.4;
  // Beyond this (about 31 years) the text is kOverflowText.
  static constexpr double kMaximumSeconds = 1.0e9;
  static constexpr const char* kOverflowText = "--:--:--";

  // "MM:SS" under one hour, "HH:MM:SS" from one hour; negative values and
  // NaN read "00:00".
  static std::string stringForSeconds(double seconds);
  // The same for a number object; any other object reads "00:00".
  static std::string stringForObjectValue(const platform::Value& object);
};

}  // namespace app
