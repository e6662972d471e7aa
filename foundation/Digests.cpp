#include "foundation/Digests.h"

#include <openssl/evp.h>

namespace foundation {
namespace {

const EVP_MD* messageDigest(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5:
      return EVP_md5();
    case DigestAlgorithm::SHA1:
      return EVP_sha1();
    case DigestAlgorithm::SHA256:
      return EVP_sha256();
  }
  return nullptr;
}

const char* digestName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5:
      return "MD5";
    case DigestAlgorithm::SHA1:
      return "SHA1";
    case DigestAlgorithm::SHA256:
      return "SHA256";
  }
  return "";
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::size_t digestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5:
      return 16;
    case DigestAlgorithm::SHA1:
      return 20;
    case DigestAlgorithm::SHA256:
      return 32;
  }
  return 0;
}

struct DigestContext::Impl {
  DigestAlgorithm algorithm;
  EVP_MD_CTX* context = nullptr;
  bool failed = false;
  ~Impl() { EVP_MD_CTX_free(context); }
};

DigestContext::DigestContext(DigestAlgorithm algorithm) : impl_(std::make_unique<Impl>()) {
  impl_->algorithm = algorithm;
  impl_->context = EVP_MD_CTX_new();
  const EVP_MD* md = messageDigest(algorithm);
  impl_->failed = !impl_->context || !md || EVP_DigestInit_ex(impl_->context, md, nullptr) != 1;
}

DigestContext::~DigestContext() = default;

bool DigestContext::update(std::span<const std::uint8_t> bytes) {
  if (impl_->failed) return false;
  if (EVP_DigestUpdate(impl_->context, bytes.data(), bytes.size()) != 1) impl_->failed = true;
  return !impl_->failed;
}

std::optional<platform::Data> DigestContext::finish() {
  if (impl_->failed) return std::nullopt;
  impl_->failed = true;  // a context finishes once
  platform::Data out(digestLength(impl_->algorithm));
  unsigned int written = 0;
  if (EVP_DigestFinal_ex(impl_->context, out.data(), &written) != 1 || written != out.size()) return std::nullopt;
  return out;
}

std::optional<platform::Data> digestOfBytes(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes) {
  const EVP_MD* md = messageDigest(algorithm);
  if (!md) return std::nullopt;
  platform::Data out(digestLength(algorithm));
  unsigned int written = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &written, md, nullptr) != 1 || written != out.size()) {
    return std::nullopt;
  }
  return out;
}

std::optional<platform::Data> hmacOfBytes(DigestAlgorithm algorithm, std::span<const std::uint8_t> key,
                                          std::span<const std::uint8_t> bytes) {
  // libcrypto refuses a null key pointer even with length 0; an empty key is a
  // valid HMAC key (it is zero-padded to the block size).
  static const std::uint8_t kNoKey = 0;
  const std::uint8_t* keyBytes = key.empty() ? &kNoKey : key.data();
  platform::Data out(digestLength(algorithm));
  std::size_t written = 0;
  if (!EVP_Q_mac(nullptr, "HMAC", nullptr, digestName(algorithm), nullptr, keyBytes, key.size(), bytes.data(),
                 bytes.size(), out.data(), out.size(), &written) ||
      written != out.size()) {
    return std::nullopt;
  }
  return out;
}

std::optional<platform::Data> CreateMD5DigestOfString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return digestOfBytes(DigestAlgorithm::MD5, bytesOf(text));
}

std::optional<platform::Data> sha1DigestOfString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return digestOfBytes(DigestAlgorithm::SHA1, bytesOf(text));
}

std::optional<platform::Data> sha1DigestOfData(std::span<const std::uint8_t> data) {
  if (data.empty()) return std::nullopt;
  return digestOfBytes(DigestAlgorithm::SHA1, data);
}

}  // namespace foundation
