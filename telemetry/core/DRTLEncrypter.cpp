#include "telemetry/core/DRTLEncrypter.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <mutex>

#include "platform/Base64.h"
#include "platform/Clock.h"
#include "platform/Utf8.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLKeychainUtil.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

constexpr std::size_t kKeyLength = 32;
constexpr std::size_t kVectorLength = 16;
constexpr std::size_t kBlockLength = 16;
constexpr const char* kMetadataKey = "EncryptionKeyMetadata";

std::mutex& keyMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<DRTLEncrypter::Bytes> randomBytes(std::size_t count, const char* what) {
  DRTLEncrypter::Bytes bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
    DRTLLogError(std::string("Error generating ") + what + ". Error code: -1");
    return std::nullopt;
  }
  return bytes;
}

std::optional<DRTLEncrypter::Bytes> crypt(bool encrypt, const DRTLEncrypter::Bytes& input,
                                          const DRTLEncrypter::Bytes& vector, const DRTLEncrypter::Bytes& key) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  DRTLEncrypter::Bytes output(input.size() + kBlockLength + 1);
  int written = 0, last = 0;
  const bool ok = context &&
                  EVP_CipherInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(), vector.data(), encrypt ? 1 : 0) == 1 &&
                  EVP_CipherUpdate(context, output.data(), &written, input.data(), static_cast<int>(input.size())) == 1 &&
                  EVP_CipherFinal_ex(context, output.data() + written, &last) == 1;
  EVP_CIPHER_CTX_free(context);
  if (!ok) {
    DRTLLogError(std::string("Error performing encryption or decryption."));
    return std::nullopt;
  }
  output.resize(static_cast<std::size_t>(written + last));
  return output;
}

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

}  // namespace

void DRTLEncrypter::rotateToNewKeyTag(const std::string& tag) {
  const platform::Date expiry = now() + std::chrono::seconds(kDRTLEncryptionKeyLifetimeSeconds);
  DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(tag + "/" + DRTLUtility::dateToISO8601(expiry)),
                                                 kMetadataKey);
}

std::string DRTLEncrypter::getCurrentKeyTag() {
  std::lock_guard lock(keyMutex());
  const platform::Value metadata = DRTLDirAradedUserDefaults::shared()->objectForKey(kMetadataKey);
  if (!metadata.isString()) {
    rotateToNewKeyTag(kDRTLEncryptionKeyTagAlternate);
    return kDRTLEncryptionKeyTagAlternate;
  }
  const std::string& text = *metadata.string();
  const std::size_t slash = text.find('/');
  const std::string tag = text.substr(0, slash);
  std::optional<platform::Date> expiry =
      slash == std::string::npos ? std::nullopt : DRTLUtility::dateFromISO8601(text.substr(slash + 1));
  if (!expiry || *expiry < now()) {
    const std::string next = tag == kDRTLEncryptionKeyTagAlternate ? kDRTLEncryptionKeyTag : kDRTLEncryptionKeyTagAlternate;
    rotateToNewKeyTag(next);
    return next;
  }
  return tag;
}

std::optional<DRTLEncrypter::Bytes> DRTLEncrypter::keyWithTag(const std::string& tag, bool create) {
  std::lock_guard lock(keyMutex());
  if (std::optional<std::string> stored = DRTLKeychainUtil::stringForKey(tag, nullptr)) {
    std::optional<Bytes> key = platform::base64Decode(*stored);
    if (key && key->size() == kKeyLength) return key;
  }
  if (!create) return std::nullopt;
  std::optional<Bytes> key = randomBytes(kKeyLength, "encryption key");
  if (!key || !DRTLKeychainUtil::storeString(platform::base64Encode(*key), tag)) return std::nullopt;
  return key;
}

std::optional<DRTLEncrypter::Bytes> DRTLEncrypter::encryptData(const Bytes& data) {
  const std::string tag = getCurrentKeyTag();
  std::optional<Bytes> key = keyWithTag(tag, true);
  std::optional<Bytes> vector = randomBytes(kVectorLength, "initialization vector");
  if (!key || !vector) return std::nullopt;
  std::optional<Bytes> cipher = crypt(true, data, *vector, *key);
  if (!cipher) return std::nullopt;
  const std::string metadata = tag + "/AES/CBC/PKCS7/32:";
  Bytes value(metadata.begin(), metadata.end());
  value.insert(value.end(), vector->begin(), vector->end());
  value.insert(value.end(), cipher->begin(), cipher->end());
  return value;
}

std::optional<std::string> DRTLEncrypter::encryptString(const std::string& text) {
  std::optional<Bytes> value = encryptData(Bytes(text.begin(), text.end()));
  if (!value) return std::nullopt;
  return platform::base64Encode(*value);
}

// A value carries metadata only when the text before its first ":" names one
// of the two slots; an older value is bare cipher text, which may hold a ":"
// byte of its own. Lengths are checked, and a missing key is never made here,
// since it could not decrypt anything.
std::optional<DRTLEncrypter::Bytes> DRTLEncrypter::decryptData(const Bytes& value) {
  std::string tag = kDRTLEncryptionKeyTag;
  Bytes vector(kVectorLength, 0), cipher = value;
  const auto colon = std::find(value.begin(), value.end(), static_cast<std::uint8_t>(':'));
  const std::string head(value.begin(), colon);
  const std::size_t slash = head.find('/');
  const std::string headTag = head.substr(0, slash);
  const bool hasMetadata = colon != value.end() && slash != std::string::npos &&
                           (headTag == kDRTLEncryptionKeyTag || headTag == kDRTLEncryptionKeyTagAlternate);
  if (hasMetadata) {
    tag = headTag;
    const std::size_t rest = static_cast<std::size_t>(value.end() - colon) - 1;
    if (rest < kVectorLength + kBlockLength) return std::nullopt;
    vector.assign(colon + 1, colon + 1 + kVectorLength);
    cipher.assign(colon + 1 + kVectorLength, value.end());
  }
  if (cipher.empty() || cipher.size() % kBlockLength != 0) return std::nullopt;
  std::optional<Bytes> key = keyWithTag(tag, false);
  if (!key) return std::nullopt;
  return crypt(false, cipher, vector, *key);
}

std::optional<std::string> DRTLEncrypter::decryptString(const std::string& base64) {
  std::optional<Bytes> value = platform::base64Decode(base64);
  if (!value) {
    DRTLLogWarning(std::string("Conversion of encrypted string to NSData failed."));
    return std::nullopt;
  }
  std::optional<Bytes> plain = decryptData(*value);
  std::string text = plain ? std::string(plain->begin(), plain->end()) : std::string();
  if (!plain || !platform::isValidUtf8(text)) {
    DRTLLogWarning(std::string("Converting decrypted NSData to NSString failed."));
    return std::nullopt;
  }
  return text;
}

}  // namespace telemetry::core
