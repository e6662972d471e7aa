#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "ContextFixture.h"
#include "TelemetryTestSupport.h"
#include "platform/Base64.h"
#include "telemetry/core/DRTLEncrypter.h"
#include "telemetry/core/DRTLKeychainUtil.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::core {
namespace {

class DRTLEncrypterTest : public testing_support::ContextFixture {};

std::string hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (auto byte : bytes) text += {kHex[byte >> 4], kHex[byte & 15]};
  return text;
}

TEST_F(DRTLEncrypterTest, FirstValueUsesTheAlternateKeyAndOpensslDecryptsIt) {
  DRTLEncrypter encrypter;
  auto value = encrypter.encryptString("token-1234/secret");
  ASSERT_TRUE(value.has_value());
  auto bytes = *platform::base64Decode(*value);
  const std::string metadata = "kDREncryptionKeyTagAlternate/AES/CBC/PKCS7/32:";
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + metadata.size()), metadata);
  EXPECT_NE(encrypter.encryptString("token-1234/secret"), value);
  EXPECT_EQ(encrypter.decryptString(*value), "token-1234/secret");
  EXPECT_TRUE(DRTLDirAradedUserDefaults::shared()->objectForKey("EncryptionKeyMetadata").stringOr("")
                  .starts_with("kDREncryptionKeyTagAlternate/"));

  ::testing_support::TemporaryDirectory folder;
  std::vector<std::uint8_t> cipher(bytes.begin() + metadata.size() + 16, bytes.end());
  std::vector<std::uint8_t> vector(bytes.begin() + metadata.size(), bytes.begin() + metadata.size() + 16);
  std::ofstream(folder / "cipher", std::ios::binary).write(reinterpret_cast<const char*>(cipher.data()), cipher.size());
  auto key = *platform::base64Decode(*DRTLKeychainUtil::stringForKey(kDRTLEncryptionKeyTagAlternate, nullptr));
  EXPECT_EQ(testing_support::runCommand("openssl enc -d -aes-256-cbc -K " + hex(key) + " -iv " + hex(vector) +
                                        " -in " + testing_support::quoted((folder / "cipher").string())),
            "token-1234/secret");
}

TEST_F(DRTLEncrypterTest, ExpiredTagRotatesAndOldValuesStillDecrypt) {
  DRTLEncrypter encrypter;
  auto old = *encrypter.encryptString("first");
  advance(std::chrono::seconds(kDRTLEncryptionKeyLifetimeSeconds + 1));
  EXPECT_EQ(DRTLEncrypter::getCurrentKeyTag(), kDRTLEncryptionKeyTag);
  auto fresh = *encrypter.encryptString("second");
  EXPECT_EQ(encrypter.decryptString(old), "first");
  EXPECT_EQ(encrypter.decryptString(fresh), "second");
}

TEST_F(DRTLEncrypterTest, LegacyValueOfTheMainKeyWithAZeroVectorIsRead) {
  DRTLEncrypter encrypter;
  encrypter.encryptString("makes the alternate key");
  advance(std::chrono::seconds(kDRTLEncryptionKeyLifetimeSeconds + 1));
  encrypter.encryptString("makes the main key");
  auto key = *platform::base64Decode(*DRTLKeychainUtil::stringForKey(kDRTLEncryptionKeyTag, nullptr));

  ::testing_support::TemporaryDirectory folder;
  std::ofstream(folder / "plain", std::ios::binary) << "legacy-token";
  testing_support::runCommand("openssl enc -aes-256-cbc -K " + hex(key) + " -iv " + std::string(32, '0') + " -in " +
                              testing_support::quoted((folder / "plain").string()) + " -out " +
                              testing_support::quoted((folder / "cipher").string()));
  std::ifstream input(folder / "cipher", std::ios::binary);
  const std::string cipher((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  ASSERT_EQ(cipher.size(), 16u);
  EXPECT_EQ(encrypter.decryptString(platform::base64Encode(std::vector<std::uint8_t>(cipher.begin(), cipher.end()))),
            "legacy-token");
}

// An older value in the main slot's key with the all-zero vector.
std::vector<std::uint8_t> legacyCipher(const std::vector<std::uint8_t>& key, const std::string& plain) {
  std::vector<std::uint8_t> cipher(plain.size() + 16);
  const std::uint8_t vector[16] = {};
  int written = 0, last = 0;
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(), vector);
  EVP_EncryptUpdate(context, cipher.data(), &written, reinterpret_cast<const std::uint8_t*>(plain.data()),
                    static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(context, cipher.data() + written, &last);
  EVP_CIPHER_CTX_free(context);
  cipher.resize(static_cast<std::size_t>(written + last));
  return cipher;
}

// Bare cipher text may hold a ":" byte; what comes before it is no metadata.
TEST_F(DRTLEncrypterTest, OlderValuesWhoseCipherHoldsAColonAreRead) {
  DRTLEncrypter encrypter;
  encrypter.encryptString("makes the alternate key");
  advance(std::chrono::seconds(kDRTLEncryptionKeyLifetimeSeconds + 1));
  encrypter.encryptString("makes the main key");
  const auto key = *platform::base64Decode(*DRTLKeychainUtil::stringForKey(kDRTLEncryptionKeyTag, nullptr));

  const std::vector<std::pair<const char*, std::function<bool(const std::vector<std::uint8_t>&)>>> cases = {
      {"colon first", [](const auto& cipher) { return cipher[0] == ':'; }},
      {"colon after a text byte", [](const auto& cipher) { return cipher[0] < 0x80 && cipher[1] == ':'; }},
  };
  for (const auto& [name, wanted] : cases) {
    SCOPED_TRACE(name);
    std::string plain;
    std::vector<std::uint8_t> cipher;
    for (int i = 0; i < 1'000'000 && (cipher.empty() || !wanted(cipher)); ++i) {
      plain = "legacy-" + std::to_string(i);
      cipher = legacyCipher(key, plain);
    }
    ASSERT_TRUE(wanted(cipher));
    EXPECT_EQ(encrypter.decryptString(platform::base64Encode(cipher)), plain);
  }
}

TEST_F(DRTLEncrypterTest, BadValuesGiveNothingAndNeverMakeAKey) {
  DRTLKeychainUtil::deleteStringForKey(kDRTLEncryptionKeyTag);
  testing_support::LogCapture capture;
  DRTLEncrypter encrypter;
  auto good = *platform::base64Decode(*encrypter.encryptString("x"));
  auto encoded = [](const std::string& text) { return platform::base64Encode(std::vector<std::uint8_t>(text.begin(), text.end())); };
  std::vector<std::uint8_t> badPadding = good;
  badPadding.back() ^= 0x5A;
  const std::string cases[] = {
      "not base64 !!",
      encoded("kDREncryptionKeyTagAlternate/AES/CBC/PKCS7/32:short"),
      encoded("unknownTag/AES/CBC/PKCS7/32:0123456789abcdef0123456789abcdef"),
      encoded("0123456789abcde"),
      encoded("0123456789abcdef"),
      platform::base64Encode(badPadding),
  };
  for (const auto& text : cases) EXPECT_EQ(encrypter.decryptString(text), std::nullopt) << text;
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "Conversion of encrypted string to NSData failed."), 1);
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "Converting decrypted NSData to NSString failed."), 5);
  // A legacy value names the main key, which does not exist yet: none is made.
  EXPECT_EQ(DRTLKeychainUtil::stringForKey(kDRTLEncryptionKeyTag, nullptr), std::nullopt);
}

}  // namespace
}  // namespace telemetry::core
