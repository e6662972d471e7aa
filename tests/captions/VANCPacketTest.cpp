#include "captions/CVNVANCPacket.h"

#include <gtest/gtest.h>

namespace captions {
namespace {

TEST(CVNVANCPacketTest, ReadsAndWrites436MAncillaryData) {
  const std::vector<VANCPacketRef> packets = {
      std::make_shared<CVNVANCPacket>(9, 0x61, 0x01, std::vector<std::uint8_t>{0x96, 0x69, 0x10}),
      std::make_shared<CVNVANCPacket>(10, 0x61, 0x02, std::vector<std::uint8_t>{0x80, 0x80}),
      std::make_shared<CVNVANCPacket>(12, 0x43, 0x02, std::vector<std::uint8_t>{}),
      std::make_shared<CVNVANCPacket>(13, 0x41, 0x07, std::vector<std::uint8_t>{1, 2, 3, 4, 5}),
      std::make_shared<CVNVANCPacket>(14, 0x45, 0x01, std::vector<std::uint8_t>{9}),
  };
  const std::vector<std::uint8_t> element = CVNVANCPacket::MXFDataPacketWithVANCPackets(packets);
  auto read = CVNVANCPacket::VANCPacketsWithMXFBuffer(element.data(), element.size(), kVANCBufferFormatSMPTE436M);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), packets.size());
  const VANCPacketType types[] = {VANCPacketType::CEA708, VANCPacketType::CEA608, VANCPacketType::OP47,
                                  VANCPacketType::SCTE104, VANCPacketType::Other};
  for (std::size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ((*read)[i]->lineNumber(), packets[i]->lineNumber());
    EXPECT_EQ((*read)[i]->userData(), packets[i]->userData());
    EXPECT_EQ((*read)[i]->packetType(), types[i]);
  }
  // Every cut short of the whole element is refused, never read past.
  for (std::size_t size = 0; size < element.size(); ++size) {
    auto partial = CVNVANCPacket::VANCPacketsWithMXFBuffer(element.data(), size, kVANCBufferFormatSMPTE436M);
    EXPECT_FALSE(partial) << size;
  }
  EXPECT_FALSE(CVNVANCPacket::VANCPacketsWithMXFBuffer(element.data(), element.size(), 0));
  // A data count larger than the samples is a lie.
  std::vector<std::uint8_t> lying = CVNVANCPacket::MXFDataPacketWithVANCPackets({packets[1]});
  lying[2 + 14 + 2] = 200;
  EXPECT_FALSE(CVNVANCPacket::VANCPacketsWithMXFBuffer(lying.data(), lying.size(), kVANCBufferFormatSMPTE436M));
  const std::uint8_t atom[] = {0x61, 0x01, 2, 0xaa, 0xbb};
  auto fromAtom = CVNVANCPacket::VANCPacketWithQuickTimeAtomBuffer(atom, sizeof atom, 11);
  ASSERT_NE(fromAtom, nullptr);
  EXPECT_EQ(fromAtom->packetType(), VANCPacketType::CEA708);
  EXPECT_EQ(CVNVANCPacket::VANCPacketWithQuickTimeAtomBuffer(atom, 4, 11), nullptr);
}

TEST(CVNVANCPacketTest, WritesTheElementByteForByte) {
  const std::vector<VANCPacketRef> packets = {
      std::make_shared<CVNVANCPacket>(21, 0x61, 0x02, std::vector<std::uint8_t>{0x94, 0x2c}),
      std::make_shared<CVNVANCPacket>(0x1234, 0x41, 0x07, std::vector<std::uint8_t>{}),
  };
  const std::vector<std::uint8_t> expected = {
      0x00, 0x02,                                                                 // packets
      0x00, 0x15, 0x01, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01,  // line 21, frame, 8-bit, 5 samples
      0x61, 0x02, 0x02, 0x94, 0x2c, 0x00, 0x00, 0x00,                             // padded to whole words
      0x12, 0x34, 0x01, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01,
      0x41, 0x07, 0x00, 0x00,
  };
  EXPECT_EQ(CVNVANCPacket::MXFDataPacketWithVANCPackets(packets), expected);
}

TEST(CVNVANCPacketTest, TenBitWordsCarryParityAndChecksum) {
  struct Case {
    const char* what;
    CVNVANCPacket packet;
    std::vector<std::uint16_t> words;
  } cases[] = {
      // 0x61 has three bits set: bit 8 makes them even, bit 9 is its inverse.
      {"caption pair", CVNVANCPacket(9, 0x61, 0x02, {0x80, 0x80}),
       {0x000, 0x3ff, 0x3ff, 0x161, 0x102, 0x102, 0x180, 0x180, 0x265}},
      {"no user data", CVNVANCPacket(9, 0x41, 0x07, {}), {0x000, 0x3ff, 0x3ff, 0x241, 0x107, 0x200, 0x148}},
      {"zero word", CVNVANCPacket(9, 0x43, 0x02, {0x00}), {0x000, 0x3ff, 0x3ff, 0x143, 0x102, 0x101, 0x200, 0x146}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.packet.SMPTE291Words(), c.words);
    const auto read = CVNVANCPacket::VANCPacketWithSMPTE291Words(c.words, 12);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->lineNumber(), 12);
    EXPECT_EQ(read->did(), c.packet.did());
    EXPECT_EQ(read->sdid(), c.packet.sdid());
    EXPECT_EQ(read->userData(), c.packet.userData());
    for (std::size_t i = 0; i < c.words.size(); ++i) {
      std::vector<std::uint16_t> damaged = c.words;
      damaged[i] ^= i < 3 ? 0x001 : 0x100;  // a flag word or a parity bit
      EXPECT_EQ(CVNVANCPacket::VANCPacketWithSMPTE291Words(damaged, 12), nullptr) << i;
    }
    EXPECT_EQ(CVNVANCPacket::VANCPacketWithSMPTE291Words(std::span(c.words).first(c.words.size() - 1), 12), nullptr);
  }
}

}  // namespace
}  // namespace captions
