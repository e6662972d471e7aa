// Caption parsers over any bytes: A/53 extraction from H.264 and MPEG-2
// packets, CDPs and SMPTE 436M ancillary data.
#include <cstddef>
#include <cstdint>
#include <span>

#include "captions/CVNCCUtilities.h"
#include "captions/CVNVANCPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto zero = platform::media::MediaTime::zero();
  (void)captions::CVNCCUtilities::extractCCDataFromH264Packet(bytes, zero);
  (void)captions::CVNCCUtilities::extractCCDataFromMPEG2Packet(bytes, zero);
  (void)captions::CVNCCUtilities::tripletsFromCDP(bytes);
  (void)captions::CVNVANCPacket::VANCPacketsWithMXFBuffer(data, size, captions::kVANCBufferFormatSMPTE436M);
  return 0;
}
