#pragma once
// Message digests (MD5, SHA-1, SHA-256) and HMAC over bytes and strings held in
// memory. Stateless free functions on libcrypto; reentrant, safe on any thread.
// For files use FileDigest.h, which streams instead of loading the file.
//
// The string and data digests answer none (std::nullopt) for empty input, as
// callers treat "no bytes" as "no digest"; digestOfBytes and hmacOfBytes accept
// empty input. None of these functions logs.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "platform/Value.h"

namespace foundation {

enum class DigestAlgorithm { MD5 = 1, SHA1 = 2, SHA256 = 3 };

// Length in bytes of a digest of the algorithm (16, 20 or 32).
std::size_t digestLength(DigestAlgorithm algorithm);

// A digest fed piece by piece (streams, files). Owned by its creator, used on
// one thread at a time. After a failed step every later step fails too.
class DigestContext {
 public:
  explicit DigestContext(DigestAlgorithm algorithm);
  ~DigestContext();
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;

  bool update(std::span<const std::uint8_t> bytes);
  // The digest of everything fed so far; none when any step failed. Ends the
  // context: a later update or finish fails.
  std::optional<platform::Data> finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The digest of the bytes; none only when the crypto library fails.
std::optional<platform::Data> digestOfBytes(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes);

// HMAC of the bytes under the key (any key length); none when the library fails.
std::optional<platform::Data> hmacOfBytes(DigestAlgorithm algorithm, std::span<const std::uint8_t> key,
                                          std::span<const std::uint8_t> bytes);

// 16-byte MD5 of the string's UTF-8 bytes; none for the empty string.
std::optional<platform::Data> CreateMD5DigestOfString(std::string_view text);
// 20-byte SHA-1 of the string's UTF-8 bytes; none for the empty string.
std::optional<platform::Data> sha1DigestOfString(std::string_view text);
// 20-byte SHA-1 of the data; none for empty data.
std::optional<platform::Data> sha1DigestOfData(std::span<const std::uint8_t> data);

}  // namespace foundation
