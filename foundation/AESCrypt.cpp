#include "foundation/AESCrypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "foundation/Base64Encoding.h"
#include "foundation/TextEncoding.h"

namespace foundation {
namespace {

// libcrypto counts lengths in int; larger inputs go through in slices (a
// multiple of the block length, so chaining carries across slices).
constexpr std::size_t kSlice = std::size_t{1} << 30;

enum class Direction { Encrypt, Decrypt };

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

std::optional<platform::Data> runCipher(Direction direction, std::span<const std::uint8_t> input,
                                        std::span<const std::uint8_t> key, bool pad) {
  if (key.size() < kAESKeyLength) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context) return std::nullopt;
  const std::uint8_t zeroVector[kAESBlockLength] = {};
  const int encrypt = direction == Direction::Encrypt ? 1 : 0;
  if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key.data(), zeroVector, encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), pad ? 1 : 0) != 1) {
    return std::nullopt;
  }

  platform::Data out(input.size() + kAESBlockLength);
  std::size_t produced = 0;
  for (std::size_t offset = 0; offset < input.size(); offset += kSlice) {
    const std::size_t length = std::min(kSlice, input.size() - offset);
    int written = 0;
    if (EVP_CipherUpdate(context.get(), out.data() + produced, &written, input.data() + offset,
                         static_cast<int>(length)) != 1) {
      return std::nullopt;
    }
    produced += static_cast<std::size_t>(written);
  }
  int written = 0;
  if (EVP_CipherFinal_ex(context.get(), out.data() + produced, &written) != 1) return std::nullopt;
  out.resize(produced + static_cast<std::size_t>(written));
  return out;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::optional<platform::Data> aesEncryptData(std::span<const std::uint8_t> plain, std::span<const std::uint8_t> key,
                                             AESPadding padding) {
  const bool pad = padding == AESPadding::Always || plain.size() % kAESBlockLength != 0;
  return runCipher(Direction::Encrypt, plain, key, pad);
}

std::optional<platform::Data> aesDecryptData(std::span<const std::uint8_t> cipher, std::span<const std::uint8_t> key) {
  if (cipher.empty() || cipher.size() % kAESBlockLength != 0) return std::nullopt;
  return runCipher(Direction::Decrypt, cipher, key, true);
}

std::optional<platform::Data> aesEncryptDataWithSuffix(std::span<const std::uint8_t> plain,
                                                       std::span<const std::uint8_t> key,
                                                       std::span<const std::uint8_t> suffix) {
  platform::Data joined(plain.begin(), plain.end());
  joined.insert(joined.end(), suffix.begin(), suffix.end());
  return aesEncryptData(joined, key);
}

std::optional<platform::Data> aesDecryptDataUpToMarker(std::span<const std::uint8_t> cipher,
                                                       std::span<const std::uint8_t> key,
                                                       std::span<const std::uint8_t> marker) {
  if (marker.empty()) return std::nullopt;
  std::optional<platform::Data> plain = aesDecryptData(cipher, key);
  if (!plain) return std::nullopt;
  auto found = std::search(plain->begin(), plain->end(), marker.begin(), marker.end());
  if (found == plain->end()) return std::nullopt;
  plain->erase(found, plain->end());
  return plain;
}

std::optional<std::string> aesEncryptStringToBase64(std::string_view text, std::span<const std::uint8_t> key) {
  std::optional<platform::Data> cipher = aesEncryptData(bytesOf(text), key);
  if (!cipher) return std::nullopt;
  return base64EncodeData(*cipher);
}

std::optional<platform::Data> aesDecryptBase64StringToData(std::string_view base64, std::span<const std::uint8_t> key) {
  std::optional<platform::Data> cipher = base64DecodeString(base64);
  if (!cipher) return std::nullopt;
  return aesDecryptData(*cipher, key);
}

std::optional<std::string> aesDecryptBase64String(std::string_view base64, std::span<const std::uint8_t> key) {
  std::optional<platform::Data> plain = aesDecryptBase64StringToData(base64, key);
  if (!plain) return std::nullopt;
  std::string text(plain->begin(), plain->end());
  if (!isValidUTF8(text)) return std::nullopt;
  return text;
}

}  // namespace foundation
