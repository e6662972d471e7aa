#pragma once
// Display names of the four-character codes of video and audio codecs and
// formats (a 32-bit code whose bytes, most significant first, are four
// characters), and whether a code names an image or sound file format. Codes
// without a name are shown as their four characters. Class operations over
// constant tables; reentrant.

#include <cstdint>
#include <string>
#include <string_view>

namespace foundation {

// The code of four characters, first character in the most significant byte.
constexpr std::uint32_t fourCharCode(std::string_view chars) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    code = (code << 8) | static_cast<std::uint8_t>(i < chars.size() ? chars[i] : ' ');
  }
  return code;
}

class CodecTypeDescription {
 public:
  CodecTypeDescription() = delete;

  // The four characters, most significant byte first. Bytes above 0x7F are
  // read as Latin-1, so the result is always valid UTF-8.
  static std::string codecTypeDescriptionWith(std::uint32_t code);
  // Codes arrive as signed 32-bit numbers; the bits are what count.
  static std::string videoCodecTypeDescriptionWith(std::int32_t code);
  static std::string audioCodecTypeDescriptionWith(std::int32_t code);
  static bool isImageFormatDescription(std::int32_t code);
  static bool isSoundFileFormatDescription(std::int32_t code);
};

}  // namespace foundation
