#include "foundation/MediaIdentityHash.h"

#include "foundation/AESCrypt.h"
#include "foundation/Digests.h"
#include "platform/Diagnostics.h"
#include "platform/PropertyList.h"

namespace foundation {
namespace {

constexpr const char* kHashFailureMessage = "Error trying to compute a hash string for media item";
constexpr std::size_t kSymbolsPerGroup = 4;
constexpr std::size_t kGroupCount = 5;

std::optional<platform::Data> encryptedPropertyList(const platform::Dictionary& dictionary) {
  platform::Result<std::string> xml = platform::writePropertyList(platform::Value(dictionary));
  if (!xml.ok()) return std::nullopt;
  std::optional<platform::Data> key = CreateMD5DigestOfString(kIdentityKeyString);
  if (!key) return std::nullopt;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(xml->data()), xml->size());
  return aesEncryptData(bytes, *key, AESPadding::OnlyWhenUnaligned);
}

char symbolFor(std::uint8_t byte) {
  const int value = byte % 36;
  return value < 26 ? static_cast<char>('A' + value) : static_cast<char>('0' + (value - 26));
}

}  // namespace

std::optional<std::string> cryptedHashStringWithDictionary(const platform::Dictionary& dictionary) {
  std::optional<platform::Data> cipher = encryptedPropertyList(dictionary);
  if (!cipher) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, kHashFailureMessage);
    return std::nullopt;
  }
  // Empty cipher text still has a SHA-1; only a failing library gives none.
  std::optional<platform::Data> digest = digestOfBytes(DigestAlgorithm::SHA1, *cipher);
  if (!digest) return std::nullopt;

  std::string hash;
  hash.reserve(kIdentityHashLength);
  for (std::size_t i = 0; i < kSymbolsPerGroup * kGroupCount; ++i) {
    if (i > 0 && i % kSymbolsPerGroup == 0) hash.push_back('-');
    hash.push_back(symbolFor((*digest)[i]));
  }
  return hash;
}

}  // namespace foundation
