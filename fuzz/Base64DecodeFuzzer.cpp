// Base64 decoding and AES decryption of untrusted text: never crash, and
// whatever decodes must survive a re-encode unchanged.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/AESCrypt.h"
#include "foundation/Base64Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<platform::Data> decoded = foundation::base64DecodeString(text)) {
    if (foundation::base64DecodeString(foundation::base64EncodeData(*decoded)) != decoded) std::abort();
  }
  static const platform::Data kKey(16, 0x5A);
  (void)foundation::aesDecryptBase64StringToData(text, kKey);
  (void)foundation::aesDecryptData({data, size}, kKey);
  return 0;
}
