#include "foundation/XMLValidation.h"

#include "foundation/Utf16.h"

namespace foundation {
namespace {

bool isXMLCharacter(char32_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes at `index`; false for a character XML refuses or an ill-formed sequence.
bool nextIsValid(std::string_view text, std::size_t& index, char32_t& c) {
  const platform::Utf8Character character = platform::decodeUtf8(text, index);
  index += character.length;
  c = character.codePoint;
  return character.wellFormed && isXMLCharacter(c);
}

}  // namespace

bool isValidXMLString(std::string_view text) {
  char32_t c = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (!nextIsValid(text, i, c)) return false;
  }
  return true;
}

std::string validXMLString(std::string_view text) {
  if (isValidXMLString(text)) return std::string(text);
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = nextCodePoint(text, i);
    if (isXMLCharacter(c)) appendUtf8(result, c);
  }
  return result;
}

}  // namespace foundation
