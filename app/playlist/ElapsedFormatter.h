#pragma once
// ElapsedFormatter: the text of the large elapsed and remaining counters of a
// playlist window, "HH:MM:SS", whose leading zeros the view draws dimmed.
// Pure functions; any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace app {

class ElapsedFormatter {
 public:
  // Counters longer than this (99 hours) show kOverflowText.
  static constexpr double kMaximumSeconds = 356400.0;
  static constexpr const char* kOverflowText = "--:--:--:--";

  // "HH:MM:SS" of whole seconds; a field that would not fit (hours from 100,
  // minutes or seconds from 60) prints "00". A negative value prints "-"
  // before the text of its magnitude; NaN prints kOverflowText.
  static std::string stringForObjectValue(double seconds);
  // How many leading characters the view dims: five when the text begins
  // "00:00", else those before the first character that is neither '0' nor
  // ':' (none when there is no such character).
  static std::size_t dimmedLeadingCharacterCount(std::string_view text);
};

}  // namespace app
