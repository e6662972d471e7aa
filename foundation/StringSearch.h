#pragma once
// Searching UTF-8 text for runs of characters of a set, for literal strings
// and for the earliest of several strings. Every location and length counts
// UTF-16 code units (see Utf16.h); ill-formed UTF-8 reads as U+FFFD.
//
// Stateless free functions; safe on any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/CharacterSet.h"
#include "foundation/Utf16.h"

namespace foundation {

// The platform's search option bits that the run search honours.
enum class StringSearchOptions : unsigned {
  None = 0,
  Backwards = 4,  // scan from the end of the range towards its start
  Anchored = 8,   // the first scanned character must belong to the set
};
constexpr StringSearchOptions operator|(StringSearchOptions a, StringSearchOptions b) {
  return static_cast<StringSearchOptions>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool hasOption(StringSearchOptions options, StringSearchOptions option) {
  return (static_cast<unsigned>(options) & static_cast<unsigned>(option)) != 0;
}

// The first run of characters of `set` in `range` (the whole text when none),
// scanning forwards or backwards. Not anchored, characters outside the set are
// skipped until the run starts; anchored, the first scanned character must
// start it. The run is extended in the scan direction while characters belong
// to the set. Returns the run's range (location of its lowest unit), or
// kNotFoundRange. A range reaching past the text is cut to the text; an empty
// range finds nothing. A surrogate pair cut by the range's edge reads as an
// unpaired surrogate.
Range rangeOfCharactersFromSet(std::string_view text, const CharacterSet& set,
                               StringSearchOptions options = StringSearchOptions::None,
                               std::optional<Range> range = std::nullopt);

// The text of that run, or none when there is no run.
std::optional<std::string> substringFromSet(std::string_view text, const CharacterSet& set,
                                            StringSearchOptions options = StringSearchOptions::None,
                                            std::optional<Range> range = std::nullopt);

// The ranges of all non-overlapping literal occurrences of `searched`, left to
// right, each search starting where the previous match ended. Empty when the
// searched string is empty or longer than the text.
std::vector<Range> rangesOfString(std::string_view text, std::string_view searched);

// The range of every single character of `set`, left to right (a character
// outside the basic plane gives a range of length 2).
std::vector<Range> rangesOfCharacterSet(std::string_view text, const CharacterSet& set);

// The earliest occurrence of any of `candidates`; on equal locations the one
// earlier in the list wins. When found and `matched` is given, it receives the
// matched text. Empty candidates never match.
Range firstRangeOfStrings(std::string_view text, const std::vector<std::string>& candidates,
                          std::string* matched = nullptr);

}  // namespace foundation
