// Base64 of data and strings (RFC 4648 vectors) and text encodings.

#include <gtest/gtest.h>

#include "foundation/Base64Encoding.h"
#include "tests/foundation/HexBytes.h"

namespace foundation {
namespace {

using foundation_test::bytesOf;

TEST(Base64Encoding, EncodesAndDecodesRfcVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : cases) {
    EXPECT_EQ(base64EncodeData(bytesOf(plain)), encoded) << "plain: \"" << plain << '"';
    EXPECT_EQ(base64DecodeString(encoded), bytesOf(plain)) << "encoded: \"" << encoded << '"';
  }
}

TEST(Base64Encoding, LongDataIsOneLineAndRoundTrips) {
  platform::Data bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const std::string encoded = base64EncodeData(bytes);
  EXPECT_EQ(encoded.size(), 1336u);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(base64DecodeString(encoded), bytes);
}

TEST(Base64Encoding, DecodingSkipsLineBreaksAndRefusesMalformedText) {
  EXPECT_EQ(base64DecodeString("Zm9v\r\nYmFy\n"), bytesOf("foobar"));
  EXPECT_EQ(base64DecodeString("Zm9v YmE="), bytesOf("fooba"));

  const char* malformed[] = {
      "Zm9vYmFy!",     // outside the alphabet
      "-Zm9v",         // a dash must not end the text early
      "Zm9",           // truncated group
      "Zm9vYg==Zm9v",  // text after the padding
      "Zm9v====",      // too much padding
      "Zm9v\xc3\xa9",  // not ASCII
  };
  for (const char* text : malformed) EXPECT_FALSE(base64DecodeString(text)) << "text: \"" << text << '"';
}

TEST(Base64Encoding, EncodesStringsInTheRequestedEncoding) {
  struct Case {
    const char* text;
    TextEncoding encoding;
    const char* encoded;
  };
  const Case cases[] = {
      {"caf\u00e9", TextEncoding::UTF8, "Y2Fmw6k="},
      {"caf\u00e9", TextEncoding::ISOLatin1, "Y2Fm6Q=="},
      {"caf\u00e9", TextEncoding::ASCII, ""},  // cannot be represented
      {"\u20ac", TextEncoding::CodePage1252, "gA=="},
      {"\u20ac", TextEncoding::ISOLatin1, ""},
      {"A", TextEncoding::UTF16BigEndian, "AEE="},
      {"A", TextEncoding::UTF16LittleEndian, "QQA="},
      {"\xff", TextEncoding::UTF8, ""},  // not UTF-8 to begin with
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base64EncodeString(c.text, c.encoding), c.encoded)
        << "text: \"" << c.text << "\", encoding " << static_cast<int>(c.encoding);
  }
}

}  // namespace
}  // namespace foundation
