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

}  // namespace
}  // namespace captions
