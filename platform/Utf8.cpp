#include "platform/Utf8.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

bool isTrail(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

Utf8Character decodeUtf8(std::string_view utf8, std::size_t index) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  const unsigned char lead = byteAt(index);
  if (lead < 0x80) return {lead, 1, true};

  // Length and the allowed range of the second byte; everything else is
  // refused at the lead byte.
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
    return {};
  }

  std::size_t length = 1;
  for (std::size_t n = 0; n < trailCount; ++n) {
    // A missing or wrong trail byte ends the maximal subpart; it is not part of it.
    const std::size_t at = index + length;
    if (at >= utf8.size()) return {kReplacementCharacter, length, false};
    const unsigned char byte = byteAt(at);
    const bool fits = n == 0 ? isTrail(byte, secondLow, secondHigh) : isTrail(byte);
    if (!fits) return {kReplacementCharacter, length, false};
    value = (value << 6) | (byte & 0x3F);
    ++length;
  }
  return {value, length, true};
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

bool isValidUtf8(std::string_view utf8) {
  // Most text is ASCII: eight bytes at a time until the first byte that is not.
  std::size_t i = 0;
  for (; i + 8 <= utf8.size(); i += 8) {
    std::uint64_t block = 0;
    std::memcpy(&block, utf8.data() + i, 8);
    if ((block & 0x8080808080808080ULL) != 0) break;
  }
  for (; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    const Utf8Character character = decodeUtf8(utf8, i);
    if (!character.wellFormed) return false;
    i += character.length;
  }
  return true;
}

}  // namespace platform
