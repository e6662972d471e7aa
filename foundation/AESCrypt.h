#pragma once
// AES-128 in cipher-block chaining mode with an all-zero initialisation vector,
// on libcrypto. The key is the first 16 bytes of the key data; shorter keys are
// refused. Stateless, reentrant; failures answer none and nothing is logged.
//
// Padding: by default PKCS#7 padding is always added, and decryption checks
// and removes it, so decrypt(encrypt(x)) == x for every x. The media identity
// hash needs the older layout that pads only inputs whose length is not a
// multiple of 16 (AESPadding::OnlyWhenUnaligned); such cipher text cannot be
// told apart from unpadded text and is meant for digesting, not for decrypting.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace foundation {

inline constexpr std::size_t kAESKeyLength = 16;
inline constexpr std::size_t kAESBlockLength = 16;

enum class AESPadding {
  Always = 1,             // PKCS#7 on every input (a full block for aligned input)
  OnlyWhenUnaligned = 2,  // PKCS#7 only when the length is not a multiple of 16
};

std::optional<platform::Data> aesEncryptData(std::span<const std::uint8_t> plain, std::span<const std::uint8_t> key,
                                             AESPadding padding = AESPadding::Always);
// Plain data of cipher text made with AESPadding::Always; none when the key is
// short, the length is not a positive multiple of 16 or the padding is wrong.
std::optional<platform::Data> aesDecryptData(std::span<const std::uint8_t> cipher, std::span<const std::uint8_t> key);

// Encryption of the data followed by the suffix.
std::optional<platform::Data> aesEncryptDataWithSuffix(std::span<const std::uint8_t> plain,
                                                       std::span<const std::uint8_t> key,
                                                       std::span<const std::uint8_t> suffix);
// The plain data before the first occurrence of the marker; none when the
// marker is empty or does not occur.
std::optional<platform::Data> aesDecryptDataUpToMarker(std::span<const std::uint8_t> cipher,
                                                       std::span<const std::uint8_t> key,
                                                       std::span<const std::uint8_t> marker);

// Base64 text of the encryption of the string's UTF-8 bytes.
std::optional<std::string> aesEncryptStringToBase64(std::string_view text, std::span<const std::uint8_t> key);
// The decrypted bytes of Base64 cipher text, read as UTF-8 (none when they are
// not valid UTF-8).
std::optional<std::string> aesDecryptBase64String(std::string_view base64, std::span<const std::uint8_t> key);
std::optional<platform::Data> aesDecryptBase64StringToData(std::string_view base64, std::span<const std::uint8_t> key);

}  // namespace foundation
