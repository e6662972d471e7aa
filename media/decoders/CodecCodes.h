#pragma once
// Four-character codec codes written as text in tables.

#include <cstdint>
#include <initializer_list>

#include "platform/media/FourCharCode.h"

namespace media {

inline platform::media::FourCharCode codeOf(const char* text) {
  platform::media::FourCharCode code = 0;
  for (int i = 0; i < 4; ++i) code = code << 8 | static_cast<std::uint8_t>(text[i]);
  return code;
}

inline bool isOneOf(platform::media::FourCharCode code, std::initializer_list<const char*> codes) {
  for (const char* text : codes) {
    if (code == codeOf(text)) return true;
  }
  return false;
}

}  // namespace media
