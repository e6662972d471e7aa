// AES-128-CBC (zero IV) and repeating-key XOR.

#include <gtest/gtest.h>

#include "foundation/AESCrypt.h"
#include "foundation/Base64Encoding.h"
#include "foundation/XORCipher.h"
#include "tests/foundation/HexBytes.h"

namespace foundation {
namespace {

using foundation_test::bytesFromHex;
using foundation_test::bytesOf;
using foundation_test::hexOf;

const platform::Data kKey = bytesFromHex("000102030405060708090a0b0c0d0e0f");

platform::Data patterned(std::size_t size, std::uint8_t last) {
  platform::Data bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  if (size > 0) bytes.back() = last;
  return bytes;
}

// FIPS-197 appendix C.1: with a zero IV the first CBC block is the plain cipher.
TEST(AESCrypt, MatchesFips197Vector) {
  const platform::Data plain = bytesFromHex("00112233445566778899aabbccddeeff");
  const std::optional<platform::Data> cipher = aesEncryptData(plain, kKey, AESPadding::OnlyWhenUnaligned);
  ASSERT_TRUE(cipher);
  EXPECT_EQ(hexOf(*cipher), "69c4e0d86a7b0430d8cdb78070b4c55a");
  // The key is the first 16 bytes of longer key data.
  platform::Data longKey = kKey;
  longKey.insert(longKey.end(), {0xAA, 0xBB, 0xCC});
  EXPECT_EQ(aesEncryptData(plain, longKey, AESPadding::OnlyWhenUnaligned), cipher);
}

TEST(AESCrypt, CipherLengthFollowsThePaddingRule) {
  struct Case {
    std::size_t plain;
    AESPadding padding;
    std::size_t cipher;
  };
  const Case cases[] = {
      {0, AESPadding::OnlyWhenUnaligned, 0},
      {16, AESPadding::OnlyWhenUnaligned, 16},
      {32, AESPadding::OnlyWhenUnaligned, 32},
      {33, AESPadding::OnlyWhenUnaligned, 48},
      {0, AESPadding::Always, 16},
      {32, AESPadding::Always, 48},
      {33, AESPadding::Always, 48},
  };
  for (const Case& c : cases) {
    const std::optional<platform::Data> cipher = aesEncryptData(patterned(c.plain, 0), kKey, c.padding);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->size(), c.cipher) << "plain length " << c.plain << ", padding " << static_cast<int>(c.padding);
  }
  // Both layouts agree wherever the older one pads.
  EXPECT_EQ(aesEncryptData(patterned(33, 0), kKey, AESPadding::Always),
            aesEncryptData(patterned(33, 0), kKey, AESPadding::OnlyWhenUnaligned));
}

// Decryption removes the padding, so every length round-trips, including
// aligned data whose last byte looks like padding.
TEST(AESCrypt, DecryptionRemovesThePadding) {
  for (std::size_t size : {0, 1, 15, 16, 17, 32, 33, 48}) {
    for (std::uint8_t last : {0x01, 0x10, 0x7F}) {
      const platform::Data plain = patterned(size, last);
      const std::optional<platform::Data> cipher = aesEncryptData(plain, kKey);
      ASSERT_TRUE(cipher);
      EXPECT_EQ(aesDecryptData(*cipher, kKey), plain) << "length " << size << ", last byte " << int(last);
    }
  }
}

TEST(AESCrypt, RefusesShortKeysAndMalformedCipherText) {
  const platform::Data shortKey(15, 0x42);
  EXPECT_FALSE(aesEncryptData(patterned(16, 0), shortKey));

  const platform::Data cipher = *aesEncryptData(patterned(40, 0), kKey);
  EXPECT_FALSE(aesDecryptData(cipher, shortKey));
  EXPECT_FALSE(aesDecryptData({}, kKey)) << "empty";
  EXPECT_FALSE(aesDecryptData(std::span(cipher).first(cipher.size() - 1), kKey)) << "not block-aligned";
  // Unpadded cipher text of the identity-hash layout has no valid padding here.
  const platform::Data unpadded = *aesEncryptData(patterned(32, 0x00), kKey, AESPadding::OnlyWhenUnaligned);
  EXPECT_FALSE(aesDecryptData(unpadded, kKey));
}

TEST(AESCrypt, SuffixAndMarkerFramePlainData) {
  const platform::Data plain = bytesOf("clip settings");
  const platform::Data marker = bytesOf("<END>");
  const std::optional<platform::Data> cipher = aesEncryptDataWithSuffix(plain, kKey, marker);
  ASSERT_TRUE(cipher);
  EXPECT_EQ(aesDecryptData(*cipher, kKey), bytesOf("clip settings<END>"));
  EXPECT_EQ(aesDecryptDataUpToMarker(*cipher, kKey, marker), plain);
  EXPECT_FALSE(aesDecryptDataUpToMarker(*cipher, kKey, bytesOf("<STOP>"))) << "marker absent";
  EXPECT_FALSE(aesDecryptDataUpToMarker(*cipher, kKey, {})) << "empty marker";
}

TEST(AESCrypt, StringsTravelAsBase64) {
  const std::optional<std::string> text = aesEncryptStringToBase64("Grüße aus dem Studio", kKey);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size() % 4, 0u);
  EXPECT_EQ(aesDecryptBase64String(*text, kKey), "Grüße aus dem Studio");
  EXPECT_EQ(aesDecryptBase64StringToData(*text, kKey), bytesOf("Grüße aus dem Studio"));

  EXPECT_FALSE(aesDecryptBase64String("not base64!", kKey));
  // Bytes that are not UTF-8 do not come back as a string.
  const std::string notText = base64EncodeData(*aesEncryptData(bytesFromHex("c3"), kKey));
  EXPECT_FALSE(aesDecryptBase64String(notText, kKey));
  EXPECT_EQ(aesDecryptBase64StringToData(notText, kKey), bytesFromHex("c3"));
}

TEST(XORCipher, XorsWithTheRepeatingKeyKeepingEveryByte) {
  struct Case {
    std::string text;
    std::string key;
    std::string expected;
  };
  const Case cases[] = {
      {"", "k", ""},
      {"abc", "\x01", "`cb"},
      {"abcd", "\x01\x02", "``bf"},
      // A zero byte in the middle does not cut the result.
      {"aXa", "a", std::string("\0\x39\0", 3)},
  };
  for (const Case& c : cases) {
    const platform::Result<std::string> result = xorStrings(c.text, c.key);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, c.expected) << "text: \"" << c.text << '"';
    EXPECT_EQ(*xorStrings(*result, c.key), c.text) << "XOR twice restores the text";
  }
}

TEST(XORCipher, RefusesAnEmptyKey) {
  const platform::Result<std::string> result = xorStrings("text", "");
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.error().is(kXORCipherErrorDomain, XORCipherErrorCode::EmptyKey));
}

}  // namespace
}  // namespace foundation
