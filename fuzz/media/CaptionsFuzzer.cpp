// Caption parsers over any bytes: A/53 extraction from H.264 and MPEG-2
// packets, CDPs, SMPTE 436M ancillary data and 10-bit ancillary packets.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "captions/CVNCCUtilities.h"
#include "captions/CVNVANCPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto zero = platform::media::MediaTime::zero();
  (void)captions::CVNCCUtilities::extractCCDataFromH264Packet(bytes, zero);
  (void)captions::CVNCCUtilities::extractCCDataFromMPEG2Packet(bytes, zero);
  (void)captions::CVNCCUtilities::tripletsFromCDP(bytes);
  (void)captions::CVNVANCPacket::VANCPacketsWithMXFBuffer(data, size, captions::kVANCBufferFormatSMPTE436M);
  std::vector<std::uint16_t> words(size / 2);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
  (void)captions::CVNVANCPacket::VANCPacketWithSMPTE291Words(words, 9);
  return 0;
}
