#pragma once
// Orderings of file and clip names without their extensions, for sorted lists
// ("Clip 2.mov" before "Clip 10.mov"). Both compare case-insensitively,
// width-insensitively and digit runs by their numeric value, and never call
// two different names equal (a final tie-break keeps sorting deterministic).
//
// Stateless free functions on platform::localizedStandardCompare; safe on any
// thread. Results are -1, 0 or 1; ill-formed UTF-8 compares as U+FFFD.

#include <string_view>

namespace foundation {

// In the current locale's order, as a file browser sorts names.
int localizedStandardCompareWithoutPathExt(std::string_view name, std::string_view other);

// In the locale-independent (root) order, so the result is the same on every
// machine.
int caseInsensitiveCompareWithNumber(std::string_view name, std::string_view other);

}  // namespace foundation
