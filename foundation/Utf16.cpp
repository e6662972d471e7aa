#include "foundation/Utf16.h"

namespace foundation {
namespace {

bool isTrail(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool isLeadSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isTrailSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
char32_t combine(char16_t lead, char16_t trail) { return 0x10000 + ((lead - 0xD800) << 10) + (trail - 0xDC00); }

}  // namespace

char32_t nextCodePoint(std::string_view utf8, std::size_t& index) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  const unsigned char lead = byteAt(index++);
  if (lead < 0x80) return lead;

  // Length and the allowed range of the second byte (the well-formed table of
  // the Unicode standard); everything else is refused at the lead byte.
  std::size_t trailCount = 0;
  unsigned char secondLow = 0x80, secondHigh = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailCount = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailCount = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) secondLow = 0xA0;
    if (lead == 0xED) secondHigh = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailCount = 3;
    value = lead & 0x07;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;  // nothing past U+10FFFF
  } else {
    return kReplacementCharacter;
  }

  for (std::size_t n = 0; n < trailCount; ++n) {
    // A missing or wrong trail byte ends the maximal subpart; it is not consumed.
    if (index >= utf8.size()) return kReplacementCharacter;
    const unsigned char byte = byteAt(index);
    const bool fits = n == 0 ? isTrail(byte, secondLow, secondHigh) : isTrail(byte);
    if (!fits) return kReplacementCharacter;
    value = (value << 6) | (byte & 0x3F);
    ++index;
  }
  return value;
}

void appendUtf8(std::string& out, char32_t c) {
  if (isSurrogate(c) || c > 0x10FFFF) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

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
