// Checksums and message digests over memory, against published vectors
// (RFC 1321, FIPS 180, RFC 2202, RFC 4231, the CRC-32 check value).

#include <gtest/gtest.h>

#include "foundation/ByteBufferUtilities.h"
#include "foundation/Digests.h"
#include "tests/foundation/HexBytes.h"

namespace foundation {
namespace {

using foundation_test::bytesFromHex;
using foundation_test::bytesOf;
using foundation_test::hexOf;

struct CrcCase {
  const char* text;
  std::uint32_t crc;
};

TEST(DigestCrc32, MatchesCheckValues) {
  const CrcCase cases[] = {
      {"", 0},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const CrcCase& c : cases) {
    EXPECT_EQ(crc32Update(0, bytesOf(c.text)), c.crc) << "text: \"" << c.text << '"';
  }
}

TEST(DigestCrc32, EmptyUpdateKeepsRunningValueAndChunksCompose) {
  EXPECT_EQ(crc32Update(0xDEADBEEFu, {}), 0xDEADBEEFu);
  const std::vector<std::uint8_t> bytes = bytesOf("The quick brown fox jumps over the lazy dog");
  for (std::size_t split = 0; split <= bytes.size(); split += 7) {
    const std::uint32_t first = crc32Update(0, std::span(bytes).first(split));
    EXPECT_EQ(crc32Update(first, std::span(bytes).subspan(split)), 0x414FA339u) << "split at " << split;
  }
}

TEST(DigestReverseBytes, ReversesInPlace) {
  const std::vector<std::vector<std::uint8_t>> inputs = {{}, {1}, {1, 2}, {1, 2, 3}, {1, 2, 3, 4}};
  for (std::vector<std::uint8_t> bytes : inputs) {
    std::vector<std::uint8_t> expected(bytes.rbegin(), bytes.rend());
    reverseBytes(bytes);
    EXPECT_EQ(bytes, expected) << "length " << bytes.size();
  }
}

struct DigestCase {
  DigestAlgorithm algorithm;
  std::string text;
  const char* hex;
};

TEST(DigestKnownAnswers, MatchPublishedVectors) {
  const DigestCase cases[] = {
      {DigestAlgorithm::MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {DigestAlgorithm::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {DigestAlgorithm::MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {DigestAlgorithm::SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {DigestAlgorithm::SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {DigestAlgorithm::SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {DigestAlgorithm::SHA1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {DigestAlgorithm::SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {DigestAlgorithm::SHA256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const DigestCase& c : cases) {
    const std::optional<platform::Data> digest = digestOfBytes(c.algorithm, bytesOf(c.text));
    ASSERT_TRUE(digest) << c.text.substr(0, 20);
    EXPECT_EQ(digest->size(), digestLength(c.algorithm));
    EXPECT_EQ(hexOf(*digest), c.hex) << "text: \"" << c.text.substr(0, 20) << '"';
  }
}

TEST(DigestKnownAnswers, IncrementalContextMatchesOneShot) {
  const std::string text(100000, 'q');
  DigestContext context(DigestAlgorithm::SHA256);
  for (std::size_t offset = 0; offset < text.size(); offset += 999) {
    ASSERT_TRUE(context.update(bytesOf(std::string_view(text).substr(offset, 999))));
  }
  EXPECT_EQ(context.finish(), digestOfBytes(DigestAlgorithm::SHA256, bytesOf(text)));
  EXPECT_FALSE(context.finish()) << "a finished context must not hand out a second digest";
}

struct HmacCase {
  DigestAlgorithm algorithm;
  std::vector<std::uint8_t> key;
  std::string message;
  const char* hex;
};

TEST(DigestHmac, MatchesRfcVectors) {
  const HmacCase cases[] = {
      {DigestAlgorithm::MD5, bytesOf("Jefe"), "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {DigestAlgorithm::SHA1, std::vector<std::uint8_t>(20, 0x0b), "Hi There",
       "b617318655057264e28bc0b6fb378c8ef146be00"},
      {DigestAlgorithm::SHA1, bytesOf("Jefe"), "what do ya want for nothing?",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      // Key longer than the block: hashed first.
      {DigestAlgorithm::SHA1, std::vector<std::uint8_t>(80, 0xaa),
       "Test Using Larger Than Block-Size Key - Hash Key First", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {DigestAlgorithm::SHA256, bytesOf("Jefe"), "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {DigestAlgorithm::SHA256, {}, "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
  };
  for (const HmacCase& c : cases) {
    const std::optional<platform::Data> mac = hmacOfBytes(c.algorithm, c.key, bytesOf(c.message));
    ASSERT_TRUE(mac) << c.message;
    EXPECT_EQ(hexOf(*mac), c.hex) << "message: \"" << c.message << "\", key length " << c.key.size();
  }
}

TEST(DigestOfStrings, EmptyInputGivesNoneOtherwiseDigestOfUtf8Bytes) {
  EXPECT_FALSE(CreateMD5DigestOfString(""));
  EXPECT_FALSE(sha1DigestOfString(""));
  EXPECT_FALSE(sha1DigestOfData({}));

  EXPECT_EQ(hexOf(*CreateMD5DigestOfString("abc")), "900150983cd24fb0d6963f7d28e17f72");
  // "é" is the two UTF-8 bytes C3 A9.
  EXPECT_EQ(*CreateMD5DigestOfString("\u00e9"), *digestOfBytes(DigestAlgorithm::MD5, bytesFromHex("c3a9")));
  EXPECT_EQ(hexOf(*sha1DigestOfString("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hexOf(*sha1DigestOfData(bytesOf("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace foundation
