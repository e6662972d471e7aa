#include "foundation/Utf16.h"

namespace foundation {
namespace {

bool isLeadSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isTrailSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
char32_t combine(char16_t lead, char16_t trail) { return 0x10000 + ((lead - 0xD800) << 10) + (trail - 0xDC00); }

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = nextCodePoint(utf8, i);
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(0xD7C0 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    }
  }
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const Utf16Character character = characterAt(utf16, i, utf16.size());
    appendUtf8(out, character.codePoint);  // an unpaired surrogate becomes U+FFFD
    i += character.width - 1;
  }
  return out;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < utf8.size();) length += nextCodePoint(utf8, i) >= 0x10000 ? 2 : 1;
  return length;
}

Utf16Character characterAt(std::u16string_view text, std::size_t index, std::size_t end) {
  const char16_t unit = text[index];
  if (isLeadSurrogate(unit) && index + 1 < end && isTrailSurrogate(text[index + 1]))
    return {combine(unit, text[index + 1]), 2};
  return {unit, 1};
}

Utf16Character characterBefore(std::u16string_view text, std::size_t index, std::size_t start) {
  const char16_t unit = text[index - 1];
  if (isTrailSurrogate(unit) && index - 1 > start && isLeadSurrogate(text[index - 2]))
    return {combine(text[index - 2], unit), 2};
  return {unit, 1};
}

std::optional<std::string> substringWithRange(std::string_view utf8, Range range) {
  const std::u16string text = toUtf16(utf8);
  if (range.location > text.size() || range.length > text.size() - range.location) return std::nullopt;
  return toUtf8(std::u16string_view(text).substr(range.location, range.length));
}

}  // namespace foundation
