#include "foundation/GenerateUniqueID.h"

#include <openssl/rand.h>

#include <array>
#include <random>

#include "foundation/FileItemAttributes.h"
#include "foundation/MediaIdentityHash.h"
#include "platform/Value.h"

namespace foundation {
namespace {

std::array<std::uint8_t, 16> randomBytes() {
  std::array<std::uint8_t, 16> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    // The system generator stands in if libcrypto's cannot be seeded; a unique
    // ID must never fail.
    std::random_device device;
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(device());
  }
  return bytes;
}

std::optional<platform::Dictionary> resourceValues(const std::filesystem::path& fileURL) {
  if (fileURL.empty()) return std::nullopt;
  platform::Result<FileItemAttributes> attributes = readFileItemAttributes(fileURL);
  if (!attributes.ok()) return std::nullopt;
  platform::Dictionary values;
  values[kURLNameKey] = platform::Value(attributes->name);
  if (attributes->creationDate) values[kURLCreationDateKey] = platform::Value(*attributes->creationDate);
  if (attributes->modificationDate) {
    values[kURLContentModificationDateKey] = platform::Value(*attributes->modificationDate);
  }
  // The size is a property of regular files only.
  if (attributes->isRegularFile && attributes->size) {
    values[kURLFileSizeKey] = platform::Value(static_cast<std::int64_t>(*attributes->size));
  }
  return values;
}

}  // namespace

std::string GenerateUniqueID::generateUniqueID() {
  std::array<std::uint8_t, 16> bytes = randomBytes();
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string id;
  id.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id.push_back('-');
    id.push_back(kHexDigits[bytes[i] >> 4]);
    id.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return id;
}

std::optional<std::string> GenerateUniqueID::hashStringForFileAtURL(const std::filesystem::path& fileURL) {
  std::optional<platform::Dictionary> values = resourceValues(fileURL);
  if (!values || values->empty()) return std::nullopt;
  return cryptedHashStringWithDictionary(*values);
}

std::optional<std::string> GenerateUniqueID::hashStringForFileAtURLs(
    const std::vector<std::filesystem::path>& fileURLs) {
  platform::Dictionary byName;
  for (const std::filesystem::path& fileURL : fileURLs) {
    std::optional<platform::Dictionary> values = resourceValues(fileURL);
    if (!values) return std::nullopt;
    if (values->empty()) continue;
    std::string name = (*values)[kURLNameKey].stringOr("");
    byName[std::move(name)] = platform::Value(std::move(*values));
  }
  if (byName.empty()) return std::nullopt;
  return cryptedHashStringWithDictionary(byName);
}

}  // namespace foundation
