#include "foundation/XORCipher.h"

namespace foundation {

platform::Result<std::string> xorStrings(std::string_view text, std::string_view key) {
  if (key.empty()) {
    return platform::Error(kXORCipherErrorDomain, XORCipherErrorCode::EmptyKey, "the XOR key is empty");
  }
  std::string out(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] ^ key[i % key.size()]);
  return out;
}

}  // namespace foundation
