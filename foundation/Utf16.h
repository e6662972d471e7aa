#pragma once
// UTF-16 view of UTF-8 text. Our strings are UTF-8 std::string, but every
// range the string helpers take or return (location, length) counts UTF-16
// code units, the unit in which documents, scripts and the window layer
// measure text: a character outside the basic plane (an emoji, U+1F600)
// counts 2, "é" counts 1, although each is several UTF-8 bytes.
//
// Stateless free functions; safe on any thread.
//
// Ill-formed input never fails: each ill-formed UTF-8 sequence (each maximal
// invalid subpart) reads as one U+FFFD, and an unpaired surrogate written back
// to UTF-8 (for instance a range that splits a surrogate pair) becomes U+FFFD.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Utf8.h"

namespace foundation {

// "Not found" location: the largest signed 64-bit number.
inline constexpr std::size_t kNotFound = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());

// A run of UTF-16 code units.
struct Range {
  std::size_t location = kNotFound;
  std::size_t length = 0;

  std::size_t end() const { return location + length; }
  bool isNotFound() const { return location == kNotFound; }
  friend bool operator==(const Range&, const Range&) = default;
};

inline constexpr Range kNotFoundRange{kNotFound, 0};

// Decoding and encoding UTF-8 (U+FFFD for ill-formed input) live in the
// platform layer; these names stay here for the string helpers.
using platform::appendUtf8;
using platform::kReplacementCharacter;
using platform::nextCodePoint;

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
// Number of UTF-16 code units of the text (as decoded by toUtf16).
std::size_t utf16Length(std::string_view utf8);

// One character of UTF-16 text: its code point and how many units it spans.
// A surrogate pair is one character of width 2; an unpaired surrogate is a
// character of width 1 whose code point is the surrogate itself.
struct Utf16Character {
  char32_t codePoint = 0;
  std::size_t width = 0;
};
// The character that starts at `index`, not reaching past `end` (index < end <= text.size()).
Utf16Character characterAt(std::u16string_view text, std::size_t index, std::size_t end);
// The character that ends at `index`, not reaching before `start` (start < index <= text.size()).
Utf16Character characterBefore(std::u16string_view text, std::size_t index, std::size_t start);

// The text of a UTF-16 range; none when the range does not lie inside the text.
std::optional<std::string> substringWithRange(std::string_view utf8, Range range);

}  // namespace foundation
