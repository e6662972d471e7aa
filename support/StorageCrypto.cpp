#include "support/StorageCrypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

namespace support::StorageCrypto {

namespace {
std::string hmac(const EVP_MD* digest, const std::string& key, const std::string& message) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(digest, key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
       message.size(), out, &length);
  return std::string(reinterpret_cast<const char*>(out), length);
}
}  // namespace

std::string hmacSha1(const std::string& key, const std::string& message) { return hmac(EVP_sha1(), key, message); }

std::string hmacSha256(const std::string& key, const std::string& message) {
  return hmac(EVP_sha256(), key, message);
}

std::string sha256(std::string_view data) {
  unsigned char out[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out);
  return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::update(std::string_view data) { EVP_DigestUpdate(context_, data.data(), data.size()); }

std::string Sha256::finish() {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_, out, &length);
  return std::string(reinterpret_cast<const char*>(out), length);
}

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) text += {digits[c >> 4], digits[c & 15]};
  return text;
}

}  // namespace support::StorageCrypto
