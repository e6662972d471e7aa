#include "crashreporter/Source/ProtobufFieldEncoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "CrashReportFixtures.h"
#include "ReportEncoding.h"
#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"

namespace crashreporter {
namespace {

using crash_test::Bytes;

Bytes pack(std::uint32_t field, std::uint32_t type, const void* value) {
  std::size_t measured = drcrash_writer_pack(nullptr, field, type, value);
  Bytes written = crash_test::captureOutput([&](drcrash_async_file* file) { drcrash_writer_pack(file, field, type, value); });
  EXPECT_EQ(measured, written.size()) << "measuring and writing disagree";
  return written;
}

struct PackCase {
  const char* name;
  std::uint32_t type;
  std::uint64_t value;  // the low bytes are the value for 32-bit types
  Bytes expected;
};

TEST(ProtobufFieldEncoderTest, WritesEachScalarTypeAsTheWireFormatSays) {
  const PackCase cases[] = {
      {"uint64 0", DRCRASH_PROTOBUF_TYPE_UINT64, 0, {0x08, 0x00}},
      {"uint64 127", DRCRASH_PROTOBUF_TYPE_UINT64, 127, {0x08, 0x7f}},
      {"uint64 128", DRCRASH_PROTOBUF_TYPE_UINT64, 128, {0x08, 0x80, 0x01}},
      {"uint64 2^32", DRCRASH_PROTOBUF_TYPE_UINT64, 1ull << 32, {0x08, 0x80, 0x80, 0x80, 0x80, 0x10}},
      {"uint64 2^64-1", DRCRASH_PROTOBUF_TYPE_UINT64, ~0ull,
       {0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
      {"int32 -1", DRCRASH_PROTOBUF_TYPE_INT32, 0xffffffff,
       {0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
      {"sint32 -1", DRCRASH_PROTOBUF_TYPE_SINT32, 0xffffffff, {0x08, 0x01}},
      {"sint32 1", DRCRASH_PROTOBUF_TYPE_SINT32, 1, {0x08, 0x02}},
      {"sint64 -2", DRCRASH_PROTOBUF_TYPE_SINT64, static_cast<std::uint64_t>(-2), {0x08, 0x03}},
      {"uint32 300", DRCRASH_PROTOBUF_TYPE_UINT32, 300, {0x08, 0xac, 0x02}},
      {"enum 6", DRCRASH_PROTOBUF_TYPE_ENUM, 6, {0x08, 0x06}},
      {"fixed32", DRCRASH_PROTOBUF_TYPE_FIXED32, 0x01020304, {0x0d, 0x04, 0x03, 0x02, 0x01}},
      {"fixed64", DRCRASH_PROTOBUF_TYPE_FIXED64, 0x0102030405060708,
       {0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {"message of 300", DRCRASH_PROTOBUF_TYPE_MESSAGE, 300, {0x0a, 0xac, 0x02}},
  };
  for (const PackCase& c : cases) {
    EXPECT_EQ(pack(1, c.type, &c.value), c.expected) << c.name;
  }
  const bool yes = true;
  EXPECT_EQ(pack(3, DRCRASH_PROTOBUF_TYPE_BOOL, &yes), (Bytes{0x18, 0x01}));
  EXPECT_EQ(pack(16, DRCRASH_PROTOBUF_TYPE_UINT64, &cases[0].value), (Bytes{0x80, 0x01, 0x00})) << "two-byte tag";
}

TEST(ProtobufFieldEncoderTest, PrefixesStringsWithOneOrTwoLengthBytes) {
  for (const std::size_t length : {std::size_t{127}, std::size_t{128}}) {
    const std::string text(length, 'r');
    const Bytes written = pack(1, DRCRASH_PROTOBUF_TYPE_STRING, text.c_str());
    const Bytes head = length == 127 ? Bytes{0x0a, 0x7f} : Bytes{0x0a, 0x80, 0x01};
    ASSERT_EQ(written.size(), head.size() + length);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<long>(head.size())), head) << length;
  }
  const std::uint8_t raw[] = {0, 1, 2};
  const drcrash_protobuf_bytes value{sizeof raw, raw};
  EXPECT_EQ(pack(4, DRCRASH_PROTOBUF_TYPE_BYTES, &value), (Bytes{0x22, 0x03, 0, 1, 2}));
}

TEST(ProtobufFieldEncoderTest, HeaderIsSevenMagicBytesAndTheVersion) {
  EXPECT_EQ(Bytes(std::begin(kDrcrashReportHeader), std::end(kDrcrashReportHeader)),
            (Bytes{0x64, 0x72, 0x63, 0x72, 0x61, 0x73, 0x68, 0x01}));
}

TEST(ProtobufFieldEncoderTest, FileOutputRefusesAWriteThatPassesItsLimitWhole) {
  const Bytes big(300, 0x55);
  const Bytes written = crash_test::captureOutput(
      [&](drcrash_async_file* file) {
        EXPECT_TRUE(drcrash_async_file_write(file, "ab", 2));
        EXPECT_TRUE(drcrash_async_file_write(file, big.data(), big.size())) << "bypasses the buffer";
        EXPECT_FALSE(drcrash_async_file_write(file, "cdefgh", 6)) << "would pass the limit";
        EXPECT_TRUE(drcrash_async_file_write(file, "ij", 2));
      },
      /*limit=*/306);
  ASSERT_EQ(written.size(), 304u);
  EXPECT_EQ(written[0], 'a');
  EXPECT_EQ(written[2], 0x55);
  EXPECT_EQ(written[302], 'i');
}

TEST(ProtobufFieldEncoderTest, FullReportDecodesAsTheFixtureDoes) {
  const Bytes fixture = crash_test::encodeText(crash_test::readTestFile("fixtures/full.txt"));
  auto report = DCRCrashReport::initWithData(crash_test::withHeader(fixture));
  ASSERT_TRUE(report.ok()) << report.error().localizedDescription;
  const Bytes encoded = crash_test::encodeReport(**report);
  EXPECT_EQ(crash_test::decodeMessage(encoded), crash_test::decodeMessage(fixture));
}

TEST(ProtobufFieldEncoderTest, WritesTopLevelFieldsAndRegistersInTheWritersOrder) {
  auto report = DCRCrashReport::initWithData(crash_test::reportFromFixture("full"));
  ASSERT_TRUE(report.ok());
  const std::string raw = crash_test::decodeRaw(crash_test::encodeReport(**report));
  std::vector<std::string> topLevel;
  std::istringstream lines(raw);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      topLevel.push_back(line.substr(0, line.find_first_of(" :")));
    }
  }
  EXPECT_EQ(topLevel, (std::vector<std::string>{"9", "1", "8", "2", "7", "3", "3", "4", "4", "5", "6", "10"}));
  // In the crashed thread (the first "3 {"), every register (4) comes before any frame (2).
  const auto thread = raw.find("\n3 {");
  const auto threadEnd = raw.find("\n}", thread);
  const std::string crashed = raw.substr(thread, threadEnd - thread);
  const auto lastRegister = crashed.rfind("\n  4 {");
  const auto firstFrame = crashed.find("\n  2 {");
  ASSERT_NE(lastRegister, std::string::npos);
  ASSERT_NE(firstFrame, std::string::npos);
  EXPECT_LT(lastRegister, firstFrame);
}

}  // namespace
}  // namespace crashreporter
