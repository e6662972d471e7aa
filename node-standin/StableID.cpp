#include "node-standin/StableID.h"

#include <cstdio>

#include "foundation/Digests.h"

namespace standin {

std::string stableUniqueID(std::string_view text) {
  // The digest of the empty string would be none; a fixed prefix keeps every
  // input non-empty.
  const std::string input = "standin:" + std::string(text);
  platform::Data digest = foundation::sha1DigestOfString(input).value_or(platform::Data(20, 0));
  digest.resize(16);
  digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0F) | 0x50);  // version 5
  digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::string id;
  id.reserve(36);
  char hex[3];
  for (std::size_t i = 0; i < digest.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id.push_back('-');
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    id.append(hex);
  }
  return id;
}

}  // namespace standin
