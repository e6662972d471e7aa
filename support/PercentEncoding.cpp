#include "support/PercentEncoding.h"

#include <cctype>

namespace support {

std::string percentEncoded(const std::string& text, PercentEncodingPart part) {
  static const char* hex = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    const bool kept = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
                      (c == '/' && part == PercentEncodingPart::Path);
    if (kept) encoded += static_cast<char>(c);
    else encoded += {'%', hex[c >> 4], hex[c & 15]};
  }
  return encoded;
}

}  // namespace support
