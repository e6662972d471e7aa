#pragma once
// Regular-expression search and replace over UTF-8 text, in the ICU pattern
// syntax with no options. Match ranges count UTF-16 code units (see Utf16.h);
// ill-formed UTF-8 reads as U+FFFD.
//
// Stateless free functions; safe on any thread. Patterns may come from users,
// so matching runs under a work limit: a pattern that would backtrack without
// end is stopped and treated like one that does not compile.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Utf16.h"

namespace foundation {

// The whole range of every match, left to right. Empty when the pattern is
// none; a pattern that does not compile (or exceeds the work limit) is
// reported as a diagnostic and gives an empty list.
std::vector<Range> rangesOfRegexString(std::string_view text, std::optional<std::string_view> pattern);

// The text with every match replaced by `replacementTemplate` ("$1" refers to
// a capture group, "\$" is a literal dollar). The text comes back unchanged
// when the pattern or the template is none, or (after a diagnostic) when the
// pattern does not compile, the template refers to a missing group or the
// work limit is exceeded.
std::string stringByReplacingOccurancesOfRegexString(std::string_view text, std::optional<std::string_view> pattern,
                                                     std::optional<std::string_view> replacementTemplate);

}  // namespace foundation
