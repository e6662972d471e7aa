#pragma once
// Four-character codes (pixel formats, media types, codec types) as the
// big-endian 32-bit numbers the media types carry, and back to text.

#include <cstdint>
#include <string>

namespace platform::media {

using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCC(const char (&code)[5]) {
  return (static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

// "2vuy" for a printable code, the decimal number otherwise ("32").
std::string fourCCString(FourCharCode code);

}  // namespace platform::media
