#pragma once
// DRTLEncrypter: target tokens encrypted before they are stored. AES-256-CBC
// with PKCS7 padding (OpenSSL), a new 16-byte vector per value, two random
// 32-byte keys kept in the keychain as Base64 under their tags; the tag for
// new values changes once a year ("EncryptionKeyMetadata" = tag "/" expiry).
// A value is "<tag>/AES/CBC/PKCS7/32" ":" vector + cipher text; older values
// (cipher text only, main key, zero vector) are still read.
//
// Any thread: one process-wide lock serialises the tag decision and the
// creation of keys.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telemetry::core {

inline constexpr const char* kDRTLEncryptionKeyTag = "kDREncryptionKeyTag";
inline constexpr const char* kDRTLEncryptionKeyTagAlternate = "kDREncryptionKeyTagAlternate";
inline constexpr std::int64_t kDRTLEncryptionKeyLifetimeSeconds = 31536000;

class DRTLEncrypter {
 public:
  using Bytes = std::vector<std::uint8_t>;

  std::optional<std::string> encryptString(const std::string& text);
  std::optional<Bytes> encryptData(const Bytes& data);
  // None, with a WARNING, for text that is not Base64, a value that is short,
  // of an unknown tag or badly padded, or plain text that is not UTF-8.
  std::optional<std::string> decryptString(const std::string& base64);
  std::optional<Bytes> decryptData(const Bytes& value);

  static std::string getCurrentKeyTag();
  static void rotateToNewKeyTag(const std::string& tag);

 private:
  // The key of the tag, made and stored when `create` and none exists.
  static std::optional<Bytes> keyWithTag(const std::string& tag, bool create);
};

}  // namespace telemetry::core
