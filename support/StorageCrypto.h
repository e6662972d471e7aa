#pragma once
// The hashes the storage signatures are made of (OpenSSL), as raw bytes.
#include <openssl/types.h>

#include <string>
#include <string_view>

namespace support::StorageCrypto {

std::string hmacSha1(const std::string& key, const std::string& message);
std::string hmacSha256(const std::string& key, const std::string& message);
std::string sha256(std::string_view data);

// SHA-256 over data given piece by piece (each piece hashed while still in cache).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(std::string_view data);
  std::string finish();  // raw bytes

 private:
  EVP_MD_CTX* context_;
};
std::string hex(const std::string& bytes);

}  // namespace support::StorageCrypto
