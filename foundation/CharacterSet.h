#pragma once
// CharacterSet: an immutable set of Unicode characters for the string search
// and replace helpers (digits, white space, a list of characters, a range).
//
// Values are cheap to copy (shared, immutable) and safe to use from any thread.
// Membership is by whole character (code point): a character outside the basic
// plane belongs to a set as one character even though it spans two UTF-16
// units of a range.

#include <memory>
#include <string_view>

namespace foundation {

class CharacterSet {
 public:
  // Decimal digits of every script (general category Nd).
  static CharacterSet decimalDigits();
  // Spaces and tabs (general category Zs plus tab).
  static CharacterSet whitespaces();
  // White space plus line and paragraph breaks (U+000A to U+000D, U+0085, Zl, Zp).
  static CharacterSet whitespacesAndNewlines();
  // Letters and marks (categories L and M).
  static CharacterSet letters();
  // Letters, marks and numbers (categories L, M and N).
  static CharacterSet alphanumerics();
  // Punctuation (categories P).
  static CharacterSet punctuation();
  // The characters of a UTF-8 text (ill-formed bytes add U+FFFD).
  static CharacterSet withCharactersInString(std::string_view characters);
  // The characters from `first` to `last` inclusive; empty when last < first.
  static CharacterSet withRange(char32_t first, char32_t last);

  // Every character (and unpaired surrogate) not in this set.
  CharacterSet inverted() const;
  bool contains(char32_t character) const;

  struct Impl;  // opaque

 private:
  explicit CharacterSet(std::shared_ptr<const Impl> impl);
  std::shared_ptr<const Impl> impl_;
};

}  // namespace foundation
