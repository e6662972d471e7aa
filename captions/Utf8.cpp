#include "captions/Utf8.h"

namespace captions {

std::vector<char32_t> utf8CodePoints(const std::string& text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : (lead & 0xe0) == 0xc0 ? 1 : (lead & 0xf0) == 0xe0 ? 2 : (lead & 0xf8) == 0xf0 ? 3 : -1;
    char32_t point = extra == 0 ? lead : extra == 1 ? lead & 0x1f : extra == 2 ? lead & 0x0f : lead & 0x07;
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) valid = false;
      point = (point << 6) | (next & 0x3f);
    }
    if (!valid) {
      points.push_back(0xfffd);
      ++i;
      continue;
    }
    points.push_back(point);
    i += 1 + extra;
  }
  return points;
}

void appendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xc0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3f));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xe0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (point & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (point & 0x3f));
  }
}

}  // namespace captions
