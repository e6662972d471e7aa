#include "media/readers/movie/FFmpegText.h"

#include <chrono>
#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/Clock.h"

namespace media {

std::string printableText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

std::string libraryErrorText(int error) {
  char text[64] = {};
  av_strerror(error, text, sizeof text);
  return printableText(text);
}

platform::media::FourCharCode fourCCFromCodecTag(std::uint32_t tag) {
  return ((tag & 0xffu) << 24) | ((tag & 0xff00u) << 8) | ((tag >> 8) & 0xff00u) | (tag >> 24);
}

double clockSeconds() {
  return std::chrono::duration<double>(platform::Clock::current().now().time_since_epoch()).count();
}

}  // namespace media
