#pragma once
// The one UTF-8 decoder and encoder of the system. Everything that reads or
// writes UTF-8 by hand (property lists, the UTF-16 view of strings, node
// replies) goes through here, so all agree on what is well formed: the
// well-formed byte table of the Unicode standard, which refuses overlong
// forms, encoded surrogates and values past U+10FFFF.
//
// Stateless free functions; safe on any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// One decoded character. For an ill-formed sequence, codePoint is U+FFFD and
// length spans its maximal invalid subpart (at least one byte).
struct Utf8Character {
  char32_t codePoint = kReplacementCharacter;
  std::size_t length = 1;
  bool wellFormed = false;
};

// Decodes the character that starts at byte `index` (index < utf8.size()).
Utf8Character decodeUtf8(std::string_view utf8, std::size_t index);

// Decodes the character at byte `index` and moves `index` past it. An
// ill-formed sequence gives U+FFFD and moves past its maximal invalid subpart.
inline char32_t nextCodePoint(std::string_view utf8, std::size_t& index) {
  const Utf8Character character = decodeUtf8(utf8, index);
  index += character.length;
  return character.codePoint;
}

// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF
// are written as U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

bool isValidUtf8(std::string_view utf8);

}  // namespace platform
